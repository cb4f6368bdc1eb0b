#include "gridcolumns.h"

namespace Orvantel {

std::vector<ColumnDesign> workOrderColumns()
{
    return {
            {QStringLiteral("WO #"), QStringLiteral("wo_nbr"), 750},
            {QStringLiteral("Asset Code"), QStringLiteral("AssetCode"), 1005},
            {QStringLiteral("Description"), QStringLiteral("AssetDescr"), 1515},
            {QStringLiteral("Status"), QStringLiteral("StatusDescr"), 1065},
            {QStringLiteral("Priority"), QStringLiteral("Priority"), 705},
            {QStringLiteral("Date"), QStringLiteral("DateLoaded"), 1065, false, QStringLiteral("yyyy-MM-dd")},
            {QStringLiteral("Requested By"), QStringLiteral("RequestedByName"), 1425},
            {QStringLiteral("Assigned To"), QStringLiteral("AssignedToName"), 1395},
            {QStringLiteral("Work Requested"), QStringLiteral("Notes"), 3105},
    };
}

std::vector<ColumnDesign> linkedFileColumns()
{
    return {
            {QStringLiteral("Type"), QStringLiteral("DocType"), 2160},
            {QStringLiteral("Description"), QStringLiteral("DocDescr"), 3030},
            {QStringLiteral("File Name"), QStringLiteral("FileName"), 4305},
            {QStringLiteral("..."), QString(), 615, true},
    };
}

} // namespace Orvantel

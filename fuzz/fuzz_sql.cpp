// The statements built from outside text: every one must be a single statement that
// SQLite accepts, whatever the asset list, division and department hold, and every
// value must reach it as one literal.
#include "fuzzsupport.h"

#include "data/sqldialect.h"
#include "data/workorderqueries.h"

#include <QStringList>

using namespace Orvantel;

namespace {

sqlite3 *schema()
{
    static sqlite3 *db = sqliteWith(
            "CREATE TABLE vw_QX_WorkOrdersGrid (WO_Nbr, AssetCode, Status, IsPM, DivisionID, DepartmentID);"
            "CREATE TABLE vw_LinkedFiles (AssetCode, FileName);");
    return db;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = fuzzText(data, size);
    // SQLite reads a NUL as the end of the text; the control's values never hold one.
    if (text.contains(QChar(0)))
        return 0;
    const QStringList parts = text.split(u'\n');
    const QString assets = parts.value(0);
    const QString division = parts.value(1);
    const QString department = parts.value(2);
    for (auto view : {WorkOrderQueries::OpenWorkOrders, WorkOrderQueries::History, WorkOrderQueries::NoView})
        requireOneStatement(schema(), WorkOrderQueries::workOrdersStatement(assets, view, division, department));
    requireOneStatement(schema(), WorkOrderQueries::linkedFilesStatement(assets));
    requireOneStatement(schema(), QStringLiteral("SELECT ") + SqlDialect::quoted(text));
    requireOneStatement(schema(),
                        SqlDialect(Backend::Sqlite)
                                        .nullFallback(QStringLiteral("AssetCode"), SqlDialect::quoted(text))
                                        .prepend(QStringLiteral("SELECT "))
                                + QStringLiteral(" FROM vw_LinkedFiles"));
    return 0;
}

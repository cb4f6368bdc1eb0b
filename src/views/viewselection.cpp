#include "viewselection.h"

#include "datagrid.h"
#include "gridcolumns.h"

namespace Orvantel {

bool clickSwapsGrids(const QString &viewMode, int index)
{
    return (viewMode == linkedFilesMode() && index < LinkedFilesView)
            || (viewMode == workOrdersMode() && index == LinkedFilesView);
}

bool viewModeMeansLinkedFiles(const QString &text)
{
    const QString lower = text.toLower();
    return lower == QLatin1String("files") || lower == QLatin1String("linkedfiles")
            || lower == QLatin1String("linked files");
}

qint16 clampViewChoice(qint16 choice)
{
    if (choice < 0 || choice > 4)
        return 0;
    return choice == 4 ? 3 : choice;
}

void setUpWorkOrderColumns(DataGrid *grid, int index)
{
    const bool pm = index == UpcomingPMsView;
    grid->column(WoNumberColumn)->setCaption(pm ? QStringLiteral("PM#") : QStringLiteral("WO#"));
    grid->column(WoNotesColumn)->setCaption(pm ? QStringLiteral("PM Name") : QStringLiteral("Work Requested"));
    grid->column(WoNotesColumn)->setWidth(pm ? 5000 : 3100);
    for (int column : {WoStatusColumn, WoPriorityColumn, WoRequestedByColumn})
        grid->column(column)->setVisible(!pm);
}

} // namespace Orvantel

#pragma once

#include "workorderqueries.h"

#include <QString>

namespace Orvantel {

class DataGrid;

/// What m_sViewMode holds while each grid is shown.
inline QString workOrdersMode()
{
    return QStringLiteral("Work Orders");
}
inline QString linkedFilesMode()
{
    return QStringLiteral("Linked Files");
}

/// Whether a click on view button index swaps the grids: from "Linked Files" to a
/// work-order view, or from "Work Orders" to the linked files (exact, case-sensitive).
/// Any other mode text swaps nothing.
bool clickSwapsGrids(const QString &viewMode, int index);

/// Whether a ViewMode text asks for the linked files: "files", "linkedfiles" or
/// "linked files" in any letter case, without trimming.
bool viewModeMeansLinkedFiles(const QString &text);

/// A ViewChoice write clamped into 0..3: negative gives 0, 4 gives 3, above 4 gives 0.
qint16 clampViewChoice(qint16 choice);

/// Captions, widths and visibility of the work-order grid for a work-order view
/// (0, 1 or 2): the PM variant for view 1, the work-order variant otherwise.
void setUpWorkOrderColumns(DataGrid *grid, int index);

} // namespace Orvantel

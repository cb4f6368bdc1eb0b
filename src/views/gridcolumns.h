#pragma once

#include "datagrid.h"

#include <vector>

namespace Orvantel {

/// Columns of the work-order grid, in order.
enum WorkOrderColumn {
    WoNumberColumn = 0,
    WoAssetCodeColumn = 1,
    WoDescriptionColumn = 2,
    WoStatusColumn = 3,
    WoPriorityColumn = 4,
    WoDateColumn = 5,
    WoRequestedByColumn = 6,
    WoAssignedToColumn = 7,
    WoNotesColumn = 8,
};

/// Columns of the linked-files grid, in order.
enum LinkedFileColumn {
    LfTypeColumn = 0,
    LfDescriptionColumn = 1,
    LfFileNameColumn = 2,
    LfButtonColumn = 3,
};

/// The work-order grid's nine columns as the grid starts (widths in twips).
std::vector<ColumnDesign> workOrderColumns();

/// The linked-files grid's four columns; the last is the "..." button column.
std::vector<ColumnDesign> linkedFileColumns();

} // namespace Orvantel

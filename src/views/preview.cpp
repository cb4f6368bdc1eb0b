#include "control/workordersgrid_p.h"

void WorkOrdersGridPrivate::TDBGrid1_ButtonClick(int)
{
}

void WorkOrdersGridPrivate::TDBGrid1_DblClick()
{
}

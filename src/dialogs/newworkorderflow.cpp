#include "control/workordersgrid_p.h"

void WorkOrdersGridPrivate::cmdNewWO_Click()
{
}

#include "control/workordersgrid_p.h"

void WorkOrdersGridPrivate::cmdConfig_Click()
{
}

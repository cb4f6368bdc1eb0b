#include "control/workordersgrid_p.h"

void WorkOrdersGridPrivate::cmdAbout_Click()
{
}

#include "workordersgrid_p.h"

#include "about.h"
#include "messagebox.h"

void WorkOrdersGridPrivate::cmdAbout_Click()
{
    modal([&] {
        Orvantel::showMessage(Orvantel::aboutText(DBServerName, DBDatabaseName),
                              QStringLiteral("About Orvantel Work Orders Control"), Orvantel::MessageStyle::Information,
                              q);
    });
}

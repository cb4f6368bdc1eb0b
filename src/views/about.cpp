#include "about.h"

#include "control/messagebox.h"
#include "control/workordersgrid_p.h"

namespace Orvantel {

QString aboutText(const QString &serverName, const QString &databaseName)
{
    const QString crlf = QStringLiteral("\r\n");
    return QStringLiteral("Orvantel Open Work Orders Control") + crlf
            + QStringLiteral("Copyright (c) 2026 Orvantel Maintenance Systems") + crlf + crlf
            + QStringLiteral("Orvantel Server:  ") + serverName + crlf + QStringLiteral("Orvantel Database:  ")
            + databaseName;
}

} // namespace Orvantel

void WorkOrdersGridPrivate::cmdAbout_Click()
{
    modal([&] {
        Orvantel::showMessage(Orvantel::aboutText(DBServerName, DBDatabaseName),
                              QStringLiteral("About Orvantel Work Orders Control"),
                              Orvantel::MessageStyle::Information, q);
    });
}

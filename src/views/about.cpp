#include "about.h"

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

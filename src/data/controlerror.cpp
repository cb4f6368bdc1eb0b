#include "controlerror.h"

#include <QSqlError>
#include <QStringList>

namespace Orvantel {

ControlError ControlError::fromSqlError(const QSqlError &error)
{
    const QString code = error.nativeErrorCode().trimmed();
    bool numeric = false;
    const int nativeNumber = code.toInt(&numeric);

    // PostgreSQL appends "(SQLSTATE)" to the server's text; the code is shown in front instead.
    QString databaseText = error.databaseText().simplified();
    const QString codeSuffix = QLatin1Char('(') + code + QLatin1Char(')');
    if (!code.isEmpty() && databaseText.endsWith(codeSuffix))
        databaseText = databaseText.chopped(codeSuffix.size()).trimmed();
    const QString driverText = error.driverText().simplified();

    QString description = databaseText;
    if (description.isEmpty())
        description = driverText;
    else if (!driverText.isEmpty() && !databaseText.contains(driverText))
        description += QStringLiteral(" (") + driverText + QLatin1Char(')');
    if (description.isEmpty())
        description = QStringLiteral("Unknown database error");

    if (numeric && nativeNumber != 0)
        return {nativeNumber, description};
    if (!code.isEmpty() && !numeric)
        description = QLatin1Char('[') + code + QStringLiteral("] ") + description;
    return {DatabaseFailure, description};
}

} // namespace Orvantel

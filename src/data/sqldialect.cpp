#include "sqldialect.h"

namespace Orvantel {

QString SqlDialect::nullFallback(const QString &a, const QString &b) const
{
    QLatin1String function("ISNULL");
    switch (m_backend) {
    case Backend::SqlServer:
        break;
    case Backend::PostgreSql:
        function = QLatin1String("COALESCE");
        break;
    case Backend::Sqlite:
        function = QLatin1String("IFNULL");
        break;
    }
    return function + QLatin1Char('(') + a + QLatin1Char(',') + b + QLatin1Char(')');
}

QString SqlDialect::procedureCall(const QString &procedure, const QStringList &sqlArguments) const
{
    const QString arguments = sqlArguments.join(QStringLiteral(", "));
    switch (m_backend) {
    case Backend::PostgreSql:
        return QStringLiteral("CALL ") + procedure + QLatin1Char('(') + arguments + QLatin1Char(')');
    case Backend::Sqlite:
        return QStringLiteral("INSERT INTO ") + procedure + QStringLiteral(" VALUES (") + arguments + QLatin1Char(')');
    case Backend::SqlServer:
        break;
    }
    if (arguments.isEmpty())
        return QStringLiteral("EXEC ") + procedure;
    return QStringLiteral("EXEC ") + procedure + QLatin1Char(' ') + arguments;
}

QString SqlDialect::quoted(const QString &text)
{
    QString doubled = text;
    doubled.replace(QLatin1Char('\''), QLatin1String("''"));
    return QLatin1Char('\'') + doubled + QLatin1Char('\'');
}

} // namespace Orvantel

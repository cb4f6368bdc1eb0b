#include "sqldialect.h"

namespace Orvantel {

bool bindsAsInteger(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::Long:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
        return true;
    default:
        return false;
    }
}

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

void SqlDialect::appendValues(Statement &statement, const QVariantList &values) const
{
    for (qsizetype i = 0; i < values.size(); ++i) {
        if (i > 0)
            statement.sql += QStringLiteral(", ");
        const QVariant &value = values.at(i);
        // Drivers bind a null QString as NULL; the value typed was empty text.
        if (value.typeId() == QMetaType::QString && value.toString().isNull())
            statement.values.append(QStringLiteral(""));
        else
            statement.values.append(value);
        if (m_backend == Backend::PostgreSql)
            statement.sql += QLatin1Char('$') + QString::number(statement.values.size());
        else
            statement.sql += QLatin1Char('?');
    }
}

Statement SqlDialect::procedureCall(const QString &procedure, const QVariantList &arguments) const
{
    Statement call;
    switch (m_backend) {
    case Backend::PostgreSql:
        call.sql = QStringLiteral("CALL ") + procedure + QLatin1Char('(');
        appendValues(call, arguments);
        call.sql += QLatin1Char(')');
        return call;
    case Backend::Sqlite:
        call.sql = QStringLiteral("INSERT INTO ") + procedure + QStringLiteral(" VALUES (");
        appendValues(call, arguments);
        call.sql += QLatin1Char(')');
        return call;
    case Backend::SqlServer:
        break;
    }
    call.sql = QStringLiteral("EXEC ") + procedure;
    if (!arguments.isEmpty())
        call.sql += QLatin1Char(' ');
    appendValues(call, arguments);
    return call;
}

} // namespace Orvantel

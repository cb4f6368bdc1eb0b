#include "lookups.h"

#include "database.h"

#include <QSqlError>
#include <QSqlQuery>

namespace Orvantel {

namespace {

const QLatin1String ItemSeparator(" - ");

/// A connection of its own for one lookup; the statement runs forward-only.
class LookupConnection
{
public:
    explicit LookupConnection(const QString &connectionString)
        : m_db(connectionString)
    {
        // An empty string would otherwise go looking for a default SQL Server.
        if (connectionString.trimmed().isEmpty())
            throw ControlError(ControlError::DatabaseFailure,
                               QStringLiteral("No connection string: the control has not connected to a server"));
        m_db.open();
    }

    SqlDialect dialect() const { return m_db.dialect(); }

    QSqlQuery select(const QString &sql) const
    {
        QSqlQuery query(m_db.database());
        query.setForwardOnly(true);
        if (!query.exec(sql))
            throw ControlError::fromSqlError(query.lastError());
        return query;
    }

    void execute(const QString &sql) { m_db.execute(sql); }

private:
    Database m_db;
};

void throwIfFailed(const QSqlQuery &query)
{
    if (query.lastError().isValid())
        throw ControlError::fromSqlError(query.lastError());
}

} // namespace

QString trimSpaces(const QString &text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && text.at(begin) == QLatin1Char(' '))
        ++begin;
    while (end > begin && text.at(end - 1) == QLatin1Char(' '))
        --end;
    return text.mid(begin, end - begin);
}

QStringList assetListItems(const QString &assetList)
{
    QStringList items;
    QString rest = assetList;
    qsizetype comma;
    while ((comma = rest.indexOf(QLatin1Char(','))) >= 0) {
        items << trimSpaces(rest.left(comma));
        rest = rest.mid(comma + 1);
    }
    if (!rest.isEmpty())
        items << trimSpaces(rest);
    return items;
}

QString comboListStatement(const SqlDialect &dialect, const QString &table, const QString &keyColumn,
                           const QString &descriptionColumn)
{
    QString sql = QStringLiteral("SELECT ") + keyColumn;
    if (!descriptionColumn.isEmpty())
        sql += QStringLiteral(", ") + dialect.nullFallback(descriptionColumn, keyColumn) + QStringLiteral(" AS ")
                + descriptionColumn;
    return sql + QStringLiteral(" FROM ") + table + QStringLiteral(" WHERE ") + keyColumn
            + QStringLiteral(" IS NOT NULL ORDER BY ") + keyColumn;
}

QString assetLookupStatement(const QString &assetCode)
{
    return QStringLiteral("SELECT * FROM GS_Assets WHERE AssetCode = ") + SqlDialect::quoted(assetCode);
}

QString createWorkOrderStatement(const SqlDialect &dialect, const QString &assetCode, qint16 priority,
                                 const QString &workRequest, const QString &requestedBy)
{
    const QString priorityText
            = priority < 0 ? QString::number(priority) : QLatin1Char(' ') + QString::number(priority);
    return dialect.procedureCall(QStringLiteral("sp_QX_CreateWorkOrder"),
                                 {SqlDialect::quoted(assetCode), SqlDialect::quoted(workRequest), priorityText,
                                  SqlDialect::quoted(requestedBy)});
}

ComboList LoadComboBox(const QString &connectionString, const QString &table, const QString &keyColumn,
                       bool addEmptyFirst, const QString &descriptionColumn)
{
    ComboList result;
    if (addEmptyFirst)
        result.items << QString();
    try {
        LookupConnection connection(connectionString);
        QSqlQuery query
                = connection.select(comboListStatement(connection.dialect(), table, keyColumn, descriptionColumn));
        const bool withDescription = !descriptionColumn.isEmpty();
        while (query.next()) {
            QString item = query.value(0).toString();
            if (withDescription)
                item += ItemSeparator + query.value(1).toString();
            result.items << item;
        }
        throwIfFailed(query);
    } catch (const ControlError &error) {
        result.error = error;
    }
    return result;
}

QString ComboItemCode(const QString &itemText)
{
    const qsizetype separator = itemText.indexOf(ItemSeparator);
    return trimSpaces(separator < 0 ? itemText : itemText.left(separator));
}

AssetCheck ValidateAsset(const QString &connectionString, const QString &assetCode)
{
    AssetCheck result;
    try {
        LookupConnection connection(connectionString);
        QSqlQuery query = connection.select(assetLookupStatement(assetCode));
        // One row is enough to know.
        if (query.next())
            result.exists = true;
        else
            throwIfFailed(query);
    } catch (const ControlError &error) {
        result.error = error;
    }
    return result;
}

std::optional<ControlError> CreateWorkOrder(const QString &connectionString, const QString &assetCode, qint16 priority,
                                            const QString &workRequest, const QString &requestedBy)
{
    try {
        LookupConnection connection(connectionString);
        connection.execute(
                createWorkOrderStatement(connection.dialect(), assetCode, priority, workRequest, requestedBy));
    } catch (const ControlError &error) {
        return error;
    }
    return std::nullopt;
}

} // namespace Orvantel

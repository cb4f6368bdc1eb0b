#include "lookups.h"

#include "database.h"
#include "recordset.h"

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

    /// Every row of the statement.
    void select(const Statement &statement, Recordset &rows) { m_db.load(statement, rows); }

    void execute(const Statement &statement) { m_db.execute(statement); }

private:
    Database m_db;
};

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

Statement assetLookupStatement(const SqlDialect &dialect, const QString &assetCode)
{
    Statement statement(QStringLiteral("SELECT * FROM GS_Assets WHERE AssetCode = "));
    dialect.appendValues(statement, {assetCode});
    return statement;
}

Statement createWorkOrderStatement(const SqlDialect &dialect, const QString &assetCode, qint16 priority,
                                   const QString &workRequest, const QString &requestedBy)
{
    return dialect.procedureCall(QStringLiteral("sp_QX_CreateWorkOrder"),
                                 {assetCode, workRequest, int(priority), requestedBy});
}

ComboList LoadComboBox(const QString &connectionString, const QString &table, const QString &keyColumn,
                       bool addEmptyFirst, const QString &descriptionColumn)
{
    ComboList result;
    if (addEmptyFirst)
        result.items << QString();
    try {
        LookupConnection connection(connectionString);
        Recordset rows;
        connection.select(comboListStatement(connection.dialect(), table, keyColumn, descriptionColumn), rows);
        const bool withDescription = !descriptionColumn.isEmpty();
        for (int row = 0; row < rows.rowCount(); ++row) {
            QString item = rows.text(row, 0);
            if (withDescription)
                item += ItemSeparator + rows.text(row, 1);
            result.items << item;
        }
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
        Recordset rows;
        connection.select(assetLookupStatement(connection.dialect(), assetCode), rows);
        result.exists = rows.rowCount() > 0;
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

#include "workorderqueries.h"

namespace Orvantel::WorkOrderQueries {

namespace {

/// " AND AssetCode IN (?, ?)" or " WHERE …": nothing when the list names no code.
void appendAssetCondition(const SqlDialect &dialect, Statement &statement, const QLatin1String &keyword,
                          const QString &assetList)
{
    const QStringList codes = assetCodes(assetList);
    if (codes.isEmpty())
        return;
    statement.sql += keyword + QStringLiteral(" AssetCode IN (");
    dialect.appendValues(statement, QVariantList(codes.cbegin(), codes.cend()));
    statement.sql += QLatin1Char(')');
}

} // namespace

QStringList assetCodes(const QString &assetList)
{
    QString codes = assetList;
    codes.remove(u' ');
    if (codes.isEmpty())
        return {};
    return codes.split(u',');
}

Statement workOrdersStatement(const SqlDialect &dialect, const QString &assetList, View view, const QString &division,
                              const QString &department, const QList<qint64> &numbers)
{
    Statement statement(QStringLiteral("SELECT * FROM vw_QX_WorkOrdersGrid WHERE WO_Nbr > 1"));
    appendAssetCondition(dialect, statement, QLatin1String(" AND"), assetList);
    switch (view) {
    case OpenWorkOrdersView:
        statement.sql += QStringLiteral(" AND Status < 3 AND IsPM = 0");
        break;
    case UpcomingPMsView:
        statement.sql += QStringLiteral(" AND IsPM = 1");
        break;
    case HistoryView:
        statement.sql += QStringLiteral(" AND Status IN (3,4)");
        break;
    case LinkedFilesView:
        break;
    }
    if (!division.isEmpty()) {
        statement.sql += QStringLiteral(" AND DivisionID = ");
        dialect.appendValues(statement, {division});
    }
    if (!department.isEmpty()) {
        statement.sql += QStringLiteral(" AND DepartmentID = ");
        dialect.appendValues(statement, {department});
    }
    if (!numbers.isEmpty()) {
        statement.sql += QStringLiteral(" AND WO_Nbr IN (");
        dialect.appendValues(statement, QVariantList(numbers.cbegin(), numbers.cend()));
        statement.sql += QLatin1Char(')');
    }
    statement.sql += QStringLiteral(" ORDER BY ") + WorkOrdersOrder;
    return statement;
}

Statement linkedFilesStatement(const SqlDialect &dialect, const QString &assetList)
{
    Statement statement(QStringLiteral("SELECT * FROM vw_LinkedFiles"));
    appendAssetCondition(dialect, statement, QLatin1String(" WHERE"), assetList);
    return statement;
}

} // namespace Orvantel::WorkOrderQueries

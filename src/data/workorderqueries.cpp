#include "workorderqueries.h"

#include "sqldialect.h"

#include <QStringList>

namespace Orvantel::WorkOrderQueries {

QString sqlAssetList(const QString &assetList)
{
    QString codes = assetList;
    codes.remove(u' ');
    QStringList quoted;
    for (const QString &code : codes.split(u','))
        quoted << SqlDialect::quoted(code);
    return quoted.join(QStringLiteral(", "));
}

bool hasAssets(const QString &sqlAssetList)
{
    return sqlAssetList.size() > 2;
}

QString workOrdersStatement(const QString &assetList, View view, const QString &division, const QString &department)
{
    const QString assets = sqlAssetList(assetList);
    QString sql = QStringLiteral("SELECT * FROM vw_QX_WorkOrdersGrid WHERE WO_Nbr > 1");
    if (hasAssets(assets))
        sql += QStringLiteral(" AND AssetCode IN (") + assets + u')';
    switch (view) {
    case OpenWorkOrders:
        sql += QStringLiteral(" AND Status < 3 AND IsPM = 0");
        break;
    case UpcomingPMs:
        sql += QStringLiteral(" AND IsPM = 1");
        break;
    case History:
        sql += QStringLiteral(" AND Status IN (3,4)");
        break;
    case NoView:
        break;
    }
    if (!division.isEmpty())
        sql += QStringLiteral(" AND DivisionID = ") + SqlDialect::quoted(division);
    if (!department.isEmpty())
        sql += QStringLiteral(" AND DepartmentID = ") + SqlDialect::quoted(department);
    sql += QStringLiteral(" ORDER BY WO_Nbr DESC");
    return sql;
}

QString linkedFilesStatement(const QString &assetList)
{
    const QString assets = sqlAssetList(assetList);
    QString sql = QStringLiteral("SELECT * FROM vw_LinkedFiles");
    if (hasAssets(assets))
        sql += QStringLiteral(" WHERE AssetCode IN (") + assets + u')';
    return sql;
}

} // namespace Orvantel::WorkOrderQueries

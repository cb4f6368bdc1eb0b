#pragma once

#include <QString>

namespace Orvantel::WorkOrderQueries {

/// The views of the work-order grid, in the order of the view buttons.
enum View { OpenWorkOrders = 0, UpcomingPMs = 1, History = 2, NoView = -1 };

/// The SQL asset list: every blank removed (inside codes too), each code between single
/// quotes with its own quotes doubled, codes joined by ", ". "A1, B 2,C3" gives
/// 'A1', 'B2', 'C3'; an empty list gives '' (two quotes).
QString sqlAssetList(const QString &assetList);

/// True when the list from sqlAssetList() names at least one code (longer than '').
bool hasAssets(const QString &sqlAssetList);

/// The work orders of a view, limited by the assets, division and department, newest first.
QString workOrdersStatement(const QString &assetList, View view, const QString &division,
                            const QString &department);

/// The linked files of the assets (all of them when the list is empty).
QString linkedFilesStatement(const QString &assetList);

} // namespace Orvantel::WorkOrderQueries

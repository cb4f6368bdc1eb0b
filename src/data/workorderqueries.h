#pragma once

#include "sqldialect.h"

#include <QString>
#include <QStringList>

namespace Orvantel::WorkOrderQueries {

/// The views of the work-order grid, in the order of the view buttons.
enum View { OpenWorkOrders = 0, UpcomingPMs = 1, History = 2, NoView = -1 };

/// The asset codes an asset list limits to: every blank removed (inside codes too), then
/// split at commas. "A1, B 2,C3" gives A1, B2, C3; "," gives two empty codes; a list of
/// nothing but blanks gives none (no limit).
QStringList assetCodes(const QString &assetList);

/// The work orders of a view, limited by the assets, division and department, newest
/// first; every value bound.
Statement workOrdersStatement(const SqlDialect &dialect, const QString &assetList, View view, const QString &division,
                            const QString &department);

/// The linked files of the assets (all of them when the list names none).
Statement linkedFilesStatement(const SqlDialect &dialect, const QString &assetList);

} // namespace Orvantel::WorkOrderQueries

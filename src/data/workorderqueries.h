#pragma once

#include "sqldialect.h"

#include <QString>
#include <QStringList>

namespace Orvantel {

/// The four views, in the order of the view buttons (optView_0 .. optView_3).
enum View { OpenWorkOrdersView = 0, UpcomingPMsView = 1, HistoryView = 2, LinkedFilesView = 3 };

} // namespace Orvantel

namespace Orvantel::WorkOrderQueries {

/// The asset codes an asset list limits to: every blank removed (inside codes too), then
/// split at commas. "A1, B 2,C3" gives A1, B2, C3; "," gives two empty codes; a list of
/// nothing but blanks gives none (no limit).
QStringList assetCodes(const QString &assetList);

/// The order workOrdersStatement() gives its rows in, as a sort text: newest first.
inline const QString WorkOrdersOrder = QStringLiteral("WO_Nbr DESC");

/// The work orders of a view, limited by the assets, division and department, newest
/// first; every value bound. The linked-files view adds no view condition. With numbers,
/// only those work orders (of the ones the rest selects): the rows that changed.
Statement workOrdersStatement(const SqlDialect &dialect, const QString &assetList, View view, const QString &division,
                              const QString &department, const QList<qint64> &numbers = {});

/// The linked files of the assets (all of them when the list names none).
Statement linkedFilesStatement(const SqlDialect &dialect, const QString &assetList);

} // namespace Orvantel::WorkOrderQueries

#pragma once

#include "baselines.h"

#include <QString>

#include <memory>

class WorkOrdersGrid;

namespace Bench {

/// The connection settings a host gives the control.
struct Server
{
    QString name; ///< DBServerName
    QString database;
    QString user;
    QString password;

    static Server sqlite(const QString &path);
    static Server postgresql(const PgSettings &settings);
};

/// Makes every message box the control opens close itself at once, keeping its text
/// for takeMessages(): a failure must end a measurement, not wait for an operator.
void installMessageWatcher();
/// The messages shown since the last call, one per line.
QString takeMessages();

/// A control shown on the current platform, connected to server, with the Linked
/// Files view button selected so that a refresh loads every work order. Its start-up
/// has run against an empty settings folder. Throws Failure.
std::unique_ptr<WorkOrdersGrid> connectedGrid(const Server &server);

/// grid.RefreshData(); throws Failure with the control's message when it fails.
void refreshOrThrow(WorkOrdersGrid &grid);

/// The WO_Nbr of the grid's current row; -1 when there is none.
qint64 currentWorkOrder(WorkOrdersGrid &grid);

} // namespace Bench

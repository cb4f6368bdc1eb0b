#include "workordersgrid_p.h"

#include "backgroundloader.h"
#include "changelistener.h"
#include "configdir.h"
#include "datagrid.h"
#include "datasource.h"
#include "logging.h"
#include "messagebox.h"
#include "recordset.h"

#include <QTimer>

#include <algorithm>
#include <utility>

using namespace Orvantel;

namespace {

/// How long notifications are gathered into one delta load.
constexpr int CoalesceMs = 30;

const char *kindName(int kind)
{
    switch (kind) {
    case WorkOrdersGridPrivate::BackgroundFull:
        return "full load";
    case WorkOrdersGridPrivate::BackgroundCatchUp:
        return "catch-up";
    case WorkOrdersGridPrivate::BackgroundDelta:
        return "delta";
    case WorkOrdersGridPrivate::BackgroundFiles:
        return "linked files";
    case WorkOrdersGridPrivate::BackgroundProbe:
        return "probe";
    default:
        return "job";
    }
}

} // namespace

void WorkOrdersGridPrivate::createBackgroundWork()
{
    m_loader = new BackgroundLoader(q);
    QObject::connect(m_loader, &BackgroundLoader::finished, q,
                     [this] { entry(QStringLiteral("RefreshData Error"), [this] { backgroundLoadFinished(); }); });
    m_listener = new ChangeListener(q);
    QObject::connect(m_listener, &ChangeListener::workOrdersChanged, q,
                     [this](const QList<qint64> &numbers) { workOrdersNotified(numbers); });
    QObject::connect(m_listener, &ChangeListener::everythingChanged, q, [this] { everythingNotified(); });
    QObject::connect(m_listener, &ChangeListener::linkedFilesChanged, q, [this] { linkedFilesNotified(); });
    QObject::connect(m_listener, &ChangeListener::fileChanged, q, [this] { databaseFileChanged(); });
    m_coalesce = new QTimer(q);
    m_coalesce->setSingleShot(true);
    m_coalesce->setInterval(CoalesceMs);
    QObject::connect(m_coalesce, &QTimer::timeout, q, [this] { startWaitingWork(); });
}

void WorkOrdersGridPrivate::timerTick()
{
    // Ticks go on while a refresh's error box is open: the first load that succeeds closes it.
    if (!ConnectedToDB || m_loader->isBusy())
        return;
    m_bDataLoaded = true;
    startBackground(BackgroundFull);
}

void WorkOrdersGridPrivate::workOrdersNotified(const QList<qint64> &numbers)
{
    // Notifications change only a grid that has been loaded.
    if (!ConnectedToDB || !m_bDataLoaded)
        return;
    m_pendingNumbers += numbers;
    if (!m_coalesce->isActive())
        m_coalesce->start();
}

void WorkOrdersGridPrivate::everythingNotified()
{
    m_fullPending = m_fullPending || m_bDataLoaded;
    m_filesPending = m_filesPending || m_linkedFilesLoaded;
    startWaitingWork();
}

void WorkOrdersGridPrivate::linkedFilesNotified()
{
    m_filesPending = m_filesPending || m_linkedFilesLoaded;
    startWaitingWork();
}

void WorkOrdersGridPrivate::databaseFileChanged()
{
    // Our own reads touch the file too: the worker asks SQLite whether anybody committed.
    m_probePending = m_bDataLoaded || m_linkedFilesLoaded;
    startWaitingWork();
}

void WorkOrdersGridPrivate::startWaitingWork()
{
    if (!ConnectedToDB || m_loader->isBusy())
        return; // backgroundLoadFinished() comes back here
    if (std::exchange(m_probePending, false)) {
        startBackground(BackgroundProbe);
    } else if (std::exchange(m_fullPending, false)) {
        // A full load covers what was notified before it starts.
        m_pendingNumbers.clear();
        startBackground(BackgroundCatchUp);
    } else if (!m_pendingNumbers.isEmpty() && !m_coalesce->isActive()) {
        QList<qint64> numbers = std::exchange(m_pendingNumbers, {});
        std::sort(numbers.begin(), numbers.end());
        numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
        startBackground(BackgroundDelta, numbers);
    } else if (std::exchange(m_filesPending, false)) {
        startBackground(BackgroundFiles);
    }
}

void WorkOrdersGridPrivate::startBackground(BackgroundKind kind, const QList<qint64> &numbers)
{
    BackgroundLoader::Request request;
    request.connectionString = Adodc1->connectionString();
    request.baseDirectory = configDirectory();
    request.kind = kind;
    request.keys = numbers;
    switch (kind) {
    case BackgroundFull:
    case BackgroundCatchUp: {
        request.statement = workOrdersStatement();
        Adodc1->setRecordSource(request.statement, WorkOrderQueries::WorkOrdersOrder);
        request.sort = Adodc1->recordset()->sort();
        request.rowLimit = Adodc1->recordset()->rowLimit();
        break;
    }
    case BackgroundDelta:
        request.statement = WorkOrderQueries::workOrdersStatement(Adodc1->dialect(), AssetList, selectedWorkOrderView(),
                                                                  Division, Department, numbers);
        break;
    case BackgroundFiles:
        request.connectionString = Adodc2->connectionString();
        request.statement = WorkOrderQueries::linkedFilesStatement(Adodc2->dialect(), AssetList);
        Adodc2->setRecordSource(request.statement);
        request.rowLimit = Adodc2->recordset()->rowLimit();
        break;
    case BackgroundProbe:
        request.probeOnly = true;
        break;
    case BackgroundNone:
        return;
    }
    m_backgroundTicket = m_loader->start(request);
    m_inFlight = m_backgroundTicket ? kind : BackgroundNone;
    qCDebug(lcRefresh, "Background %s %llu started", kindName(kind), m_backgroundTicket);
}

void WorkOrdersGridPrivate::backgroundLoadFinished()
{
    std::optional<BackgroundLoader::Result> result = m_loader->takeResult();
    if (!result)
        return;
    const bool current = result->ticket == m_backgroundTicket;
    m_backgroundTicket = 0;
    m_inFlight = BackgroundNone;
    if (!current) {
        qCInfo(lcRefresh, "Background %s %llu dropped: a newer load superseded it", kindName(result->kind),
               result->ticket);
    } else if (result->error) {
        qCInfo(lcRefresh, "Background %s failed: %d %s", kindName(result->kind), result->error->number,
               qPrintable(result->error->description));
        // A timed refresh's failure is shown, one box at a time. Loads for a change made
        // elsewhere only log theirs: the next change or tick tries again, and a tick's box
        // says what is wrong. A failed delta leaves changes unseen: a whole reload follows.
        if (result->kind == BackgroundDelta)
            m_fullPending = true;
        if (result->kind == BackgroundFull && m_refreshErrorsOpen == 0) {
            ++m_refreshErrorsOpen;
            reportError(*result->error, QStringLiteral("RefreshData Error"));
            --m_refreshErrorsOpen;
        }
    } else {
        bool workOrdersShown = false;
        switch (result->kind) {
        case BackgroundProbe:
            if (result->changed)
                everythingNotified();
            break;
        case BackgroundFull: {
            const RememberedRow row = rememberRow();
            Adodc1->recordset()->replace(std::move(result->store), std::move(result->order), result->orderedBy);
            restoreRow(row);
            workOrdersShown = true;
            break;
        }
        case BackgroundCatchUp: {
            // A change made elsewhere: the operator stays on the same work order, with the
            // same one at the top of the view (where they are still there).
            Recordset *rows = Adodc1->recordset();
            const QString key = QStringLiteral("WO_Nbr");
            const qint64 current = rows->keyOfRow(key, grdWorkOrders->currentRowIndex());
            const qint64 top = rows->keyOfRow(key, grdWorkOrders->rowAt(0));
            rows->replace(std::move(result->store), std::move(result->order), result->orderedBy);
            if (const int row = rows->rowOfKey(key, current); row >= 0)
                grdWorkOrders->setCurrentRowIndex(row);
            if (const int row = rows->rowOfKey(key, top); row >= 0)
                grdWorkOrders->scrollTo(grdWorkOrders->model()->index(row, 0), QAbstractItemView::PositionAtTop);
            workOrdersShown = true;
            break;
        }
        case BackgroundDelta: {
            // The operator keeps the rows in view: the top visible work order stays on top
            // (unless it is gone); the current row and the selection follow their records.
            Recordset *rows = Adodc1->recordset();
            const int top = rows->bookmark(grdWorkOrders->rowAt(0));
            rows->merge(QStringLiteral("WO_Nbr"), result->store, result->keys);
            const int topRow = rows->rowOfBookmark(top);
            if (topRow >= 0)
                grdWorkOrders->scrollTo(grdWorkOrders->model()->index(topRow, 0), QAbstractItemView::PositionAtTop);
            workOrdersShown = true;
            break;
        }
        case BackgroundFiles:
            Adodc2->recordset()->replace(std::move(result->store));
            break;
        }
        qCDebug(lcRefresh, "Background %s %llu shown", kindName(result->kind), result->ticket);
        if (workOrdersShown && m_refreshErrorsOpen > 0) {
            qCInfo(lcRefresh, "Loaded again: the refresh error box is closed");
            closeMessages(q, QStringLiteral("RefreshData Error"));
        }
    }
    startWaitingWork();
}

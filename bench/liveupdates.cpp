// The measurements of the work off the GUI thread: a timed refresh loading in the
// background, and changes made elsewhere reaching the displays.

#include "scenarios.h"

#include "gridsetup.h"
#include "report.h"

#include "backgroundloader.h"
#include "changelistener.h"
#include "connectionstring.h"
#include "datagrid.h"
#include "datasource.h"
#include "recordset.h"
#include "workorderqueries.h"
#include "workordersgrid.h"
#include "workordersgrid_p.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cmath>

namespace Bench {

using namespace Orvantel;

namespace {

const QString Key = QStringLiteral("WO_Nbr");

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return std::numeric_limits<double>::quiet_NaN();
    std::sort(values.begin(), values.end());
    const std::size_t at = std::min(values.size() - 1, std::size_t(std::ceil(p * double(values.size())) - 1));
    return values[at];
}

/// Runs the event loop until done() or the deadline; false on the deadline.
template<typename Done>
bool spinUntil(Done &&done, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::usleep(200);
    }
    return true;
}

/// Whether the control has no background work running or waiting.
bool idle(WorkOrdersGridPrivate *d)
{
    return d->m_inFlight == WorkOrdersGridPrivate::BackgroundNone && !d->m_loader->isBusy();
}

/// The longest gaps between firings of a precise 1 ms timer on the GUI thread.
class GapMonitor
{
public:
    GapMonitor()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(1);
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            m_longest = std::max(m_longest, double(now - m_last) / 1e6);
            m_last = now;
        });
        m_clock.start();
        m_timer.start();
    }
    /// The longest gap since the last call, and starts a new period.
    double takeLongest()
    {
        const double longest = m_longest;
        m_longest = 0;
        return longest;
    }
    /// The gap that ends now (a moment inside the GUI thread's work counts to its end).
    double sinceLastFiring() const { return double(m_clock.nsecsElapsed() - m_last) / 1e6; }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    double m_longest = 0;
};

Comparison figure(const QString &scenario, double ours, const QString &unit, const QString &check, bool passed,
                  const QString &note)
{
    Comparison c;
    c.scenario = scenario;
    c.ours = ours;
    c.baseline = std::numeric_limits<double>::quiet_NaN();
    c.target = std::numeric_limits<double>::quiet_NaN();
    c.unit = unit;
    c.check = check;
    c.checkPassed = passed;
    c.note = note;
    return c;
}

} // namespace

void Scenarios::tickStall()
{
    constexpr int Ticks = 20;
    std::vector<std::pair<QString, Server>> servers {{QStringLiteral("sqlite"), Server::sqlite(m_setup.sqlitePath)}};
    if (m_setup.postgresql)
        servers.emplace_back(QStringLiteral("postgresql"), Server::postgresql(*m_setup.postgresql));
    for (const auto &[engine, server] : servers) {
        std::unique_ptr<WorkOrdersGrid> grid = connectedGrid(server);
        WorkOrdersGridPrivate *d = WorkOrdersGridPrivate::get(grid.get());
        refreshOrThrow(*grid);
        // The sort a header click leaves in force.
        d->m_sSortOrder = QStringLiteral("AssetCode");
        d->Adodc1->recordset()->setSort(d->m_sSortOrder);
        if (!spinUntil([d] { return idle(d); }, 120000))
            throw Failure(QStringLiteral("the control's background work did not settle"));

        double swapMs = 0;
        std::vector<double> maxima, swaps;
        QString failure;
        GapMonitor gaps;
        for (int i = 0; i <= Ticks; ++i) {
            d->grdWorkOrders->setCurrentRowIndex(d->grdWorkOrders->rowCount() / 2 + i * 37);
            QCoreApplication::processEvents();
            const qint64 workOrder = currentWorkOrder(*grid);
            gaps.takeLongest();
            // The swap is the GUI thread's one piece of work for a tick: it ends the gap in
            // which the model is reset.
            const QMetaObject::Connection swapped
                    = QObject::connect(d->Adodc1->recordset(), &QAbstractItemModel::modelReset, grid.get(),
                                       [&] { swapMs = gaps.sinceLastFiring(); });
            d->timerTick();
            if (!spinUntil([d] { return idle(d); }, 120000))
                throw Failure(QStringLiteral("a tick's load did not finish"));
            QObject::disconnect(swapped);
            QCoreApplication::processEvents(); // the events the swap left
            const double longest = gaps.takeLongest();
            const QString messages = takeMessages();
            if (!messages.isEmpty())
                throw Failure(QStringLiteral("a timed refresh failed: ") + messages);
            if (failure.isEmpty() && currentWorkOrder(*grid) != workOrder)
                failure = QStringLiteral("tick %1: current WO %2 became %3")
                                  .arg(i)
                                  .arg(workOrder)
                                  .arg(currentWorkOrder(*grid));
            if (i > 0) { // the first round warms up
                maxima.push_back(longest);
                swaps.push_back(swapMs);
            }
        }
        const QString note = QStringLiteral("%1 rows sorted by AssetCode; %2 ticks; worst %3 ms; swap median %4 ms, "
                                            "worst %5 ms")
                                     .arg(d->grdWorkOrders->rowCount())
                                     .arg(Ticks)
                                     .arg(*std::max_element(maxima.begin(), maxima.end()), 0, 'f', 1)
                                     .arg(median(swaps), 0, 'f', 1)
                                     .arg(*std::max_element(swaps.begin(), swaps.end()), 0, 'f', 1);
        Comparison c = figure(QStringLiteral("tick/%1 longest GUI gap per tick").arg(engine), median(maxima),
                              QStringLiteral("ms"), QStringLiteral("median <= 16 ms, WO kept"),
                              median(maxima) <= 16.0 && failure.isEmpty(), failure.isEmpty() ? note : failure);
        m_report.add(c);
    }
}

void Scenarios::backgroundLoad()
{
    const QString sql
            = WorkOrderQueries::workOrdersStatement(SqlDialect(), QString(), LinkedFilesView, QString(), QString()).sql;
    RawSqlite raw(m_setup.sqlitePath);
    BackgroundLoader loader;
    BackgroundLoader::Request request;
    request.connectionString = ConnectionString::build({Server::sqlite(m_setup.sqlitePath).name, {}, {}, {}});
    request.statement = Statement(sql);
    std::optional<BackgroundLoader::Result> result;
    const auto load = [&] {
        QElapsedTimer timer;
        timer.start();
        if (!loader.start(request))
            throw Failure(QStringLiteral("the background loader is busy"));
        spinUntil([&] { return (result = loader.takeResult()).has_value(); }, 120000);
        const double ms = double(timer.nsecsElapsed()) / 1e6;
        if (!result || result->error)
            throw Failure(QStringLiteral("the background load failed: ")
                          + (result && result->error ? result->error->description : QStringLiteral("no result")));
        return ms;
    };
    load(); // opens the worker's connection, warms the page cache
    const RawPass pass = raw.readAll(sql);
    if (qint64(result->store.recordCount()) != pass.rows)
        throw Failure(QStringLiteral("the background load read %1 rows, the engine %2")
                              .arg(result->store.recordCount())
                              .arg(pass.rows));
    std::vector<double> ours, engine;
    for (int i = 0; i < m_setup.repetitions; ++i) {
        result.reset();
        ours.push_back(load());
        QElapsedTimer timer;
        timer.start();
        raw.readAll(sql);
        engine.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    Comparison c;
    c.scenario = QStringLiteral("background load/sqlite vs raw sqlite3_step");
    c.ours = median(ours);
    c.baseline = median(engine);
    c.unit = QStringLiteral("ms");
    c.target = 1.2;
    c.note = QStringLiteral("%1 work orders, read and stored on the worker, no sort").arg(pass.rows);
    m_report.add(c);
}

namespace {

/// One display's record of when a work order first showed.
struct Watcher
{
    WorkOrdersGridPrivate *d;
    qint64 awaited = -1;
    qint64 shownNs = -1;
};

/// Inserts work orders one by one and measures until every display shows each.
std::vector<double> insertAndWait(QSqlDatabase inserter, std::vector<Watcher> &watchers, int inserts, int spacingMs,
                                  qint64 firstNumber)
{
    QElapsedTimer clock;
    clock.start();
    for (Watcher &w : watchers) {
        Recordset *rows = w.d->Adodc1->recordset();
        const auto check = [&w, rows, &clock] {
            if (w.shownNs < 0 && w.awaited >= 0 && rows->rowOfKey(Key, w.awaited) >= 0)
                w.shownNs = clock.nsecsElapsed();
        };
        QObject::connect(rows, &QAbstractItemModel::rowsInserted, rows, check);
        QObject::connect(rows, &QAbstractItemModel::modelReset, rows, check);
    }
    QSqlQuery insert(inserter);
    if (!insert.prepare(QStringLiteral(
                "INSERT INTO WO_WorkOrders (WO_Nbr, AssetCode, Status, IsPM, Priority, DateLoaded, WorkRequest, "
                "DivisionID, DepartmentID) SELECT ?, AssetCode, 0, 0, 1, CURRENT_TIMESTAMP, 'Bench', DivisionID, "
                "DepartmentID FROM GS_Assets ORDER BY AssetCode LIMIT 1")))
        throw Failure(QStringLiteral("cannot prepare the insert: ") + insert.lastError().text());
    std::vector<double> latencies;
    for (int i = 0; i < inserts; ++i) {
        const qint64 number = firstNumber + i;
        for (Watcher &w : watchers) {
            w.awaited = number;
            w.shownNs = -1;
        }
        insert.addBindValue(number);
        if (!insert.exec())
            throw Failure(QStringLiteral("the insert failed: ") + insert.lastError().text());
        const qint64 committedNs = clock.nsecsElapsed(); // autocommit: COMMIT has returned
        const bool all = spinUntil(
                [&] {
                    return std::all_of(watchers.begin(), watchers.end(),
                                       [](const Watcher &w) { return w.shownNs >= 0; });
                },
                10000);
        if (!all)
            throw Failure(QStringLiteral("work order %1 did not reach every display within 10 s").arg(number));
        qint64 last = 0;
        for (const Watcher &w : watchers)
            last = std::max(last, w.shownNs);
        latencies.push_back(double(last - committedNs) / 1e6);
        // Beyond the coalescing window, and the displays settled.
        spinUntil([] { return false; }, spacingMs);
        for (Watcher &w : watchers)
            spinUntil([&w] { return idle(w.d); }, 10000);
    }
    return latencies;
}

QString latencyNote(const std::vector<double> &latencies, const QString &what)
{
    return QStringLiteral("%1; %2 inserts; p99 %3 ms, worst %4 ms")
            .arg(what)
            .arg(latencies.size())
            .arg(percentile(latencies, 0.99), 0, 'f', 1)
            .arg(*std::max_element(latencies.begin(), latencies.end()), 0, 'f', 1);
}

} // namespace

void Scenarios::changesPostgresql()
{
    const PgSettings &pg = *m_setup.postgresql;
    const int displays = m_setup.displays;
    std::vector<std::unique_ptr<WorkOrdersGrid>> grids;
    std::vector<Watcher> watchers;
    for (int i = 0; i < displays; ++i) {
        grids.push_back(connectedGrid(Server::postgresql(pg)));
        refreshOrThrow(*grids.back());
        watchers.push_back({WorkOrdersGridPrivate::get(grids.back().get())});
    }
    // Every display listening, its first catching up done.
    const bool settled = spinUntil(
            [&] {
                return std::all_of(watchers.begin(), watchers.end(),
                                   [](const Watcher &w) { return w.d->m_listener->isListening() && idle(w.d); });
            },
            300000);
    if (!settled)
        throw Failure(QStringLiteral("the displays did not all listen within 5 minutes"));
    spinUntil([] { return false; }, 500);

    SqlConnection inserter(QStringLiteral("bench-inserter"), pg);
    QSqlQuery q(inserter.database());
    if (!q.exec(QStringLiteral("SELECT max(WO_Nbr) FROM WO_WorkOrders")) || !q.next())
        throw Failure(QStringLiteral("cannot read the last work order: ") + q.lastError().text());
    const qint64 first = q.value(0).toLongLong() + 1;
    const bool statements = q.exec(QStringLiteral("SELECT pg_stat_statements_reset()"));
    const int inserts = std::max(100, m_setup.repetitions);
    const std::vector<double> latencies = insertAndWait(inserter.database(), watchers, inserts, 100, first);
    const double p50 = percentile(latencies, 0.5);
    const double p99 = percentile(latencies, 0.99);
    m_report.add(figure(QStringLiteral("changes/postgresql insert to %1 displays, p50").arg(displays), p50,
                        QStringLiteral("ms"), QStringLiteral("p50 <= 100 ms, p99 <= 250 ms"), p50 <= 100 && p99 <= 250,
                        latencyNote(latencies,
                                    QStringLiteral("%1 displays of %2 rows")
                                            .arg(displays)
                                            .arg(watchers.front().d->grdWorkOrders->rowCount()))));

    // What the server did for the displays: every statement but the inserts themselves and
    // the listening connections' own.
    if (!statements) {
        m_report.add(figure(QStringLiteral("changes/postgresql server statements per change"),
                            std::numeric_limits<double>::quiet_NaN(), QString(), QStringLiteral("pg_stat_statements"),
                            false, QStringLiteral("pg_stat_statements is not loaded")));
        return;
    }
    if (!q.exec(QStringLiteral(
                "SELECT coalesce(sum(calls), 0), coalesce(sum(rows), 0), string_agg(left(query, 60) || ' x' || calls, "
                "'; ') "
                "FROM pg_stat_statements WHERE query NOT ILIKE '%INSERT INTO WO_WorkOrders%' "
                "AND query NOT ILIKE 'LISTEN%' AND query <> ';' AND query NOT ILIKE '%pg_stat_statements%' "
                "AND query NOT ILIKE 'SELECT to_regproc%'"))
        || !q.next())
        throw Failure(QStringLiteral("cannot read pg_stat_statements: ") + q.lastError().text());
    const double calls = q.value(0).toDouble() / inserts;
    const double rows = q.value(1).toDouble() / inserts;
    m_report.add(
            figure(QStringLiteral("changes/postgresql server statements per change"), calls, QString(),
                   QStringLiteral("<= %1 statements, <= %1 rows").arg(displays), calls <= displays && rows <= displays,
                   QStringLiteral("%1 rows returned per change; %2").arg(rows, 0, 'f', 1).arg(q.value(2).toString())));
}

void Scenarios::changesSqlite()
{
    // The inserts go into a copy: the benchmark database stays as generated.
    QTemporaryDir folder;
    const QString copy = folder.filePath(QStringLiteral("changes.db"));
    if (!folder.isValid() || !QFile::copy(m_setup.sqlitePath, copy))
        throw Failure(QStringLiteral("cannot copy the benchmark database"));
    std::unique_ptr<WorkOrdersGrid> grid = connectedGrid(Server::sqlite(copy));
    refreshOrThrow(*grid);
    std::vector<Watcher> watchers {{WorkOrdersGridPrivate::get(grid.get())}};
    spinUntil([&] { return idle(watchers.front().d); }, 60000);

    const QString name = QStringLiteral("bench-sqlite-inserter");
    {
        QSqlDatabase inserter = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        inserter.setDatabaseName(copy);
        if (!inserter.open())
            throw Failure(QStringLiteral("cannot open the copy: ") + inserter.lastError().text());
        QSqlQuery q(inserter);
        if (!q.exec(QStringLiteral("SELECT max(WO_Nbr) FROM WO_WorkOrders")) || !q.next())
            throw Failure(QStringLiteral("cannot read the last work order: ") + q.lastError().text());
        const qint64 first = q.value(0).toLongLong() + 1;
        q.finish();
        const std::vector<double> latencies
                = insertAndWait(inserter, watchers, std::max(20, m_setup.repetitions), 300, first);
        const double p50 = percentile(latencies, 0.5);
        m_report.add(figure(
                QStringLiteral("changes/sqlite insert to 1 display, p50"), p50, QStringLiteral("ms"),
                QStringLiteral("p50 <= 500 ms"), p50 <= 500,
                latencyNote(
                        latencies,
                        QStringLiteral("%1 rows, reloaded whole").arg(watchers.front().d->grdWorkOrders->rowCount()))));
    }
    QSqlDatabase::removeDatabase(name);
}

} // namespace Bench

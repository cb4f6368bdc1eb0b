#include "scenarios.h"

#include "gridsetup.h"
#include "memoryprobe.h"
#include "report.h"

#include "workordersgrid.h"
#include "workordersgrid_p.h"
#include "columnstore.h"
#include "database.h"
#include "datasource.h"
#include "recordset.h"
#include "workorderqueries.h"
#include "datagrid.h"

#include "demodata.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPixmap>
#include <QScrollBar>
#include <QSqlError>
#include <QSqlQueryModel>
#include <QTableView>
#include <QTemporaryDir>

namespace Bench {

using namespace Orvantel;

namespace {

constexpr double MiB = 1024.0 * 1024.0;

template<typename Body>
double elapsedMs(Body &&body)
{
    QElapsedTimer timer;
    timer.start();
    body();
    return double(timer.nsecsElapsed()) / 1e6;
}

/// The statement RefreshData runs with no view filter: every work order.
QString allWorkOrders()
{
    return WorkOrderQueries::workOrdersStatement(SqlDialect(), QString(), LinkedFilesView, QString(), QString()).sql;
}

Comparison ratioComparison(const QString &scenario, const std::vector<double> &ours,
                           const std::vector<double> &baseline, double target,
                           const QString &unit = QStringLiteral("ms"))
{
    Comparison c;
    c.scenario = scenario;
    c.ours = median(ours);
    c.baseline = median(baseline);
    c.unit = unit;
    c.target = target;
    return c;
}

/// The grid's row count must match what the engine returns, or the timings compare
/// different work.
void expectRows(const char *who, qint64 rows, qint64 expected)
{
    if (rows != expected)
        throw Failure(QStringLiteral("%1 holds %2 rows, the database returns %3")
                              .arg(QLatin1String(who))
                              .arg(rows)
                              .arg(expected));
}

qint64 shownRows(qint64 resultRows)
{
    return std::min<qint64>(resultRows, DataGrid::MaxRows);
}

/// Sets an environment variable for as long as it lives.
class EnvironmentOverride
{
public:
    EnvironmentOverride(const char *name, const QByteArray &value)
        : m_name(name)
        , m_wasSet(qEnvironmentVariableIsSet(name))
        , m_previous(qgetenv(name))
    {
        qputenv(name, value);
    }
    ~EnvironmentOverride()
    {
        if (m_wasSet)
            qputenv(m_name, m_previous);
        else
            qunsetenv(m_name);
    }

private:
    const char *m_name;
    bool m_wasSet;
    QByteArray m_previous;
};

} // namespace

void Scenarios::refreshSqlite()
{
    const QString sql = allWorkOrders();
    const int n = m_setup.repetitions;
    std::unique_ptr<WorkOrdersGrid> grid = connectedGrid(Server::sqlite(m_setup.sqlitePath));
    DataGrid *view = WorkOrdersGridPrivate::get(grid.get())->grdWorkOrders;
    RawSqlite raw(m_setup.sqlitePath);
    SqlConnection connection(QStringLiteral("bench-naive-refresh"), m_setup.sqlitePath);
    NaivePeer naive;

    // One untimed round puts every contender on a warm page cache and heap.
    refreshOrThrow(*grid);
    const RawPass pass = raw.readAll(sql);
    naive.load(sql, connection.database());
    expectRows("the control", view->rowCount(), shownRows(pass.rows));
    expectRows("QSqlQueryModel", naive.rowCount(), pass.rows);

    std::vector<double> ours, engine, peer;
    for (int i = 0; i < n; ++i) {
        ours.push_back(elapsedMs([&] { refreshOrThrow(*grid); }));
        engine.push_back(elapsedMs([&] {
            if (raw.readAll(sql).checksum != pass.checksum)
                throw Failure(QStringLiteral("the raw pass read different values"));
        }));
        peer.push_back(elapsedMs([&] { naive.load(sql, connection.database()); }));
    }

    Comparison vsEngine = ratioComparison(QStringLiteral("refresh/sqlite vs raw sqlite3_step"), ours, engine, 1.5);
    vsEngine.note = QStringLiteral("%1 work orders x %2 columns")
                            .arg(pass.rows)
                            .arg(view->recordset() ? view->recordset()->fieldCount() : 0);
    m_report.add(vsEngine);
    m_report.add(ratioComparison(QStringLiteral("refresh/sqlite vs QSqlQueryModel+proxy"), ours, peer, 0.5));
}

void Scenarios::refreshPostgresql()
{
    const QString sql = allWorkOrders();
    const PgSettings &pg = *m_setup.postgresql;
    std::unique_ptr<WorkOrdersGrid> grid = connectedGrid(Server::postgresql(pg));
    DataGrid *view = WorkOrdersGridPrivate::get(grid.get())->grdWorkOrders;

    refreshOrThrow(*grid);
    psqlCopy(m_setup.psql, pg, sql);
    if (view->rowCount() == 0)
        throw Failure(QStringLiteral("the PostgreSQL database holds no work orders"));

    std::vector<double> ours, copy;
    for (int i = 0; i < m_setup.repetitions; ++i) {
        ours.push_back(elapsedMs([&] { refreshOrThrow(*grid); }));
        copy.push_back(psqlCopy(m_setup.psql, pg, sql));
    }
    Comparison c = ratioComparison(QStringLiteral("refresh/postgresql vs psql COPY"), ours, copy, 1.5);
    c.note = QStringLiteral("%1 work orders").arg(view->recordset()->rowCount());
    m_report.add(c);
}

void Scenarios::sort()
{
    const QString sql = allWorkOrders();
    const int n = m_setup.repetitions;
    std::unique_ptr<WorkOrdersGrid> grid = connectedGrid(Server::sqlite(m_setup.sqlitePath));
    refreshOrThrow(*grid);
    Recordset *rs = WorkOrdersGridPrivate::get(grid.get())->Adodc1->recordset();
    RawSqlite raw(m_setup.sqlitePath);
    SqlConnection connection(QStringLiteral("bench-naive-sort"), m_setup.sqlitePath);
    NaivePeer naive;
    naive.load(sql, connection.database());
    expectRows("QSqlQueryModel", naive.rowCount(), rs->rowCount());

    struct Column
    {
        QString field;
        QString kind;
    };
    for (const Column &column : {Column {QStringLiteral("AssetCode"), QStringLiteral("text")},
                                 Column {QStringLiteral("Priority"), QStringLiteral("number")}}) {
        const bool text = column.kind == QLatin1String("text");
        std::vector<std::string> texts;
        std::vector<std::int64_t> numbers;
        if (text)
            texts = raw.textColumn(sql, column.field);
        else
            numbers = raw.integerColumn(sql, column.field);
        expectRows("the raw column", qint64(text ? texts.size() : numbers.size()), rs->rowCount());
        const auto baselineOrder = [&](bool descending) {
            return text ? stableOrder(texts, descending) : stableOrder(numbers, descending);
        };
        const QString descending = column.field + QStringLiteral(" DESC");
        const int proxyColumn = naive.column(column.field);

        std::vector<double> oursAsc, oursDesc, stdAsc, stdDesc, proxy;
        std::vector<int> order;
        for (int i = 0; i < n; ++i) {
            rs->setSort(QString());
            oursAsc.push_back(elapsedMs([&] { rs->setSort(column.field); }));
            rs->setSort(QString());
            oursDesc.push_back(elapsedMs([&] { rs->setSort(descending); }));
            stdAsc.push_back(elapsedMs([&] { order = baselineOrder(false); }));
            stdDesc.push_back(elapsedMs([&] { order = baselineOrder(true); }));
            naive.proxy().sort(-1);
            proxy.push_back(elapsedMs([&] { naive.proxy().sort(proxyColumn, Qt::AscendingOrder); }));
        }

        // Numbers compare the same way in both, so the orders must agree row for row.
        QString mismatch;
        if (!text) {
            for (int row = 0; row < rs->rowCount() && mismatch.isEmpty(); ++row) {
                if (rs->bookmark(row) != order[std::size_t(row)])
                    mismatch = QStringLiteral("the control's %1 order differs from std::stable_sort's at row %2")
                                       .arg(descending)
                                       .arg(row);
            }
        }
        rs->setSort(QString());

        const QString name = QStringLiteral("sort/%1 %2").arg(column.kind, column.field);
        Comparison asc = ratioComparison(name + QStringLiteral(" vs std::stable_sort"), oursAsc, stdAsc, 3.0);
        Comparison desc = ratioComparison(name + QStringLiteral(" DESC vs std::stable_sort"), oursDesc, stdDesc, 3.0);
        desc.note = mismatch;
        m_report.add(asc);
        m_report.add(desc);
        m_report.add(ratioComparison(name + QStringLiteral(" vs QSortFilterProxyModel"), oursAsc, proxy, 0.5));
    }
}

void Scenarios::merge()
{
    constexpr int Merges = 101;
    std::unique_ptr<WorkOrdersGrid> grid = connectedGrid(Server::sqlite(m_setup.sqlitePath));
    WorkOrdersGridPrivate *d = WorkOrdersGridPrivate::get(grid.get());
    std::vector<double> refresh;
    for (int i = 0; i < m_setup.repetitions; ++i)
        refresh.push_back(elapsedMs([&] { refreshOrThrow(*grid); }));
    Recordset *rs = d->Adodc1->recordset();
    Database *db = d->Adodc1->database();
    const QString key = QStringLiteral("WO_Nbr");
    const QString sortField = QStringLiteral("AssetCode");
    // The statement delivers the newest first; the sort is the one a header click makes.
    rs->setBaseOrder(QStringLiteral("WO_Nbr DESC"));
    rs->setSort(sortField);
    const int rows = rs->rowCount();
    if (rows < 1000)
        throw Failure(QStringLiteral("too few work orders to merge into: %1").arg(rows));
    const int keyField = rs->fieldIndex(key);
    const int sortColumn = rs->fieldIndex(sortField);

    // A work order's row as the statement reads it, with some fields written over:
    // "? AS Field" for each name in overrides, bound in order before the WO_Nbr.
    const auto changedRow = [&](qint64 number, const QStringList &overrides, QVariantList values) {
        QStringList select;
        for (int f = 0; f < rs->fieldCount(); ++f)
            select << (overrides.contains(rs->fieldName(f)) ? QStringLiteral("? AS ") + rs->fieldName(f)
                                                            : rs->fieldName(f));
        values << number;
        return db->load(Statement(QStringLiteral("SELECT %1 FROM vw_QX_WorkOrdersGrid WHERE WO_Nbr = ?")
                                          .arg(select.join(QStringLiteral(", "))),
                                  values));
    };
    const auto checkRows = [&](const char *after, int expected) {
        if (rs->rowCount() != expected)
            throw Failure(QStringLiteral("%1 rows after %2, not %3")
                                  .arg(rs->rowCount())
                                  .arg(QLatin1String(after))
                                  .arg(expected));
    };

    // An update that moves a work order from one end of the sort to the other and back.
    const qint64 middle = rs->value(rows / 2, keyField).toLongLong();
    const ColumnStore toFirst = changedRow(middle, {sortField}, {rs->text(0, sortColumn)});
    const ColumnStore toLast = changedRow(middle, {sortField}, {rs->text(rows - 1, sortColumn)});
    std::vector<double> moves;
    for (int i = 0; i < Merges; ++i)
        moves.push_back(elapsedMs([&] { rs->merge(key, i % 2 ? toFirst : toLast, {middle}); }));
    checkRows("the updates", rows);

    // The newest work order deleted, then back.
    const qint64 newest = rs->value(rs->rowOfBookmark(0), keyField).toLongLong();
    const ColumnStore newestRow = changedRow(newest, {}, {});
    const ColumnStore none = changedRow(-1, {}, {});
    std::vector<double> removals, inserts;
    for (int i = 0; i < Merges; ++i) {
        removals.push_back(elapsedMs([&] { rs->merge(key, none, {newest}); }));
        inserts.push_back(elapsedMs([&] { rs->merge(key, newestRow, {newest}); }));
    }
    checkRows("the deletes and inserts", rows);

    // New work orders into a full grid: each pushes the oldest one out.
    rs->setRowLimit(rows);
    std::vector<ColumnStore> newOrders;
    for (int i = 1; i <= Merges; ++i)
        newOrders.push_back(changedRow(newest, {key}, {newest + i}));
    std::vector<double> full;
    for (int i = 0; i < Merges; ++i)
        full.push_back(elapsedMs([&] { rs->merge(key, newOrders[std::size_t(i)], {newest + i + 1}); }));
    checkRows("new work orders into a full grid", rows);

    const auto add = [&](const QString &what, const std::vector<double> &ours) {
        Comparison c = ratioComparison(QStringLiteral("merge/%1 vs refresh").arg(what), ours, refresh,
                                       std::numeric_limits<double>::quiet_NaN());
        c.check = QStringLiteral("<= 5 ms");
        c.checkPassed = median(ours) <= 5.0;
        c.note = QStringLiteral("%1 rows sorted by %2; %3 merges, slowest %4 ms")
                         .arg(rows)
                         .arg(sortField)
                         .arg(ours.size())
                         .arg(*std::max_element(ours.begin(), ours.end()), 0, 'f', 2);
        m_report.add(c);
    };
    add(QStringLiteral("update moving across the sort"), moves);
    add(QStringLiteral("deleted work order"), removals);
    add(QStringLiteral("new work order"), inserts);
    add(QStringLiteral("new work order, full grid"), full);
}

void Scenarios::memory()
{
    RawSqlite raw(m_setup.sqlitePath);
    const double textMiB = double(raw.textBytes(allWorkOrders())) / MiB;

    std::vector<double> peakGrowth, steadyGrowth, emptyControl, tickGrowth;
    bool peakReset = true;
    int rows = 0;
    for (int i = 0; i < m_setup.repetitions; ++i) {
        const MemoryFigures f = probeInChildProcess(m_setup.program, m_setup.sqlitePath);
        peakGrowth.push_back(double(f.peakKiB - f.emptyKiB) / 1024.0);
        steadyGrowth.push_back(double(f.loadedKiB - f.emptyKiB) / 1024.0);
        emptyControl.push_back(double(f.emptyKiB - f.beforeKiB) / 1024.0);
        tickGrowth.push_back(double(f.tickPeakKiB - f.emptyKiB) / 1024.0);
        peakReset = peakReset && f.peakReset;
        rows = f.rows;
    }

    Comparison c = ratioComparison(QStringLiteral("memory/peak growth loading vs text size"), peakGrowth, {textMiB},
                                   2.0, QStringLiteral("MiB"));
    c.note = QStringLiteral("%1 rows; the empty control itself %2 MiB; %3 MiB more after loading; "
                            "text of the values %4 MiB")
                     .arg(rows)
                     .arg(median(emptyControl), 0, 'f', 1)
                     .arg(median(steadyGrowth), 0, 'f', 1)
                     .arg(textMiB, 0, 'f', 1);
    if (!peakReset)
        c.note += QStringLiteral(" (the peak could not be reset: VmHWM counts from the process start)");
    m_report.add(c);
    Comparison ticks = ratioComparison(QStringLiteral("memory/peak growth during timed refreshes vs text size"),
                                       tickGrowth, {textMiB}, 2.5, QStringLiteral("MiB"));
    ticks.note = QStringLiteral("three ticks after the first load; the result shown and the one loading are held "
                                "together until the swap");
    m_report.add(ticks);
}

void Scenarios::startUp()
{
    QTemporaryDir folder;
    if (!folder.isValid())
        throw Failure(QStringLiteral("no temporary folder: ") + folder.errorString());
    const QString database = folder.filePath(QStringLiteral("demo.db"));
    try {
        DemoData::createSqliteFile(database);
    } catch (const DemoData::Error &e) {
        throw Failure(QStringLiteral("cannot create the demo database: ") + QString::fromUtf8(e.what()));
    }
    QFile settings(folder.filePath(QStringLiteral("OrvantelWO.ini")));
    if (!settings.open(QIODevice::WriteOnly)
        || settings.write("[Orvantel]\nDBServerName=sqlite:demo.db\nRefreshInterval=30\n") < 0)
        throw Failure(QStringLiteral("cannot write the settings file: ") + settings.errorString());
    settings.close();
    const EnvironmentOverride configDir("ORVANTEL_CONFIG_DIR", QFile::encodeName(folder.path()));

    QSize size;
    const auto ours = [&] {
        std::unique_ptr<WorkOrdersGrid> grid;
        QPixmap frame;
        const double ms = elapsedMs([&] {
            grid = std::make_unique<WorkOrdersGrid>();
            grid->show();
            // Start-up connects and loads at the first turn of the event loop.
            QElapsedTimer waited;
            waited.start();
            while (WorkOrdersGridPrivate::get(grid.get())->grdWorkOrders->rowCount() == 0 && waited.elapsed() < 10000)
                QApplication::processEvents();
            frame = grid->grab();
        });
        size = grid->size();
        const QString messages = takeMessages();
        if (!messages.isEmpty())
            throw Failure(QStringLiteral("the control's start-up failed: ") + messages);
        if (frame.isNull() || WorkOrdersGridPrivate::get(grid.get())->grdWorkOrders->rowCount() == 0)
            throw Failure(QStringLiteral("the control showed no work orders after start-up"));
        return ms;
    };
    // The statement the control runs at start-up with these settings.
    const QString sql
            = WorkOrderQueries::workOrdersStatement(SqlDialect(), QString(), OpenWorkOrdersView, QString(), QString())
                      .sql;
    const auto peer = [&] {
        const QString name = QStringLiteral("bench-startup-peer");
        double ms = 0;
        int rows = 0;
        {
            QElapsedTimer timer;
            timer.start();
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(database);
            if (!db.open())
                throw Failure(QStringLiteral("cannot open the demo database: ") + db.lastError().text());
            QSqlQueryModel model;
            model.setQuery(sql, db);
            QTableView view;
            view.setModel(&model);
            view.resize(size);
            view.show();
            const QPixmap frame = view.grab();
            ms = double(timer.nsecsElapsed()) / 1e6;
            rows = model.rowCount();
        }
        QSqlDatabase::removeDatabase(name);
        if (rows == 0)
            throw Failure(QStringLiteral("the QTableView showed no work orders"));
        return ms;
    };

    // Fonts, styles and plugins load on first use: one untimed round of each first.
    ours();
    peer();
    std::vector<double> oursMs, peerMs;
    for (int i = 0; i < m_setup.repetitions; ++i) {
        oursMs.push_back(ours());
        peerMs.push_back(peer());
    }
    Comparison c = ratioComparison(QStringLiteral("start-up to first frame vs QTableView"), oursMs, peerMs, 1.5);
    c.informational = true;
    m_report.add(c);
}

} // namespace Bench

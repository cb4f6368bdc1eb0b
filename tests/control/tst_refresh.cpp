#include "testsupport.h"

#include "datagrid.h"
#include "datasource.h"
#include "gridcolumns.h"
#include "messagebox.h"
#include "recordset.h"
#include "workorderqueries.h"
#include "workordersgrid.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QHeaderView>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTimer>

using namespace Orvantel;
using namespace TestSupport;

/// Starts the hosted control on the plant with a refresh interval of 30 s: start-up loads
/// the five open work orders (108, 107, 103, 102, 101).
#define START_CONTROL() \
    m_plant->writeSettings("RefreshInterval=30\n"); \
    m_control.show(); \
    if (QTest::currentTestFailed()) \
        return; \
    WorkOrdersGrid *grid = m_control.grid

/// Loading the grids, the settings file, start-up and the refresh timer.
class RefreshTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void statements_data();
    void statements();
    void refreshAfterAChange_data();
    void refreshAfterAChange();
    void startUp_data();
    void startUp();
    void ticksLoadBehindARefreshBoxAndCloseIt_data();
    void ticksLoadBehindARefreshBoxAndCloseIt();

private:
    static DataGrid *workOrders(QWidget *c) { return c->findChild<DataGrid *>(QStringLiteral("grdWorkOrders")); }
    static QTimer *timer(QWidget *c) { return c->findChild<QTimer *>(QStringLiteral("Timer1")); }
    /// The work-order numbers in the order the grid shows them.
    static QList<int> shownNumbers(DataGrid *grid);
    /// Lets the timer tick count times for real, at a short interval, then stops it.
    static bool tick(QTimer *timer, int count);

    std::unique_ptr<TestPlant> m_plant;
    HostedControl m_control;
};

QList<int> RefreshTest::shownNumbers(DataGrid *grid)
{
    QList<int> numbers;
    for (int row = 0; row < grid->rowCount(); ++row)
        numbers << grid->recordset()->value(row, grid->fieldOfColumn(WoNumberColumn)).toInt();
    return numbers;
}

bool RefreshTest::tick(QTimer *timer, int count)
{
    QSignalSpy ticks(timer, &QTimer::timeout);
    timer->start(10);
    while (ticks.size() < count && ticks.wait(10000)) {
    }
    timer->stop();
    return ticks.size() == count;
}

void RefreshTest::init()
{
    QLocale::setDefault(QLocale::c());
    m_plant = std::make_unique<TestPlant>();
}

void RefreshTest::cleanup()
{
    m_control.reset();
    QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
    QVERIFY(!QGuiApplication::overrideCursor());
    m_plant.reset();
}

void RefreshTest::statements_data()
{
    // Values are bound, never written into the text; each engine spells its placeholders.
    QTest::addColumn<int>("backend");
    QTest::addColumn<QString>("assets");
    QTest::addColumn<int>("view");
    QTest::addColumn<QString>("division");
    QTest::addColumn<QString>("department");
    QTest::addColumn<QString>("conditions"); // after "WHERE WO_Nbr > 1", before "ORDER BY WO_Nbr DESC"
    QTest::addColumn<QStringList>("values");
    QTest::addColumn<QString>("fileConditions"); // after "SELECT * FROM vw_LinkedFiles"
    QTest::addColumn<QStringList>("codes");
    QTest::addColumn<QList<int>>("shown"); // the plant's work orders the same choices load
    auto row = [](const char *name, Backend backend, const char *assets, View view, const char *division,
                  const char *department, const char *conditions, const QStringList &values, const char *fileConditions,
                  const QStringList &codes, const QList<int> &shown) {
        QTest::newRow(name) << int(backend) << QString::fromUtf8(assets) << int(view) << QString::fromUtf8(division)
                            << QString::fromUtf8(department) << QString::fromUtf8(conditions) << values
                            << QString::fromUtf8(fileConditions) << codes << shown;
    };
    row("sql server: open, assets, division", Backend::SqlServer, "A1,A2", OpenWorkOrdersView, "D1", "",
        " AND AssetCode IN (?, ?) AND Status < 3 AND IsPM = 0 AND DivisionID = ?", {u"A1"_qs, u"A2"_qs, u"D1"_qs},
        " WHERE AssetCode IN (?, ?)", {u"A1"_qs, u"A2"_qs}, {102, 101});
    row("postgresql: open, assets, division", Backend::PostgreSql, "A1,A2", OpenWorkOrdersView, "D1", "",
        " AND AssetCode IN ($1, $2) AND Status < 3 AND IsPM = 0 AND DivisionID = $3", {u"A1"_qs, u"A2"_qs, u"D1"_qs},
        " WHERE AssetCode IN ($1, $2)", {u"A1"_qs, u"A2"_qs}, {102, 101});
    row("sqlite: pm, blanks removed inside codes", Backend::Sqlite, "A 1, B 2,C3", UpcomingPMsView, "", "",
        " AND AssetCode IN (?, ?, ?) AND IsPM = 1", {u"A1"_qs, u"B2"_qs, u"C3"_qs}, " WHERE AssetCode IN (?, ?, ?)",
        {u"A1"_qs, u"B2"_qs, u"C3"_qs}, {104});
    row("postgresql: history, department, no assets", Backend::PostgreSql, "", HistoryView, "", "M1",
        " AND Status IN (3,4) AND DepartmentID = $1", {u"M1"_qs}, "", {}, {106});
    row("sql server: linked files selected, blanks only", Backend::SqlServer, "   ", LinkedFilesView, "", "", "", {},
        "", {}, {108, 107, 106, 105, 104, 103, 102, 101});
    row("sqlite: commas only still filter", Backend::Sqlite, " ,,,", OpenWorkOrdersView, "", "",
        " AND AssetCode IN (?, ?, ?, ?) AND Status < 3 AND IsPM = 0", {u""_qs, u""_qs, u""_qs, u""_qs},
        " WHERE AssetCode IN (?, ?, ?, ?)", {u""_qs, u""_qs, u""_qs, u""_qs}, {});
    row("postgresql: quotes and backslashes stay values", Backend::PostgreSql, "O'Q,X\\", OpenWorkOrdersView,
        "\\'; DELETE FROM WO_WorkOrders; --", "x' OR '1'='1",
        " AND AssetCode IN ($1, $2) AND Status < 3 AND IsPM = 0 AND DivisionID = $3 AND DepartmentID = $4",
        {u"O'Q"_qs, u"X\\"_qs, u"\\'; DELETE FROM WO_WorkOrders; --"_qs, u"x' OR '1'='1"_qs},
        " WHERE AssetCode IN ($1, $2)", {u"O'Q"_qs, u"X\\"_qs}, {});
}

void RefreshTest::statements()
{
    QFETCH(int, backend);
    QFETCH(QString, assets);
    QFETCH(int, view);
    QFETCH(QString, division);
    QFETCH(QString, department);
    QFETCH(QString, conditions);
    QFETCH(QStringList, values);
    QFETCH(QString, fileConditions);
    QFETCH(QStringList, codes);
    QFETCH(QList<int>, shown);
    const SqlDialect dialect {Backend(backend)};
    const Statement orders = WorkOrderQueries::workOrdersStatement(dialect, assets, View(view), division, department);
    QCOMPARE(orders.sql,
             u"SELECT * FROM vw_QX_WorkOrdersGrid WHERE WO_Nbr > 1"_qs + conditions + u" ORDER BY WO_Nbr DESC"_qs);
    QCOMPARE(orders.values, QVariant(values).toList()); // text, bound as text
    const Statement files = WorkOrderQueries::linkedFilesStatement(dialect, assets);
    QCOMPARE(files.sql, u"SELECT * FROM vw_LinkedFiles"_qs + fileConditions);
    QCOMPARE(files.values, QVariant(codes).toList());
    // The same choices, made by the host and the operator, load the plant's work orders.
    START_CONTROL();
    MessageBoxRecorder boxes;
    QAbstractItemModelTester tester(workOrders(grid)->model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    grid->setAssetList(assets);
    grid->setDivision(division);
    grid->setDepartment(department);
    QTest::mouseClick(grid->findChild<QRadioButton *>(QStringLiteral("optView_%1").arg(view)), Qt::LeftButton);
    const bool loaded = grid->RefreshData();
    QCOMPARE(boxes.messages.value(0).text, QString());
    QVERIFY(loaded);
    QCOMPARE(shownNumbers(workOrders(grid)), shown);
}

void RefreshTest::refreshAfterAChange_data()
{
    QTest::addColumn<QList<int>>("headerClicks"); // columns of the work-order grid
    QTest::addColumn<int>("current"); // the row made current, -1: as loaded
    QTest::addColumn<QStringList>("change"); // made to the plant before the refresh
    QTest::addColumn<QString>("failure"); // named in the error box; empty: the refresh succeeds
    QTest::addColumn<QList<int>>("shown");
    QTest::addColumn<int>("currentAfter");
    auto row = [](const char *name, const QList<int> &clicks, int current, const QStringList &change,
                  const char *failure, const QList<int> &shown, int currentAfter) {
        QTest::newRow(name) << clicks << current << change << QString::fromUtf8(failure) << shown << currentAfter;
    };
    const QString dropView = QStringLiteral("DROP VIEW vw_QX_WorkOrdersGrid");
    // Descending by priority, equal ones in the loaded order, none last; the current row's index is kept.
    row("sort kept after requery", {WoPriorityColumn, WoPriorityColumn}, -1,
        {u"UPDATE WO_WorkOrders SET Priority = 5 WHERE WO_Nbr = 101"_qs}, "", {101, 103, 108, 102, 107}, 1);
    row("current index kept", {}, 3, {}, "", {108, 107, 103, 102, 101}, 3);
    row("too few rows: the first is current", {}, 3, {u"DELETE FROM WO_WorkOrders WHERE WO_Nbr IN (101, 102)"_qs}, "",
        {108, 107, 103}, 0);
    row("a sort the new results cannot take fails", {WoAssignedToColumn}, -1,
        {dropView, u"CREATE VIEW vw_QX_WorkOrdersGrid AS SELECT * FROM WO_WorkOrders"_qs}, "AssignedToName",
        {108, 107, 103, 102, 101}, 0);
}

void RefreshTest::refreshAfterAChange()
{
    QFETCH(QList<int>, headerClicks);
    QFETCH(int, current);
    QFETCH(QStringList, change);
    QFETCH(QString, failure);
    QFETCH(QList<int>, shown);
    QFETCH(int, currentAfter);
    START_CONTROL();
    MessageBoxRecorder boxes;
    DataGrid *orders = workOrders(grid);
    QAbstractItemModelTester tester(orders->model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
    QHeaderView *header = orders->horizontalHeader();
    for (int column : headerClicks) {
        QTest::mouseClick(
                header->viewport(), Qt::LeftButton, {},
                {header->sectionViewportPosition(column) + header->sectionSize(column) / 2, header->height() / 2});
        QCoreApplication::processEvents(); // the click reaches the control through the event loop
    }
    if (current >= 0)
        orders->setCurrentRowIndex(current);
    m_plant->exec(change);
    const bool refreshed = grid->RefreshData();
    // The first load after another connection changed the view reads the old view's field names.
    QCOMPARE(refreshed, failure.isEmpty());
    QCOMPARE(boxes.titles(), failure.isEmpty() ? QStringList() : QStringList {u"RefreshData Error"_qs});
    if (!failure.isEmpty())
        QVERIFY2(boxes.messages.first().text.contains(failure), qPrintable(boxes.messages.first().text));
    QCOMPARE(shownNumbers(orders), shown);
    QCOMPARE(orders->currentRowIndex(), currentAfter);
}

void RefreshTest::startUp_data()
{
    QTest::addColumn<QByteArray>("settings"); // null: no file at all
    QTest::addColumn<QStringList>("change"); // made to the plant before start-up
    QTest::addColumn<QVariantMap>("hostWrites"); // between creation and the first turn of the event loop
    QTest::addColumn<int>("startUp");
    QTest::addColumn<QString>("message"); // the box's title, empty for none
    QTest::addColumn<int>("refreshInterval");
    QTest::addColumn<int>("timerInterval"); // -1: the timer is not running
    QTest::addColumn<bool>("connected");
    QTest::addColumn<QList<int>>("shown");
    QTest::addColumn<int>("files");
    QTest::addColumn<bool>("includePM");
    auto row = [](const char *name, const QByteArray &settings, const char *message, int refreshInterval,
                  int timerInterval, bool connected, const QList<int> &shown, int files, bool includePM,
                  const QStringList &change = {}, const QVariantMap &hostWrites = {},
                  WorkOrdersGrid::StartUp startUp = WorkOrdersGrid::StartUpFromSettings) {
        QTest::newRow(name) << settings << change << hostWrites << int(startUp) << QString::fromUtf8(message)
                            << refreshInterval << timerInterval << connected << shown << files << includePM;
    };
    const QByteArray plant = "DBServerName=sqlite:plant.db\n";
    const QList<int> open = {108, 107, 103, 102, 101};
    const char *initError = "User Control Init Error";
    row("no settings file", QByteArray(), "", 0, -1, false, {}, 0, true);
    row("connects and fills", plant + "RefreshInterval=30\nIncludePMWOs=0\nDivision=D2\n", "", 30, 30000, true,
        {107, 103}, 2, false);
    row("33 seconds work", plant + "RefreshInterval=33\n", "", 33, 33000, true, open, 2, true);
    row("3.5 rounds to 4", plant + "RefreshInterval=3.5\n", "", 4, 4000, true, open, 2, true);
    row("negative interval: connected, not filled", plant + "RefreshInterval=-5\n", "", -5, -1, true, {}, 0, true);
    // Each value is stored once converted: the ones after a failed conversion are not.
    row("40000 overflows while reading", plant + "RefreshInterval=40000\nIncludePMWOs=1\n", initError, 0, -1, false, {},
        0, false);
    row("yes is a type mismatch", plant + "RefreshInterval=30\nIncludePMWOs=yes\n", initError, 30, -1, false, {}, 0,
        false);
    row("failed connection", "DBServerName=sqlite:missing.db\nRefreshInterval=30\n", "ConnectToServer Error", 0, -1,
        false, {}, 0, true);
    row("no server name: no timer", "RefreshInterval=30\n", "", 30, -1, false, {}, 0, true);
    row("file beyond 1 MiB is not read", plant + "RefreshInterval=30\n" + QByteArray(1024 * 1024, ';'), initError, 0,
        -1, false, {}, 0, false);
    // The connection's empty query works; the linked files fail row by row. The hourglass goes.
    row("linked files fail to load", plant + "RefreshInterval=30\n", initError, 30, -1, true, open, 0, true,
        {u"DROP VIEW vw_LinkedFiles"_qs,
         u"CREATE VIEW vw_LinkedFiles AS SELECT AssetCode, DocType, DocDescr, json(FileName || '{') AS FileName "
         "FROM GS_LinkedFiles"_qs});
    // Settings are read at creation; connecting and loading use what the host wrote since:
    // the history of A2 and B1, and B1's manual shown.
    row("the host's writes before the first turn count", plant + "RefreshInterval=30\nAssetList=A1\n", "", 30, 30000,
        true, {106, 105}, 1, true, {},
        {{u"AssetList"_qs, u"A2,B1"_qs}, {u"ViewChoice"_qs, 2}, {u"ViewMode"_qs, u"Linked Files"_qs}});
    row("a form editor's control reads no settings", plant + "RefreshInterval=30\n", "", 0, -1, false, {}, 0, false, {},
        {}, WorkOrdersGrid::NoStartUp);
}

void RefreshTest::startUp()
{
    QFETCH(QByteArray, settings);
    QFETCH(QStringList, change);
    QFETCH(QVariantMap, hostWrites);
    QFETCH(int, startUp);
    QFETCH(QString, message);
    QFETCH(int, refreshInterval);
    QFETCH(int, timerInterval);
    QFETCH(bool, connected);
    QFETCH(QList<int>, shown);
    QFETCH(int, files);
    QFETCH(bool, includePM);
    if (!settings.isNull())
        writeSettings(m_plant->folder(), settings);
    if (QTest::currentTestFailed())
        return;
    m_plant->exec(change);
    MessageBoxRecorder boxes;
    WorkOrdersGrid grid(nullptr, WorkOrdersGrid::StartUp(startUp));
    // The constructor neither connects nor shows a box (the recorder would have answered it).
    QCOMPARE(grid.ConnectedToDB(), false);
    QCOMPARE(boxes.titles(), QStringList());
    for (auto it = hostWrites.cbegin(); it != hostWrites.cend(); ++it) // in the order of their names
        QVERIFY(grid.setProperty(it.key().toLatin1().constData(), it.value()));
    letStartUpFinish();
    QCOMPARE(boxes.titles(), message.isEmpty() ? QStringList() : QStringList {message});
    QCOMPARE(int(grid.RefreshInterval()), refreshInterval);
    QCOMPARE(timer(&grid)->isActive() ? timer(&grid)->interval() : -1, timerInterval);
    QCOMPARE(grid.ConnectedToDB(), connected);
    QCOMPARE(shownNumbers(workOrders(&grid)), shown);
    QCOMPARE(grid.findChild<DataGrid *>(QStringLiteral("TDBGrid1"))->rowCount(), files);
    QCOMPARE(grid.IncludePMWOs(), includePM);
}

void RefreshTest::ticksLoadBehindARefreshBoxAndCloseIt_data()
{
    QTest::addColumn<bool>("secondFailure");
    QTest::addRow("the host's refresh failed") << false;
    QTest::addRow("a second failure inside its box") << true;
}

void RefreshTest::ticksLoadBehindARefreshBoxAndCloseIt()
{
    QFETCH(bool, secondFailure);
    START_CONTROL();
    MessageBoxRecorder boxes;
    boxes.answer = false; // nobody at the display
    const QString view = m_plant->scalar(QStringLiteral("SELECT sql FROM sqlite_master WHERE name = 'vw_QX_WorkOrdersGrid'")).toString();
    m_plant->exec({QStringLiteral("DROP VIEW vw_QX_WorkOrdersGrid"),
                   QStringLiteral("INSERT INTO WO_WorkOrders (WO_Nbr, AssetCode, Status, IsPM, Priority, DateLoaded, "
                                  "WorkRequest, DivisionID, DepartmentID) "
                                  "VALUES (109, 'A1', 0, 0, 1, '2026-01-09 08:00:00', 'Leak', 'D1', 'M1')")});
    QTimer *refresh = timer(grid);
    refresh->stop();
    QSignalSpy ticks(refresh, &QTimer::timeout);
    QSignalSpy linkedFileLoads(grid->findChild<DataSource *>(QStringLiteral("Adodc2")), &DataSource::refreshed);
    // The host's refresh fails and its box waits (maybe a second one fails inside it and is
    // answered); ticks go on loading in the background, failing without another box; once the
    // view is back, a tick loads and the box closes by itself. A timer drives the steps: the
    // boxes' own event loops run everything meanwhile.
    int step = 0;
    int boxesWhileFailing = -1;
    QTimer driver;
    connect(&driver, &QTimer::timeout, this, [&] {
        if (step == 0) {
            step = 1;
            QTimer::singleShot(0, grid, [grid] { grid->RefreshData(); });
        } else if (step == 1 && openMessageCount() == 1) {
            step = 2;
            if (secondFailure) {
                QTimer::singleShot(50, grid, [] {
                    qobject_cast<QMessageBox *>(QApplication::activeModalWidget())->button(QMessageBox::Ok)->click();
                });
                QTimer::singleShot(0, grid, [grid] { grid->RefreshData(); });
            }
            refresh->start(20);
        } else if (step == 2 && ticks.size() >= 10 && openMessageCount() == 1) {
            step = 3;
            boxesWhileFailing = int(boxes.messages.size());
            m_plant->exec({view});
        } else if (step == 3 && openMessageCount() == 0) {
            step = 4;
            refresh->stop();
        }
    });
    driver.start(20);
    QTRY_COMPARE_WITH_TIMEOUT(step, 4, 30000);
    QCOMPARE(boxesWhileFailing, secondFailure ? 2 : 1);
    QCOMPARE(boxes.titles(), QStringList(boxesWhileFailing, QStringLiteral("RefreshData Error")));
    QCOMPARE(shownNumbers(workOrders(grid)), (QList<int>{109, 108, 107, 103, 102, 101}));
    // Ticks never load the linked files, and load nothing while the host says the control is
    // not connected.
    m_plant->exec({QStringLiteral("DELETE FROM WO_WorkOrders WHERE WO_Nbr = 109")});
    grid->setConnectedToDB(false);
    QVERIFY(tick(refresh, 2));
    QTest::qWait(200);
    QCOMPARE(shownNumbers(workOrders(grid)), (QList<int>{109, 108, 107, 103, 102, 101}));
    QCOMPARE(linkedFileLoads.size(), 0);
}

QTEST_MAIN(RefreshTest)
#include "tst_refresh.moc"

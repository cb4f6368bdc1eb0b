#include "testsupport.h"

#include "datagrid.h"
#include "datasource.h"
#include "gridcolumns.h"
#include "messagebox.h"
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

namespace {

DataGrid *workOrders(QWidget *c)
{
    return c->findChild<DataGrid *>(u"grdWorkOrders"_qs);
}

QTimer *timer(QWidget *c)
{
    return c->findChild<QTimer *>(u"Timer1"_qs);
}

/// The work-order numbers in the order the grid shows them: "108 107 103".
QString shown(QWidget *c)
{
    QStringList numbers;
    for (int row = 0; row < workOrders(c)->rowCount(); ++row)
        numbers << workOrders(c)->model()->index(row, WoNumberColumn).data().toString();
    return numbers.join(u' ');
}

QVariantList list(const char *values) // "a|b": the values a and b; "": none
{
    return values[0] ? QVariant(QString::fromUtf8(values).split(u'|')).toList() : QVariantList();
}

} // namespace

/// Loading the grids, the settings file, start-up and the refresh timer.
class RefreshTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        QLocale::setDefault(QLocale::c());
        m_plant = std::make_unique<TestPlant>();
    }
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
    /// Starts the hosted control on the plant with a refresh interval of 30 s: start-up loads the open work
    /// orders, 108 107 103 102 101; a tester watches the grid's model from then on.
    WorkOrdersGrid *start();

    std::unique_ptr<TestPlant> m_plant;
    HostedControl m_control;
    std::unique_ptr<QAbstractItemModelTester> m_tester;
};

void RefreshTest::cleanup()
{
    m_tester.reset();
    m_control.reset();
    QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
    QVERIFY(!QGuiApplication::overrideCursor());
    m_plant.reset();
}

WorkOrdersGrid *RefreshTest::start()
{
    m_plant->writeSettings("RefreshInterval=30\n");
    m_control.show();
    m_tester = std::make_unique<QAbstractItemModelTester>(workOrders(m_control.grid)->model(),
                                                          QAbstractItemModelTester::FailureReportingMode::QtTest);
    return m_control.grid;
}

void RefreshTest::statements_data()
{
    // Values are bound, never written into the text; each engine spells its placeholders. The conditions follow
    // "WHERE WO_Nbr > 1" (before "ORDER BY WO_Nbr DESC"), the files' follow "SELECT * FROM vw_LinkedFiles"; the
    // plant's work orders the same choices load.
    QTest::addColumn<int>("backend");
    QTest::addColumn<QStringList>("choices"); // asset list, view, division, department
    QTest::addColumn<QString>("conditions");
    QTest::addColumn<QVariantList>("values");
    QTest::addColumn<QString>("fileConditions");
    QTest::addColumn<QVariantList>("codes");
    QTest::addColumn<QString>("shown");
    auto row = [](const char *name, Backend backend, const char *choices, const char *conditions, const char *values,
                  const char *fileConditions, const char *codes, const char *shown) {
        QTest::newRow(name) << int(backend) << QString::fromUtf8(choices).split(u'|') << QString::fromUtf8(conditions)
                            << list(values) << QString::fromUtf8(fileConditions) << list(codes)
                            << QString::fromUtf8(shown);
    };
    row("sql server: open, assets, division", Backend::SqlServer, "A1,A2|0|D1|",
        " AND AssetCode IN (?, ?) AND Status < 3 AND IsPM = 0 AND DivisionID = ?", "A1|A2|D1",
        " WHERE AssetCode IN (?, ?)", "A1|A2", "102 101");
    row("postgresql: open, assets, division", Backend::PostgreSql, "A1,A2|0|D1|",
        " AND AssetCode IN ($1, $2) AND Status < 3 AND IsPM = 0 AND DivisionID = $3", "A1|A2|D1",
        " WHERE AssetCode IN ($1, $2)", "A1|A2", "102 101");
    row("sqlite: pm, blanks removed inside codes", Backend::Sqlite, "A 1, B 2,C3|1||",
        " AND AssetCode IN (?, ?, ?) AND IsPM = 1", "A1|B2|C3", " WHERE AssetCode IN (?, ?, ?)", "A1|B2|C3", "104");
    row("postgresql: history, department, no assets", Backend::PostgreSql, "|2||M1",
        " AND Status IN (3,4) AND DepartmentID = $1", "M1", "", "", "106");
    row("sql server: linked files selected, blanks only", Backend::SqlServer, "   |3||", "", "", "", "",
        "108 107 106 105 104 103 102 101");
    row("sqlite: commas only still filter", Backend::Sqlite, " ,,,|0||",
        " AND AssetCode IN (?, ?, ?, ?) AND Status < 3 AND IsPM = 0", "|||", " WHERE AssetCode IN (?, ?, ?, ?)", "|||",
        "");
    row("postgresql: quotes and backslashes stay values", Backend::PostgreSql,
        "O'Q,X\\|0|\\'; DELETE FROM WO_WorkOrders; --|x' OR '1'='1",
        " AND AssetCode IN ($1, $2) AND Status < 3 AND IsPM = 0 AND DivisionID = $3 AND DepartmentID = $4",
        "O'Q|X\\|\\'; DELETE FROM WO_WorkOrders; --|x' OR '1'='1", " WHERE AssetCode IN ($1, $2)", "O'Q|X\\", "");
}

void RefreshTest::statements()
{
    QFETCH(int, backend);
    QFETCH(QStringList, choices);
    QFETCH(QString, conditions);
    QFETCH(QVariantList, values);
    QFETCH(QString, fileConditions);
    QFETCH(QVariantList, codes);
    QFETCH(QString, shown);
    const SqlDialect dialect {Backend(backend)};
    const Statement orders = WorkOrderQueries::workOrdersStatement(dialect, choices[0], View(choices[1].toInt()),
                                                                   choices[2], choices[3]);
    QCOMPARE(orders.sql,
             u"SELECT * FROM vw_QX_WorkOrdersGrid WHERE WO_Nbr > 1"_qs + conditions + u" ORDER BY WO_Nbr DESC"_qs);
    QCOMPARE(orders.values, values); // text, bound as text
    const Statement files = WorkOrderQueries::linkedFilesStatement(dialect, choices[0]);
    QCOMPARE(files.sql, u"SELECT * FROM vw_LinkedFiles"_qs + fileConditions);
    QCOMPARE(files.values, codes);
    // The same choices, made by the host and the operator.
    WorkOrdersGrid *grid = start();
    MessageBoxRecorder boxes;
    grid->setAssetList(choices[0]);
    grid->setDivision(choices[2]);
    grid->setDepartment(choices[3]);
    QTest::mouseClick(grid->findChild<QRadioButton *>(u"optView_"_qs + choices[1]), Qt::LeftButton);
    const bool loaded = grid->RefreshData();
    QCOMPARE(boxes.messages.value(0).text, QString());
    QVERIFY(loaded);
    QCOMPARE(::shown(grid), shown);
}

void RefreshTest::refreshAfterAChange_data()
{
    QTest::addColumn<QList<int>>("headerClicks"); // columns of the work-order grid
    QTest::addColumn<int>("current"); // the row made current, -1: as loaded
    QTest::addColumn<QStringList>("change"); // made to the plant before the refresh
    QTest::addColumn<QString>("expected"); // what the error box names (empty: none), the rows, the current row
    // Descending by priority, equal ones in the loaded order, none last; the current row's index is kept.
    QTest::newRow("sort kept after requery")
            << QList<int> {WoPriorityColumn, WoPriorityColumn} << -1
            << QStringList {u"UPDATE WO_WorkOrders SET Priority = 5 WHERE WO_Nbr = 101"_qs}
            << u" | 101 103 108 102 107 | 1"_qs;
    QTest::newRow("current index kept") << QList<int>() << 3 << QStringList() << u" | 108 107 103 102 101 | 3"_qs;
    QTest::newRow("too few rows: the first is current")
            << QList<int>() << 3 << QStringList {u"DELETE FROM WO_WorkOrders WHERE WO_Nbr IN (101, 102)"_qs}
            << u" | 108 107 103 | 0"_qs;
    // The first load after another connection changed the view reads the old view's field names.
    QTest::newRow("a sort the new results cannot take fails: not kept")
            << QList<int> {WoAssignedToColumn} << -1
            << QStringList {u"DROP VIEW vw_QX_WorkOrdersGrid"_qs,
                            u"CREATE VIEW vw_QX_WorkOrdersGrid AS SELECT * FROM WO_WorkOrders"_qs}
            << u"AssignedToName | 108 107 103 102 101 | 0"_qs;
}

void RefreshTest::refreshAfterAChange()
{
    QFETCH(QList<int>, headerClicks);
    QFETCH(int, current);
    QFETCH(QStringList, change);
    QFETCH(QString, expected);
    WorkOrdersGrid *grid = start();
    MessageBoxRecorder boxes;
    DataGrid *orders = workOrders(grid);
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
    const QString named = expected.section(u" | "_qs, 0, 0);
    QCOMPARE(refreshed, named.isEmpty());
    QCOMPARE(boxes.titles(), named.isEmpty() ? QStringList() : QStringList {u"RefreshData Error"_qs});
    QVERIFY2(boxes.messages.value(0).text.contains(named), qPrintable(boxes.messages.value(0).text));
    QCOMPARE(u"%1 | %2 | %3"_qs.arg(named, ::shown(grid)).arg(orders->currentRowIndex()), expected);
}

void RefreshTest::startUp_data()
{
    // The settings file (null: none), what the plant changes first and what the host writes between creation
    // and the first turn of the event loop; then "box | RefreshInterval | Timer1's interval (-: stopped) |
    // ConnectedToDB | the work orders | linked files | IncludePMWOs".
    QTest::addColumn<QByteArray>("settings");
    QTest::addColumn<QStringList>("change");
    QTest::addColumn<QVariantMap>("hostWrites");
    QTest::addColumn<QString>("expected");
    auto row = [](const char *name, const QByteArray &settings, const char *expected, const QStringList &change = {},
                  const QVariantMap &hostWrites = {}) {
        QTest::newRow(name) << settings << change << hostWrites << QString::fromUtf8(expected);
    };
    const QByteArray plant = "DBServerName=sqlite:plant.db\n";
    row("no settings file", QByteArray(), " | 0 | - | false |  | 0 | true");
    row("connects and fills", plant + "RefreshInterval=30\nIncludePMWOs=0\nDivision=D2\n",
        " | 30 | 30000 | true | 107 103 | 2 | false");
    row("33 seconds work", plant + "RefreshInterval=33\n", " | 33 | 33000 | true | 108 107 103 102 101 | 2 | true");
    row("3.5 rounds to 4", plant + "RefreshInterval=3.5\n", " | 4 | 4000 | true | 108 107 103 102 101 | 2 | true");
    row("negative interval: connected, not filled", plant + "RefreshInterval=-5\n", " | -5 | - | true |  | 0 | true");
    // Each value is stored once converted: the ones after a failed conversion are not.
    row("40000 overflows while reading", plant + "RefreshInterval=40000\nIncludePMWOs=1\n",
        "User Control Init Error | 0 | - | false |  | 0 | false");
    row("yes is a type mismatch", plant + "RefreshInterval=30\nIncludePMWOs=yes\n",
        "User Control Init Error | 30 | - | false |  | 0 | false");
    row("failed connection", "DBServerName=sqlite:missing.db\nRefreshInterval=30\n",
        "ConnectToServer Error | 0 | - | false |  | 0 | true");
    row("no server name: no timer", "RefreshInterval=30\n", " | 30 | - | false |  | 0 | true");
    row("file beyond 1 MiB is not read", plant + "RefreshInterval=30\n" + QByteArray(1024 * 1024, ';'),
        "User Control Init Error | 0 | - | false |  | 0 | false");
    // The connection's empty query works; the linked files fail row by row. The hourglass goes.
    row("linked files fail to load", plant + "RefreshInterval=30\n",
        "User Control Init Error | 30 | - | true | 108 107 103 102 101 | 0 | true",
        {u"DROP VIEW vw_LinkedFiles"_qs,
         u"CREATE VIEW vw_LinkedFiles AS SELECT AssetCode, DocType, DocDescr, "
         "json(FileName || '{') AS FileName FROM GS_LinkedFiles"_qs});
    // Settings are read at creation; connecting and loading use what the host wrote since: the history of A2 and
    // B1, and B1's manual shown.
    row("the host's writes before the first turn count", plant + "RefreshInterval=30\nAssetList=A1\n",
        " | 30 | 30000 | true | 106 105 | 1 | true", {},
        {{u"AssetList"_qs, u"A2,B1"_qs}, {u"ViewChoice"_qs, 2}, {u"ViewMode"_qs, u"Linked Files"_qs}});
    row("a form editor's control reads no settings", plant + "RefreshInterval=30\n", " | 0 | - | false |  | 0 | false",
        {}, {{u"NoStartUp"_qs, true}});
}

void RefreshTest::startUp()
{
    QFETCH(QByteArray, settings);
    QFETCH(QStringList, change);
    QFETCH(QVariantMap, hostWrites);
    QFETCH(QString, expected);
    if (!settings.isNull())
        writeSettings(m_plant->folder(), settings);
    m_plant->exec(change);
    MessageBoxRecorder boxes;
    WorkOrdersGrid grid(nullptr,
                        hostWrites.take(u"NoStartUp"_qs).toBool() ? WorkOrdersGrid::NoStartUp
                                                                  : WorkOrdersGrid::StartUpFromSettings);
    // The constructor neither connects nor shows a box (the recorder would have answered it).
    QCOMPARE(grid.ConnectedToDB(), false);
    QCOMPARE(boxes.titles(), QStringList());
    for (auto it = hostWrites.cbegin(); it != hostWrites.cend(); ++it) // in the order of their names
        QVERIFY(grid.setProperty(it.key().toLatin1().constData(), it.value()));
    letStartUpFinish();
    QCOMPARE(u"%1 | %2 | %3 | %4 | %5 | %6 | %7"_qs.arg(
                     boxes.titles().join(u", "_qs), QString::number(grid.RefreshInterval()),
                     timer(&grid)->isActive() ? QString::number(timer(&grid)->interval()) : u"-"_qs,
                     QVariant(grid.ConnectedToDB()).toString(), shown(&grid),
                     QString::number(grid.findChild<DataGrid *>(u"TDBGrid1"_qs)->rowCount()),
                     QVariant(grid.IncludePMWOs()).toString()),
             expected);
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
    WorkOrdersGrid *grid = start();
    MessageBoxRecorder boxes;
    boxes.answer = false; // nobody at the display
    const QString view
            = m_plant->scalar(u"SELECT sql FROM sqlite_master WHERE name = 'vw_QX_WorkOrdersGrid'"_qs).toString();
    m_plant->exec(
            {u"DROP VIEW vw_QX_WorkOrdersGrid"_qs,
             u"INSERT INTO WO_WorkOrders (WO_Nbr, AssetCode, Status, IsPM, Priority, DateLoaded, WorkRequest, "
             "DivisionID, DepartmentID) VALUES (109, 'A1', 0, 0, 1, '2026-01-09 08:00:00', 'Leak', 'D1', 'M1')"_qs});
    QTimer *refresh = timer(grid);
    refresh->stop();
    QSignalSpy ticks(refresh, &QTimer::timeout);
    QSignalSpy linkedFileLoads(grid->findChild<DataSource *>(u"Adodc2"_qs), &DataSource::refreshed);
    // The host's refresh fails and its box waits (maybe a second one fails inside it and is answered); ticks go
    // on loading in the background, failing without another box; once the view is back, a tick loads and the box
    // closes by itself. A timer drives the steps: the boxes' own event loops run everything meanwhile.
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
    QCOMPARE(boxes.titles(), QStringList(boxesWhileFailing, u"RefreshData Error"_qs));
    QCOMPARE(shown(grid), u"109 108 107 103 102 101"_qs);
    // Ticks never load the linked files, and load nothing while the host says the control is not connected.
    m_plant->exec({u"DELETE FROM WO_WorkOrders WHERE WO_Nbr = 109"_qs});
    grid->setConnectedToDB(false);
    ticks.clear();
    refresh->start(10);
    QTRY_VERIFY(ticks.size() >= 2);
    refresh->stop();
    QTest::qWait(200);
    QCOMPARE(shown(grid), u"109 108 107 103 102 101"_qs);
    QCOMPARE(linkedFileLoads.size(), 0);
}

QTEST_MAIN(RefreshTest)
#include "tst_refresh.moc"

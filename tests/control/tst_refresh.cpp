#include "testsupport.h"

#include "messagebox.h"

#include "workordersgrid.h"
#include "workordersgrid_p.h"
#include "datasource.h"
#include "recordset.h"
#include "workorderqueries.h"
#include "datagrid.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTimer>

using namespace Orvantel;
using namespace TestSupport;

namespace {

/// A small plant whose every row the tests know.
void fillTinyPlant(const QString &path)
{
    createSqliteSchema(path);
    static const char *const statements[] = {
        "INSERT INTO GS_Divisions (DivisionID) VALUES ('D1'), ('D2')",
        "INSERT INTO GS_Departments (DepartmentID, DivisionID) VALUES ('M1', 'D1'), ('M2', 'D2')",
        "INSERT INTO GS_Assets (AssetCode, Descr, DivisionID, DepartmentID) VALUES "
        "('A1', 'Pump', 'D1', 'M1'), ('A2', 'Fan', 'D1', 'M1'), ('B1', 'Press', 'D2', 'M2'), "
        "('P1', 'Mixer', 'D2', 'M2'), ('O''Q', 'Quoted', 'D1', 'M1')",
        "INSERT INTO GS_Users (UserID, Name) VALUES ('JDOE', 'John Doe')",
        // WO_Nbr, asset, status, IsPM, priority
        "INSERT INTO WO_WorkOrders (WO_Nbr, AssetCode, Status, IsPM, Priority, DateLoaded, RequestedBy, "
        "WorkRequest, DivisionID, DepartmentID) VALUES "
        "(101, 'A1', 0, 0, 1, '2026-01-01 08:00:00', 'JDOE', 'open a1', 'D1', 'M1'),"
        "(102, 'A2', 1, 0, 2, '2026-01-02 08:00:00', 'JDOE', 'open a2', 'D1', 'M1'),"
        "(103, 'B1', 2, 0, 3, '2026-01-03 08:00:00', 'JDOE', 'open b1', 'D2', 'M2'),"
        "(104, 'A1', 0, 1, 3, '2026-01-04 08:00:00', 'JDOE', 'pm a1', 'D1', 'M1'),"
        "(105, 'B1', 3, 0, 4, '2026-01-05 08:00:00', 'JDOE', 'done b1', 'D2', 'M2'),"
        "(106, 'A2', 4, 0, 5, '2026-01-06 08:00:00', 'JDOE', 'closed a2', 'D1', 'M1'),"
        "(107, 'P1', 0, 0, 2, '2026-01-07 08:00:00', 'JDOE', 'open p1', 'D2', 'M2'),"
        "(108, 'O''Q', 1, 0, 1, '2026-01-08 08:00:00', 'JDOE', 'open quoted', 'D1', 'M1')",
        "INSERT INTO GS_LinkedFiles (AssetCode, DocType, DocDescr, FileName) VALUES "
        "('A1', 'Photo', 'Front', 'a1.png'), ('B1', 'Manual', 'Press manual', 'b1 manual.pdf')",
    };
    QStringList sql;
    for (const char *statement : statements)
        sql << QString::fromLatin1(statement);
    execSqlite(path, sql);
}

QList<int> shownNumbers(DataGrid *grid)
{
    QList<int> numbers;
    for (int row = 0; row < grid->rowCount(); ++row)
        numbers << grid->recordset()->value(row, grid->fieldOfColumn(0)).toInt();
    return numbers;
}

} // namespace

/// Loading the grids, the settings file, start-up and the refresh timer.
class RefreshTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void statements_data();
    void statements();
    void refreshLoadsTheSelectedWorkOrders_data();
    void refreshLoadsTheSelectedWorkOrders();
    void refreshKeepsSortAfterRequery();
    void refreshRestoresRememberedRow_data();
    void refreshRestoresRememberedRow();
    void refreshFailureIsReportedAndRowsStay();
    void startUp_data();
    void startUp();
    void startUpConnectsAtTheFirstTurnWithTheHostsValues();
    void startUpNeverWaitsInTheConstructor();
    void startUpRestoresCursorAfterError();
    void ticksRefreshOnlyWorkOrdersWhileConnected();
    void ticksDoNotStackErrorBoxes();
    void aSecondFailureInsideTheBoxKeepsTicksQuiet();

private:
    WorkOrdersGrid *connectedGrid(WorkOrdersGrid &grid);

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_db;
};

void RefreshTest::init()
{
    QLocale::setDefault(QLocale::c());
    m_dir = std::make_unique<QTemporaryDir>();
    qputenv("ORVANTEL_CONFIG_DIR", QFile::encodeName(m_dir->path()));
    m_db = m_dir->path() + QStringLiteral("/plant.db");
    fillTinyPlant(m_db);
}

void RefreshTest::cleanup()
{
    QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
    QVERIFY(!QGuiApplication::overrideCursor());
    m_dir.reset();
}

WorkOrdersGrid *RefreshTest::connectedGrid(WorkOrdersGrid &grid)
{
    grid.setDBServerName(QStringLiteral("sqlite:plant.db"));
    grid.setRefreshInterval(30);
    if (!grid.ConnectToServer())
        qWarning("connection failed");
    return &grid;
}

void RefreshTest::statements_data()
{
    // Values are bound, never written into the text; each engine spells its placeholders.
    QTest::addColumn<int>("backend");
    QTest::addColumn<QString>("assets");
    QTest::addColumn<int>("view");
    QTest::addColumn<QString>("division");
    QTest::addColumn<QString>("department");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("expectedLinkedFiles");
    QTest::addColumn<QVariantList>("values");
    const int sqlServer = int(Backend::SqlServer);
    const int postgres = int(Backend::PostgreSql);
    const int sqlite = int(Backend::Sqlite);
    QTest::addRow("sql server: open, assets, division")
        << sqlServer << "A1,A2" << 0 << "D" << ""
        << "SELECT * FROM vw_QX_WorkOrdersGrid WHERE WO_Nbr > 1 AND AssetCode IN (?, ?) AND Status < 3 AND IsPM = 0 "
           "AND DivisionID = ? ORDER BY WO_Nbr DESC"
        << "SELECT * FROM vw_LinkedFiles WHERE AssetCode IN (?, ?)" << QVariantList{u"A1"_qs, u"A2"_qs, u"D"_qs};
    QTest::addRow("postgresql: open, assets, division")
        << postgres << "A1,A2" << 0 << "D" << ""
        << "SELECT * FROM vw_QX_WorkOrdersGrid WHERE WO_Nbr > 1 AND AssetCode IN ($1, $2) AND Status < 3 AND IsPM = 0 "
           "AND DivisionID = $3 ORDER BY WO_Nbr DESC"
        << "SELECT * FROM vw_LinkedFiles WHERE AssetCode IN ($1, $2)" << QVariantList{u"A1"_qs, u"A2"_qs, u"D"_qs};
    QTest::addRow("sqlite: pm, blanks removed inside codes")
        << sqlite << "A1, B 2,C3" << 1 << "" << ""
        << "SELECT * FROM vw_QX_WorkOrdersGrid WHERE WO_Nbr > 1 AND AssetCode IN (?, ?, ?) AND IsPM = 1 ORDER BY "
           "WO_Nbr DESC"
        << "SELECT * FROM vw_LinkedFiles WHERE AssetCode IN (?, ?, ?)" << QVariantList{u"A1"_qs, u"B2"_qs, u"C3"_qs};
    QTest::addRow("postgresql: history, department, no assets")
        << postgres << "" << 2 << "" << "M1"
        << "SELECT * FROM vw_QX_WorkOrdersGrid WHERE WO_Nbr > 1 AND Status IN (3,4) AND DepartmentID = $1 ORDER BY "
           "WO_Nbr DESC"
        << "SELECT * FROM vw_LinkedFiles" << QVariantList{u"M1"_qs};
    QTest::addRow("sql server: linked files selected, blanks only")
        << sqlServer << "   " << 3 << "" << ""
        << "SELECT * FROM vw_QX_WorkOrdersGrid WHERE WO_Nbr > 1 ORDER BY WO_Nbr DESC"
        << "SELECT * FROM vw_LinkedFiles" << QVariantList{};
    QTest::addRow("sqlite: commas only still filter")
        << sqlite << " ,,," << 0 << "" << ""
        << "SELECT * FROM vw_QX_WorkOrdersGrid WHERE WO_Nbr > 1 AND AssetCode IN (?, ?, ?, ?) AND Status < 3 AND "
           "IsPM = 0 ORDER BY WO_Nbr DESC"
        << "SELECT * FROM vw_LinkedFiles WHERE AssetCode IN (?, ?, ?, ?)"
        << QVariantList{u""_qs, u""_qs, u""_qs, u""_qs};
    QTest::addRow("postgresql: quotes and backslashes stay values")
        << postgres << "O'Q,X\\" << 0 << "\\'; DELETE FROM WO_WorkOrders; --" << "x' OR '1'='1"
        << "SELECT * FROM vw_QX_WorkOrdersGrid WHERE WO_Nbr > 1 AND AssetCode IN ($1, $2) AND Status < 3 AND IsPM = 0 "
           "AND DivisionID = $3 AND DepartmentID = $4 ORDER BY WO_Nbr DESC"
        << "SELECT * FROM vw_LinkedFiles WHERE AssetCode IN ($1, $2)"
        << QVariantList{u"O'Q"_qs, u"X\\"_qs, u"\\'; DELETE FROM WO_WorkOrders; --"_qs, u"x' OR '1'='1"_qs};
    QTest::addRow("sql server: division and department")
        << sqlServer << "P1" << 2 << "D'1" << "M1"
        << "SELECT * FROM vw_QX_WorkOrdersGrid WHERE WO_Nbr > 1 AND AssetCode IN (?) AND Status IN (3,4) AND "
           "DivisionID = ? AND DepartmentID = ? ORDER BY WO_Nbr DESC"
        << "SELECT * FROM vw_LinkedFiles WHERE AssetCode IN (?)" << QVariantList{u"P1"_qs, u"D'1"_qs, u"M1"_qs};
}

void RefreshTest::statements()
{
    QFETCH(int, backend);
    QFETCH(QString, assets);
    QFETCH(int, view);
    QFETCH(QString, division);
    QFETCH(QString, department);
    QFETCH(QString, expected);
    QFETCH(QString, expectedLinkedFiles);
    QFETCH(QVariantList, values);
    const SqlDialect dialect{Backend(backend)};
    const Statement workOrders
        = WorkOrderQueries::workOrdersStatement(dialect, assets, View(view), division, department);
    QCOMPARE(workOrders.sql, expected);
    QCOMPARE(workOrders.values, values);
    const Statement linkedFiles = WorkOrderQueries::linkedFilesStatement(dialect, assets);
    QCOMPARE(linkedFiles.sql, expectedLinkedFiles);
    // The linked files take the asset codes only: the first values, one per placeholder.
    const qsizetype codes = expectedLinkedFiles.count(u'?') + expectedLinkedFiles.count(u'$');
    QCOMPARE(linkedFiles.values, values.mid(0, codes));
}

void RefreshTest::refreshLoadsTheSelectedWorkOrders_data()
{
    QTest::addColumn<int>("view");
    QTest::addColumn<QString>("assets");
    QTest::addColumn<QString>("division");
    QTest::addColumn<QString>("department");
    QTest::addColumn<QList<int>>("expected");
    QTest::addRow("open, every asset") << 0 << "" << "" << "" << QList<int>{108, 107, 103, 102, 101};
    QTest::addRow("upcoming PMs") << 1 << "" << "" << "" << QList<int>{104};
    QTest::addRow("history") << 2 << "" << "" << "" << QList<int>{106, 105};
    QTest::addRow("linked files: everything") << 3 << "" << "" << ""
                                              << QList<int>{108, 107, 106, 105, 104, 103, 102, 101};
    QTest::addRow("asset list with inner blank") << 0 << "A 1, P1" << "" << "" << QList<int>{107, 101};
    QTest::addRow("division") << 0 << "" << "D2" << "" << QList<int>{107, 103};
    QTest::addRow("division and department") << 2 << "" << "D1" << "M1" << QList<int>{106};
    QTest::addRow("quoted code matched literally") << 0 << "O'Q" << "" << "" << QList<int>{108};
    QTest::addRow("injection attempt matches nothing") << 0 << "" << "x' OR '1'='1" << "" << QList<int>{};
}

void RefreshTest::refreshLoadsTheSelectedWorkOrders()
{
    QFETCH(int, view);
    QFETCH(QString, assets);
    QFETCH(QString, division);
    QFETCH(QString, department);
    QFETCH(QList<int>, expected);
    WorkOrdersGrid grid;
    letStartUpFinish();
    MessageBoxRecorder boxes;
    connectedGrid(grid);
    auto *d = WorkOrdersGridPrivate::get(&grid);
    d->optView[size_t(view)]->setChecked(true);
    grid.setAssetList(assets);
    grid.setDivision(division);
    grid.setDepartment(department);
    QVERIFY(grid.RefreshData());
    QVERIFY(boxes.messages.isEmpty());
    QCOMPARE(shownNumbers(d->grdWorkOrders), expected);
    QVERIFY(d->m_bDataLoaded);
}

void RefreshTest::refreshKeepsSortAfterRequery()
{
    WorkOrdersGrid grid;
    letStartUpFinish();
    MessageBoxRecorder boxes;
    connectedGrid(grid);
    auto *d = WorkOrdersGridPrivate::get(&grid);
    d->m_sSortOrder = QStringLiteral("AssetCode ");
    QVERIFY(grid.RefreshData());
    QCOMPARE(shownNumbers(d->grdWorkOrders), (QList<int>{101, 102, 103, 108, 107}));
    d->m_sSortOrder = QStringLiteral("Priority DESC");
    execSqlite(m_db, {QStringLiteral("UPDATE WO_WorkOrders SET Priority = 5 WHERE WO_Nbr = 101")});
    QVERIFY(grid.RefreshData());
    // Equal priorities keep the loaded order (newest first).
    QCOMPARE(shownNumbers(d->grdWorkOrders), (QList<int>{101, 103, 107, 102, 108}));
}

void RefreshTest::refreshRestoresRememberedRow_data()
{
    QTest::addColumn<int>("current");
    QTest::addColumn<int>("deleteRows");  // work orders removed before the refresh
    QTest::addColumn<int>("expected");  // a reload makes the first row current
    QTest::addRow("index kept") << 3 << 0 << 3;
    QTest::addRow("index 0 never restored") << 0 << 0 << 0;
    QTest::addRow("too few rows afterwards") << 3 << 2 << 0;
}

void RefreshTest::refreshRestoresRememberedRow()
{
    QFETCH(int, current);
    QFETCH(int, deleteRows);
    QFETCH(int, expected);
    WorkOrdersGrid grid;
    letStartUpFinish();
    MessageBoxRecorder boxes;
    connectedGrid(grid);
    auto *d = WorkOrdersGridPrivate::get(&grid);
    QVERIFY(grid.RefreshData());
    QCOMPARE(d->grdWorkOrders->rowCount(), 5);
    d->grdWorkOrders->setCurrentRowIndex(current);
    if (deleteRows)
        execSqlite(m_db, {QStringLiteral("DELETE FROM WO_WorkOrders WHERE WO_Nbr IN (101, 102)")});
    QVERIFY(grid.RefreshData());
    QCOMPARE(d->grdWorkOrders->currentRowIndex(), expected);
}

void RefreshTest::refreshFailureIsReportedAndRowsStay()
{
    WorkOrdersGrid grid;
    letStartUpFinish();
    MessageBoxRecorder boxes;
    connectedGrid(grid);
    auto *d = WorkOrdersGridPrivate::get(&grid);
    QVERIFY(grid.RefreshData());
    execSqlite(m_db, {QStringLiteral("DROP VIEW vw_QX_WorkOrdersGrid")});
    QVERIFY(!grid.RefreshData());
    QCOMPARE(boxes.titles(), QStringList{QStringLiteral("RefreshData Error")});
    QVERIFY(boxes.messages.first().text.startsWith(QStringLiteral("Error ")));
    QVERIFY(boxes.messages.first().text.contains(QStringLiteral("vw_QX_WorkOrdersGrid")));
    QCOMPARE(d->grdWorkOrders->rowCount(), 5);
    // An invalid sort is a failure of the refresh too.
    execSqlite(m_db, {QStringLiteral("CREATE VIEW vw_QX_WorkOrdersGrid AS SELECT * FROM WO_WorkOrders")});
    d->m_sSortOrder = QStringLiteral("NoSuchField ");
    QVERIFY(!grid.RefreshData());
    QCOMPARE(boxes.messages.size(), 2);
}

void RefreshTest::startUp_data()
{
    QTest::addColumn<QByteArray>("settings");  // null: no file at all
    QTest::addColumn<QString>("message");      // the box's title, empty for none
    QTest::addColumn<int>("refreshInterval");
    QTest::addColumn<int>("timerInterval");    // -1: the timer is not running
    QTest::addColumn<QString>("viewMode");
    QTest::addColumn<bool>("connected");
    QTest::addColumn<int>("rows");
    QTest::addColumn<bool>("includePM");

    QTest::addRow("no settings file") << QByteArray() << "" << 0 << -1 << "Work Orders" << false << 0 << true;
    QTest::addRow("connects and fills")
        << QByteArray("DBServerName=sqlite:plant.db\nRefreshInterval=30\nIncludePMWOs=0\nDivision=D2\n") << "" << 30
        << 30000 << "Work Orders" << true << 2 << false;
    QTest::addRow("33 seconds work") << QByteArray("DBServerName=sqlite:plant.db\nRefreshInterval=33\n") << "" << 33
                                     << 33000 << "Work Orders" << true << 5 << true;
    QTest::addRow("2.5 rounds to 2") << QByteArray("DBServerName=sqlite:plant.db\nRefreshInterval=2.5\n") << "" << 2
                                     << 2000 << "Work Orders" << true << 5 << true;
    QTest::addRow("3.5 rounds to 4") << QByteArray("DBServerName=sqlite:plant.db\nRefreshInterval=3.5\n") << "" << 4
                                     << 4000 << "Work Orders" << true << 5 << true;
    QTest::addRow("abc: connected, not filled")
        << QByteArray("DBServerName=sqlite:plant.db\nRefreshInterval=abc\n") << "" << 0 << -1 << "Work Orders" << true
        << 0 << true;
    QTest::addRow("negative interval") << QByteArray("DBServerName=sqlite:plant.db\nRefreshInterval=-5\n") << "" << -5
                                       << -1 << "Work Orders" << true << 0 << true;
    QTest::addRow("40000 overflows while reading")
        << QByteArray("DBServerName=sqlite:plant.db\nRefreshInterval=40000\nIncludePMWOs=0\n")
        << "User Control Init Error" << 0 << -1 << "" << false << 0 << false;
    QTest::addRow("yes is a type mismatch") << QByteArray("DBServerName=sqlite:plant.db\nRefreshInterval=30\nIncludePMWOs=yes\n")
                                            << "User Control Init Error" << 30 << -1 << "" << false << 0 << false;
    QTest::addRow("empty IncludePMWOs is a type mismatch")
        << QByteArray("DBServerName=sqlite:plant.db\nRefreshInterval=30\nIncludePMWOs=\n") << "User Control Init Error"
        << 30 << -1 << "" << false << 0 << false;
    QTest::addRow("failed connection") << QByteArray("DBServerName=sqlite:missing.db\nRefreshInterval=30\n")
                                       << "ConnectToServer Error" << 0 << -1 << "Work Orders" << false << 0 << true;
    QTest::addRow("no server name: no timer")
        << QByteArray("RefreshInterval=30\n") << "" << 30 << -1 << "Work Orders" << false << 0 << true;
    QTest::addRow("file beyond 1 MiB is not read")
        << QByteArray("DBServerName=sqlite:plant.db\nRefreshInterval=30\n") + QByteArray(1024 * 1024, ';')
        << "User Control Init Error" << 0 << -1 << "" << false << 0 << false;
}

void RefreshTest::startUp()
{
    QFETCH(QByteArray, settings);
    QFETCH(QString, message);
    QFETCH(int, refreshInterval);
    QFETCH(int, timerInterval);
    QFETCH(QString, viewMode);
    QFETCH(bool, connected);
    QFETCH(int, rows);
    QFETCH(bool, includePM);
    if (!settings.isNull())
        writeSettings(m_dir->path(), settings);
    MessageBoxRecorder boxes;
    WorkOrdersGrid grid;
    auto *d = WorkOrdersGridPrivate::get(&grid);
    letStartUpFinish();
    QCOMPARE(boxes.titles(), message.isEmpty() ? QStringList() : QStringList{message});
    QCOMPARE(int(grid.RefreshInterval()), refreshInterval);
    QCOMPARE(d->Timer1->isActive() ? d->Timer1->interval() : -1, timerInterval);
    QCOMPARE(grid.ViewMode(), viewMode);
    QCOMPARE(grid.ConnectedToDB(), connected);
    QCOMPARE(d->grdWorkOrders->rowCount(), rows);
    QCOMPARE(d->TDBGrid1->rowCount(), rows ? 2 : 0);
    QCOMPARE(grid.IncludePMWOs(), includePM);
}

void RefreshTest::startUpConnectsAtTheFirstTurnWithTheHostsValues()
{
    writeSettings(m_dir->path(), "DBServerName=sqlite:plant.db\nRefreshInterval=30\nAssetList=A1\n");
    MessageBoxRecorder boxes;
    QWidget host;
    auto *grid = new WorkOrdersGrid(&host);
    QCOMPARE(grid->AssetList(), QStringLiteral("A1")); // read when created
    QVERIFY(!grid->ConnectedToDB());                   // creating it opens nothing
    // What a host (or a form loader) writes before the first turn of the event loop counts.
    grid->setAssetList(QStringLiteral("A2,B1"));
    grid->setViewChoice(2);
    grid->setViewMode(QStringLiteral("Linked Files"));
    host.show();
    letStartUpFinish();
    QVERIFY(boxes.messages.isEmpty());
    QVERIFY(grid->ConnectedToDB());
    QCOMPARE(grid->ViewChoice(), qint16(2));
    QCOMPARE(grid->ViewMode(), QStringLiteral("Linked Files"));
    auto *workOrders = grid->findChild<DataGrid *>(QStringLiteral("grdWorkOrders"));
    auto *files = grid->findChild<DataGrid *>(QStringLiteral("TDBGrid1"));
    QVERIFY(workOrders->isHidden());
    QVERIFY(!files->isHidden());
    QCOMPARE(shownNumbers(workOrders), (QList<int>{106, 105}));
    QCOMPARE(files->rowCount(), 1); // B1's manual
}

void RefreshTest::startUpNeverWaitsInTheConstructor()
{
    writeSettings(m_dir->path(), "DBServerName=sqlite:missing.db\nRefreshInterval=30\n");
    MessageBoxRecorder boxes;
    WorkOrdersGrid grid;
    QVERIFY(boxes.messages.isEmpty()); // a box in the constructor would have been answered by now
    letStartUpFinish();
    QCOMPARE(boxes.titles(), QStringList{QStringLiteral("ConnectToServer Error")});
    // Designer's instances never read the settings nor connect.
    WorkOrdersGrid drawn(nullptr, WorkOrdersGrid::NoStartUp);
    letStartUpFinish();
    QCOMPARE(drawn.DBServerName(), QString());
    QCOMPARE(boxes.messages.size(), 1);
}

void RefreshTest::startUpRestoresCursorAfterError()
{
    writeSettings(m_dir->path(), "DBServerName=sqlite:plant.db\nRefreshInterval=30\n");
    // The connection's empty query still works, loading the linked files fails row by row.
    execSqlite(m_db, {QStringLiteral("DROP VIEW vw_LinkedFiles")});
    execSqlite(m_db, {QStringLiteral("CREATE VIEW vw_LinkedFiles AS SELECT AssetCode, DocType, DocDescr, "
                                "json(FileName || '{') AS FileName FROM GS_LinkedFiles")});
    MessageBoxRecorder boxes;
    WorkOrdersGrid grid;
    auto *d = WorkOrdersGridPrivate::get(&grid);
    letStartUpFinish();
    QCOMPARE(boxes.titles(), QStringList{QStringLiteral("User Control Init Error")});
    QVERIFY(!QGuiApplication::overrideCursor());
    QVERIFY(grid.ConnectedToDB());
    QCOMPARE(d->grdWorkOrders->rowCount(), 5);
    QVERIFY(!d->Timer1->isActive());
}

void RefreshTest::ticksRefreshOnlyWorkOrdersWhileConnected()
{
    WorkOrdersGrid grid;
    letStartUpFinish();
    MessageBoxRecorder boxes;
    auto *d = WorkOrdersGridPrivate::get(&grid);
    d->timerTick();  // not connected: nothing happens
    QVERIFY(!d->m_bDataLoaded);
    connectedGrid(grid);
    int workOrderLoads = 0;
    int linkedFileLoads = 0;
    connect(d->Adodc1, &DataSource::refreshed, this, [&] { ++workOrderLoads; });
    connect(d->Adodc2, &DataSource::refreshed, this, [&] { ++linkedFileLoads; });
    d->timerTick();
    d->timerTick();
    QCOMPARE(workOrderLoads, 2);
    QCOMPARE(linkedFileLoads, 0);
    QCOMPARE(d->grdWorkOrders->rowCount(), 5);
}

void RefreshTest::ticksDoNotStackErrorBoxes()
{
    WorkOrdersGrid grid;
    letStartUpFinish();
    MessageBoxRecorder boxes;
    connectedGrid(grid);
    auto *d = WorkOrdersGridPrivate::get(&grid);
    QVERIFY(grid.RefreshData());
    execSqlite(m_db, {QStringLiteral("DROP VIEW vw_QX_WorkOrdersGrid")});
    QCOMPARE(ticksWhileErrorBoxIsOpen([d] { d->timerTick(); }, boxes), 1);
    QCOMPARE(boxes.mostOpenAtOnce, 1);
    QCOMPARE(d->grdWorkOrders->rowCount(), 5);
    // Once the box is closed, a tick refreshes (and reports) again.
    d->timerTick();
    QCOMPARE(boxes.messages.size(), 2);
}

void RefreshTest::aSecondFailureInsideTheBoxKeepsTicksQuiet()
{
    WorkOrdersGrid grid;
    letStartUpFinish();
    MessageBoxRecorder boxes;
    boxes.answer = false;
    connectedGrid(grid);
    QVERIFY(grid.RefreshData());
    execSqlite(m_db, {QStringLiteral("DROP VIEW vw_QX_WorkOrdersGrid")});
    auto *timer = grid.findChild<QTimer *>(QStringLiteral("Timer1"));
    // A tick's box is open; inside it the host refreshes, fails and its box is answered; the
    // ticks that follow while the first box is still open must not open another.
    int step = 0;
    QElapsedTimer sinceSecond;
    QTimer driver;
    connect(&driver, &QTimer::timeout, this, [&] {
        if (step == 0 && openMessageCount() == 1) {
            step = 1;
            // A timer does not fire again while its own handler runs: another one answers.
            QTimer::singleShot(50, &grid, [] {
                qobject_cast<QMessageBox *>(QApplication::activeModalWidget())->button(QMessageBox::Ok)->click();
            });
            grid.RefreshData();
            step = 2;
            sinceSecond.start();
        } else if (step == 2 && sinceSecond.elapsed() > 300) {
            step = 3;
            timer->stop();
            boxes.answer = true;
        }
    });
    driver.start(10);
    timer->start(20);
    QTRY_VERIFY(step == 3 && openMessageCount() == 0);
    QCOMPARE(boxes.titles(), (QStringList{QStringLiteral("RefreshData Error"), QStringLiteral("RefreshData Error")}));
}

QTEST_MAIN(RefreshTest)
#include "tst_refresh.moc"

#include "testsupport.h"

#include <QFile>
#include <QProcess>

using namespace Orvantel;
using namespace TestSupport;

/// Servers and files failing under the control's timer and its dialogs. Each time: at most
/// one box open at a time, the last good rows kept, and recovery at the next tick without
/// any call from the host.
class FaultsTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanup()
    {
        QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
        QCOMPARE(openMessageCount(), 0);
    }
    void faultIsSurvived_data()
    {
        QTest::addColumn<QString>("backend");
        for (const char *fault :
             {"server stopped between ticks", "server stopped mid-refresh", "server down in New WO and Configure",
              "database gone and back", "password changed and back"})
            QTest::addRow("%s", fault) << u"postgresql"_qs;
        QTest::addRow("SQLite file missing") << u"sqlite"_qs;
        QTest::addRow("SQL Server unreachable") << u"sqlite"_qs;
    }
    void faultIsSurvived();
};

void FaultsTest::faultIsSurvived()
{
    QFETCH(QString, backend);
    const QString fault = QString::fromLatin1(QTest::currentDataTag());
    const auto is = [&](const char *prefix) { return fault.startsWith(QLatin1String(prefix)); };
    if (backend == u"postgresql")
        REQUIRE_POSTGRES();
    const QString pgctl = PgServer::controlScript();
    if (is("server") && pgctl.isEmpty())
        QSKIP("ORVANTEL_TEST_PGCTL is not set: run through scripts/test");
    TestPlant plant(backend);
    const QString database = plant.databaseName();
    // The plant's own connection dies with some faults: each statement gets a new one.
    const auto run = [&](const QString &sql) {
        if (backend == u"postgresql")
            return PgServer::exec(database, sql).isValid(); // prints the error
        execSqlite(plant.sqliteFile(), {sql});
        return !QTest::currentTestFailed();
    };
    if (is("password")) {
        PgServer::adminExec(u"DROP ROLE IF EXISTS faults_reader"_qs);
        QVERIFY(PgServer::adminExec(u"CREATE ROLE faults_reader LOGIN PASSWORD 'first'"_qs));
        QVERIFY(run(u"GRANT SELECT ON ALL TABLES IN SCHEMA public TO faults_reader"_qs));
    }
    plant.writeSettings("RefreshInterval=600\n");
    HostedControl control;
    control.show();
    WorkOrdersGrid &grid = *control.grid;
    auto *workOrders = grid.findChild<DataGrid *>(u"grdWorkOrders"_qs);
    QCOMPARE(workOrders->rowCount(), 5);
    if (is("password")) {
        grid.setDBUserID(u"faults_reader"_qs);
        grid.setDBPassword(u"first"_qs);
        QVERIFY(grid.ConnectToServer() && grid.RefreshData());
    }
    auto *timer = grid.findChild<QTimer *>(u"Timer1"_qs); // real ticks, at the interval the test gives
    MessageBoxRecorder boxes;
    const auto requestWorkOrder = [&] {
        whenModal([](QWidget *form) {
            form->findChild<QComboBox *>(u"cboAssetCode"_qs)->setEditText(u"A1"_qs);
            QTest::mouseClick(form->findChild<QPushButton *>(u"cmdOK"_qs), Qt::LeftButton);
        });
        QTest::mouseClick(grid.findChild<QPushButton *>(u"cmdNewWO"_qs), Qt::LeftButton);
    };

    if (is("server stopped mid-refresh")) {
        // The next refresh waits on the server, which is stopped meanwhile.
        QVERIFY(run(u"ALTER VIEW vw_QX_WorkOrdersGrid RENAME TO vw_fast"_qs));
        QVERIFY(run(
                u"CREATE VIEW vw_QX_WorkOrdersGrid AS SELECT * FROM vw_fast WHERE (SELECT pg_sleep(30)) IS NOT NULL"_qs));
        QProcess stopper;
        stopper.start(u"sh"_qs, {u"-c"_qs, u"sleep 0.7; exec \"$0\" stop"_qs, pgctl});
        QVERIFY(!grid.RefreshData());
        QVERIFY(stopper.waitForFinished(60000));
        QCOMPARE(boxes.titles(), QStringList {u"RefreshData Error"_qs});
    } else if (is("server")) {
        QCOMPARE(QProcess::execute(pgctl, {u"stop"_qs}), 0);
    } else if (is("database")) {
        QVERIFY(PgServer::adminExec(
                u"SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = '%1'"_qs.arg(database)));
        QVERIFY(PgServer::adminExec(u"ALTER DATABASE %1 RENAME TO %1_gone"_qs.arg(database)));
    } else if (is("password")) {
        QVERIFY(PgServer::adminExec(u"ALTER ROLE faults_reader PASSWORD 'second'"_qs));
        QVERIFY(PgServer::adminExec(
                u"SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE usename = 'faults_reader'"_qs));
    } else if (is("SQLite")) {
        QVERIFY(QFile::rename(plant.sqliteFile(), plant.sqliteFile() + u".away"_qs));
    } else {
        // The host points the control at a SQL Server nobody listens for.
        grid.setDBServerName(u"127.0.0.1,1"_qs);
        QVERIFY(!grid.ConnectToServer());
        QCOMPARE(boxes.titles(), QStringList {u"ConnectToServer Error"_qs});
    }
    boxes.messages.clear();

    if (fault.endsWith(u"Configure")) {
        // Every lookup fails in its own box, one after the other; nothing is created.
        requestWorkOrder();
        QCOMPARE(boxes.titles(),
                 (QStringList {u"LoadComboBox Error"_qs, u"LoadComboBox Error"_qs, u"ValidateAsset Error"_qs,
                               u"Invalid Asset"_qs}));
        boxes.messages.clear();
        whenModal(
                [](QWidget *form) { QTest::mouseClick(form->findChild<QPushButton *>(u"cmdOK"_qs), Qt::LeftButton); });
        QTest::mouseClick(grid.findChild<QPushButton *>(u"cmdConfig"_qs), Qt::LeftButton);
        QCOMPARE(boxes.titles(),
                 (QStringList {u"LoadComboBox Error"_qs, u"LoadComboBox Error"_qs, u"ConnectToServer Error"_qs,
                               u"RefreshData Error"_qs, u"Config Click Error"_qs}));
        QVERIFY(!QGuiApplication::overrideCursor());
    } else {
        // While it lasts, ticks go on under the first failed tick's box without opening another.
        // The box's own loop runs the ticks: the last of them answers it.
        boxes.answer = false;
        int ticksUnderTheBox = 0;
        const auto counter = connect(timer, &QTimer::timeout, this, [&] {
            if (openMessageCount() > 0 && ++ticksUnderTheBox == 8) {
                timer->stop();
                boxes.answer = true;
            }
        });
        timer->start(20);
        QTRY_VERIFY_WITH_TIMEOUT(ticksUnderTheBox == 8 && openMessageCount() == 0, 60000);
        disconnect(counter);
        QCOMPARE(boxes.titles(), QStringList {u"RefreshData Error"_qs});
        if (is("password"))
            QVERIFY2(boxes.messages.first().text.contains(u"password"_qs), qPrintable(boxes.messages.first().text));
        // The last tick's load may still be on its way: let it land before the fault ends.
        QTest::qWait(500);
    }
    QCOMPARE(boxes.mostOpenAtOnce, 1);
    QCOMPARE(workOrders->rowCount(), 5);

    if (is("server")) {
        QCOMPARE(QProcess::execute(pgctl, {u"start"_qs}), 0);
        if (fault.endsWith(u"mid-refresh")) {
            QVERIFY(run(u"DROP VIEW vw_QX_WorkOrdersGrid"_qs));
            QVERIFY(run(u"ALTER VIEW vw_fast RENAME TO vw_QX_WorkOrdersGrid"_qs));
        }
    } else if (is("database")) {
        QVERIFY(PgServer::adminExec(u"ALTER DATABASE %1_gone RENAME TO %1"_qs.arg(database)));
    } else if (is("password")) {
        QVERIFY(PgServer::adminExec(u"ALTER ROLE faults_reader PASSWORD 'first'"_qs));
    } else if (is("SQLite")) {
        // Back as another file (a copy), which the next tick reads.
        QVERIFY(QFile::copy(plant.sqliteFile() + u".away"_qs, plant.sqliteFile()));
    } else {
        // Only the host can undo its own setting.
        grid.setDBServerName(plant.serverName());
        QVERIFY(grid.ConnectToServer());
    }
    // Recovered at the next tick, with a work order made meanwhile: by a request, exactly one.
    boxes.messages.clear();
    if (fault.endsWith(u"Configure")) {
        requestWorkOrder();
        QCOMPARE(boxes.titles(), QStringList {u"Work Order Created"_qs});
        QCOMPARE(PgServer::exec(database, u"SELECT count(*) FROM WO_WorkOrders"_qs).toInt(), 9);
        boxes.messages.clear();
    } else {
        QVERIFY(run(u"INSERT INTO WO_WorkOrders (WO_Nbr, AssetCode, DateLoaded, DivisionID, DepartmentID) "
                    "VALUES (109, 'A1', '2026-01-09 08:00:00', 'D1', 'M1')"_qs));
    }
    timer->start(10); // ticks load in the background until the rows are swapped in
    QTRY_COMPARE_WITH_TIMEOUT(workOrders->rowCount(), 6, 30000);
    timer->stop();
    QCOMPARE(boxes.titles(), QStringList());
    if (is("password")) {
        QVERIFY(run(u"DROP OWNED BY faults_reader"_qs));
        QVERIFY(PgServer::adminExec(u"DROP ROLE faults_reader"_qs));
    }
}

QTEST_MAIN(FaultsTest)
#include "tst_faults.moc"

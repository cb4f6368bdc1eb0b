#include "testsupport.h"

#include "messagebox.h"
#include "workordersgrid.h"
#include "workordersgrid_p.h"
#include "frmconfig.h"
#include "frmnewwo.h"
#include "datagrid.h"

#include <QApplication>
#include <QComboBox>
#include <QProcess>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTimer>

using namespace Orvantel;
using namespace TestSupport;

/// A real PostgreSQL server changing and failing under the control's timer: a work order
/// from elsewhere, the server killed in the middle of a refresh and kept down while the
/// timer ticks, its database dropped and made again, a login refused, the dialogs while
/// it is down. Each time: one box at a time, the last good rows kept, and recovery
/// without any call from the host.
class FaultsTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanup();
    void workOrderFromAnotherConnectionAppearsAtNextTick();
    void serverKilledDuringRefresh();
    void databaseDroppedAndMadeAgain();
    void loginRefusedAfterPasswordChange();
    void dialogsWhileServerIsDown();

private:
    void connect(WorkOrdersGrid &grid, const QString &database, const QString &user, const QString &password);
    bool exec(const QString &database, const QString &sql) { return PgServer::exec(database, sql).isValid(); }
    QString m_pgctl;
};

void FaultsTest::initTestCase()
{
    REQUIRE_POSTGRES();
    m_pgctl = PgServer::controlScript();
    if (m_pgctl.isEmpty() && runningInCi())
        QFAIL("ORVANTEL_TEST_PGCTL is not set");
}

void FaultsTest::cleanup()
{
    QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
    QCOMPARE(openMessageCount(), 0);
}

void FaultsTest::connect(WorkOrdersGrid &grid, const QString &database, const QString &user, const QString &password)
{
    grid.setDBServerName(PgServer::serverName());
    grid.setDBDatabaseName(database);
    grid.setDBUserID(user);
    grid.setDBPassword(password);
    grid.setRefreshInterval(5);
    QVERIFY(grid.ConnectToServer());
    QVERIFY(grid.RefreshData());
}

void FaultsTest::workOrderFromAnotherConnectionAppearsAtNextTick()
{
    DemoData::Options options;
    options.workOrders = 100;
    const QString database = PgServer::createDatabase(QStringLiteral("tst_faults_tick"), &options);
    {
        WorkOrdersGrid grid;
        letStartUpFinish();
        MessageBoxRecorder boxes;
        connect(grid, database, PgServer::user(), PgServer::password());
        auto *d = WorkOrdersGridPrivate::get(&grid);
        const int before = d->grdWorkOrders->rowCount();
        const QString asset = d->grdWorkOrders->column(QStringLiteral("AssetCode"))->value().toString();
        QVERIFY(exec(database,
                     QStringLiteral("CALL sp_QX_CreateWorkOrder('%1', 'Guard rail loose', 2, 'JDOE')").arg(asset)));
        d->timerTick();
        QCOMPARE(d->grdWorkOrders->rowCount(), before + 1);
        QCOMPARE(d->grdWorkOrders->column(QStringLiteral("Notes"))->value().toString(), QStringLiteral("Guard rail loose"));
        QVERIFY(boxes.messages.isEmpty());
    }
    PgServer::dropDatabase(database);
}

void FaultsTest::serverKilledDuringRefresh()
{
    if (m_pgctl.isEmpty())
        QSKIP("ORVANTEL_TEST_PGCTL is not set: run through scripts/test");
    DemoData::Options options;
    options.workOrders = 2000;
    const QString database = PgServer::createDatabase(QStringLiteral("tst_faults_kill"), &options);
    {
        WorkOrdersGrid grid;
        letStartUpFinish();
        MessageBoxRecorder boxes;
        connect(grid, database, PgServer::user(), PgServer::password());
        auto *d = WorkOrdersGridPrivate::get(&grid);
        const int rows = d->grdWorkOrders->rowCount();
        QVERIFY(rows > 0);
        // The next refresh takes two seconds on the server; the server is stopped half-way.
        QVERIFY(exec(database, QStringLiteral("CREATE FUNCTION slow_once() RETURNS boolean LANGUAGE plpgsql "
                                              "VOLATILE AS $$ BEGIN PERFORM pg_sleep(2); RETURN true; END $$")));
        QVERIFY(exec(database, QStringLiteral("ALTER VIEW vw_QX_WorkOrdersGrid RENAME TO vw_fast")));
        QVERIFY(exec(database, QStringLiteral("CREATE VIEW vw_QX_WorkOrdersGrid AS SELECT * FROM vw_fast "
                                              "WHERE (SELECT slow_once())")));
        QProcess stopper;
        stopper.start(QStringLiteral("sh"), {QStringLiteral("-c"), QStringLiteral("sleep 0.7; exec \"$0\" stop"), m_pgctl});
        QVERIFY(stopper.waitForStarted());
        QVERIFY(!grid.RefreshData());
        QVERIFY(stopper.waitForFinished(60000));
        QCOMPARE(boxes.titles(), QStringList{QStringLiteral("RefreshData Error")});
        QCOMPARE(d->grdWorkOrders->rowCount(), rows);

        // Ticks while the server stays down: one box at a time.
        QCOMPARE(ticksWhileErrorBoxIsOpen([d] { d->timerTick(); }, boxes), 2);
        QCOMPARE(boxes.mostOpenAtOnce, 1);
        QCOMPARE(d->grdWorkOrders->rowCount(), rows);

        QCOMPARE(QProcess::execute(m_pgctl, {QStringLiteral("start")}), 0);
        QVERIFY(exec(database, QStringLiteral("DROP VIEW vw_QX_WorkOrdersGrid")));
        QVERIFY(exec(database, QStringLiteral("ALTER VIEW vw_fast RENAME TO vw_QX_WorkOrdersGrid")));
        const int before = boxes.messages.size();
        d->timerTick();
        QCOMPARE(boxes.messages.size(), before);
        QCOMPARE(d->grdWorkOrders->rowCount(), rows);
    }
    PgServer::dropDatabase(database);
}

void FaultsTest::databaseDroppedAndMadeAgain()
{
    DemoData::Options options;
    options.workOrders = 120;
    const QString database = PgServer::createDatabase(QStringLiteral("tst_faults_drop"), &options);
    WorkOrdersGrid grid;
    letStartUpFinish();
    MessageBoxRecorder boxes;
    connect(grid, database, PgServer::user(), PgServer::password());
    auto *d = WorkOrdersGridPrivate::get(&grid);
    const int rows = d->grdWorkOrders->rowCount();

    PgServer::dropDatabase(database);
    QCOMPARE(ticksWhileErrorBoxIsOpen([d] { d->timerTick(); }, boxes), 1);
    QCOMPARE(boxes.mostOpenAtOnce, 1);
    QCOMPARE(d->grdWorkOrders->rowCount(), rows);

    // Made again under the same name, with the same data: the next tick loads it.
    QVERIFY(PgServer::adminExec(QStringLiteral("CREATE DATABASE ") + database));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("refill"));
        db.setHostName(PgServer::host());
        db.setPort(PgServer::port());
        db.setUserName(PgServer::user());
        db.setPassword(PgServer::password());
        db.setDatabaseName(database);
        QVERIFY(db.open());
        DemoData::createSchema(db);
        DemoData::populate(db, options);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("refill"));
    const int before = boxes.messages.size();
    d->timerTick();
    QCOMPARE(boxes.messages.size(), before);
    QCOMPARE(d->grdWorkOrders->rowCount(), rows);
    PgServer::dropDatabase(database);
}

void FaultsTest::loginRefusedAfterPasswordChange()
{
    DemoData::Options options;
    options.workOrders = 60;
    const QString database = PgServer::createDatabase(QStringLiteral("tst_faults_login"), &options);
    QVERIFY(PgServer::adminExec(QStringLiteral("CREATE ROLE faults_reader LOGIN PASSWORD 'first'")));
    QVERIFY(exec(database, QStringLiteral("GRANT SELECT ON ALL TABLES IN SCHEMA public TO faults_reader")));
    {
        WorkOrdersGrid grid;
        letStartUpFinish();
        MessageBoxRecorder boxes;
        connect(grid, database, QStringLiteral("faults_reader"), QStringLiteral("first"));
        auto *d = WorkOrdersGridPrivate::get(&grid);
        const int rows = d->grdWorkOrders->rowCount();
        // The password changes and the session is ended: reconnecting is refused.
        QVERIFY(PgServer::adminExec(QStringLiteral("ALTER ROLE faults_reader PASSWORD 'second'")));
        QVERIFY(PgServer::adminExec(
            QStringLiteral("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE usename = 'faults_reader'")));
        QCOMPARE(ticksWhileErrorBoxIsOpen([d] { d->timerTick(); }, boxes), 1);
        QVERIFY2(boxes.messages.first().text.contains(QStringLiteral("password")),
                 qPrintable(boxes.messages.first().text));
        QCOMPARE(d->grdWorkOrders->rowCount(), rows);
        QVERIFY(grid.ConnectedToDB());

        // The host puts the right password in; the next tick reconnects by itself.
        grid.setDBPassword(QStringLiteral("second"));
        QVERIFY(grid.ConnectToServer());
        const int before = boxes.messages.size();
        d->timerTick();
        QCOMPARE(boxes.messages.size(), before);
        QCOMPARE(d->grdWorkOrders->rowCount(), rows);
    }
    PgServer::dropDatabase(database);
    PgServer::adminExec(QStringLiteral("DROP ROLE faults_reader"));
}

void FaultsTest::dialogsWhileServerIsDown()
{
    if (m_pgctl.isEmpty())
        QSKIP("ORVANTEL_TEST_PGCTL is not set: run through scripts/test");
    DemoData::Options options;
    options.workOrders = 80;
    const QString database = PgServer::createDatabase(QStringLiteral("tst_faults_dialogs"), &options);
    auto workOrders = [&] { return PgServer::exec(database, QStringLiteral("SELECT COUNT(*) FROM WO_WorkOrders")).toInt(); };
    const int before = workOrders();
    {
        WorkOrdersGrid grid;
        letStartUpFinish();
        MessageBoxRecorder boxes;
        connect(grid, database, PgServer::user(), PgServer::password());
        auto *d = WorkOrdersGridPrivate::get(&grid);
        const int rows = d->grdWorkOrders->rowCount();
        const QString asset = d->grdWorkOrders->column(QStringLiteral("AssetCode"))->value().toString();
        auto raiseWorkOrder = [&] {
            whenModal([&](QWidget *modal) {
                auto *form = qobject_cast<frmNewWO *>(modal);
                QVERIFY(form);
                form->cboAssetCode->setEditText(asset);
                QTest::mouseClick(form->cmdOK, Qt::LeftButton);
            });
            d->cmdNewWO->click();
        };
        QCOMPARE(QProcess::execute(m_pgctl, {QStringLiteral("stop")}), 0);

        raiseWorkOrder();
        QCOMPARE(boxes.titles(), (QStringList{QStringLiteral("LoadComboBox Error"), QStringLiteral("LoadComboBox Error"),
                                              QStringLiteral("ValidateAsset Error"), QStringLiteral("Invalid Asset")}));
        boxes.messages.clear();

        whenModal([](QWidget *modal) {
            auto *form = qobject_cast<frmConfig *>(modal);
            QVERIFY(form);
            QTest::mouseClick(form->cmdOK, Qt::LeftButton);
        });
        d->cmdConfig->click();
        QCOMPARE(boxes.titles(), (QStringList{QStringLiteral("LoadComboBox Error"), QStringLiteral("LoadComboBox Error"),
                                              QStringLiteral("ConnectToServer Error"), QStringLiteral("RefreshData Error"),
                                              QStringLiteral("Config Click Error")}));
        QCOMPARE(boxes.mostOpenAtOnce, 1);
        QCOMPARE(d->grdWorkOrders->rowCount(), rows);
        QVERIFY(!QGuiApplication::overrideCursor());

        // Back up: nothing was created while it was down, and one request makes one work order.
        QCOMPARE(QProcess::execute(m_pgctl, {QStringLiteral("start")}), 0);
        QCOMPARE(workOrders(), before);
        boxes.messages.clear();
        raiseWorkOrder();
        QCOMPARE(boxes.titles(), QStringList{QStringLiteral("Work Order Created")});
        QCOMPARE(workOrders(), before + 1);
        d->timerTick();
        QCOMPARE(boxes.messages.size(), 1);
    }
    PgServer::dropDatabase(database);
}

QTEST_MAIN(FaultsTest)
#include "tst_faults.moc"

#include "testsupport.h"

#include "control/messagebox.h"
#include "control/workordersgrid.h"
#include "control/workordersgrid_p.h"
#include "data/recordset.h"
#include "views/datagrid.h"

#include <QApplication>
#include <QProcess>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTimer>

using namespace Orvantel;
using namespace TestSupport;

/// The refresh timer against a real PostgreSQL server that changes, stops and comes back.
class RefreshPgTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();
    void workOrderFromAnotherConnectionAppearsAtNextTick();
    void serverOutageShowsOneBoxAndRecoversByItself();

private:
    void connect(WorkOrdersGrid &grid);
    QString m_database;
};

void RefreshPgTest::initTestCase()
{
    REQUIRE_POSTGRES();
    DemoData::Options options;
    options.workOrders = 300;
    options.linkedFiles = 20;
    m_database = PgServer::createDatabase(QStringLiteral("tst_refresh_pg"), &options);
}

void RefreshPgTest::cleanupTestCase()
{
    if (!m_database.isEmpty())
        PgServer::dropDatabase(m_database);
}

void RefreshPgTest::cleanup()
{
    QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
}

void RefreshPgTest::connect(WorkOrdersGrid &grid)
{
    grid.setDBServerName(PgServer::serverName());
    grid.setDBDatabaseName(m_database);
    grid.setDBUserID(PgServer::user());
    grid.setDBPassword(PgServer::password());
    grid.setRefreshInterval(5);
    QVERIFY(grid.ConnectToServer());
    QVERIFY(grid.RefreshData());
}

void RefreshPgTest::workOrderFromAnotherConnectionAppearsAtNextTick()
{
    WorkOrdersGrid grid;
    MessageBoxRecorder boxes;
    connect(grid);
    auto *d = WorkOrdersGridPrivate::get(&grid);
    const int before = d->grdWorkOrders->rowCount();
    QVERIFY(before > 0);
    const QString asset = d->grdWorkOrders->recordset()->text(0, d->grdWorkOrders->recordset()->fieldIndex(
                                                                        QStringLiteral("AssetCode")));
    {
        QSqlDatabase other = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("other"));
        other.setHostName(PgServer::host());
        other.setPort(PgServer::port());
        other.setUserName(PgServer::user());
        other.setPassword(PgServer::password());
        other.setDatabaseName(m_database);
        QVERIFY(other.open());
        QSqlQuery q(other);
        QVERIFY_SQL(q, exec(QStringLiteral("CALL sp_QX_CreateWorkOrder('%1', 'Guard rail loose', 2, 'JDOE')")
                                .arg(asset)));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("other"));
    d->timerTick();
    QCOMPARE(d->grdWorkOrders->rowCount(), before + 1);
    Recordset *rs = d->grdWorkOrders->recordset();
    QCOMPARE(rs->text(0, rs->fieldIndex(QStringLiteral("Notes"))), QStringLiteral("Guard rail loose"));
    QVERIFY(boxes.messages.isEmpty());
}

void RefreshPgTest::serverOutageShowsOneBoxAndRecoversByItself()
{
    const QString pgctl = PgServer::controlScript();
    if (pgctl.isEmpty()) {
        if (runningInCi())
            QFAIL("ORVANTEL_TEST_PGCTL is not set");
        QSKIP("ORVANTEL_TEST_PGCTL is not set: run through scripts/test");
    }
    WorkOrdersGrid grid;
    MessageBoxRecorder boxes;
    connect(grid);
    auto *d = WorkOrdersGridPrivate::get(&grid);
    const int rows = d->grdWorkOrders->rowCount();
    QCOMPARE(QProcess::execute(pgctl, {QStringLiteral("stop")}), 0);

    // Ticks keep coming while the first failure's box waits for the operator.
    boxes.answer = false;
    QTimer::singleShot(0, this, [d] { d->timerTick(); });
    QTimer ticks;
    int tickCount = 0;
    int boxesWhileOpen = -1;
    QObject::connect(&ticks, &QTimer::timeout, this, [&] {
        if (++tickCount == 8) {
            boxesWhileOpen = boxes.messages.size();
            ticks.stop();
            boxes.answer = true;
            return;
        }
        d->timerTick();
    });
    ticks.start(20);
    QTRY_VERIFY_WITH_TIMEOUT(boxesWhileOpen >= 0, 30000);
    QTRY_COMPARE(openMessageCount(), 0);
    QCOMPARE(boxesWhileOpen, 1);
    QCOMPARE(boxes.mostOpenAtOnce, 1);
    QCOMPARE(boxes.messages.first().title, QStringLiteral("RefreshData Error"));
    QCOMPARE(d->grdWorkOrders->rowCount(), rows);

    QCOMPARE(QProcess::execute(pgctl, {QStringLiteral("start")}), 0);
    d->timerTick();
    QCOMPARE(boxes.messages.size(), 1);
    QCOMPARE(d->grdWorkOrders->rowCount(), rows);
    QVERIFY(grid.ConnectedToDB());
}

QTEST_MAIN(RefreshPgTest)
#include "tst_refresh_pg.moc"

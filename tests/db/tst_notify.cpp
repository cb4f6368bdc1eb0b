// The change notifications of postgresql/notify.sql, as a listener on another
// connection receives them.

#include "testsupport.h"

#include <QSqlDriver>
#include <QSqlQuery>
#include <QtTest>

using namespace Orvantel;
using namespace TestSupport;

namespace {

QSqlDatabase openPg(const QString &connection, const QString &database)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(u"QPSQL"_qs, connection);
    db.setHostName(PgServer::host());
    db.setPort(PgServer::port());
    db.setUserName(PgServer::user());
    db.setPassword(PgServer::password());
    db.setDatabaseName(database);
    db.open();
    return db;
}

/// Runs the statements on one connection to database, then NOTIFYs a fence; returns the
/// payloads a listener on another connection received before the fence ("<error> ..."
/// first for a failed statement). Notifications arrive in commit order.
QStringList run(const QString &database, const QStringList &statements)
{
    QStringList payloads;
    bool fenced = false;
    {
        const QSqlDatabase listener = openPg(u"listener"_qs, database);
        const QSqlDatabase writer = openPg(u"writer"_qs, database);
        QObject::connect(listener.driver(), &QSqlDriver::notification, listener.driver(),
                         [&](const QString &channel, QSqlDriver::NotificationSource, const QVariant &payload) {
                             fenced = fenced || channel == u"fence";
                             if (!fenced)
                                 payloads << payload.toString();
                         });
        listener.driver()->subscribeToNotification(u"orvantel_changes"_qs);
        listener.driver()->subscribeToNotification(u"fence"_qs);
        QSqlQuery q(writer);
        for (const QString &sql : statements + QStringList {u"NOTIFY fence"_qs}) {
            if (!q.exec(sql))
                payloads << u"<error> "_qs + q.lastError().text();
        }
        if (!QTest::qWaitFor([&] { return fenced; }, 30000)) // a bound on a hung server
            payloads << u"<timeout>"_qs;
    }
    QSqlDatabase::removeDatabase(u"listener"_qs);
    QSqlDatabase::removeDatabase(u"writer"_qs);
    return payloads;
}

} // namespace

/// Each statement on the demo plant (work orders 10001 to 11500, copied for each case) and the
/// payloads it sends.
class NotifyTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        REQUIRE_POSTGRES();
        const DemoData::Options demo;
        m_plant = PgServer::createDatabase(u"notify_plant"_qs, &demo);
    }
    void cleanupTestCase() { PgServer::dropDatabase(m_plant); }
    void cleanup() { PgServer::dropDatabase(m_plant + u"_copy"_qs); }
    void statementsNotifyWhatTheyChange_data()
    {
        QTest::addColumn<QStringList>("statements");
        QTest::addColumn<QStringList>("payloads");
        const auto row = [](const char *name, const QStringList &statements, const QStringList &payloads) {
            QTest::newRow(name) << statements << payloads;
        };
        const QString insert
                = u"INSERT INTO WO_WorkOrders (WO_Nbr, AssetCode, DateLoaded, DivisionID, DepartmentID) "_qs;
        const QString work = u"UPDATE WO_WorkOrders SET "_qs;
        // 7000 bytes at most: "wo:" and 1,166 numbers of five digits with commas make 6,998.
        QStringList longest;
        for (int number = 10001; number <= 11166; ++number)
            longest << QString::number(number);
        row("insert one", {insert + u"VALUES (20001, 'P-101', '2026-01-05', 'PROD', 'MIX')"_qs}, {u"wo:20001"_qs});
        row("creation procedure", {u"CALL sp_QX_CreateWorkOrder('P-101', 'x', 2, 'JDOE')"_qs}, {u"wo:11501"_qs});
        row("insert three, listed in order",
            {insert + u"SELECT n, 'P-101', '2026-01-05', 'PROD', 'MIX' FROM unnest(ARRAY[20003, 20001, 20002]) n"_qs},
            {u"wo:20001,20002,20003"_qs});
        row("update two", {work + u"Status = 3 WHERE WO_Nbr IN (10042, 10007)"_qs}, {u"wo:10007,10042"_qs});
        row("delete one", {u"DELETE FROM WO_WorkOrders WHERE WO_Nbr = 10005"_qs}, {u"wo:10005"_qs});
        row("renumber: old and new number", {work + u"WO_Nbr = WO_Nbr + 10000 WHERE WO_Nbr IN (10001, 10002)"_qs},
            {u"wo:10001,10002,20001,20002"_qs});
        row("each statement of a transaction",
            {u"BEGIN"_qs, work + u"Priority = 1 WHERE WO_Nbr = 10001"_qs,
             u"DELETE FROM WO_WorkOrders WHERE WO_Nbr = 10002"_qs, u"COMMIT"_qs},
            {u"wo:10001"_qs, u"wo:10002"_qs});
        row("rolled back", {u"BEGIN"_qs, u"DELETE FROM WO_WorkOrders WHERE WO_Nbr = 10002"_qs, u"ROLLBACK"_qs}, {});
        row("no row changed",
            {work + u"Status = 3 WHERE WO_Nbr = 99"_qs, u"DELETE FROM WO_WorkOrders WHERE WO_Nbr = 99"_qs,
             u"UPDATE GS_Assets SET Descr = 'x' WHERE AssetCode = 'NO-SUCH'"_qs,
             u"DELETE FROM GS_LinkedFiles WHERE FileID = -1"_qs},
            {});
        row("longest list", {work + u"Priority = 1 WHERE WO_Nbr BETWEEN 10001 AND 11166"_qs},
            {u"wo:"_qs + longest.join(u',')});
        row("one number more is everything", {work + u"Priority = 1 WHERE WO_Nbr BETWEEN 10001 AND 11167"_qs},
            {u"all"_qs});
        row("thousands inserted",
            {insert + u"SELECT n, 'P-101', '2026-01-05', 'PROD', 'MIX' FROM generate_series(20001, 30000) n"_qs},
            {u"all"_qs});
        row("all deleted", {u"DELETE FROM WO_WorkOrders"_qs}, {u"all"_qs});
        row("truncate", {u"TRUNCATE WO_WorkOrders"_qs}, {u"all"_qs});
        // What feeds the grid's other columns.
        row("assets, users, statuses",
            {u"UPDATE GS_Assets SET Descr = 'Transfer pump' WHERE AssetCode = 'P-101'"_qs,
             u"INSERT INTO GS_Assets (AssetCode, DivisionID, DepartmentID) VALUES ('P-999', 'PROD', 'MIX')"_qs,
             u"UPDATE GS_Users SET Name = 'Jo Doe' WHERE UserID = 'JDOE'"_qs,
             u"DELETE FROM GS_Users WHERE UserID = 'CONTRACTOR'"_qs,
             u"UPDATE WO_Statuses SET Descr = 'Done' WHERE Status = 3"_qs,
             u"INSERT INTO WO_Statuses VALUES (5, 'Cancelled')"_qs},
            QStringList(6, u"all"_qs));
        // Not in the grid's view: the control filters on the work orders' own columns.
        row("division text", {u"UPDATE GS_Divisions SET Descr = 'Make' WHERE DivisionID = 'PROD'"_qs}, {});
        row("linked files added, renamed, deleted, truncated",
            {u"INSERT INTO GS_LinkedFiles VALUES (900, 'P-101', 'Photo', NULL, 'new.jpg')"_qs,
             u"UPDATE GS_LinkedFiles SET FileName = 'renamed.pdf' WHERE FileID = 1"_qs,
             u"DELETE FROM GS_LinkedFiles WHERE FileID < 50"_qs, u"TRUNCATE GS_LinkedFiles"_qs},
            QStringList(4, u"files"_qs));
        // The payload says which changed, never how: the text does not travel.
        row("hostile request text",
            {work + u"WorkRequest = 'all'',wo:1,' || repeat('x', 9000) WHERE WO_Nbr = 10003"_qs}, {u"wo:10003"_qs});
    }
    void statementsNotifyWhatTheyChange()
    {
        QFETCH(QStringList, statements);
        QFETCH(QStringList, payloads);
        // A copy is far quicker than generating the plant again.
        QVERIFY(PgServer::adminExec(u"CREATE DATABASE %1_copy TEMPLATE %1"_qs.arg(m_plant)));
        QCOMPARE(run(m_plant + u"_copy"_qs, statements), payloads);
    }
    void installedLaterAndAgain()
    {
        // A customer database made without them sends nothing; installed later, and again
        // (replacing what the first install made), it does.
        DemoData::Options options;
        options.workOrders = 40;
        options.linkedFiles = 5;
        options.changeNotifications = false;
        const QString database = PgServer::createDatabase(u"notify_later"_qs);
        const QStringList statements {u"CALL sp_QX_CreateWorkOrder('P-101', 'x', 2, 'JDOE')"_qs,
                                      u"UPDATE GS_Users SET Name = 'x' WHERE UserID = 'JDOE'"_qs,
                                      u"UPDATE GS_LinkedFiles SET DocDescr = 'x'"_qs};
        {
            QSqlDatabase db = openPg(u"install"_qs, database);
            DemoData::createSchema(db, options);
            DemoData::populate(db, options);
            QCOMPARE(run(database, statements), QStringList());
            DemoData::installChangeNotifications(db);
            DemoData::installChangeNotifications(db);
        }
        QSqlDatabase::removeDatabase(u"install"_qs);
        QCOMPARE(run(database, statements), (QStringList {u"wo:10042"_qs, u"all"_qs, u"files"_qs}));
        PgServer::dropDatabase(database);
    }

private:
    QString m_plant;
};

QTEST_GUILESS_MAIN(NotifyTest)
#include "tst_notify.moc"

// The change notifications of postgresql/notify.sql, as a listener on another
// connection receives them.

#include "demodata.h"

#include <QDeadlineTimer>
#include <QSqlError>
#include <QSqlQuery>
#include <QtTest>

#include <libpq-fe.h>
#include <poll.h>

#include <memory>

using namespace Orvantel;

namespace {

const char *const Channel = "orvantel_changes";
// Sent by the writer after its statements: the listener has received everything the
// statements sent once it receives this, since notifications arrive in commit order.
const char *const Fence = "orvantel_test_fence";

struct PgFinish
{
    void operator()(PGconn *conn) const { PQfinish(conn); }
};

/// A plain libpq connection to database on the test server.
class PgConnection
{
public:
    explicit PgConnection(const QString &database)
    {
        const QByteArray host
                = qgetenv("ORVANTEL_TEST_PGHOST").isEmpty() ? QByteArray("127.0.0.1") : qgetenv("ORVANTEL_TEST_PGHOST");
        const QByteArray port = qgetenv("ORVANTEL_TEST_PGPORT");
        const QByteArray user = qgetenv("ORVANTEL_TEST_PGUSER");
        const QByteArray password = qgetenv("ORVANTEL_TEST_PGPASSWORD");
        const QByteArray dbname = database.toUtf8();
        const char *keys[] = {"host", "port", "user", "password", "dbname", "connect_timeout", nullptr};
        const char *values[]
                = {host.constData(), port.constData(), user.constData(), password.constData(), dbname.constData(), "10",
                   nullptr};
        m_conn.reset(PQconnectdbParams(keys, values, 0));
    }

    bool isOpen() const { return PQstatus(m_conn.get()) == CONNECTION_OK; }
    QString errorText() const { return QString::fromUtf8(PQerrorMessage(m_conn.get())).trimmed(); }

    /// Runs sql; returns the error text, empty on success.
    QString exec(const QString &sql)
    {
        const std::unique_ptr<PGresult, void (*)(PGresult *)> result(PQexec(m_conn.get(), sql.toUtf8().constData()),
                                                                     PQclear);
        const ExecStatusType status = PQresultStatus(result.get());
        if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK)
            return QString();
        return errorText() + u" (in: "_qs + sql.left(80) + u')';
    }

    /// The payloads on Channel received before the fence, in order; "<timeout>" or
    /// "<error>" as the last entry when the fence does not come.
    QStringList payloadsUntilFence()
    {
        QStringList payloads;
        const QDeadlineTimer deadline(30000); // a bound on a hung server, not a speed check
        while (true) {
            if (!PQconsumeInput(m_conn.get()))
                return payloads << u"<error> "_qs + errorText();
            while (PGnotify *notify = PQnotifies(m_conn.get())) {
                const QString channel = QString::fromUtf8(notify->relname);
                const QString payload = QString::fromUtf8(notify->extra);
                PQfreemem(notify);
                if (channel == QLatin1String(Fence))
                    return payloads;
                payloads << payload;
            }
            pollfd fd {PQsocket(m_conn.get()), POLLIN, 0};
            const qint64 left = deadline.remainingTime();
            if (left <= 0 || poll(&fd, 1, int(left)) < 0)
                return payloads << u"<timeout>"_qs;
        }
    }

private:
    std::unique_ptr<PGconn, PgFinish> m_conn;
};

bool pgConfigured()
{
    return !qEnvironmentVariableIsEmpty("ORVANTEL_TEST_PGPORT");
}

QSqlDatabase openQt(const QString &connection, const QString &database)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(u"QPSQL"_qs, connection);
    db.setHostName(qEnvironmentVariable("ORVANTEL_TEST_PGHOST", u"127.0.0.1"_qs));
    db.setPort(qEnvironmentVariableIntValue("ORVANTEL_TEST_PGPORT"));
    db.setUserName(qEnvironmentVariable("ORVANTEL_TEST_PGUSER"));
    db.setPassword(qEnvironmentVariable("ORVANTEL_TEST_PGPASSWORD"));
    db.setDatabaseName(database);
    db.open();
    return db;
}

QString insertWorkOrders(std::initializer_list<int> numbers)
{
    QStringList rows;
    for (int number : numbers)
        rows << u"(%1, 'P-101', 0, 2, '2026-01-05 08:00:00', 'JDOE', 'Seal leaks', 0, 'PROD', 'MIX')"_qs.arg(number);
    return u"INSERT INTO WO_WorkOrders (WO_Nbr, AssetCode, Status, Priority, DateLoaded, RequestedBy, WorkRequest, "
           "IsPM, DivisionID, DepartmentID) VALUES "_qs
            + rows.join(u", "_qs);
}

/// "wo:first,first+1,...,last", written out here rather than by the code under test.
QString numberList(int first, int last)
{
    QStringList numbers;
    for (int n = first; n <= last; ++n)
        numbers << QString::number(n);
    return u"wo:"_qs + numbers.join(u',');
}

} // namespace

class NotifyTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();
    void statementsNotifyWhatTheyChange_data();
    void statementsNotifyWhatTheyChange();
    void databaseWithoutNotificationsSendsNothing();
    void installsTwiceAndLater();
    void sqliteHasNone();

private:
    /// A new database copied from the demo plant with notify.sql (or created by
    /// createSchema() with options when given), with a listener on it and a writer.
    void openCopy(const DemoData::Options *options = nullptr);
    /// Runs the statements on the writer, then the fence; the payloads that arrived before it.
    QStringList run(const QStringList &statements);

    std::unique_ptr<PgConnection> m_admin;
    QString m_template;
    QStringList m_databases;
    std::unique_ptr<PgConnection> m_writer;
    std::unique_ptr<PgConnection> m_listener;
};

void NotifyTest::initTestCase()
{
    if (!pgConfigured()) {
        QVERIFY2(!qEnvironmentVariableIsSet("CI"), "CI needs the PostgreSQL tests: ORVANTEL_TEST_PG* is not set");
        QSKIP("PostgreSQL tests need ORVANTEL_TEST_PG* (scripts/test sets them)");
    }
    m_admin = std::make_unique<PgConnection>(u"postgres"_qs);
    QVERIFY2(m_admin->isOpen(), qPrintable(m_admin->errorText()));
    m_template = u"notify_template_%1"_qs.arg(QCoreApplication::applicationPid());
    QCOMPARE(m_admin->exec(u"CREATE DATABASE "_qs + m_template), QString());
    {
        QSqlDatabase db = openQt(u"template"_qs, m_template);
        QVERIFY2(db.isOpen(), qPrintable(db.lastError().text()));
        DemoData::createSchema(db);
        DemoData::populate(db);
        db.close();
    }
    QSqlDatabase::removeDatabase(u"template"_qs);
}

void NotifyTest::cleanupTestCase()
{
    if (m_admin && !m_template.isEmpty())
        m_admin->exec(u"DROP DATABASE IF EXISTS "_qs + m_template + u" WITH (FORCE)"_qs);
}

void NotifyTest::cleanup()
{
    m_writer.reset();
    m_listener.reset();
    for (const QString &name : std::exchange(m_databases, {})) {
        QSqlDatabase::removeDatabase(name);
        m_admin->exec(u"DROP DATABASE IF EXISTS "_qs + name + u" WITH (FORCE)"_qs);
    }
}

void NotifyTest::openCopy(const DemoData::Options *options)
{
    const QString name = u"notify_%1_%2"_qs.arg(QCoreApplication::applicationPid()).arg(m_databases.size() + 1);
    m_databases << name;
    if (options) {
        QCOMPARE(m_admin->exec(u"CREATE DATABASE "_qs + name), QString());
        QSqlDatabase db = openQt(name, name);
        QVERIFY2(db.isOpen(), qPrintable(db.lastError().text()));
        DemoData::createSchema(db, *options);
        DemoData::populate(db, *options);
    } else {
        // A copy is far quicker than generating the plant again.
        QCOMPARE(m_admin->exec(u"CREATE DATABASE "_qs + name + u" TEMPLATE "_qs + m_template), QString());
    }
    m_writer = std::make_unique<PgConnection>(name);
    m_listener = std::make_unique<PgConnection>(name);
    QVERIFY2(m_writer->isOpen() && m_listener->isOpen(), qPrintable(m_writer->errorText() + m_listener->errorText()));
    QCOMPARE(m_listener->exec(u"LISTEN "_qs + QLatin1String(Channel)), QString());
    QCOMPARE(m_listener->exec(u"LISTEN "_qs + QLatin1String(Fence)), QString());
}

QStringList NotifyTest::run(const QStringList &statements)
{
    for (const QString &statement : statements) {
        const QString error = m_writer->exec(statement);
        if (!error.isEmpty())
            return {u"<error> "_qs + error};
    }
    const QString error = m_writer->exec(u"NOTIFY "_qs + QLatin1String(Fence));
    if (!error.isEmpty())
        return {u"<error> "_qs + error};
    return m_listener->payloadsUntilFence();
}

void NotifyTest::statementsNotifyWhatTheyChange_data()
{
    QTest::addColumn<QStringList>("statements");
    QTest::addColumn<QStringList>("payloads");

    // The demo plant: work orders 10001 to 11500.
    QTest::addRow("insert one") << QStringList {insertWorkOrders({20001})} << QStringList {u"wo:20001"_qs};
    QTest::addRow("creation procedure") << QStringList {u"CALL sp_QX_CreateWorkOrder('P-101', 'x', 2, 'JDOE')"_qs}
                                        << QStringList {u"wo:11501"_qs};
    QTest::addRow("insert three, listed in order")
            << QStringList {insertWorkOrders({20003, 20001, 20002})} << QStringList {u"wo:20001,20002,20003"_qs};
    QTest::addRow("update two")
            << QStringList {u"UPDATE WO_WorkOrders SET Status = 3 WHERE WO_Nbr IN (10042, 10007)"_qs}
            << QStringList {u"wo:10007,10042"_qs};
    QTest::addRow("delete one") << QStringList {u"DELETE FROM WO_WorkOrders WHERE WO_Nbr = 10005"_qs}
                                << QStringList {u"wo:10005"_qs};
    QTest::addRow("renumber: old and new number")
            << QStringList {u"UPDATE WO_WorkOrders SET WO_Nbr = WO_Nbr + 10000 WHERE WO_Nbr IN (10001, 10002)"_qs}
            << QStringList {u"wo:10001,10002,20001,20002"_qs};
    QTest::addRow("each statement of a transaction")
            << QStringList {u"BEGIN"_qs, u"UPDATE WO_WorkOrders SET Priority = 1 WHERE WO_Nbr = 10001"_qs,
                            u"DELETE FROM WO_WorkOrders WHERE WO_Nbr = 10002"_qs, u"COMMIT"_qs}
            << QStringList {u"wo:10001"_qs, u"wo:10002"_qs};
    QTest::addRow("rolled back") << QStringList {u"BEGIN"_qs, u"DELETE FROM WO_WorkOrders WHERE WO_Nbr = 10002"_qs,
                                                 u"ROLLBACK"_qs}
                                 << QStringList {};
    QTest::addRow("no row changed") << QStringList {u"UPDATE WO_WorkOrders SET Status = 3 WHERE WO_Nbr = 99"_qs,
                                                    u"DELETE FROM WO_WorkOrders WHERE WO_Nbr = 99"_qs,
                                                    u"UPDATE GS_Assets SET Descr = 'x' WHERE AssetCode = 'NO-SUCH'"_qs,
                                                    u"DELETE FROM GS_LinkedFiles WHERE FileID = -1"_qs}
                                    << QStringList {};

    // 7000 bytes at most: "wo:" and 1,166 numbers of five digits with commas make 6,998.
    QTest::addRow("longest list")
            << QStringList {u"UPDATE WO_WorkOrders SET Priority = 1 WHERE WO_Nbr BETWEEN 10001 AND 11166"_qs}
            << QStringList {numberList(10001, 11166)};
    QTest::addRow("one number more is everything")
            << QStringList {u"UPDATE WO_WorkOrders SET Priority = 1 WHERE WO_Nbr BETWEEN 10001 AND 11167"_qs}
            << QStringList {u"all"_qs};
    QTest::addRow("thousands inserted")
            << QStringList {u"INSERT INTO WO_WorkOrders (WO_Nbr, AssetCode, DateLoaded, DivisionID, DepartmentID) "
                            "SELECT n, 'P-101', '2026-01-05 08:00:00', 'PROD', 'MIX' "
                            "FROM generate_series(20001, 30000) n"_qs}
            << QStringList {u"all"_qs};
    QTest::addRow("all deleted") << QStringList {u"DELETE FROM WO_WorkOrders"_qs} << QStringList {u"all"_qs};
    QTest::addRow("truncate") << QStringList {u"TRUNCATE WO_WorkOrders"_qs} << QStringList {u"all"_qs};

    QTest::addRow("asset description")
            << QStringList {u"UPDATE GS_Assets SET Descr = 'Transfer pump' WHERE AssetCode = 'P-101'"_qs}
            << QStringList {u"all"_qs};
    QTest::addRow("new asset") << QStringList {u"INSERT INTO GS_Assets (AssetCode, DivisionID, DepartmentID) "
                                               "VALUES ('P-999', 'PROD', 'MIX')"_qs}
                               << QStringList {u"all"_qs};
    QTest::addRow("user name") << QStringList {u"UPDATE GS_Users SET Name = 'Jo Doe' WHERE UserID = 'JDOE'"_qs}
                               << QStringList {u"all"_qs};
    QTest::addRow("user deleted") << QStringList {u"DELETE FROM GS_Users WHERE UserID = 'CONTRACTOR'"_qs}
                                  << QStringList {u"all"_qs};
    QTest::addRow("status text") << QStringList {u"UPDATE WO_Statuses SET Descr = 'Done' WHERE Status = 3"_qs}
                                 << QStringList {u"all"_qs};
    QTest::addRow("new status") << QStringList {u"INSERT INTO WO_Statuses VALUES (5, 'Cancelled')"_qs}
                                << QStringList {u"all"_qs};
    // Not in the grid's view: the control filters on the work orders' own columns.
    QTest::addRow("division text")
            << QStringList {u"UPDATE GS_Divisions SET Descr = 'Make' WHERE DivisionID = 'PROD'"_qs} << QStringList {};

    QTest::addRow("linked file added")
            << QStringList {u"INSERT INTO GS_LinkedFiles VALUES (900, 'P-101', 'Photo', NULL, 'P-101 new.jpg')"_qs}
            << QStringList {u"files"_qs};
    QTest::addRow("linked file renamed")
            << QStringList {u"UPDATE GS_LinkedFiles SET FileName = 'renamed.pdf' WHERE FileID = 1"_qs}
            << QStringList {u"files"_qs};
    QTest::addRow("linked files deleted")
            << QStringList {u"DELETE FROM GS_LinkedFiles WHERE FileID < 50"_qs} << QStringList {u"files"_qs};
    QTest::addRow("linked files truncated") << QStringList {u"TRUNCATE GS_LinkedFiles"_qs} << QStringList {u"files"_qs};
    // The payload says which changed, never how: the text does not travel.
    QTest::addRow("hostile request text")
            << QStringList {u"UPDATE WO_WorkOrders SET WorkRequest = 'all'',wo:1,' || repeat('x', 9000) "
                            "WHERE WO_Nbr = 10003"_qs}
            << QStringList {u"wo:10003"_qs};
}

void NotifyTest::statementsNotifyWhatTheyChange()
{
    QFETCH(QStringList, statements);
    QFETCH(QStringList, payloads);
    openCopy();
    QCOMPARE(run(statements), payloads);
}

void NotifyTest::databaseWithoutNotificationsSendsNothing()
{
    DemoData::Options options;
    options.workOrders = 40;
    options.linkedFiles = 5;
    options.changeNotifications = false;
    openCopy(&options);
    QCOMPARE(run({insertWorkOrders({20001, 20002}), u"UPDATE WO_WorkOrders SET Status = 3 WHERE WO_Nbr = 10001"_qs,
                  u"DELETE FROM WO_WorkOrders WHERE WO_Nbr = 10002"_qs,
                  u"CALL sp_QX_CreateWorkOrder('P-101', 'x', 2, 'JDOE')"_qs,
                  u"UPDATE GS_Assets SET Descr = 'x' WHERE AssetCode = 'P-101'"_qs,
                  u"INSERT INTO GS_LinkedFiles VALUES (900, 'P-101', 'Photo', NULL, 'P-101 new.jpg')"_qs,
                  u"TRUNCATE WO_WorkOrders"_qs}),
             QStringList {});
}

void NotifyTest::installsTwiceAndLater()
{
    // A customer database made without them, installed later, and again.
    DemoData::Options options;
    options.workOrders = 40;
    options.linkedFiles = 5;
    options.changeNotifications = false;
    openCopy(&options);
    const QSqlDatabase db = QSqlDatabase::database(m_databases.last());
    DemoData::installChangeNotifications(db);
    DemoData::installChangeNotifications(db);
    QSqlQuery q(db);
    QVERIFY2(q.exec(u"SELECT tgrelid::regclass::text || ' ' || count(*) FROM pg_trigger "
                    "WHERE tgname LIKE 'orvantel_notify_%' GROUP BY tgrelid ORDER BY 1"_qs),
             qPrintable(q.lastError().text()));
    QStringList triggers;
    while (q.next())
        triggers << q.value(0).toString();
    QCOMPARE(triggers,
             QStringList({u"gs_assets 4"_qs, u"gs_linkedfiles 4"_qs, u"gs_users 4"_qs, u"wo_statuses 4"_qs,
                          u"wo_workorders 4"_qs}));
    QCOMPARE(run({insertWorkOrders({20001}), u"UPDATE GS_Users SET Name = 'x' WHERE UserID = 'JDOE'"_qs}),
             QStringList({u"wo:20001"_qs, u"all"_qs}));
}

void NotifyTest::sqliteHasNone()
{
    QTemporaryDir dir;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_qs, u"sqlite"_qs);
        db.setDatabaseName(dir.filePath(u"plant.db"_qs));
        QVERIFY(db.open());
        DemoData::createSchema(db); // changeNotifications is on by default and means nothing here
        QVERIFY_EXCEPTION_THROWN(DemoData::installChangeNotifications(db), DemoData::Error);
        QVERIFY(db.tables().contains(u"WO_WorkOrders"_qs));
    }
    QSqlDatabase::removeDatabase(u"sqlite"_qs);
}

QTEST_GUILESS_MAIN(NotifyTest)
#include "tst_notify.moc"

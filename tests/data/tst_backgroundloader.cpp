// Links the data layer alone (also in the ThreadSanitizer build of scripts/test).
#include "backgroundloader.h"
#include "connectionstring.h"
#include "demodata.h"
#include "tcprelay.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTest>

using namespace Orvantel;

static const QString Plant = u"SELECT WO_Nbr, AssetCode FROM vw_QX_WorkOrdersGrid WHERE WO_Nbr > 1 AND WO_Nbr <= 10004 "
                             "ORDER BY WO_Nbr DESC"_qs;

static BackgroundLoader::Request job(const QString &connection, const QString &sql, const QString &sort = {},
                                     int rowLimit = NoRowLimit)
{
    BackgroundLoader::Request request;
    request.connectionString = connection;
    request.statement = Statement(sql);
    request.sort = sort;
    request.rowLimit = rowLimit;
    return request;
}

/// Loads on a thread of the loader's own: the handover, a load at a time, failures, and a
/// loader destroyed while its load waits; on the demo plant in SQLite or PostgreSQL.
class BackgroundLoaderTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { m_dir = std::make_unique<QTemporaryDir>(); }
    void cleanup()
    {
        if (!m_pgDatabase.isEmpty())
            admin(u"postgres"_qs, u"DROP DATABASE IF EXISTS %1 WITH (FORCE)"_qs.arg(std::exchange(m_pgDatabase, {})));
    }

    void loadsSortsAndHandsOver_data()
    {
        QTest::addColumn<QString>("backend");
        QTest::newRow("sqlite") << u"sqlite"_qs;
        QTest::newRow("postgresql") << u"postgresql"_qs;
    }
    void loadsSortsAndHandsOver()
    {
        const QString plant = this->plant(m_pgPort);
        if (plant.isEmpty())
            return;
        BackgroundLoader loader;
        QSignalSpy finished(&loader, &BackgroundLoader::finished);
        QCOMPARE(loader.start(job(plant, Plant, u"AssetCode DESC, WO_Nbr"_qs)), quint64(1));
        // A load at a time: nothing starts while one runs or its result waits.
        QCOMPARE(loader.start(job(plant, Plant)), quint64(0));
        QVERIFY(loader.isBusy());
        QVERIFY(finished.wait(20000));
        QVERIFY(loader.isBusy());
        std::optional<BackgroundLoader::Result> result = loader.takeResult();
        QVERIFY(result && !result->error);
        QVERIFY(!loader.takeResult());
        QCOMPARE(result->ticket, quint64(1));
        QCOMPARE(result->orderedBy, u"AssetCode DESC, WO_Nbr"_qs);
        QList<qint64> numbers;
        for (int record : result->order)
            numbers << result->store.column(0).integer(std::size_t(record));
        QCOMPARE(numbers, (QList<qint64> {10002, 10001, 10003, 10004})); // TK-301, P-104, FN-201, CP-501

        // A failure reaches the owner as a result; the next load starts on a fresh connection.
        QCOMPARE(loader.start(job(plant, u"SELECT * FROM nosuch"_qs)), quint64(2));
        QVERIFY(finished.wait(20000));
        result = loader.takeResult();
        QVERIFY(result && result->error);
        QCOMPARE(loader.start(job(plant, Plant, {}, 2)), quint64(3));
        QVERIFY(finished.wait(20000));
        result = loader.takeResult();
        QVERIFY(result && !result->error);
        QCOMPARE(result->store.recordCount(), 2); // the row limit
        QVERIFY(result->order.empty());
    }

    // The bound on a wait itself is tst_faults' (the control on both engines); here the threads
    // of a destruction while a load waits, also under ThreadSanitizer.
    void destroyedWhileItsLoadWaitsReturnsAtOnce_data() { loadsSortsAndHandsOver_data(); }
    void destroyedWhileItsLoadWaitsReturnsAtOnce()
    {
        // PostgreSQL through a relay that stops passing anything on (the sockets stay open);
        // SQLite with the file locked by another connection's exclusive transaction.
        TestSupport::TcpRelay relay(m_pgPort);
        const QString plant = this->plant(relay.port());
        if (plant.isEmpty())
            return;
        QSqlDatabase locker = QSqlDatabase::addDatabase(u"QSQLITE"_qs, u"locker"_qs);
        const auto unlock = qScopeGuard([&] {
            relay.setForwarding(true);
            locker = QSqlDatabase();
            QSqlDatabase::removeDatabase(u"locker"_qs); // closing it rolls back
        });
        auto loader = std::make_unique<BackgroundLoader>();
        QSignalSpy finished(loader.get(), &BackgroundLoader::finished);
        if (!m_pgDatabase.isEmpty()) { // connected first, so that the silence falls on a statement
            loader->start(job(plant, Plant));
            QVERIFY(finished.wait(20000));
            QVERIFY(!loader->takeResult()->error);
            relay.setForwarding(false);
        } else {
            locker.setDatabaseName(m_dir->filePath(u"plant.db"_qs));
            QVERIFY(locker.open());
            QVERIFY(QSqlQuery(locker).exec(u"BEGIN EXCLUSIVE"_qs));
        }
        loader->start(job(plant, Plant));
        QTest::qWait(300); // the load waits by now
        bool delivered = false;
        connect(loader.get(), &BackgroundLoader::finished, this, [&] { delivered = true; });
        QElapsedTimer clock;
        clock.start();
        loader.reset();
        QVERIFY2(clock.elapsed() < 5000, "destroying the loader waited on its load"); // coarse: far below 15 s
        QTest::qWait(500);
        QVERIFY(!delivered);
    }

private:
    /// Runs sql in database on the test server as its administrator.
    void admin(const QString &database, const QString &sql)
    {
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(u"QPSQL"_qs, u"admin"_qs);
            db.setHostName(u"127.0.0.1"_qs);
            db.setPort(m_pgPort);
            db.setUserName(qEnvironmentVariable("ORVANTEL_TEST_PGUSER"));
            db.setPassword(qEnvironmentVariable("ORVANTEL_TEST_PGPASSWORD"));
            db.setDatabaseName(database);
            QVERIFY2(db.open() && (sql.isEmpty() || QSqlQuery(db).exec(sql)), qPrintable(db.lastError().text()));
            if (sql.isEmpty()) {
                DemoData::createSchema(db);
                DemoData::populate(db);
            }
        }
        QSqlDatabase::removeDatabase(u"admin"_qs);
    }
    /// The connection string of the demo plant of the test's backend: a SQLite file, or a new
    /// PostgreSQL database reached through port (the server's own, or a relay's). Empty when
    /// the test ends (skipped or failed).
    QString plant(quint16 port)
    {
        QFETCH(QString, backend);
        if (backend == u"sqlite") {
            DemoData::createSqliteFile(m_dir->filePath(u"plant.db"_qs));
            return ConnectionString::build({u"sqlite:"_qs + m_dir->filePath(u"plant.db"_qs), {}, {}, {}});
        }
        if (!m_pgPort) {
            if (!qEnvironmentVariableIsEmpty("CI"))
                [] { QFAIL("ORVANTEL_TEST_PG* is not set: the PostgreSQL test server is missing"); }();
            else
                [] { QSKIP("no PostgreSQL test server"); }();
            return {};
        }
        m_pgDatabase = u"tst_background_%1"_qs.arg(QCoreApplication::applicationPid());
        admin(u"postgres"_qs, u"CREATE DATABASE "_qs + m_pgDatabase);
        admin(m_pgDatabase, {});
        if (QTest::currentTestFailed())
            return {};
        return ConnectionString::build({u"postgresql://127.0.0.1:%1"_qs.arg(port), m_pgDatabase,
                                        qEnvironmentVariable("ORVANTEL_TEST_PGUSER"),
                                        qEnvironmentVariable("ORVANTEL_TEST_PGPASSWORD")});
    }

    const quint16 m_pgPort = quint16(qEnvironmentVariableIntValue("ORVANTEL_TEST_PGPORT"));
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_pgDatabase;
};

QTEST_GUILESS_MAIN(BackgroundLoaderTest)
#include "tst_backgroundloader.moc"

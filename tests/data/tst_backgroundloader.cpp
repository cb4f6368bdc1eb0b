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
#include <QUuid>

using namespace Orvantel;

namespace {

const QString Plant = QStringLiteral("SELECT WO_Nbr, AssetCode FROM vw_QX_WorkOrdersGrid WHERE WO_Nbr > 1 "
                                     "AND WO_Nbr <= 10004 ORDER BY WO_Nbr DESC");

QString pgEnv(const char *name)
{
    return qEnvironmentVariable(name);
}

/// The connection string of the demo plant: a SQLite file in dir, or a new PostgreSQL
/// database reached through port (the server's own, or a relay's).
QString plantConnection(const QString &backend, const QString &dir, quint16 port, QString *pgDatabase)
{
    if (backend == QLatin1String("sqlite")) {
        DemoData::createSqliteFile(dir + QStringLiteral("/plant.db"));
        return ConnectionString::build({QStringLiteral("sqlite:") + dir + QStringLiteral("/plant.db"), {}, {}, {}});
    }
    *pgDatabase = QStringLiteral("tst_background_") + QUuid::createUuid().toString(QUuid::Id128).left(10);
    {
        QSqlDatabase admin = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("admin"));
        admin.setHostName(QStringLiteral("127.0.0.1"));
        admin.setPort(pgEnv("ORVANTEL_TEST_PGPORT").toInt());
        admin.setUserName(pgEnv("ORVANTEL_TEST_PGUSER"));
        admin.setPassword(pgEnv("ORVANTEL_TEST_PGPASSWORD"));
        admin.setDatabaseName(QStringLiteral("postgres"));
        if (!admin.open() || !QSqlQuery(admin).exec(QStringLiteral("CREATE DATABASE ") + *pgDatabase))
            qFatal("cannot create %s: %s", qPrintable(*pgDatabase), qPrintable(admin.lastError().text()));
        admin.setDatabaseName(*pgDatabase);
        admin.close();
        if (!admin.open())
            qFatal("cannot open %s", qPrintable(*pgDatabase));
        DemoData::createSchema(admin);
        DemoData::populate(admin);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("admin"));
    return ConnectionString::build({QStringLiteral("postgresql://127.0.0.1:%1").arg(port), *pgDatabase,
                                    pgEnv("ORVANTEL_TEST_PGUSER"), pgEnv("ORVANTEL_TEST_PGPASSWORD")});
}

BackgroundLoader::Request job(const QString &connection, const QString &sql, const QString &sort = {},
                              int rowLimit = NoRowLimit)
{
    BackgroundLoader::Request request;
    request.connectionString = connection;
    request.statement = Statement(sql);
    request.sort = sort;
    request.rowLimit = rowLimit;
    return request;
}

} // namespace

/// Loads on a thread of the loader's own: the handover, a load at a time, failures,
/// silence, and a loader destroyed while its load waits.
class BackgroundLoaderTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void loadsSortsAndHandsOver_data();
    void loadsSortsAndHandsOver();
    void waitsAreBoundedAndDestructionDoesNotWait_data();
    void waitsAreBoundedAndDestructionDoesNotWait();

private:
    bool usePostgres();
    QString connection(quint16 port = 0);

    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_pgDatabase;
};

void BackgroundLoaderTest::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
}

void BackgroundLoaderTest::cleanup()
{
    if (m_pgDatabase.isEmpty())
        return;
    QSqlDatabase admin = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("admin"));
    admin.setHostName(QStringLiteral("127.0.0.1"));
    admin.setPort(pgEnv("ORVANTEL_TEST_PGPORT").toInt());
    admin.setUserName(pgEnv("ORVANTEL_TEST_PGUSER"));
    admin.setPassword(pgEnv("ORVANTEL_TEST_PGPASSWORD"));
    admin.setDatabaseName(QStringLiteral("postgres"));
    if (admin.open())
        QSqlQuery(admin).exec(QStringLiteral("DROP DATABASE IF EXISTS %1 WITH (FORCE)").arg(m_pgDatabase));
    admin = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("admin"));
    m_pgDatabase.clear();
}

bool BackgroundLoaderTest::usePostgres()
{
    return QByteArray(QTest::currentDataTag()).startsWith("postgresql");
}

void BackgroundLoaderTest::loadsSortsAndHandsOver_data()
{
    QTest::addColumn<QString>("backend");
    QTest::newRow("sqlite") << QStringLiteral("sqlite");
    QTest::newRow("postgresql") << QStringLiteral("postgresql");
}

void BackgroundLoaderTest::loadsSortsAndHandsOver()
{
    QFETCH(QString, backend);
    if (backend == QLatin1String("postgresql") && pgEnv("ORVANTEL_TEST_PGPORT").isEmpty()) {
        if (!qEnvironmentVariableIsEmpty("CI"))
            QFAIL("ORVANTEL_TEST_PG* is not set: the PostgreSQL test server is missing");
        QSKIP("no PostgreSQL test server");
    }
    const QString plant
            = plantConnection(backend, m_dir->path(), quint16(pgEnv("ORVANTEL_TEST_PGPORT").toInt()), &m_pgDatabase);
    BackgroundLoader loader;
    QSignalSpy finished(&loader, &BackgroundLoader::finished);

    QCOMPARE(loader.start(job(plant, Plant, QStringLiteral("AssetCode DESC, WO_Nbr"))),
             quint64(1));
    // A load at a time: nothing starts while one runs or its result waits.
    QCOMPARE(loader.start(job(plant, Plant)), quint64(0));
    QVERIFY(loader.isBusy());
    QVERIFY(finished.wait(20000));
    QVERIFY(loader.isBusy());
    std::optional<BackgroundLoader::Result> result = loader.takeResult();
    QVERIFY(result && !result->error);
    QVERIFY(!loader.takeResult());
    QCOMPARE(result->ticket, quint64(1));
    QCOMPARE(result->store.recordCount(), 4); // work orders 10001..10004
    QCOMPARE(result->orderedBy, QStringLiteral("AssetCode DESC, WO_Nbr"));
    QList<qint64> numbers;
    for (int record : result->order)
        numbers << result->store.column(0).integer(std::size_t(record));
    // TK-301, P-104, FN-201, CP-501
    QCOMPARE(numbers, (QList<qint64>{10002, 10001, 10003, 10004}));

    // A failure reaches the owner as a result; the next load starts on a fresh connection.
    QCOMPARE(loader.start(job(plant, QStringLiteral("SELECT * FROM nosuch"))),
             quint64(2));
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

void BackgroundLoaderTest::waitsAreBoundedAndDestructionDoesNotWait_data()
{
    QTest::addColumn<QString>("backend");
    QTest::addColumn<bool>("destroy"); // destroy the loader while it waits, else let the bound end the wait
    QTest::newRow("sqlite, bound") << QStringLiteral("sqlite") << false;
    QTest::newRow("sqlite, destroyed") << QStringLiteral("sqlite") << true;
    QTest::newRow("postgresql, bound") << QStringLiteral("postgresql") << false;
    QTest::newRow("postgresql, destroyed") << QStringLiteral("postgresql") << true;
}

void BackgroundLoaderTest::waitsAreBoundedAndDestructionDoesNotWait()
{
    QFETCH(QString, backend);
    QFETCH(bool, destroy);
    if (backend == QLatin1String("postgresql") && pgEnv("ORVANTEL_TEST_PGPORT").isEmpty()) {
        if (!qEnvironmentVariableIsEmpty("CI"))
            QFAIL("ORVANTEL_TEST_PG* is not set: the PostgreSQL test server is missing");
        QSKIP("no PostgreSQL test server");
    }
    // PostgreSQL through a relay that stops passing anything on (the sockets stay open);
    // SQLite with the file locked by another connection's exclusive transaction.
    TestSupport::TcpRelay relay(quint16(pgEnv("ORVANTEL_TEST_PGPORT").toInt()));
    const QString plant = plantConnection(backend, m_dir->path(), relay.port(), &m_pgDatabase);
    QSqlDatabase locker = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("locker"));
    auto loader = std::make_unique<BackgroundLoader>();
    QSignalSpy finished(loader.get(), &BackgroundLoader::finished);
    if (backend == QLatin1String("postgresql")) {
        // Connected first, so that the silence falls on a statement.
        loader->start(job(plant, Plant));
        QVERIFY(finished.wait(20000));
        QVERIFY(!loader->takeResult()->error);
        relay.setForwarding(false);
    } else {
        locker.setDatabaseName(m_dir->path() + QStringLiteral("/plant.db"));
        QVERIFY(locker.open());
        QVERIFY(QSqlQuery(locker).exec(QStringLiteral("BEGIN EXCLUSIVE")));
    }
    loader->start(job(plant, Plant));
    if (destroy) {
        QTest::qWait(300); // the load waits by now
        bool delivered = false;
        connect(loader.get(), &BackgroundLoader::finished, this, [&] { delivered = true; });
        QElapsedTimer clock;
        clock.start();
        loader.reset();
        // Coarse: far below the 15 s a wait may take.
        QVERIFY2(clock.elapsed() < 5000, "destroying the loader waited on its load");
        QTest::qWait(500);
        QVERIFY(!delivered);
    } else {
        // 15 s without a word from the server, or 15 s waiting for the lock.
        QVERIFY(finished.wait(30000));
        const std::optional<BackgroundLoader::Result> result = loader->takeResult();
        QVERIFY(result && result->error);
        QCOMPARE(result->error->number, backend == QLatin1String("postgresql") ? 3003 : 5); // 5: SQLITE_BUSY
    }
    relay.setForwarding(true);
    if (locker.isOpen())
        QSqlQuery(locker).exec(QStringLiteral("ROLLBACK"));
    locker.close();
    locker = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("locker"));
}

QTEST_GUILESS_MAIN(BackgroundLoaderTest)
#include "tst_backgroundloader.moc"

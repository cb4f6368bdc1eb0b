#include "data/connectionstring.h"
#include "data/controlerror.h"
#include "data/database.h"
#include "data/datasource.h"
#include "data/recordset.h"

#include "testsupport.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QTemporaryDir>

using namespace Orvantel;

class tst_Database : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void openFailsWithoutCreatingAnything_data();
    void openFailsWithoutCreatingAnything();
    void dataSourceRefreshesAndKeepsRowsOnFailure();
    void postgresRefreshReadsThroughLibpqAndRefusesWrongPassword();
    void dataSourceReconnectsAfterServerRestart();

private:
    QTemporaryDir m_dir;
};

/// Runs a statement that must succeed, failing the test with the error it reports.
#define VERIFY_NO_ERROR(statement) \
    do { \
        try { \
            statement; \
        } catch (const ControlError &e) { \
            QFAIL(qPrintable(e.messageText())); \
        } \
    } while (false)

static QString connectionString(const QString &server, const QString &database = QString(),
                                const QString &password = TestSupport::PgServer::password())
{
    return ConnectionString::build({server, database, TestSupport::PgServer::user(), password});
}

void tst_Database::initTestCase()
{
    QVERIFY(m_dir.isValid());
    // Every Database must be gone from QtSql without a copy left behind.
    QTest::failOnWarning(QRegularExpression(u"still in use"_qs));
}

void tst_Database::openFailsWithoutCreatingAnything_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("expected");

    QTest::addRow("missing SQLite file") << u"sqlite:missing.db"_qs << u"Database file not found: "_qs;
    QTest::addRow("not a database") << u"sqlite:junk.db"_qs << u"not a database"_qs;
    QTest::addRow("closed SQL Server port") << u"127.0.0.1,1"_qs << QString();
    QTest::addRow("closed PostgreSQL port") << u"postgresql://127.0.0.1:1"_qs << QString();
}

void tst_Database::openFailsWithoutCreatingAnything()
{
    QFETCH(QString, server);
    QFETCH(QString, expected);
    QFile junk(m_dir.filePath(u"junk.db"_qs));
    QVERIFY(junk.open(QIODevice::WriteOnly));
    junk.write(QByteArray(4096, 'x'));
    junk.close();

    Database db(connectionString(server), m_dir.path());
    try {
        db.open();
        QFAIL("opened");
    } catch (const ControlError &e) {
        QVERIFY2(!e.description.isEmpty() && e.description.contains(expected), qPrintable(e.description));
    }
    QVERIFY(!db.isOpen());
    QVERIFY(!QFile::exists(m_dir.filePath(u"missing.db"_qs)));
    QCOMPARE(QFileInfo(junk).size(), 4096);
}

void tst_Database::dataSourceRefreshesAndKeepsRowsOnFailure()
{
    for (const QString &name : {u"a.db"_qs, u"b.db"_qs}) {
        TestSupport::execSqlite(m_dir.filePath(name),
                                {u"CREATE TABLE wo (id INTEGER, code TEXT)"_qs,
                                 u"INSERT INTO wo VALUES (1, 'P-100'), (2, 'V-200')"_qs});
    }
    DataSource source;
    source.setBaseDirectory(m_dir.path());
    source.setConnectionString(connectionString(u"sqlite:a.db"_qs));
    source.setRecordSource(u"SELECT code, id FROM wo ORDER BY id"_qs);
    QSignalSpy refreshed(&source, &DataSource::refreshed);
    VERIFY_NO_ERROR(source.refresh());
    Recordset *rs = source.recordset();
    QCOMPARE(rs->text(1, 0), u"V-200"_qs);
    const QString firstConnection = source.database()->connectionName();

    source.setRecordSource(u"SELECT code FROM nosuch"_qs);
    QVERIFY_THROWS_EXCEPTION(ControlError, source.refresh());
    QCOMPARE(rs->rowCount(), 2);
    QCOMPARE(rs->fieldName(1), u"id"_qs);
    QCOMPARE(refreshed.count(), 1);

    // A new connection string opens the new database and lets the old connection go.
    source.setConnectionString(connectionString(u"sqlite:b.db"_qs));
    source.setRecordSource(u"SELECT id FROM wo WHERE id > 1"_qs);
    VERIFY_NO_ERROR(source.refresh());
    QCOMPARE(rs->rowCount(), 1);
    QVERIFY(!QSqlDatabase::contains(firstConnection));
}

void tst_Database::postgresRefreshReadsThroughLibpqAndRefusesWrongPassword()
{
    REQUIRE_POSTGRES();
    DataSource source;
    source.setConnectionString(connectionString(TestSupport::PgServer::serverName(), u"postgres"_qs));
    source.setRecordSource(u"SELECT 123456789012345.67::numeric(17,2) AS m FROM generate_series(1, 3)"_qs);
    VERIFY_NO_ERROR(source.refresh());
    QCOMPARE(source.recordset()->rowCount(), 3);
    // Through QSqlQuery this numeric would arrive as a double and lose its last digits.
    QCOMPARE(source.recordset()->text(2, 0), u"123456789012345.67"_qs);

    Database db(connectionString(TestSupport::PgServer::serverName(), u"postgres"_qs, u"wrong"_qs));
    try {
        db.open();
        QFAIL("opened");
    } catch (const ControlError &e) {
        QVERIFY2(e.description.contains(u"password authentication failed"_qs), qPrintable(e.description));
    }
}

void tst_Database::dataSourceReconnectsAfterServerRestart()
{
    REQUIRE_POSTGRES();
    const QString script = TestSupport::PgServer::controlScript();
    if (script.isEmpty()) {
        if (TestSupport::runningInCi())
            QFAIL("ORVANTEL_TEST_PGCTL is not set");
        QSKIP("ORVANTEL_TEST_PGCTL is not set: run through scripts/test to stop and start the server");
    }
    bool running = true;
    auto server = [&](const QString &action) {
        running = action == u"start";
        return QProcess::execute(script, {action}) == 0;
    };

    auto restart = qScopeGuard([&] {
        if (!running)
            server(u"start"_qs);
    });
    DataSource source;
    source.setConnectionString(connectionString(TestSupport::PgServer::serverName(), u"postgres"_qs));
    source.setRecordSource(u"SELECT generate_series(1, 5) AS n"_qs);
    VERIFY_NO_ERROR(source.refresh());

    // A restart between two refreshes goes unnoticed.
    QVERIFY(server(u"stop"_qs));
    QVERIFY(server(u"start"_qs));
    VERIFY_NO_ERROR(source.refresh());

    // While the server is down refresh fails and keeps the rows; once it is back, the next one works.
    QVERIFY(server(u"stop"_qs));
    QVERIFY_THROWS_EXCEPTION(ControlError, source.refresh());
    QCOMPARE(source.recordset()->rowCount(), 5);
    QVERIFY(server(u"start"_qs));
    source.setRecordSource(u"SELECT generate_series(1, 3) AS n"_qs);
    VERIFY_NO_ERROR(source.refresh());
    QCOMPARE(source.recordset()->rowCount(), 3);
}

QTEST_GUILESS_MAIN(tst_Database)
#include "tst_database.moc"
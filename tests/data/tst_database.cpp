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
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

using namespace Orvantel;

class tst_Database : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void fromSqlErrorDescribesTheFailure_data();
    void fromSqlErrorDescribesTheFailure();
    void openFailsWithoutCreatingAnything_data();
    void openFailsWithoutCreatingAnything();
    void sqliteOpensRelativeToBaseDirectory();
    void dataSourceRefreshesAndKeepsRowsOnFailure();
    void postgresLoadsTypedValues();
    void postgresRefusesWrongPassword();
    void dataSourceReconnectsAfterServerRestart();

private:
    QString createSqlite(const QString &relativePath);
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

QString tst_Database::createSqlite(const QString &relativePath)
{
    const QString path = m_dir.filePath(relativePath);
    QDir().mkpath(QFileInfo(path).path());
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_qs, u"setup"_qs);
        db.setDatabaseName(path);
        db.open();
        QSqlQuery q(db);
        q.exec(u"CREATE TABLE wo (id INTEGER, code TEXT)"_qs);
        q.exec(u"INSERT INTO wo VALUES (1, 'P-100'), (2, 'V-200')"_qs);
    }
    QSqlDatabase::removeDatabase(u"setup"_qs);
    return path;
}

void tst_Database::fromSqlErrorDescribesTheFailure_data()
{
    QTest::addColumn<QSqlError>("error");
    QTest::addColumn<int>("number");
    QTest::addColumn<QString>("description");

    QTest::addRow("numeric code") << QSqlError(u"Unable to execute statement"_qs, u"UNIQUE constraint failed"_qs,
                                               QSqlError::StatementError, u"2067"_qs)
                                  << 2067 << u"UNIQUE constraint failed (Unable to execute statement)"_qs;
    QTest::addRow("SQLSTATE") << QSqlError(u"QPSQL: Unable to create query"_qs,
                                           u"ERROR:  relation \"x\" does not exist\nLINE 1: FROM x\n(42P01)\n"_qs,
                                           QSqlError::StatementError, u"42P01"_qs)
                              << 3000
                              << u"[42P01] ERROR: relation \"x\" does not exist LINE 1: FROM x "
                                 "(QPSQL: Unable to create query)"_qs;
    QTest::addRow("same text twice") << QSqlError(u"disk I/O error"_qs, u" disk I/O error "_qs,
                                                  QSqlError::StatementError, u"10"_qs)
                                     << 10 << u"disk I/O error"_qs;
    QTest::addRow("zero is no code") << QSqlError(QString(), u"Login failed"_qs, QSqlError::ConnectionError, u"0"_qs)
                                     << 3000 << u"Login failed"_qs;
}

void tst_Database::fromSqlErrorDescribesTheFailure()
{
    QFETCH(QSqlError, error);
    QFETCH(int, number);
    QFETCH(QString, description);
    const ControlError e = ControlError::fromSqlError(error);
    QCOMPARE(e.number, number);
    QCOMPARE(e.description, description);
}

void tst_Database::openFailsWithoutCreatingAnything_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("expected");

    QTest::addRow("missing SQLite file") << u"sqlite:missing.db"_qs << u"Database file not found: "_qs;
    QTest::addRow("SQLite folder") << u"sqlite:."_qs << u"Not a database file: "_qs;
    QTest::addRow("not a database") << u"sqlite:junk.db"_qs << u"not a database"_qs;
    QTest::addRow("closed SQL Server port") << u"127.0.0.1,1"_qs << QString();
    QTest::addRow("closed PostgreSQL port") << u"postgresql://127.0.0.1:1"_qs << QString();
    QTest::addRow("bad port") << u"postgresql://127.0.0.1:x/"_qs << u"Invalid port"_qs;
}

void tst_Database::openFailsWithoutCreatingAnything()
{
    QFETCH(QString, server);
    QFETCH(QString, expected);
    QFile junk(m_dir.filePath(u"junk.db"_qs));
    QVERIFY(junk.open(QIODevice::WriteOnly));
    junk.write(QByteArray(4096, 'x'));
    junk.close();

    {
        Database db(connectionString(server), m_dir.path());
        try {
            db.open();
            QFAIL("opened");
        } catch (const ControlError &e) {
            QVERIFY2(e.description.contains(expected), qPrintable(e.description));
            QVERIFY(!e.description.isEmpty());
        }
        QVERIFY(!db.isOpen());
    }
    QVERIFY(!QFile::exists(m_dir.filePath(u"missing.db"_qs)));
    QCOMPARE(QFileInfo(junk).size(), 4096);
}

void tst_Database::sqliteOpensRelativeToBaseDirectory()
{
    createSqlite(u"sub/maint.db"_qs);
    QString name;
    {
        Database db(connectionString(u"sqlite:sub/maint.db"_qs), m_dir.path());
        const Database other(connectionString(u"sqlite:sub/maint.db"_qs), m_dir.path());
        QVERIFY(db.connectionName() != other.connectionName());
        QVERIFY(db.connectionName() != QLatin1String(QSqlDatabase::defaultConnection));
        name = db.connectionName();
        VERIFY_NO_ERROR(db.execute(u"INSERT INTO wo VALUES (3, 'X')"_qs));
        try {
            db.execute(u"INSERT INTO nosuch VALUES (1)"_qs);
            QFAIL("no error");
        } catch (const ControlError &e) {
            QCOMPARE(e.number, 1);
            QVERIFY2(e.description.contains(u"no such table"_qs), qPrintable(e.description));
        }
    }
    QVERIFY(!QSqlDatabase::contains(name));
}

void tst_Database::dataSourceRefreshesAndKeepsRowsOnFailure()
{
    createSqlite(u"a.db"_qs);
    createSqlite(u"b.db"_qs);
    DataSource source;
    source.setBaseDirectory(m_dir.path());
    source.setConnectionString(connectionString(u"sqlite:a.db"_qs));
    source.setRecordSource(u"SELECT code, id FROM wo ORDER BY id"_qs);
    QSignalSpy refreshed(&source, &DataSource::refreshed);

    VERIFY_NO_ERROR(source.refresh());
    Recordset *rs = source.recordset();
    QCOMPARE(rs->text(1, 0), u"V-200"_qs);
    const QString firstConnection = source.database()->connectionName();
    VERIFY_NO_ERROR(source.refresh());
    QCOMPARE(source.database()->connectionName(), firstConnection);
    QCOMPARE(refreshed.count(), 2);

    source.setRecordSource(u"SELECT code FROM nosuch"_qs);
    QVERIFY_THROWS_EXCEPTION(ControlError, source.refresh());
    QCOMPARE(rs->rowCount(), 2);
    QCOMPARE(rs->fieldName(1), u"id"_qs);
    QCOMPARE(refreshed.count(), 2);

    source.setConnectionString(connectionString(u"sqlite:b.db"_qs));
    source.setRecordSource(u"SELECT id FROM wo WHERE id > 1"_qs);
    VERIFY_NO_ERROR(source.refresh());
    QVERIFY(source.database()->connectionName() != firstConnection);
    QCOMPARE(rs->rowCount(), 1);
}

void tst_Database::postgresLoadsTypedValues()
{
    REQUIRE_POSTGRES();
    const QString name = TestSupport::PgServer::createDatabase(u"tst_data"_qs);
    auto drop = qScopeGuard([&] { TestSupport::PgServer::dropDatabase(name); });
    {
        DataSource source;
        source.setConnectionString(connectionString(TestSupport::PgServer::serverName(), name));
        source.setRecordSource(u"SELECT 7 AS n, 2.5::float8 AS r, timestamp '2024-03-05 07:08:09' AS t, "
                               "date '2024-03-05' AS d, NULL::text AS z, 'Größe'::text AS s, "
                               "123456789012345.67::numeric(17,2) AS m "
                               "FROM generate_series(1, 3)"_qs);
        VERIFY_NO_ERROR(source.refresh());
        const Recordset *rs = source.recordset();
        QCOMPARE(rs->rowCount(), 3);
        QCOMPARE(source.database()->backend(), Backend::PostgreSql);
        // A numeric beyond a double's 15 digits keeps every digit (read as the server's text).
        const QStringList texts = {u"7"_qs,   u"2.5"_qs,   u"2024-03-05 07:08:09"_qs, u"2024-03-05"_qs,
                                   QString(), u"Größe"_qs, u"123456789012345.67"_qs};
        for (int field = 0; field < texts.size(); ++field)
            QCOMPARE(rs->text(2, field), texts.at(field));
        QCOMPARE(rs->value(0, 0).typeId(), QMetaType::LongLong);
        QVERIFY(rs->isNull(0, 4));

        source.setRecordSource(u"SELECT * FROM nosuch"_qs);
        try {
            source.refresh();
            QFAIL("no error");
        } catch (const ControlError &e) {
            QCOMPARE(e.number, int(ControlError::DatabaseFailure));
            QVERIFY2(e.description.startsWith(u"[42P01] "_qs), qPrintable(e.description));
        }
        QCOMPARE(rs->rowCount(), 3);
    }
}

void tst_Database::postgresRefusesWrongPassword()
{
    REQUIRE_POSTGRES();
    Database db(connectionString(TestSupport::PgServer::serverName(), u"postgres"_qs, u"wrong"_qs));
    try {
        db.open();
        QFAIL("opened");
    } catch (const ControlError &e) {
        QVERIFY2(e.description.contains(u"password authentication failed"_qs), qPrintable(e.description));
        QVERIFY(!e.description.endsWith(u'\n'));
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

    const QString name = TestSupport::PgServer::createDatabase(u"tst_data"_qs);
    auto drop = qScopeGuard([&] {
        if (!running)
            server(u"start"_qs);
        TestSupport::PgServer::dropDatabase(name);
    });
    DataSource source;
    source.setConnectionString(connectionString(TestSupport::PgServer::serverName(), name));
    source.setRecordSource(u"SELECT generate_series(1, 5) AS n"_qs);
    VERIFY_NO_ERROR(source.refresh());

    // A restart between two refreshes goes unnoticed.
    QVERIFY(server(u"stop"_qs));
    QVERIFY(server(u"start"_qs));
    VERIFY_NO_ERROR(source.refresh());
    QCOMPARE(source.recordset()->rowCount(), 5);

    // While the server is down refresh fails and keeps the rows; once it is back, the next one works.
    QVERIFY(server(u"stop"_qs));
    QVERIFY_THROWS_EXCEPTION(ControlError, source.refresh());
    QVERIFY_THROWS_EXCEPTION(ControlError, source.refresh());
    QCOMPARE(source.recordset()->rowCount(), 5);
    QVERIFY(server(u"start"_qs));
    source.setRecordSource(u"SELECT generate_series(1, 3) AS n"_qs);
    VERIFY_NO_ERROR(source.refresh());
    QCOMPARE(source.recordset()->rowCount(), 3);
}

QTEST_GUILESS_MAIN(tst_Database)
#include "tst_database.moc"

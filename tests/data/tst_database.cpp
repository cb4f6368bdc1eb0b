#include "connectionstring.h"
#include "controlerror.h"
#include "database.h"
#include "datasource.h"
#include "lookups.h"
#include "recordset.h"

#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <optional>
#include <thread>

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
    void statementsAsSent_data();
    void statementsAsSent();
    void odbcValuesReachFreeTdsAsTyped_data();
    void odbcValuesReachFreeTdsAsTyped();
    void odbcValuesTheDriverCannotTakeAreRefused_data();
    void odbcValuesTheDriverCannotTakeAreRefused();

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

namespace {

/// A TCP socket listening on 127.0.0.1 at a port of the system's choosing.
int listenOnLoopback(int &port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    port = 0;
    if (fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr *>(&address), size) == 0 && ::listen(fd, 1) == 0
        && ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size) == 0)
        port = ntohs(address.sin_port);
    return fd;
}

/// A port on 127.0.0.1 that nothing listens on.
int closedPort()
{
    int port = 0;
    ::close(listenOnLoopback(port));
    return port;
}

/// A stand-in SQL Server on 127.0.0.1: it answers the driver's pre-login, reads its login
/// packet and hangs up. What the login names is what FreeTDS made of the connection string;
/// that it arrived at all shows which host and port it took.
class LoginRecorder
{
public:
    struct Login
    {
        QString user;
        QString password;
        QString database;
    };

    LoginRecorder()
        : m_listener(listenOnLoopback(m_port))
        , m_thread([this] { serve(); })
    {}
    ~LoginRecorder() { finish(); }

    int port() const { return m_port; }

    /// The login the driver sent, once it has given up; nothing when it never came.
    std::optional<Login> finish()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        if (m_listener >= 0)
            ::close(m_listener);
        m_listener = -1;
        return m_login;
    }

private:
    static bool readExactly(int fd, char *data, std::size_t size)
    {
        while (size > 0) {
            const ssize_t got = ::recv(fd, data, size, 0);
            if (got <= 0)
                return false;
            data += got;
            size -= std::size_t(got);
        }
        return true;
    }

    /// One message (its packets joined): its type, or -1.
    static int readMessage(int fd, QByteArray &payload)
    {
        unsigned char header[8];
        do {
            if (!readExactly(fd, reinterpret_cast<char *>(header), sizeof header))
                return -1;
            const int length = header[2] << 8 | header[3];
            QByteArray part(length - 8, '\0');
            if (length < 8 || !readExactly(fd, part.data(), std::size_t(part.size())))
                return -1;
            payload += part;
        } while (!(header[1] & 0x01));
        return header[0];
    }

    static QString loginField(const QByteArray &login, int field, bool obfuscated = false)
    {
        auto word = [&login](int at) { return int(quint8(login.at(at))) | int(quint8(login.at(at + 1))) << 8; };
        const int offset = word(36 + 4 * field);
        const int characters = word(38 + 4 * field);
        QByteArray utf16 = login.mid(offset, 2 * characters);
        if (obfuscated) {
            for (char &c : utf16) {
                const quint8 b = quint8(c) ^ 0xA5;
                c = char(quint8(b << 4 | b >> 4));
            }
        }
        return QString::fromUtf16(reinterpret_cast<const char16_t *>(utf16.constData()), characters);
    }

    void serve()
    {
        pollfd listener {m_listener, POLLIN, 0};
        // Bounded: the driver gives up within its login timeout, and finish() ends the wait.
        for (int waited = 0; !m_stop && waited < 30000; waited += 50) {
            if (::poll(&listener, 1, 50) > 0)
                break;
        }
        if (!(listener.revents & POLLIN))
            return;
        const int client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            return;
        const timeval limit {10, 0};
        ::setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        QByteArray prelogin;
        if (readMessage(client, prelogin) == 0x12) {
            // Pre-login answer: an 8-byte header (tabular result, last packet, 26 bytes), two
            // options (VERSION at 11, 6 bytes; ENCRYPTION at 17, 1 byte), their end, then their
            // data: a version and "encryption not supported".
            const QByteArray answer = QByteArray::fromHex("0401001a00000100"
                                                          "00000b0006"
                                                          "0100110001"
                                                          "ff"
                                                          "0f0007d00000"
                                                          "02");
            QByteArray login;
            if (::send(client, answer.constData(), std::size_t(answer.size()), MSG_NOSIGNAL) == answer.size()
                && readMessage(client, login) == 0x10 && login.size() >= 94) {
                m_login = Login {loginField(login, 1), loginField(login, 2, true), loginField(login, 8)};
            }
        }
        ::close(client);
    }

    int m_port = 0;
    int m_listener;
    std::atomic<bool> m_stop {false};
    std::optional<Login> m_login;
    std::thread m_thread;
};

} // namespace

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

void tst_Database::statementsAsSent_data()
{
    // Lookups and creation, per dialect; no SQL Server runs here, so its texts are checked as sent.
    QTest::addColumn<QString>("statement");
    QTest::addColumn<int>("backend");
    QTest::addColumn<QString>("sql");
    QTest::addColumn<QVariantList>("values");
    const int sqlServer = int(Backend::SqlServer);
    const int postgres = int(Backend::PostgreSql);
    const int sqlite = int(Backend::Sqlite);
    const QVariantList work {u"A1"_qs, u"Fix the pump's seal \\'"_qs, 2, u"JDOE"_qs};
    QTest::addRow("sql server: assets") << u"assets"_qs << sqlServer
                                        << u"SELECT AssetCode, ISNULL(Descr,AssetCode) AS Descr FROM GS_Assets WHERE "
                                           "AssetCode IS NOT NULL ORDER BY AssetCode"_qs
                                        << QVariantList {};
    QTest::addRow("postgresql: assets") << u"assets"_qs << postgres
                                        << u"SELECT AssetCode, COALESCE(Descr,AssetCode) AS Descr FROM GS_Assets "
                                           "WHERE AssetCode IS NOT NULL ORDER BY AssetCode"_qs
                                        << QVariantList {};
    QTest::addRow("sqlite: divisions")
            << u"divisions"_qs << sqlite
            << u"SELECT DivisionID FROM GS_Divisions WHERE DivisionID IS NOT NULL ORDER BY DivisionID"_qs
            << QVariantList {};
    QTest::addRow("sql server: validate")
            << u"validate"_qs << sqlServer << u"SELECT * FROM GS_Assets WHERE AssetCode = ?"_qs
            << QVariantList {u"\\' OR 1=1 --"_qs};
    QTest::addRow("postgresql: validate")
            << u"validate"_qs << postgres << u"SELECT * FROM GS_Assets WHERE AssetCode = $1"_qs
            << QVariantList {u"\\' OR 1=1 --"_qs};
    QTest::addRow("sql server: create") << u"create"_qs << sqlServer << u"EXEC sp_QX_CreateWorkOrder ?, ?, ?, ?"_qs
                                        << work;
    QTest::addRow("postgresql: create") << u"create"_qs << postgres << u"CALL sp_QX_CreateWorkOrder($1, $2, $3, $4)"_qs
                                        << work;
    QTest::addRow("sqlite: create") << u"create"_qs << sqlite
                                    << u"INSERT INTO sp_QX_CreateWorkOrder VALUES (?, ?, ?, ?)"_qs << work;
}

void tst_Database::statementsAsSent()
{
    QFETCH(QString, statement);
    QFETCH(int, backend);
    QFETCH(QString, sql);
    QFETCH(QVariantList, values);
    const SqlDialect dialect {Backend(backend)};
    Statement built;
    if (statement == u"assets")
        built = comboListStatement(dialect, u"GS_Assets"_qs, u"AssetCode"_qs, u"Descr"_qs);
    else if (statement == u"divisions")
        built = comboListStatement(dialect, u"GS_Divisions"_qs, u"DivisionID"_qs, QString());
    else if (statement == u"validate")
        built = assetLookupStatement(dialect, u"\\' OR 1=1 --"_qs);
    else
        built = createWorkOrderStatement(dialect, u"A1"_qs, 2, u"Fix the pump's seal \\'"_qs, u"JDOE"_qs);
    QCOMPARE(built.sql, sql);
    QCOMPARE(built.values, values);
    // The priority goes as an integer, every other value as text.
    for (const QVariant &value : std::as_const(built.values))
        QCOMPARE(value.metaType(), value == QVariant(2) ? QMetaType::fromType<int>() : QMetaType::fromType<QString>());
}

void tst_Database::odbcValuesReachFreeTdsAsTyped_data()
{
    QTest::addColumn<QString>("database");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addRow("plain") << u"Maint"_qs << u"sa"_qs << u"pw"_qs;
    QTest::addRow("semicolons and keywords") << u"Maint;PORT=1"_qs << u"sa;DATABASE=master"_qs << u"pw;UID=sa"_qs;
    QTest::addRow("equals signs") << u"a=b"_qs << u"x==y"_qs << u"=pw="_qs;
    QTest::addRow("opening braces") << u"{Maint"_qs << u"s{a"_qs << u"{pw{;PORT=1"_qs;
    QTest::addRow("quotes") << u"\"Maint\""_qs << u"O'Brien"_qs << u"'pw;x'"_qs;
    QTest::addRow("blanks and letters beyond ASCII") << u" Maint "_qs << u"J\u00fcrgen \u00d6l\u00df"_qs << u"p w"_qs;
}

void tst_Database::odbcValuesReachFreeTdsAsTyped()
{
    QFETCH(QString, database);
    QFETCH(QString, user);
    QFETCH(QString, password);
    qunsetenv("ORVANTEL_ODBC_DRIVER");
    LoginRecorder server;
    QVERIFY(server.port() > 0);
    Database db(ConnectionString::build({u"127.0.0.1,"_qs + QString::number(server.port()), database, user, password}));
    // The stand-in hangs up after the login, so the connection fails.
    QVERIFY_THROWS_EXCEPTION(ControlError, db.open());
    const std::optional<LoginRecorder::Login> login = server.finish();
    QVERIFY2(login, "the driver did not log in at the port of the server name");
    QCOMPARE(login->database, database);
    QCOMPARE(login->user, user);
    QCOMPARE(login->password, password);
}

void tst_Database::odbcValuesTheDriverCannotTakeAreRefused_data()
{
    QTest::addColumn<QByteArray>("driver"); // $ORVANTEL_ODBC_DRIVER; null: unset (FreeTDS)
    QTest::addColumn<QString>("server"); // empty: 127.0.0.1 at a closed port
    QTest::addColumn<QString>("database");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password"); // %1: a folder of the test's own
    QTest::addColumn<QString>("refusal"); // empty: the connection is attempted
    const QByteArray freeTds;
    const QString notAttempted = u"; the connection was not attempted."_qs;
    const QString freeTdsBrace = u" contains '}', which the FreeTDS ODBC driver cannot take"_qs + notAttempted;
    const QString fileDsn
            = u" contains \".dsn\", which would make the connection read a file DSN instead"_qs + notAttempted;
    QTest::addRow("braces, semicolons, quotes: attempted")
            << freeTds << QString() << u"{a;b=c"_qs << u"'\"x"_qs << u"p{w;x=y"_qs << QString();
    QTest::addRow("password adding a port") << freeTds << QString() << u"Maint"_qs << u"sa"_qs << u"a};PORT=5999"_qs
                                            << u"The password"_qs + freeTdsBrace;
    QTest::addRow("password naming a dump file")
            << freeTds << QString() << u"Maint"_qs << u"sa"_qs << u"a};DumpFile=%1/elsewhere.log}"_qs
            << u"The password"_qs + freeTdsBrace;
    QTest::addRow("user") << freeTds << QString() << u"Maint"_qs << u"sa}"_qs << u"pw"_qs
                          << u"The user ID"_qs + freeTdsBrace;
    QTest::addRow("database") << freeTds << QString() << u"}"_qs << u"sa"_qs << u"pw"_qs
                              << u"The database name"_qs + freeTdsBrace;
    QTest::addRow("server") << freeTds << u"127.0.0.1};PORT=5999"_qs << u"Maint"_qs << u"sa"_qs << u"pw"_qs
                            << u"The server name"_qs + freeTdsBrace;
    QTest::addRow("FreeTDS named in another case") << QByteArray("freetds") << QString() << u"Maint"_qs << u"sa"_qs
                                                   << u"p}"_qs << u"The password"_qs + freeTdsBrace;
    QTest::addRow("a driver not known to undo }}")
            << QByteArray("Some ODBC Driver") << QString() << u"Maint"_qs << u"sa"_qs << u"p}"_qs
            << u"The password contains '}', which the ODBC driver \"Some ODBC Driver\" is not known to take"_qs
                    + notAttempted;
    QTest::addRow("driver name with }") << QByteArray("FreeTDS};PORT=5999") << QString() << u"Maint"_qs << u"sa"_qs
                                        << u"pw"_qs
                                        << u"The ODBC driver name in ORVANTEL_ODBC_DRIVER contains '}'"_qs
                    + notAttempted;
    QTest::addRow("file DSN in the database")
            << freeTds << QString() << u"maint.DSN"_qs << u"sa"_qs << u"pw"_qs << u"The database name"_qs + fileDsn;
    QTest::addRow("file DSN in the password")
            << freeTds << QString() << u"Maint"_qs << u"sa"_qs << u"x.dsn"_qs << u"The password"_qs + fileDsn;
    QTest::addRow("file DSN as the driver") << QByteArray("/etc/odbc.dsn") << QString() << u"Maint"_qs << u"sa"_qs
                                            << u"pw"_qs << u"The ODBC driver name in ORVANTEL_ODBC_DRIVER"_qs + fileDsn;
}

void tst_Database::odbcValuesTheDriverCannotTakeAreRefused()
{
    QFETCH(QByteArray, driver);
    QFETCH(QString, server);
    QFETCH(QString, database);
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(QString, refusal);
    QTemporaryDir dumps;
    const QString dump = dumps.filePath(u"freetds.log"_qs);
    password.replace(u"%1"_qs, dumps.path());
    // FreeTDS logs each connection attempt here; a refused one must not reach it at all.
    qputenv("TDSDUMP", QFile::encodeName(dump));
    if (driver.isNull())
        qunsetenv("ORVANTEL_ODBC_DRIVER");
    else
        qputenv("ORVANTEL_ODBC_DRIVER", driver);
    const auto restore = qScopeGuard([] {
        qunsetenv("TDSDUMP");
        qunsetenv("ORVANTEL_ODBC_DRIVER");
    });
    const int port = closedPort();
    Database db(ConnectionString::build(
            {server.isEmpty() ? u"127.0.0.1,"_qs + QString::number(port) : server, database, user, password}));
    try {
        db.open();
        QFAIL("opened");
    } catch (const ControlError &e) {
        if (refusal.isEmpty()) {
            QFile attempt(dump);
            QVERIFY2(attempt.open(QIODevice::ReadOnly), qPrintable(e.description));
            const QByteArray where = "Connecting to 127.0.0.1 port " + QByteArray::number(port) + '\n';
            QVERIFY2(attempt.readAll().contains(where), where.constData());
        } else {
            QCOMPARE(e.messageText(), u"Error 3000\r\n"_qs + refusal);
            QVERIFY(!e.description.contains(password));
            QVERIFY(QDir(dumps.path()).isEmpty());
        }
    }
}

QTEST_GUILESS_MAIN(tst_Database)
#include "tst_database.moc"
#include "connectionstring.h"
#include "controlerror.h"
#include "database.h"
#include "datasource.h"
#include "lookups.h"
#include "recordset.h"

#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

using namespace Orvantel;
using TestSupport::PgServer;
using TestSupport::thrown;

static QString connectionString(const QString &server, const QString &database = u"postgres"_qs,
                                const QString &password = PgServer::password())
{
    return ConnectionString::build({server, database, PgServer::user(), password});
}

namespace {

/// A stand-in SQL Server on 127.0.0.1 at a port of the system's choosing: it answers the
/// driver's pre-login, reads its login packet and hangs up. What the login names is what
/// FreeTDS made of the connection string; that it arrived at all shows the host and port taken.
class LoginRecorder
{
public:
    LoginRecorder()
    {
        sockaddr_in address {};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (::bind(m_listener, reinterpret_cast<sockaddr *>(&address), size) == 0 && ::listen(m_listener, 1) == 0
            && ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &size) == 0)
            m_port = ntohs(address.sin_port);
        m_thread = std::thread([this] { serve(); });
    }
    ~LoginRecorder() { finish(); }

    int port() const { return m_port; }

    /// The user, password and database the driver logged in with, once it has given up;
    /// empty when no login came.
    QStringList finish()
    {
        ::shutdown(m_listener, SHUT_RDWR); // ends a wait in accept()
        if (m_thread.joinable())
            m_thread.join();
        return m_login;
    }

private:
    /// One message (its packets joined): its type, or -1.
    static int readMessage(int fd, QByteArray &payload)
    {
        unsigned char header[8];
        do {
            if (::recv(fd, header, sizeof header, MSG_WAITALL) != sizeof header)
                return -1;
            QByteArray part(std::max((header[2] << 8 | header[3]) - 8, 0), '\0');
            if (::recv(fd, part.data(), std::size_t(part.size()), MSG_WAITALL) != part.size())
                return -1;
            payload += part;
        } while (!(header[1] & 0x01));
        return header[0];
    }

    static QString loginField(const QByteArray &login, int field, bool obfuscated = false)
    {
        auto word = [&login](int at) { return int(quint8(login.at(at))) | int(quint8(login.at(at + 1))) << 8; };
        const int characters = word(38 + 4 * field);
        QByteArray utf16 = login.mid(word(36 + 4 * field), 2 * characters);
        for (char &c : utf16) {
            const quint8 b = quint8(c) ^ 0xA5;
            if (obfuscated)
                c = char(quint8(b << 4 | b >> 4));
        }
        return QString::fromUtf16(reinterpret_cast<const char16_t *>(utf16.constData()), characters);
    }

    void serve()
    {
        const int client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            return;
        const timeval limit {10, 0};
        ::setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        // Pre-login answer: an 8-byte header (tabular result, last packet, 26 bytes), two options
        // (VERSION at 11, 6 bytes; ENCRYPTION at 17, 1 byte), their end, then their data: a version
        // and "encryption not supported".
        const QByteArray answer = QByteArray::fromHex("0401001a00000100 00000b0006 0100110001 ff 0f0007d00000 02");
        QByteArray prelogin, login;
        if (readMessage(client, prelogin) == 0x12
            && ::send(client, answer.constData(), std::size_t(answer.size()), MSG_NOSIGNAL) == answer.size()
            && readMessage(client, login) == 0x10 && login.size() >= 94)
            m_login = QStringList {loginField(login, 1), loginField(login, 2, true), loginField(login, 8)};
        ::close(client);
    }

    int m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int m_port = 0;
    QStringList m_login;
    std::thread m_thread;
};

} // namespace

class tst_Database : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        // Every Database must be gone from QtSql without a copy left behind.
        QTest::failOnWarning(QRegularExpression(u"still in use"_qs));
    }

    void openFailsWithoutCreatingAnything_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("expected");
        QTest::addRow("missing SQLite file") << u"sqlite:missing.db"_qs << u"Database file not found: "_qs;
        QTest::addRow("not a database") << u"sqlite:junk.db"_qs << u"not a database"_qs;
    }
    void openFailsWithoutCreatingAnything()
    {
        QFETCH(QString, server);
        QFETCH(QString, expected);
        QFile junk(m_dir.filePath(u"junk.db"_qs));
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write(QByteArray(4096, 'x'));
        junk.close();
        Database db(connectionString(server), m_dir.path());
        const ControlError e = thrown([&] { db.open(); });
        QVERIFY2(e.number && e.description.contains(expected), qPrintable(e.description));
        QVERIFY(!db.isOpen());
        QVERIFY(!QFile::exists(m_dir.filePath(u"missing.db"_qs)));
        QCOMPARE(QFileInfo(junk).size(), 4096);
    }

    void dataSourceRefreshesAndKeepsRowsOnFailure()
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
        QCOMPARE(thrown([&] { source.refresh(); }).messageText(), u"Error 0\r\nno error"_qs);
        Recordset *rs = source.recordset();
        QCOMPARE(rs->text(1, 0), u"V-200"_qs);
        const QString firstConnection = source.database()->connectionName();

        source.setRecordSource(u"SELECT code FROM nosuch"_qs);
        QCOMPARE(thrown([&] { source.refresh(); }).number, 1);
        QCOMPARE(rs->rowCount(), 2);
        QCOMPARE(rs->fieldName(1), u"id"_qs);
        QCOMPARE(refreshed.count(), 1);

        // A new connection string opens the new database and lets the old connection go.
        source.setConnectionString(connectionString(u"sqlite:b.db"_qs));
        source.setRecordSource(u"SELECT id FROM wo WHERE id > 1"_qs);
        QCOMPARE(thrown([&] { source.refresh(); }).messageText(), u"Error 0\r\nno error"_qs);
        QCOMPARE(rs->rowCount(), 1);
        QVERIFY(!QSqlDatabase::contains(firstConnection));
    }

    void postgresRefreshReadsThroughLibpq()
    {
        REQUIRE_POSTGRES();
        DataSource source;
        source.setConnectionString(connectionString(PgServer::serverName()));
        source.setRecordSource(u"SELECT 123456789012345.67::numeric(17,2) AS m FROM generate_series(1, 3)"_qs);
        QCOMPARE(thrown([&] { source.refresh(); }).messageText(), u"Error 0\r\nno error"_qs);
        QCOMPARE(source.recordset()->rowCount(), 3);
        // Through QSqlQuery this numeric would arrive as a double and lose its last digits.
        QCOMPARE(source.recordset()->text(2, 0), u"123456789012345.67"_qs);
    }

    void sqlServerStatementsAsSent_data()
    {
        // No SQL Server runs here, so its texts are checked as sent (the other engines run theirs).
        QTest::addColumn<QString>("sql");
        QTest::addRow("assets") << u"SELECT AssetCode, ISNULL(Descr,AssetCode) AS Descr FROM GS_Assets WHERE "
                                   "AssetCode IS NOT NULL ORDER BY AssetCode"_qs;
        QTest::addRow("divisions")
                << u"SELECT DivisionID FROM GS_Divisions WHERE DivisionID IS NOT NULL ORDER BY DivisionID"_qs;
        QTest::addRow("validate") << u"SELECT * FROM GS_Assets WHERE AssetCode = ?"_qs;
        QTest::addRow("create") << u"EXEC sp_QX_CreateWorkOrder ?, ?, ?, ?"_qs;
    }
    void sqlServerStatementsAsSent()
    {
        QFETCH(QString, sql);
        const QString statement = QString::fromLatin1(QTest::currentDataTag());
        const SqlDialect dialect {Backend::SqlServer};
        const QString hostile = u"\\' OR 1=1 --"_qs, work = u"Fix the pump's seal \\'"_qs;
        Statement built;
        QVariantList values; // the priority goes as an integer, every other value as text
        if (statement == u"assets") {
            built = comboListStatement(dialect, u"GS_Assets"_qs, u"AssetCode"_qs, u"Descr"_qs);
        } else if (statement == u"divisions") {
            built = comboListStatement(dialect, u"GS_Divisions"_qs, u"DivisionID"_qs, QString());
        } else if (statement == u"validate") {
            built = assetLookupStatement(dialect, hostile);
            values = {hostile};
        } else {
            built = createWorkOrderStatement(dialect, u"A1"_qs, 2, work, u"JDOE"_qs);
            values = {u"A1"_qs, work, 2, u"JDOE"_qs};
        }
        QCOMPARE(built.sql, sql);
        QCOMPARE(built.values, values);
        for (int i = 0; i < values.size(); ++i)
            QCOMPARE(built.values.at(i).metaType(), values.at(i).metaType());
    }

    void odbcValuesReachTheServerAsTypedOrAreRefused_data()
    {
        QTest::addColumn<QByteArray>("driver"); // $ORVANTEL_ODBC_DRIVER; null: unset (FreeTDS)
        QTest::addColumn<QString>("server"); // empty: the stand-in server
        QTest::addColumn<QString>("database");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password"); // %1: a folder of the test's own
        QTest::addColumn<QString>("refusal"); // empty: the login arrives as typed
        const auto row = [](const char *name, const char *driver, const char *server, const char *database,
                            const char *user, const char *password, const QString &refusal = QString()) {
            QTest::newRow(name) << QByteArray(driver) << QString::fromLatin1(server) << QString::fromUtf8(database)
                                << QString::fromUtf8(user) << QString::fromUtf8(password) << refusal;
        };
        row("plain", nullptr, "", "Maint", "sa", "pw");
        row("semicolons and keywords", nullptr, "", "Maint;PORT=1", "sa;DATABASE=master", "pw;UID=sa");
        row("equals signs", nullptr, "", "a=b", "x==y", "=pw=");
        row("opening braces", nullptr, "", "{Maint", "s{a", "{pw{;PORT=1");
        row("braces, semicolons, quotes", nullptr, "", "{a;b=c", "'\"x", "p{w;x=y");
        row("quotes", nullptr, "", "\"Maint\"", "O'Brien", "'pw;x'");
        row("blanks and letters beyond ASCII", nullptr, "", " Maint ", "Jürgen Ölß", "p w");
        const QString brace = u" contains '}', which the FreeTDS ODBC driver cannot take"_qs;
        const QString fileDsn = u" contains \".dsn\", which would make the connection read a file DSN instead"_qs;
        row("password adding a port", nullptr, "", "Maint", "sa", "a};PORT=5999", u"The password"_qs + brace);
        row("password naming a dump file", nullptr, "", "Maint", "sa", "a};DumpFile=%1/elsewhere.log}",
            u"The password"_qs + brace);
        row("user", nullptr, "", "Maint", "sa}", "pw", u"The user ID"_qs + brace);
        row("database", nullptr, "", "}", "sa", "pw", u"The database name"_qs + brace);
        row("server", nullptr, "127.0.0.1};PORT=5999", "Maint", "sa", "pw", u"The server name"_qs + brace);
        row("FreeTDS named in another case", "freetds", "", "Maint", "sa", "p}", u"The password"_qs + brace);
        row("a driver not known to undo }}", "Some ODBC Driver", "", "Maint", "sa", "p}",
            u"The password contains '}', which the ODBC driver \"Some ODBC Driver\" is not known to take"_qs);
        row("driver name with }", "FreeTDS};PORT=5999", "", "Maint", "sa", "pw",
            u"The ODBC driver name in ORVANTEL_ODBC_DRIVER contains '}'"_qs);
        row("file DSN in the database", nullptr, "", "maint.DSN", "sa", "pw", u"The database name"_qs + fileDsn);
        row("file DSN in the password", nullptr, "", "Maint", "sa", "x.dsn", u"The password"_qs + fileDsn);
        row("file DSN as the driver", "/etc/odbc.dsn", "", "Maint", "sa", "pw",
            u"The ODBC driver name in ORVANTEL_ODBC_DRIVER"_qs + fileDsn);
    }
    void odbcValuesReachTheServerAsTypedOrAreRefused()
    {
        QFETCH(QByteArray, driver);
        QFETCH(QString, server);
        QFETCH(QString, database);
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(QString, refusal);
        QTemporaryDir dumps;
        password.replace(u"%1"_qs, dumps.path());
        // FreeTDS logs each connection attempt here; a refused one must not reach it at all.
        qputenv("TDSDUMP", QFile::encodeName(dumps.filePath(u"freetds.log"_qs)));
        driver.isNull() ? void(qunsetenv("ORVANTEL_ODBC_DRIVER")) : void(qputenv("ORVANTEL_ODBC_DRIVER", driver));
        const auto restore = qScopeGuard([] {
            qunsetenv("TDSDUMP");
            qunsetenv("ORVANTEL_ODBC_DRIVER");
        });
        LoginRecorder recorder;
        QVERIFY(recorder.port() > 0);
        Database db(ConnectionString::build(
                {server.isEmpty() ? u"127.0.0.1,"_qs + QString::number(recorder.port()) : server, database, user,
                 password}));
        // The stand-in hangs up after the login, so the connection fails either way.
        const ControlError e = thrown([&] { db.open(); });
        QVERIFY(e.number != 0);
        const QStringList login = recorder.finish();
        if (refusal.isEmpty()) {
            QCOMPARE(login, (QStringList {user, password, database}));
            return;
        }
        QCOMPARE(e.messageText(), u"Error 3000\r\n"_qs + refusal + u"; the connection was not attempted."_qs);
        QVERIFY(!e.description.contains(password));
        QVERIFY(QDir(dumps.path()).isEmpty());
        QCOMPARE(login, QStringList());
    }

private:
    QTemporaryDir m_dir;
};

QTEST_GUILESS_MAIN(tst_Database)
#include "tst_database.moc"

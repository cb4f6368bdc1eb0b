#include "connectionstring.h"
#include "database.h"

#include <QTest>

using namespace Orvantel;

class tst_ConnectionString : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void valuesQuoteOnlyWhenNeededAndRoundTrip_data()
    {
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("quoted");
        const auto row = [](const char *name, const char *value, const char *quoted) {
            QTest::newRow(name) << QString::fromLatin1(value) << QString::fromLatin1(quoted);
        };
        row("empty", "", "");
        row("blanks kept", "  a b  ", "  a b  ");
        row("inner quotes kept", "a\"b'c", "a\"b'c");
        row("blank before quote", " 'x", " 'x");
        row("semicolon", ";", "\";\"");
        row("equals", "a=b", "\"a=b\"");
        row("leading single quote", "''", "\"''\"");
        row("leading double quote", "\"pw", "'\"pw'");
        row("both quote kinds", "\"a'b\";c", "\"\"\"a'b\"\";c\"");
        row("injection", "x;Data Source=evil", "\"x;Data Source=evil\"");
    }
    void valuesQuoteOnlyWhenNeededAndRoundTrip()
    {
        QFETCH(QString, value);
        QFETCH(QString, quoted);
        // Every setting holds the value: an empty one still writes each key with nothing after "=".
        const ConnectionSettings settings {value, value, value, value};
        const QString built = ConnectionString::build(settings);
        QCOMPARE(built,
                 u"Provider=SQLOLEDB.1;Data Source=%1;Initial Catalog=%1;User ID=%1;Password=%1;"
                 "Persist Security Info=False"_qs.arg(quoted));
        QCOMPARE(ConnectionString::Reader(built).settings(), settings);
    }

    void readerParsesHandWrittenStrings_data()
    {
        QTest::addColumn<QString>("connectionString");
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("value");
        QTest::addRow("key case and blanks") << u" data SOURCE =srv;"_qs << u"Data Source"_qs << u"srv"_qs;
        QTest::addRow("last one wins") << u"User ID=a;user id=b"_qs << u"User ID"_qs << u"b"_qs;
        QTest::addRow("single quotes doubled") << u"Password='a''b;c'"_qs << u"Password"_qs << u"a'b;c"_qs;
        QTest::addRow("unquoted keeps =") << u"Password=a=b"_qs << u"Password"_qs << u"a=b"_qs;
    }
    void readerParsesHandWrittenStrings()
    {
        QFETCH(QString, connectionString);
        QFETCH(QString, key);
        QFETCH(QString, value);
        QCOMPARE(ConnectionString::Reader(connectionString).value(key), value);
    }

    void targetFollowsDataSource_data()
    {
        // "where": the file for SQLite, host:port for PostgreSQL, the ODBC connection string otherwise.
        QTest::addColumn<QByteArray>("odbcDriver"); // $ORVANTEL_ODBC_DRIVER; empty: unset (FreeTDS)
        QTest::addColumn<QString>("settings"); // server, database, user, password
        QTest::addColumn<QString>("driver");
        QTest::addColumn<QString>("where");
        QTest::addColumn<bool>("valid");
        const auto row = [](const char *name, const char *odbcDriver, const char *settings, const char *driver,
                            const QByteArray &where, bool valid) {
            QTest::newRow(name) << QByteArray(odbcDriver) << QString::fromLatin1(settings)
                                << QString::fromLatin1(driver) << QString::fromLatin1(where) << valid;
        };
        const auto odbc = [](const char *server) -> QByteArray {
            return "DRIVER={FreeTDS};SERVER=" + QByteArray(server) + ";DATABASE=maint;UID=sa;PWD=pw;TDS_Version=7.4";
        };
        row("sqlite relative", "", "sqlite:../m.db maint sa pw", "QSQLITE", "/m.db", true);
        row("sqlite absolute", "", "sqlite:/var/m.db maint sa pw", "QSQLITE", "/var/m.db", true);
        row("pg with port", "", "postgresql://db:5433 maint sa pw", "QPSQL", "db:5433", true);
        row("pg no port, slash", "", "postgresql://db/ maint sa pw", "QPSQL", "db:-1", true);
        row("pg IPv6", "", "postgresql://[::1]:5432 maint sa pw", "QPSQL", "::1:5432", true);
        row("pg bad port", "", "postgresql://h:99999 maint sa pw", "QPSQL", "h:-1", false);
        row("odbc host", "", "SRV01 maint sa pw", "QODBC", odbc("SRV01"), true);
        row("odbc instance", "", "SRV01\\MAINT maint sa pw", "QODBC", odbc("SRV01\\MAINT"), true);
        row("odbc port", "", "10.0.0.5,1533 maint sa pw", "QODBC", odbc("10.0.0.5;PORT=1533"), true);
        row("odbc bad port", "", "srv,x maint sa pw", "QODBC", odbc("srv;PORT=x"), false);
        // A driver that reads "}}" inside braces back as "}" may be given a '}'.
        row("odbc values braced", "ODBC Driver 18 for SQL Server", "srv a;b x=y p}w{", "QODBC",
            "DRIVER={ODBC Driver 18 for SQL Server};SERVER=srv;DATABASE={a;b};UID={x=y};PWD={p}}w{};TDS_Version=7.4",
            true);
    }
    void targetFollowsDataSource()
    {
        QFETCH(QByteArray, odbcDriver);
        QFETCH(QString, settings);
        QFETCH(QString, driver);
        QFETCH(QString, where);
        QFETCH(bool, valid);
        odbcDriver.isEmpty() ? void(qunsetenv("ORVANTEL_ODBC_DRIVER"))
                             : void(qputenv("ORVANTEL_ODBC_DRIVER", odbcDriver));
        const auto restore = qScopeGuard([] { qunsetenv("ORVANTEL_ODBC_DRIVER"); });
        const QStringList s = settings.split(u' ');
        const ConnectionTarget target
                = resolveConnectionTarget(ConnectionString::build({s[0], s[1], s[2], s[3]}), u"/base"_qs);
        QCOMPARE(target.driver, driver);
        QCOMPARE(target.error.isEmpty(), valid);
        if (driver == u"QPSQL") {
            QCOMPARE(target.hostName + u':' + QString::number(target.port), where);
            QCOMPARE((QStringList {target.databaseName, target.userName, target.password}), s.mid(1));
        } else {
            QCOMPARE(target.databaseName, where);
        }
    }
};

QTEST_GUILESS_MAIN(tst_ConnectionString)
#include "tst_connectionstring.moc"

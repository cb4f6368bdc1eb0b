#include "connectionstring.h"
#include "database.h"

#include <QTest>

using namespace Orvantel;

class tst_ConnectionString : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void valuesQuoteOnlyWhenNeededAndRoundTrip_data();
    void valuesQuoteOnlyWhenNeededAndRoundTrip();
    void readerParsesHandWrittenStrings_data();
    void readerParsesHandWrittenStrings();
    void targetFollowsDataSource_data();
    void targetFollowsDataSource();
    void odbcValuesAreBraced();
};

void tst_ConnectionString::valuesQuoteOnlyWhenNeededAndRoundTrip_data()
{
    QTest::addColumn<QString>("value");
    QTest::addColumn<QString>("quoted");

    QTest::addRow("empty") << QString() << QString();
    QTest::addRow("blanks kept") << u"  a b  "_qs << u"  a b  "_qs;
    QTest::addRow("inner quotes kept") << u"a\"b'c"_qs << u"a\"b'c"_qs;
    QTest::addRow("blank before quote") << u" 'x"_qs << u" 'x"_qs;
    QTest::addRow("semicolon") << u";"_qs << u"\";\""_qs;
    QTest::addRow("equals") << u"a=b"_qs << u"\"a=b\""_qs;
    QTest::addRow("leading single quote") << u"''"_qs << u"\"''\""_qs;
    QTest::addRow("leading double quote") << u"\"pw"_qs << u"'\"pw'"_qs;
    QTest::addRow("both quote kinds") << u"\"a'b\";c"_qs << u"\"\"\"a'b\"\";c\""_qs;
    QTest::addRow("injection") << u"x;Data Source=evil"_qs << u"\"x;Data Source=evil\""_qs;
}

void tst_ConnectionString::valuesQuoteOnlyWhenNeededAndRoundTrip()
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

void tst_ConnectionString::readerParsesHandWrittenStrings_data()
{
    QTest::addColumn<QString>("connectionString");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");

    QTest::addRow("key case and blanks") << u" data SOURCE =srv;"_qs << u"Data Source"_qs << u"srv"_qs;
    QTest::addRow("last one wins") << u"User ID=a;user id=b"_qs << u"User ID"_qs << u"b"_qs;
    QTest::addRow("single quotes doubled") << u"Password='a''b;c'"_qs << u"Password"_qs << u"a'b;c"_qs;
    QTest::addRow("unquoted keeps =") << u"Password=a=b"_qs << u"Password"_qs << u"a=b"_qs;
}

void tst_ConnectionString::readerParsesHandWrittenStrings()
{
    QFETCH(QString, connectionString);
    QFETCH(QString, key);
    QFETCH(QString, value);
    QCOMPARE(ConnectionString::Reader(connectionString).value(key), value);
}

void tst_ConnectionString::targetFollowsDataSource_data()
{
    // "where": the file for SQLite, host:port for PostgreSQL, the ODBC connection string otherwise.
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("driver");
    QTest::addColumn<QString>("where");
    QTest::addColumn<bool>("valid");

    const QString odbc = u"DRIVER={FreeTDS};SERVER=%1;DATABASE=maint;UID=sa;PWD=pw;TDS_Version=7.4"_qs;
    QTest::addRow("sqlite relative") << u"sqlite:../m.db"_qs << u"QSQLITE"_qs << u"/m.db"_qs << true;
    QTest::addRow("sqlite absolute") << u"sqlite:/var/m.db"_qs << u"QSQLITE"_qs << u"/var/m.db"_qs << true;
    QTest::addRow("pg with port") << u"postgresql://db:5433"_qs << u"QPSQL"_qs << u"db:5433"_qs << true;
    QTest::addRow("pg no port, slash") << u"postgresql://db/"_qs << u"QPSQL"_qs << u"db:-1"_qs << true;
    QTest::addRow("pg IPv6") << u"postgresql://[::1]:5432"_qs << u"QPSQL"_qs << u"::1:5432"_qs << true;
    QTest::addRow("pg bad port") << u"postgresql://h:99999"_qs << u"QPSQL"_qs << u"h:-1"_qs << false;
    QTest::addRow("odbc host") << u"SRV01"_qs << u"QODBC"_qs << odbc.arg(u"SRV01"_qs) << true;
    QTest::addRow("odbc instance") << u"SRV01\\MAINT"_qs << u"QODBC"_qs << odbc.arg(u"SRV01\\MAINT"_qs) << true;
    QTest::addRow("odbc port") << u"10.0.0.5,1533"_qs << u"QODBC"_qs << odbc.arg(u"10.0.0.5;PORT=1533"_qs) << true;
    QTest::addRow("odbc bad port") << u"srv,x"_qs << u"QODBC"_qs << odbc.arg(u"srv;PORT=x"_qs) << false;
}

void tst_ConnectionString::targetFollowsDataSource()
{
    QFETCH(QString, server);
    QFETCH(QString, driver);
    QFETCH(QString, where);
    QFETCH(bool, valid);

    qunsetenv("ORVANTEL_ODBC_DRIVER");
    const QString cs = ConnectionString::build({server, u"maint"_qs, u"sa"_qs, u"pw"_qs});
    const ConnectionTarget target = resolveConnectionTarget(cs, u"/base"_qs);
    QCOMPARE(target.driver, driver);
    QCOMPARE(target.error.isEmpty(), valid);
    if (driver == u"QPSQL") {
        QCOMPARE(target.hostName + u':' + QString::number(target.port), where);
        QCOMPARE((QStringList {target.databaseName, target.userName, target.password}),
                 (QStringList {u"maint"_qs, u"sa"_qs, u"pw"_qs}));
    } else {
        QCOMPARE(target.databaseName, where);
    }
}

void tst_ConnectionString::odbcValuesAreBraced()
{
    // A driver that reads "}}" inside braces back as "}" may be given a '}'.
    qputenv("ORVANTEL_ODBC_DRIVER", "ODBC Driver 18 for SQL Server");
    auto restore = qScopeGuard([] { qunsetenv("ORVANTEL_ODBC_DRIVER"); });
    const QString cs = ConnectionString::build({u"srv"_qs, u"a;b"_qs, u"x=y"_qs, u"p}w{"_qs});
    const ConnectionTarget target = resolveConnectionTarget(cs, {});
    QCOMPARE(target.error, QString());
    QCOMPARE(target.databaseName,
             u"DRIVER={ODBC Driver 18 for SQL Server};SERVER=srv;DATABASE={a;b};UID={x=y};PWD={p}}w{};"
             "TDS_Version=7.4"_qs);
}

QTEST_GUILESS_MAIN(tst_ConnectionString)
#include "tst_connectionstring.moc"
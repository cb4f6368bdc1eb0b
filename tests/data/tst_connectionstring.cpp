#include "data/connectionstring.h"
#include "data/database.h"
#include "data/sqldialect.h"

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
    void dialectsWriteTheirOwnSql();
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
    QCOMPARE(ConnectionString::quoteValue(value), quoted);

    const ConnectionSettings settings {value, value + u"d"_qs, u"u"_qs + value, value};
    const QString built = ConnectionString::build(settings);
    if (value.isEmpty()) {
        QCOMPARE(built,
                 u"Provider=SQLOLEDB.1;Data Source=;Initial Catalog=d;User ID=u;Password=;"
                 "Persist Security Info=False"_qs);
    }
    const ConnectionString::Reader reader(built);
    QCOMPARE(reader.settings(), settings);
    QCOMPARE(reader.value(u"Persist Security Info"_qs), u"False"_qs);
}

void tst_ConnectionString::readerParsesHandWrittenStrings_data()
{
    QTest::addColumn<QString>("connectionString");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::addColumn<bool>("present");

    QTest::addRow("key case and blanks") << u" data SOURCE =srv;"_qs << u"Data Source"_qs << u"srv"_qs << true;
    QTest::addRow("last one wins") << u"User ID=a;user id=b"_qs << u"User ID"_qs << u"b"_qs << true;
    QTest::addRow("absent") << u"junk;User ID=a"_qs << u"Password"_qs << QString() << false;
    QTest::addRow("single quotes doubled") << u"Password='a''b;c'"_qs << u"Password"_qs << u"a'b;c"_qs << true;
    QTest::addRow("unquoted keeps =") << u"Password=a=b"_qs << u"Password"_qs << u"a=b"_qs << true;
}

void tst_ConnectionString::readerParsesHandWrittenStrings()
{
    QFETCH(QString, connectionString);
    QFETCH(QString, key);
    QFETCH(QString, value);
    QFETCH(bool, present);
    const ConnectionString::Reader reader(connectionString);
    QCOMPARE(reader.value(key), value);
    QCOMPARE(reader.contains(key), present);
}

void tst_ConnectionString::dialectsWriteTheirOwnSql()
{
    const QStringList arguments
            = {SqlDialect::quoted(u"A1"_qs), SqlDialect::quoted(u"x"_qs), u" 2"_qs, SqlDialect::quoted(u"U"_qs)};
    const SqlDialect sqlServer(Backend::SqlServer), postgres(Backend::PostgreSql), sqlite(Backend::Sqlite);
    QCOMPARE(sqlServer.procedureCall(u"p"_qs, arguments), u"EXEC p 'A1', 'x',  2, 'U'"_qs);
    QCOMPARE(postgres.procedureCall(u"p"_qs, arguments), u"CALL p('A1', 'x',  2, 'U')"_qs);
    QCOMPARE(sqlite.procedureCall(u"p"_qs, arguments), u"INSERT INTO p VALUES ('A1', 'x',  2, 'U')"_qs);
    QCOMPARE(sqlServer.nullFallback(u"a"_qs, u"b"_qs), u"ISNULL(a,b)"_qs);
    QCOMPARE(postgres.nullFallback(u"a"_qs, u"b"_qs), u"COALESCE(a,b)"_qs);
    QCOMPARE(sqlite.nullFallback(u"a"_qs, u"b"_qs), u"IFNULL(a,b)"_qs);
    QCOMPARE(SqlDialect::quoted(u"O'Brien''s"_qs), u"'O''Brien''''s'"_qs);
}

void tst_ConnectionString::targetFollowsDataSource_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("driver");
    QTest::addColumn<QString>("databaseName");
    QTest::addColumn<QString>("host");
    QTest::addColumn<int>("port");
    QTest::addColumn<bool>("valid");

    const QString odbc = u"DRIVER={FreeTDS};SERVER="_qs;
    const QString odbcTail = u";DATABASE=maint;UID=sa;PWD=pw;TDS_Version=7.4"_qs;
    QTest::addRow("sqlite relative") << u"sqlite:../m.db"_qs << u"QSQLITE"_qs << u"/m.db"_qs << QString() << -1 << true;
    QTest::addRow("sqlite absolute") << u"sqlite:/var/m.db"_qs << u"QSQLITE"_qs << u"/var/m.db"_qs << QString() << -1
                                     << true;
    QTest::addRow("pg with port") << u"postgresql://db:5433"_qs << u"QPSQL"_qs << u"maint"_qs << u"db"_qs << 5433
                                  << true;
    QTest::addRow("pg no port, slash") << u"postgresql://db/"_qs << u"QPSQL"_qs << u"maint"_qs << u"db"_qs << -1
                                       << true;
    QTest::addRow("pg IPv6") << u"postgresql://[::1]:5432"_qs << u"QPSQL"_qs << u"maint"_qs << u"::1"_qs << 5432
                             << true;
    QTest::addRow("pg bad port") << u"postgresql://h:99999"_qs << u"QPSQL"_qs << u"maint"_qs << u"h"_qs << -1 << false;
    QTest::addRow("odbc host") << u"SRV01"_qs << u"QODBC"_qs << odbc + u"SRV01"_qs + odbcTail << QString() << -1
                               << true;
    QTest::addRow("odbc instance") << u"SRV01\\MAINT"_qs << u"QODBC"_qs << odbc + u"SRV01\\MAINT"_qs + odbcTail
                                   << QString() << -1 << true;
    QTest::addRow("odbc port") << u"10.0.0.5,1533"_qs << u"QODBC"_qs << odbc + u"10.0.0.5;PORT=1533"_qs + odbcTail
                               << QString() << -1 << true;
    QTest::addRow("odbc bad port") << u"srv,x"_qs << u"QODBC"_qs << odbc + u"srv;PORT=x"_qs + odbcTail << QString()
                                   << -1 << false;
}

void tst_ConnectionString::targetFollowsDataSource()
{
    QFETCH(QString, server);
    QFETCH(QString, driver);
    QFETCH(QString, databaseName);
    QFETCH(QString, host);
    QFETCH(int, port);
    QFETCH(bool, valid);

    qunsetenv("ORVANTEL_ODBC_DRIVER");
    const QString cs = ConnectionString::build({server, u"maint"_qs, u"sa"_qs, u"pw"_qs});
    const ConnectionTarget target = resolveConnectionTarget(cs, u"/base"_qs);
    QCOMPARE(target.driver, driver);
    QCOMPARE(target.databaseName, databaseName);
    QCOMPARE(target.hostName, host);
    QCOMPARE(target.port, port);
    QCOMPARE(target.error.isEmpty(), valid);
    if (driver == u"QPSQL") {
        QCOMPARE(target.userName, u"sa"_qs);
        QCOMPARE(target.password, u"pw"_qs);
        QCOMPARE(target.connectOptions, u"connect_timeout=5"_qs);
    } else if (driver == u"QODBC") {
        QVERIFY(target.userName.isEmpty());
        QCOMPARE(target.connectOptions, u"SQL_ATTR_LOGIN_TIMEOUT=5"_qs);
    }
}

void tst_ConnectionString::odbcValuesAreBraced()
{
    qputenv("ORVANTEL_ODBC_DRIVER", "ODBC Driver {18}");
    auto restore = qScopeGuard([] { qunsetenv("ORVANTEL_ODBC_DRIVER"); });
    const QString cs = ConnectionString::build({u"srv"_qs, u"a;b"_qs, u"x=y"_qs, u"p}w{"_qs});
    QCOMPARE(resolveConnectionTarget(cs, {}).databaseName,
             u"DRIVER={ODBC Driver {18}}};SERVER=srv;DATABASE={a;b};UID={x=y};PWD={p}}w{};TDS_Version=7.4"_qs);
}

QTEST_GUILESS_MAIN(tst_ConnectionString)
#include "tst_connectionstring.moc"

#include "demodata.h"
#include "sqlscript_p.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTemporaryDir>
#include <QtTest>

using namespace Orvantel;

#define QVERIFY_SQL(q, stmt) QVERIFY2((q).stmt, qPrintable((q).lastError().text()))

namespace {

QString createWorkOrderSql(const QSqlDatabase &db, const QString &asset, const QString &request, int priority,
                           const QString &user)
{
    const auto quoted = [](QString text) -> QString { return u'\'' + text.replace(u'\'', u"''"_qs) + u'\''; };
    const QString args
            = u"%1, %2, %3, %4"_qs.arg(quoted(asset), quoted(request), QString::number(priority), quoted(user));
    return db.driverName() == QLatin1String("QPSQL") ? u"CALL sp_QX_CreateWorkOrder("_qs + args + u')'
                                                     : u"INSERT INTO sp_QX_CreateWorkOrder VALUES ("_qs + args + u')';
}

#define OPEN_SCRATCH(var, engine) \
    if ((engine) == QLatin1String("postgresql") && qEnvironmentVariableIsEmpty("ORVANTEL_TEST_PGPORT")) { \
        QVERIFY2(!qEnvironmentVariableIsSet("CI"), "CI needs the PostgreSQL tests: ORVANTEL_TEST_PG* is not set"); \
        QSKIP("PostgreSQL tests need ORVANTEL_TEST_PG* (scripts/test sets them)"); \
    } \
    const QSqlDatabase var = scratch(engine); \
    QVERIFY2(var.isOpen(), qPrintable(var.lastError().text()))

/// Every row of a query as "a|b|c", NULL as "<null>", times as SQLite stores them.
QStringList dump(QSqlDatabase db, const QString &sql)
{
    QSqlQuery q(db);
    if (!q.exec(sql))
        return {u"<error> "_qs + q.lastError().text()};
    QStringList rows;
    while (q.next()) {
        QStringList values;
        for (int i = 0; i < q.record().count(); ++i) {
            const QVariant v = q.value(i);
            values.append(q.isNull(i) ? u"<null>"_qs
                                  : v.typeId() == QMetaType::QDateTime
                                  ? v.toDateTime().toString(u"yyyy-MM-dd HH:mm:ss"_qs)
                                  : v.toString());
        }
        rows.append(values.join(u'|'));
    }
    return rows;
}

QStringList dumpAll(const QSqlDatabase &db)
{
    return dump(db, u"SELECT * FROM vw_QX_WorkOrdersGrid ORDER BY WO_Nbr"_qs)
            + dump(db, u"SELECT * FROM vw_LinkedFiles ORDER BY FileName"_qs)
            + dump(db, u"SELECT * FROM vw_WORequestedUsers ORDER BY UserID"_qs);
}

/// The first row of a query as "a|b|c".
QString row(QSqlDatabase db, const QString &sql)
{
    return dump(db, sql).value(0);
}

/// What is checked, an expression over the FROM clause (or a scalar subquery), its lowest and highest value.
using Range = std::tuple<const char *, const char *, double, double>;

/// Evaluates every expression in one query and reports each that leaves its range.
void checkRanges(QSqlDatabase db, const char *from, std::initializer_list<Range> ranges)
{
    QStringList expressions;
    for (const auto &[what, expression, low, high] : ranges)
        expressions << QString::fromUtf8(expression);
    QSqlQuery q(db);
    QVERIFY_SQL(q, exec(u"SELECT "_qs + expressions.join(u", "_qs) + u" FROM "_qs + QString::fromUtf8(from)));
    QVERIFY(q.next());
    int i = 0;
    for (const auto &[what, expression, low, high] : ranges) {
        const double value = q.value(i++).toDouble();
        QVERIFY2(value >= low && value <= high, qPrintable(u"%1: %2"_qs.arg(QLatin1String(what)).arg(value)));
    }
}

} // namespace

class DemoDataTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanup();
    void splitsScriptIntoStatements_data();
    void splitsScriptIntoStatements();
    void schemaErrorNamesTheStatement();
    void demoPlantHasTheSpreadTheControlNeeds();
    void linkedFilesExistAndDecode();
    void anotherSeedGivesOtherRows();
    void eachEngineKeepsTheContract_data();
    void eachEngineKeepsTheContract();
    void plantIsDatedAroundToday_data();
    void plantIsDatedAroundToday();
    void onlyTheDatesFollowTheDay();
    void datagenTakesTheDay();

private:
    /// A new, empty, open database on engine; closed (and dropped on PostgreSQL) in cleanup().
    QSqlDatabase scratch(const QString &engine);

    QTemporaryDir m_dir;
    QSqlDatabase m_demo; // the demo plant in SQLite, read-only
    QStringList m_scratch;
    int m_scratchCount = 0;
};

void DemoDataTest::initTestCase()
{
    const QString path = m_dir.filePath(u"demo.db"_qs);
    DemoData::createSqliteFile(path);
    m_demo = QSqlDatabase::addDatabase(u"QSQLITE"_qs, u"demo"_qs);
    m_demo.setDatabaseName(path);
    QVERIFY(m_demo.open());
}

void DemoDataTest::cleanup()
{
    for (const QString &name : std::exchange(m_scratch, {})) {
        {
            QSqlDatabase db = QSqlDatabase::database(name, false);
            db.close();
            db.setDatabaseName(u"postgres"_qs);
            if (db.driverName() == QLatin1String("QPSQL") && db.open())
                QSqlQuery(db).exec(u"DROP DATABASE IF EXISTS "_qs + name + u" WITH (FORCE)"_qs);
        }
        QSqlDatabase::removeDatabase(name);
    }
}

QSqlDatabase DemoDataTest::scratch(const QString &engine)
{
    const QString name = u"scratch_%1_%2"_qs.arg(QCoreApplication::applicationPid()).arg(++m_scratchCount);
    m_scratch << name;
    QSqlDatabase db = QSqlDatabase::addDatabase(engine == QLatin1String("sqlite") ? u"QSQLITE"_qs : u"QPSQL"_qs, name);
    db.setDatabaseName(m_dir.filePath(name));
    if (engine == QLatin1String("postgresql")) {
        db.setHostName(qEnvironmentVariable("ORVANTEL_TEST_PGHOST", u"127.0.0.1"_qs));
        db.setPort(qEnvironmentVariableIntValue("ORVANTEL_TEST_PGPORT"));
        db.setUserName(qEnvironmentVariable("ORVANTEL_TEST_PGUSER"));
        db.setPassword(qEnvironmentVariable("ORVANTEL_TEST_PGPASSWORD"));
        db.setDatabaseName(u"postgres"_qs);
        if (db.open())
            QSqlQuery(db).exec(u"CREATE DATABASE "_qs + name);
        db.close();
        db.setDatabaseName(name);
    }
    db.open();
    return db;
}

void DemoDataTest::splitsScriptIntoStatements_data()
{
    using DemoData::ScriptDialect;
    QTest::addColumn<ScriptDialect>("dialect");
    QTest::addColumn<QString>("script");
    QTest::addColumn<QStringList>("statements");
    QTest::newRow("semicolon in a string or identifier")
            << ScriptDialect::SQLite << u"SELECT 'a;b', \"x;y\", 'it''s;'; SELECT 3"_qs
            << QStringList {u"SELECT 'a;b', \"x;y\", 'it''s;'"_qs, u"SELECT 3"_qs};
    QTest::newRow("comments") << ScriptDialect::SQLite << u"-- one; two\nSELECT 1 /* ; */;\n-- trailing; comment\n"_qs
                              << QStringList {u"-- one; two\nSELECT 1 /* ; */"_qs};
    QTest::newRow("dollar-quoted body")
            << ScriptDialect::PostgreSQL
            << u"CREATE FUNCTION f() RETURNS int AS $$ BEGIN RETURN 1; END; $$ LANGUAGE plpgsql; SELECT f()"_qs
            << QStringList {u"CREATE FUNCTION f() RETURNS int AS $$ BEGIN RETURN 1; END; $$ LANGUAGE plpgsql"_qs,
                            u"SELECT f()"_qs};
    QTest::newRow("tagged dollar quote") << ScriptDialect::PostgreSQL
                                         << u"DO $body$ BEGIN PERFORM '$$;'; END $body$; SELECT $1"_qs
                                         << QStringList {u"DO $body$ BEGIN PERFORM '$$;'; END $body$"_qs,
                                                         u"SELECT $1"_qs};
    QTest::newRow("trigger body")
            << ScriptDialect::SQLite
            << u"CREATE TRIGGER t INSTEAD OF INSERT ON v\nBEGIN\n  SELECT 1;\n  INSERT INTO x VALUES (2);\nEND;\nSELECT 3;"_qs
            << QStringList {
                       u"CREATE TRIGGER t INSTEAD OF INSERT ON v\nBEGIN\n  SELECT 1;\n  INSERT INTO x VALUES (2);\nEND"_qs,
                       u"SELECT 3"_qs};
    QTest::newRow("temporary trigger")
            << ScriptDialect::SQLite << u"create temp trigger t after insert on x begin delete from y; end; select 1"_qs
            << QStringList {u"create temp trigger t after insert on x begin delete from y; end"_qs, u"select 1"_qs};
    QTest::newRow("END outside a trigger") << ScriptDialect::SQLite << u"SELECT CASE WHEN 1 THEN 2 END; SELECT 3"_qs
                                           << QStringList {u"SELECT CASE WHEN 1 THEN 2 END"_qs, u"SELECT 3"_qs};
    QTest::newRow("PostgreSQL trigger ends at its semicolon")
            << ScriptDialect::PostgreSQL
            << u"DROP TRIGGER IF EXISTS t ON x;\nCREATE TRIGGER t AFTER INSERT ON x REFERENCING NEW TABLE AS n\n"
               "    FOR EACH STATEMENT EXECUTE FUNCTION f('all');\nSELECT 3;"_qs
            << QStringList {u"DROP TRIGGER IF EXISTS t ON x"_qs,
                            u"CREATE TRIGGER t AFTER INSERT ON x REFERENCING NEW TABLE AS n\n"
                            "    FOR EACH STATEMENT EXECUTE FUNCTION f('all')"_qs,
                            u"SELECT 3"_qs};
}

void DemoDataTest::splitsScriptIntoStatements()
{
    QFETCH(DemoData::ScriptDialect, dialect);
    QFETCH(QString, script);
    QFETCH(QStringList, statements);
    QCOMPARE(DemoData::splitSqlScript(script, dialect), statements);
}

void DemoDataTest::schemaErrorNamesTheStatement()
{
    const QSqlDatabase db = scratch(u"sqlite"_qs);
    QVERIFY(QSqlQuery(db).exec(u"CREATE TABLE GS_Assets (x)"_qs));
    try {
        DemoData::createSchema(db);
        QFAIL("createSchema() accepted a database that already has GS_Assets");
    } catch (const DemoData::Error &e) {
        QVERIFY2(QString::fromUtf8(e.what()).contains(QLatin1String("CREATE TABLE GS_Assets")), e.what());
    }
    // All or nothing: the tables made before the failing one are gone again.
    QVERIFY(!db.tables().contains(u"GS_Divisions"_qs));
}

void DemoDataTest::demoPlantHasTheSpreadTheControlNeeds()
{
    const char *leastPerPriority = "(SELECT MIN(n) FROM (SELECT COUNT(*) AS n FROM WO_WorkOrders GROUP BY Priority))";
    const char *leastPerKind
            = "(SELECT MIN(n) FROM (SELECT COUNT(*) AS n FROM vw_LinkedFiles GROUP BY SUBSTR(FileName, -4)))";
    checkRanges(
            m_demo, "vw_QX_WorkOrdersGrid",
            {
                    {"work orders", "COUNT(*)", 1500, 1500},
                    {"first number", "MIN(WO_Nbr)", 10001, 10001},
                    {"numbers without gaps", "MAX(WO_Nbr)", 11500, 11500},
                    {"open, not PM", "SUM(Status < 3 AND IsPM = 0)", 100, 400},
                    {"open PM", "SUM(Status < 3 AND IsPM = 1)", 50, 200},
                    {"history, not PM", "SUM(Status >= 3 AND IsPM = 0)", 500, 1300},
                    {"PM history", "SUM(Status >= 3 AND IsPM = 1)", 50, 300},
                    {"PM iff StatusDescr is PM", "SUM((IsPM = 1) <> (StatusDescr = 'PM'))", 0, 0},
                    {"priorities and none", "COUNT(DISTINCT IFNULL(Priority, 0))", 6, 6},
                    {"least used priority", leastPerPriority, 5, 1000},
                    {"no notes", "SUM(Notes IS NULL)", 10, 150},
                    {"multi-line notes", "SUM(Notes LIKE '%' || char(10) || '%')", 50, 600},
                    {"notes with a quote", "SUM(Notes LIKE '%''%')", 50, 1500},
                    {"no requester name", "SUM(RequestedByName IS NULL)", 10, 600},
                    {"no technician name", "SUM(AssignedToName IS NULL)", 10, 600},
                    {"no asset description", "SUM(AssetDescr IS NULL)", 1, 300},
                    {"requesters without name", "(SELECT COUNT(*) FROM vw_WORequestedUsers WHERE Name IS NULL)", 1, 3},
                    {"linked files", "(SELECT COUNT(DISTINCT FileName) FROM vw_LinkedFiles)", 200, 200},
                    {"with blanks", "(SELECT COUNT(*) FROM vw_LinkedFiles WHERE FileName LIKE '% %')", 20, 180},
                    {"no description", "(SELECT COUNT(*) FROM vw_LinkedFiles WHERE DocDescr IS NULL)", 1, 100},
                    // jpg, png, pdf, txt, html
                    {"file kinds", "(SELECT COUNT(DISTINCT SUBSTR(FileName, -4)) FROM vw_LinkedFiles)", 5, 5},
                    {"least used kind", leastPerKind, 5, 120},
            });
}

void DemoDataTest::linkedFilesExistAndDecode()
{
    const QDir dir(m_dir.filePath(u"Item Images"_qs));
    DemoData::writeLinkedFiles(dir.path());
    QCOMPARE(dir.entryList(QDir::Files).size(), 200);
    for (const QString &name : dump(m_demo, u"SELECT FileName FROM vw_LinkedFiles"_qs)) {
        QFile file(dir.filePath(name));
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(name));
        const QByteArray bytes = file.readAll();
        const QString kind = QFileInfo(name).suffix();
        const bool image = kind == QLatin1String("jpg") || kind == QLatin1String("png");
        QVERIFY2(bytes.size() > 100 && (!image || QImage::fromData(bytes).width() >= 64)
                         && (kind != QLatin1String("pdf") || (bytes.startsWith("%PDF-") && bytes.endsWith("%%EOF\n")))
                         && (kind != QLatin1String("html") || bytes.startsWith("<!DOCTYPE html>")),
                 qPrintable(name));
    }
}

void DemoDataTest::anotherSeedGivesOtherRows()
{
    const QSqlDatabase db = scratch(u"sqlite"_qs);
    DemoData::createSchema(db);
    DemoData::populate(db, {0, 200, 1});
    QCOMPARE(dumpAll(db).size(), 1500 + 200 + 20);
    QVERIFY(dumpAll(db) != dumpAll(m_demo));
}

void DemoDataTest::eachEngineKeepsTheContract_data()
{
    QTest::addColumn<QString>("engine");
    QTest::newRow("sqlite") << u"sqlite"_qs;
    QTest::newRow("postgresql") << u"postgresql"_qs;
}

void DemoDataTest::eachEngineKeepsTheContract()
{
    QFETCH(QString, engine);
    OPEN_SCRATCH(db, engine);
    DemoData::createSchema(db);
    const std::pair<QString, QString> views[] = {
            {u"vw_QX_WorkOrdersGrid"_qs,
             u"WO_Nbr,AssetCode,AssetDescr,Status,StatusDescr,Priority,DateLoaded,"
             "RequestedByName,AssignedToName,Notes,IsPM,DivisionID,DepartmentID"_qs},
            {u"vw_LinkedFiles"_qs, u"AssetCode,DocType,DocDescr,FileName"_qs},
            {u"vw_WORequestedUsers"_qs, u"UserID,Name"_qs},
    };
    for (const auto &[view, expected] : views) {
        QSqlQuery q(db);
        QVERIFY_SQL(q, exec(u"SELECT * FROM "_qs + view));
        QStringList columns;
        for (int i = 0; i < q.record().count(); ++i)
            columns.append(q.record().fieldName(i));
        QCOMPARE(columns.join(u',').toLower(), expected.toLower());
    }
    // The same options give the same rows, whichever engine holds them.
    DemoData::populate(db);
    const QStringList expected = dumpAll(m_demo);
    QCOMPARE(expected.size(), 1500 + 200 + 20);
    QCOMPARE(dumpAll(db), expected);

    // The creation procedure: the number after the largest, status 0, now, the asset's division.
    const QString latest = u"SELECT w.WO_Nbr, w.Status, w.StatusDescr, w.Priority, w.RequestedByName, "
                           "w.AssignedToName, w.Notes, w.IsPM, CASE WHEN w.DivisionID = a.DivisionID AND "
                           "w.DepartmentID = a.DepartmentID THEN 'own division' END, w.DateLoaded "
                           "FROM vw_QX_WorkOrdersGrid w JOIN GS_Assets a ON a.AssetCode = w.AssetCode "
                           "WHERE w.WO_Nbr = (SELECT MAX(WO_Nbr) FROM WO_WorkOrders)"_qs;
    // asset, request, priority, user, the requester's name
    const std::tuple<QString, QString, int, QString, QString> cases[] = {
            {u"P-101"_qs, u"Fix the pump's seal"_qs, 2, u"JDOE"_qs, u"Jordan Doe"_qs},
            {u"BLR-1"_qs, u"Burner won't light.\nChecked C:\\logs\\burner.txt; 85 \u00b0C\n'done'"_qs, 1, u"JOBRIEN"_qs,
             u"Jim O'Brien"_qs},
            {u"PKG-2"_qs, u"Labels crooked"_qs, 5, u"HMUELLER"_qs, u"Hans M\u00fcller"_qs},
            {u"FL-01"_qs, u""_qs, 3, u"SHIFTA"_qs, u"<null>"_qs},
    };
    int number = DemoData::FirstWorkOrderNumber + DemoData::DemoWorkOrderCount;
    QSqlQuery q(db);
    for (const auto &[asset, request, priority, user, requesterName] : cases) {
        const QDateTime before = QDateTime::currentDateTime().addSecs(-2);
        QVERIFY_SQL(q, exec(createWorkOrderSql(db, asset, request, priority, user)));
        const QString row = dump(db, latest).value(0);
        const QDateTime loaded = QDateTime::fromString(row.section(u'|', -1), u"yyyy-MM-dd HH:mm:ss"_qs);
        QVERIFY2(loaded >= before && loaded <= QDateTime::currentDateTime().addSecs(2), qPrintable(row));
        QCOMPARE(row.section(u'|', 0, -2),
                 QStringList({QString::number(number++), u"0"_qs, u"Requested"_qs, QString::number(priority),
                              requesterName, u"<null>"_qs, request, u"0"_qs, u"own division"_qs})
                         .join(u'|'));
    }
    // Asset codes compare exactly: a known code in another case is unknown too.
    for (const QString &asset : {u"NO-SUCH-1"_qs, u"p-101"_qs}) {
        QVERIFY(!q.exec(createWorkOrderSql(db, asset, u"x"_qs, 2, u"JDOE"_qs)));
        QVERIFY2(q.lastError().text().contains(QLatin1String("unknown asset code")), qPrintable(q.lastError().text()));
    }
    QCOMPARE(dump(db, u"SELECT COUNT(*) FROM WO_WorkOrders"_qs),
             QStringList {QString::number(DemoData::DemoWorkOrderCount + 4)});
    // An empty table starts at 2.
    QVERIFY_SQL(q, exec(u"DELETE FROM WO_WorkOrders"_qs));
    QVERIFY_SQL(q, exec(createWorkOrderSql(db, u"P-101"_qs, u"first"_qs, 3, u"U"_qs)));
    QCOMPARE(dump(db, u"SELECT WO_Nbr FROM WO_WorkOrders"_qs), QStringList {u"2"_qs});
}

void DemoDataTest::plantIsDatedAroundToday_data()
{
    QTest::addColumn<QDate>("today");
    QTest::addColumn<QString>("historyFrom");
    QTest::addColumn<QString>("openFrom"); // eight weeks before today
    QTest::addColumn<QString>("upcomingTo"); // six weeks after tomorrow
    QTest::newRow("summer") << QDate(2025, 7, 15) << u"2024-01-14"_qs << u"2025-05-20"_qs << u"2025-08-27"_qs;
    QTest::newRow("after a leap day") << QDate(2028, 3, 1) << u"2026-08-31"_qs << u"2028-01-05"_qs << u"2028-04-13"_qs;
}

void DemoDataTest::plantIsDatedAroundToday()
{
    QFETCH(QDate, today);
    QFETCH(QString, historyFrom);
    QFETCH(QString, openFrom);
    QFETCH(QString, upcomingTo);
    const QSqlDatabase db = scratch(u"sqlite"_qs);
    DemoData::Options options;
    options.today = today;
    DemoData::createSchema(db, options);
    DemoData::populate(db, options);
    const QString todayText = today.toString(Qt::ISODate);
    const QString tomorrow = today.addDays(1).toString(Qt::ISODate);
    // earliest|latest|days with one|how many
    const QString summary
            = u"SELECT MIN(DateLoaded), MAX(DateLoaded), COUNT(DISTINCT SUBSTR(DateLoaded, 1, 10)), COUNT(*) "
              "FROM WO_WorkOrders WHERE "_qs;
    const QStringList open = row(db, summary + u"Status < 3 AND IsPM = 0"_qs).split(u'|');
    const QStringList pms = row(db, summary + u"Status < 3 AND IsPM = 1"_qs).split(u'|');
    const QStringList history = row(db, summary + u"Status IN (3, 4)"_qs).split(u'|');
    QCOMPARE(open.size(), 4);
    QCOMPARE(pms.size(), 4);
    QCOMPARE(history.size(), 4);

    // Open work orders over the past eight weeks, up to the day before, on most days of them.
    QVERIFY2(open[0] >= openFrom && open[1] < todayText, qPrintable(open.join(u' ')));
    QVERIFY2(open[2].toInt() >= 40 && open[3].toInt() >= 150 && open[3].toInt() <= 250, qPrintable(open.join(u' ')));
    // Upcoming PMs from tomorrow on, spread over the six weeks.
    QVERIFY2(pms[0] >= tomorrow && pms[1] < upcomingTo, qPrintable(pms.join(u' ')));
    QVERIFY2(pms[2].toInt() >= 20 && pms[3].toInt() >= 50, qPrintable(pms.join(u' ')));
    // History (PMs too) before every open work order, over the eighteen months.
    QVERIFY2(history[0] >= historyFrom && history[1] < open[0], qPrintable(history.join(u' ') + u" / "_qs + open[0]));
    QVERIFY2(history[2].toInt() >= 300, qPrintable(history.join(u' ')));
    QCOMPARE(open[3].toInt() + pms[3].toInt() + history[3].toInt(), 1500);
}

void DemoDataTest::onlyTheDatesFollowTheDay()
{
    DemoData::Options options;
    options.today = QDate(2025, 7, 15);
    const QSqlDatabase first = scratch(u"sqlite"_qs);
    const QSqlDatabase again = scratch(u"sqlite"_qs);
    const QSqlDatabase later = scratch(u"sqlite"_qs);
    const QSqlDatabase defaultDay = scratch(u"sqlite"_qs);
    for (const QSqlDatabase &db : {first, again}) {
        DemoData::createSchema(db, options);
        DemoData::populate(db, options);
    }
    options.today = QDate(2025, 7, 25);
    DemoData::createSchema(later, options);
    DemoData::populate(later, options);
    options.today = QDate(2026, 1, 1);
    DemoData::createSchema(defaultDay, options);
    DemoData::populate(defaultDay, options);

    QCOMPARE(dumpAll(again), dumpAll(first));
    // Null is 2026-01-01.
    QCOMPARE(dumpAll(defaultDay), dumpAll(m_demo));
    // Ten days later: the same rows, every date ten days on.
    const QString rows = u"SELECT WO_Nbr, AssetCode, Status, Priority, %1, RequestedBy, AssignedTo, WorkRequest, IsPM, "
                         "DivisionID, DepartmentID FROM WO_WorkOrders ORDER BY WO_Nbr"_qs;
    const QStringList expected = dump(first, rows.arg(u"DATETIME(DateLoaded, '+10 days')"_qs));
    QCOMPARE(expected.size(), 1500);
    QCOMPARE(dump(later, rows.arg(u"DateLoaded"_qs)), expected);
}

void DemoDataTest::datagenTakesTheDay()
{
    const QString path = m_dir.filePath(u"datagen.db"_qs);
    const auto datagen = [&](const QString &day) {
        QProcess process;
        process.start(QStringLiteral(ORVANTEL_DATAGEN),
                      {u"--sqlite"_qs, path, u"--work-orders"_qs, u"60"_qs, u"--linked-files"_qs, u"3"_qs,
                       u"--today"_qs, day});
        if (!process.waitForFinished(60000))
            return -1;
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    };
    for (const QString &bad : {u"2025-13-01"_qs, u"15.07.2025"_qs, u"today"_qs, QString()}) {
        QCOMPARE(datagen(bad), 2);
        QVERIFY2(!QFile::exists(path), qPrintable(bad));
    }
    QCOMPARE(datagen(u"2025-07-15"_qs), 0);

    const QSqlDatabase expected = scratch(u"sqlite"_qs);
    DemoData::Options options;
    options.workOrders = 60;
    options.linkedFiles = 3;
    options.today = QDate(2025, 7, 15);
    DemoData::createSchema(expected, options);
    DemoData::populate(expected, options);
    {
        QSqlDatabase made = QSqlDatabase::addDatabase(u"QSQLITE"_qs, u"datagen"_qs);
        made.setDatabaseName(path);
        QVERIFY(made.open());
        QCOMPARE(dumpAll(made), dumpAll(expected));
    }
    QSqlDatabase::removeDatabase(u"datagen"_qs);
}

QTEST_GUILESS_MAIN(DemoDataTest)
#include "tst_demodata.moc"

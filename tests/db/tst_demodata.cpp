#include "sqlscript_p.h"
#include "testsupport.h"

#include <QDir>
#include <QImage>
#include <QProcess>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QUuid>
#include <QtTest>

using namespace Orvantel;
using namespace TestSupport;

namespace {

/// Every row of a query as "a|b|c", NULL as "<null>", times as SQLite writes them.
QStringList dump(const QSqlDatabase &db, const QString &sql)
{
    QSqlQuery q(db);
    if (!q.exec(sql))
        return {u"<error> "_qs + q.lastError().text()};
    QStringList rows;
    while (q.next()) {
        QStringList values;
        for (int i = 0; i < q.record().count(); ++i) {
            const QVariant v = q.value(i);
            values << (v.isNull()                                   ? u"<null>"_qs
                               : v.typeId() == QMetaType::QDateTime ? v.toDateTime().toString(u"yyyy-MM-dd HH:mm:ss"_qs)
                                                                    : v.toString());
        }
        rows << values.join(u'|');
    }
    return rows;
}

/// What the control reads of a plant: its three views, DateLoaded as dateLoaded gives it.
QStringList plantRows(const QSqlDatabase &db, const QString &dateLoaded = u"DateLoaded"_qs)
{
    return dump(db,
                u"SELECT WO_Nbr, AssetCode, AssetDescr, StatusDescr, Priority, %1, RequestedByName, "
                "AssignedToName, Notes, IsPM, DivisionID, DepartmentID FROM vw_QX_WorkOrdersGrid "
                "ORDER BY WO_Nbr"_qs.arg(dateLoaded))
            + dump(db, u"SELECT * FROM vw_LinkedFiles ORDER BY FileName"_qs)
            + dump(db, u"SELECT * FROM vw_WORequestedUsers ORDER BY UserID"_qs);
}

} // namespace

/// The demo plant's generator: its script splitter, its schema, its rows and files.
class DemoDataTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        DemoData::createSqliteFile(m_dir.filePath(u"demo.db"_qs));
        m_demo = QSqlDatabase::addDatabase(u"QSQLITE"_qs, u"demo"_qs);
        m_demo.setDatabaseName(m_dir.filePath(u"demo.db"_qs));
        QVERIFY(m_demo.open());
    }
    void cleanup()
    {
        for (const QString &name : std::exchange(m_scratch, {})) {
            QSqlDatabase::removeDatabase(name);
            if (!name.contains(u'/'))
                PgServer::dropDatabase(name);
        }
    }
    void splitsScriptIntoStatements_data()
    {
        using DemoData::ScriptDialect;
        QTest::addColumn<ScriptDialect>("dialect");
        QTest::addColumn<QString>("script");
        QTest::addColumn<QStringList>("statements");
        const auto row = [](const char *name, ScriptDialect dialect, const char *script,
                            std::initializer_list<const char *> statements) {
            QStringList expected;
            for (const char *statement : statements)
                expected << QString::fromLatin1(statement);
            QTest::newRow(name) << dialect << QString::fromLatin1(script) << expected;
        };
        const ScriptDialect sqlite = ScriptDialect::SQLite, postgres = ScriptDialect::PostgreSQL;
        row("semicolon in a string or identifier", sqlite, "SELECT 'a;b', \"x;y\", 'it''s;'; SELECT 3",
            {"SELECT 'a;b', \"x;y\", 'it''s;'", "SELECT 3"});
        row("comments", sqlite, "-- one; two\nSELECT 1 /* ; */;\n-- trailing; comment\n",
            {"-- one; two\nSELECT 1 /* ; */"});
        row("dollar-quoted body", postgres, "CREATE FUNCTION f() AS $$ BEGIN RETURN 1; END; $$; SELECT f()",
            {"CREATE FUNCTION f() AS $$ BEGIN RETURN 1; END; $$", "SELECT f()"});
        row("tagged dollar quote", postgres, "DO $body$ BEGIN PERFORM '$$;'; END $body$; SELECT $1",
            {"DO $body$ BEGIN PERFORM '$$;'; END $body$", "SELECT $1"});
        row("trigger body", sqlite,
            "CREATE TRIGGER t INSTEAD OF INSERT ON v\nBEGIN\n  SELECT 1;\n  DELETE FROM x;\nEND;\nSELECT 3;",
            {"CREATE TRIGGER t INSTEAD OF INSERT ON v\nBEGIN\n  SELECT 1;\n  DELETE FROM x;\nEND", "SELECT 3"});
        row("temporary trigger", sqlite, "create temp trigger t after insert on x begin delete from y; end; select 1",
            {"create temp trigger t after insert on x begin delete from y; end", "select 1"});
        row("END outside a trigger", sqlite, "SELECT CASE WHEN 1 THEN 2 END; SELECT 3",
            {"SELECT CASE WHEN 1 THEN 2 END", "SELECT 3"});
        row("PostgreSQL trigger ends at its semicolon", postgres,
            "CREATE TRIGGER t AFTER INSERT ON x FOR EACH STATEMENT EXECUTE FUNCTION f('all');\nSELECT 3;",
            {"CREATE TRIGGER t AFTER INSERT ON x FOR EACH STATEMENT EXECUTE FUNCTION f('all')", "SELECT 3"});
    }
    void splitsScriptIntoStatements()
    {
        QFETCH(DemoData::ScriptDialect, dialect);
        QFETCH(QString, script);
        QFETCH(QStringList, statements);
        QCOMPARE(DemoData::splitSqlScript(script, dialect), statements);
    }
    void schemaIsAllOrNothing()
    {
        const QSqlDatabase db = scratch(u"sqlite"_qs);
        QVERIFY(QSqlQuery(db).exec(u"CREATE TABLE GS_Assets (x)"_qs));
        QString error;
        try {
            DemoData::createSchema(db);
        } catch (const DemoData::Error &e) {
            error = QString::fromUtf8(e.what());
        }
        QVERIFY2(error.contains(u"CREATE TABLE GS_Assets"_qs), qPrintable(error)); // names the failing statement
        QCOMPARE(db.tables(), QStringList {u"GS_Assets"_qs}); // the tables made before it are gone again
    }
    void sameOptionsGiveTheSameRows_data()
    {
        QTest::addColumn<QString>("engine"); // "datagen": the command-line tool writes a SQLite file
        QTest::addColumn<QDate>("today");
        QTest::addColumn<int>("later"); // days after the demo plant's by which every date moves; -1: seed 1
        QTest::addRow("postgresql") << u"postgresql"_qs << QDate() << 0;
        QTest::addRow("2026-01-01 is the default day") << u"sqlite"_qs << QDate(2026, 1, 1) << 0;
        QTest::addRow("ten days later, only the dates move") << u"sqlite"_qs << QDate(2026, 1, 11) << 10;
        QTest::addRow("datagen, ten days later") << u"datagen"_qs << QDate(2026, 1, 11) << 10;
        QTest::addRow("another seed: other rows") << u"sqlite"_qs << QDate() << -1;
    }
    void sameOptionsGiveTheSameRows()
    {
        QFETCH(QString, engine);
        QFETCH(QDate, today);
        QFETCH(int, later);
        if (engine == u"postgresql")
            REQUIRE_POSTGRES();
        DemoData::Options options;
        options.seed = later < 0 ? 1 : options.seed;
        options.today = today;
        QSqlDatabase db
                = scratch(engine == u"datagen" ? u"sqlite"_qs : engine, engine == u"datagen" ? nullptr : &options);
        if (engine == u"datagen") {
            db.close();
            QFile::remove(db.databaseName());
            const auto datagen = [&](const QString &day) {
                return QProcess::execute(QStringLiteral(ORVANTEL_DATAGEN),
                                         {u"--sqlite"_qs, db.databaseName(), u"--today"_qs, day});
            };
            for (const QString &bad : {u"2025-13-01"_qs, u"15.07.2025"_qs, u"today"_qs, QString()}) {
                QCOMPARE(datagen(bad), 2);
                QVERIFY2(!QFile::exists(db.databaseName()), qPrintable(bad));
            }
            QCOMPARE(datagen(today.toString(Qt::ISODate)), 0);
            QVERIFY(db.open());
        }
        const QStringList demo = plantRows(m_demo, u"DATETIME(DateLoaded, '+%1 days')"_qs.arg(std::max(later, 0)));
        QCOMPARE(demo.size(), 1500 + 200 + 20);
        if (later < 0)
            QVERIFY(plantRows(db) != demo);
        else
            QCOMPARE(plantRows(db), demo);
    }
    void plantHasTheSpreadTheControlNeeds_data()
    {
        QTest::addColumn<QDate>("today"); // null: the demo plant, seen on 2026-01-01
        QTest::addRow("demo plant") << QDate();
        QTest::addRow("summer") << QDate(2025, 7, 15);
        QTest::addRow("after a leap day") << QDate(2028, 3, 1);
    }
    void plantHasTheSpreadTheControlNeeds()
    {
        QFETCH(QDate, today);
        DemoData::Options options;
        options.today = today;
        const QSqlDatabase db = today.isValid() ? scratch(u"sqlite"_qs, &options) : m_demo;
        // What, an expression over vw_QX_WorkOrdersGrid (DAY: the plant's day), its lowest and highest value.
        // Open work orders lie in the eight weeks before the day, on most of their days; upcoming
        // PMs from the next day on, over six weeks; history over eighteen months before the open ones.
        // clang-format off
        const std::tuple<const char *, const char *, double, double> ranges[] = {
            {"work orders, numbered without gaps", "COUNT(*) * (MIN(WO_Nbr) = 10001) * (MAX(WO_Nbr) = 11500)", 1500, 1500},
            {"open, not PM", "SUM(Status < 3 AND IsPM = 0)", 150, 250},
            {"open PM", "SUM(Status < 3 AND IsPM = 1)", 50, 200},
            {"history, not PM", "SUM(Status >= 3 AND IsPM = 0)", 500, 1300},
            {"PM history", "SUM(Status >= 3 AND IsPM = 1)", 50, 300},
            {"PM exactly when StatusDescr is PM", "SUM((IsPM = 1) <> (StatusDescr = 'PM'))", 0, 0},
            {"priorities and none", "COUNT(DISTINCT IFNULL(Priority, 0))", 6, 6},
            {"least used priority", "(SELECT MIN(n) FROM (SELECT COUNT(*) AS n FROM WO_WorkOrders GROUP BY Priority))", 5, 1000},
            {"no notes", "SUM(Notes IS NULL)", 10, 150},
            {"multi-line notes", "SUM(Notes LIKE '%' || char(10) || '%')", 50, 600},
            {"notes with a quote", "SUM(Notes LIKE '%''%')", 50, 1500},
            {"no requester name", "SUM(RequestedByName IS NULL)", 10, 600},
            {"no technician name", "SUM(AssignedToName IS NULL)", 10, 600},
            {"no asset description", "SUM(AssetDescr IS NULL)", 1, 300},
            {"requesters without a name", "(SELECT COUNT(*) FROM vw_WORequestedUsers WHERE Name IS NULL)", 1, 3},
            {"linked files", "(SELECT COUNT(DISTINCT FileName) FROM vw_LinkedFiles)", 200, 200},
            {"file names with blanks", "(SELECT COUNT(*) FROM vw_LinkedFiles WHERE FileName LIKE '% %')", 20, 180},
            {"files without a description", "(SELECT COUNT(*) FROM vw_LinkedFiles WHERE DocDescr IS NULL)", 1, 100},
            {"file kinds: jpg, png, pdf, txt, html", "(SELECT COUNT(DISTINCT SUBSTR(FileName, -4)) FROM vw_LinkedFiles)", 5, 5},
            {"first open", "MIN(CASE WHEN Status < 3 AND IsPM = 0 THEN julianday(DateLoaded) END) - julianday(DAY)", -56, 0},
            {"last open", "MAX(CASE WHEN Status < 3 AND IsPM = 0 THEN julianday(DateLoaded) END) - julianday(DAY)", -56, -1e-6},
            {"days with open ones", "COUNT(DISTINCT CASE WHEN Status < 3 AND IsPM = 0 THEN DATE(DateLoaded) END)", 40, 56},
            {"first upcoming PM", "MIN(CASE WHEN Status < 3 AND IsPM = 1 THEN julianday(DateLoaded) END) - julianday(DAY)", 1, 43},
            {"last upcoming PM", "MAX(CASE WHEN Status < 3 AND IsPM = 1 THEN julianday(DateLoaded) END) - julianday(DAY)", 1, 43 - 1e-6},
            {"days with upcoming PMs", "COUNT(DISTINCT CASE WHEN Status < 3 AND IsPM = 1 THEN DATE(DateLoaded) END)", 20, 42},
            {"first history", "MIN(CASE WHEN Status >= 3 THEN julianday(DateLoaded) END) - julianday(DAY)", -548, -56},
            {"history before the open ones", "MAX(CASE WHEN Status >= 3 THEN julianday(DateLoaded) END) "
                                             "- MIN(CASE WHEN Status < 3 AND IsPM = 0 THEN julianday(DateLoaded) END)", -548, -1e-6},
            {"days with history", "COUNT(DISTINCT CASE WHEN Status >= 3 THEN DATE(DateLoaded) END)", 300, 548},
        };
        // clang-format on
        const QString day = u'\'' + (today.isValid() ? today : DemoData::DefaultToday).toString(Qt::ISODate) + u'\'';
        QStringList expressions;
        for (const auto &[what, expression, low, high] : ranges)
            expressions << QString::fromUtf8(expression).replace(u"DAY"_qs, day);
        QSqlQuery q(db);
        QVERIFY_SQL(q, exec(u"SELECT "_qs + expressions.join(u", "_qs) + u" FROM vw_QX_WorkOrdersGrid"_qs));
        QVERIFY(q.next());
        int i = 0;
        for (const auto &[what, expression, low, high] : ranges) {
            const double value = q.value(i++).toDouble();
            QVERIFY2(value >= low && value <= high, qPrintable(u"%1: %2"_qs.arg(QLatin1String(what)).arg(value)));
        }
    }
    void linkedFilesExistAndDecode()
    {
        const QDir dir(m_dir.filePath(u"Item Images"_qs));
        DemoData::writeLinkedFiles(dir.path());
        QCOMPARE(dir.entryList(QDir::Files).size(), 200);
        for (const QString &name : dump(m_demo, u"SELECT FileName FROM vw_LinkedFiles"_qs)) {
            QFile file(dir.filePath(name));
            const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
            const QString kind = QFileInfo(name).suffix();
            QVERIFY2(bytes.size() > 100 && (!kind.endsWith(u'g') || QImage::fromData(bytes).width() >= 64) // jpg, png
                             && (kind != u"pdf" || (bytes.startsWith("%PDF-") && bytes.endsWith("%%EOF\n")))
                             && (kind != u"html" || bytes.startsWith("<!DOCTYPE html>")),
                     qPrintable(name));
        }
    }
    void creationProcedure_data() { addBackendRows(); }
    void creationProcedure()
    {
        QFETCH(QString, backend);
        if (backend == u"postgresql")
            REQUIRE_POSTGRES();
        const DemoData::Options demoPlant;
        const QSqlDatabase db = scratch(backend, &demoPlant);
        const auto create = [&](const QString &values) {
            QSqlQuery q(db);
            const bool done = q.exec((backend == u"postgresql" ? u"CALL sp_QX_CreateWorkOrder(%1)"_qs
                                                               : u"INSERT INTO sp_QX_CreateWorkOrder VALUES (%1)"_qs)
                                             .arg(values));
            return done ? QString() : q.lastError().text();
        };
        // The number after the largest, status 0, now, the asset's division and department.
        QCOMPARE(create(u"'BLR-1', 'Won''t light.\nC:\\logs; 85 \u00b0C', 1, 'JOBRIEN'"_qs), QString());
        QCOMPARE(create(u"'FL-01', '', 3, 'SHIFTA'"_qs), QString());
        QCOMPARE(dump(db,
                      u"SELECT w.WO_Nbr, w.StatusDescr, w.Priority, w.RequestedByName, w.AssignedToName, w.Notes, "
                      "w.IsPM, CASE WHEN w.DivisionID = a.DivisionID AND w.DepartmentID = a.DepartmentID THEN 'own' "
                      "END FROM vw_QX_WorkOrdersGrid w JOIN GS_Assets a ON a.AssetCode = w.AssetCode WHERE "
                      "w.WO_Nbr > 11500 ORDER BY 1"_qs),
                 (QStringList {u"11501|Requested|1|Jim O'Brien|<null>|Won't light.\nC:\\logs; 85 \u00b0C|0|own"_qs,
                               u"11502|Requested|3|<null>|<null>||0|own"_qs}));
        const QString loaded = dump(db, u"SELECT MIN(DateLoaded) FROM WO_WorkOrders WHERE WO_Nbr > 11500"_qs).value(0);
        QVERIFY2(qAbs(QDateTime::fromString(loaded, u"yyyy-MM-dd HH:mm:ss"_qs).secsTo(QDateTime::currentDateTime()))
                         < 60,
                 qPrintable(loaded));
        // Asset codes compare exactly: a known code in another case is unknown too.
        for (const QString &asset : {u"'NO-SUCH-1'"_qs, u"'p-101'"_qs})
            QVERIFY(create(asset + u", 'x', 2, 'JDOE'"_qs).contains(u"unknown asset code"_qs));
        // An empty table starts at 2.
        QVERIFY(QSqlQuery(db).exec(u"DELETE FROM WO_WorkOrders"_qs));
        QCOMPARE(create(u"'P-101', 'first', 3, 'U'"_qs), QString());
        QCOMPARE(dump(db, u"SELECT WO_Nbr FROM WO_WorkOrders"_qs), QStringList {u"2"_qs});
    }

private:
    /// A new open database on engine ("sqlite" or "postgresql"), given up in cleanup(): empty, or
    /// a plant made with options.
    QSqlDatabase scratch(const QString &engine, const DemoData::Options *options = nullptr)
    {
        const bool postgres = engine == u"postgresql";
        m_scratch << (postgres ? PgServer::createDatabase(u"demodata"_qs)
                               : m_dir.filePath(QUuid::createUuid().toString(QUuid::Id128)));
        QSqlDatabase db = QSqlDatabase::addDatabase(postgres ? u"QPSQL"_qs : u"QSQLITE"_qs, m_scratch.last());
        db.setDatabaseName(m_scratch.last());
        db.setHostName(PgServer::host());
        db.setPort(PgServer::port());
        db.setUserName(PgServer::user());
        db.setPassword(PgServer::password());
        if (db.open() && options) {
            DemoData::createSchema(db, *options);
            DemoData::populate(db, *options);
        }
        return db;
    }

    QTemporaryDir m_dir;
    QSqlDatabase m_demo; // the demo plant in SQLite, read only
    QStringList m_scratch; // SQLite paths and PostgreSQL database names
};

QTEST_GUILESS_MAIN(DemoDataTest)
#include "tst_demodata.moc"

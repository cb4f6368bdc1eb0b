#include "demodata.h"
#include "sqlscript_p.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace Orvantel;

#define QVERIFY_SQL(q, stmt) QVERIFY2((q).stmt, qPrintable((q).lastError().text()))

namespace {

const QStringList workOrderColumns = {
        QStringLiteral("WO_Nbr"),         QStringLiteral("AssetCode"),
        QStringLiteral("AssetDescr"),     QStringLiteral("Status"),
        QStringLiteral("StatusDescr"),    QStringLiteral("Priority"),
        QStringLiteral("DateLoaded"),     QStringLiteral("RequestedByName"),
        QStringLiteral("AssignedToName"), QStringLiteral("Notes"),
        QStringLiteral("IsPM"),           QStringLiteral("DivisionID"),
        QStringLiteral("DepartmentID"),
};

QString quoted(const QString &text)
{
    return QLatin1Char('\'') + QString(text).replace(QLatin1Char('\''), QLatin1String("''")) + QLatin1Char('\'');
}

/// An empty database of one engine, dropped again when the test is done. PostgreSQL
/// comes from ORVANTEL_TEST_PG*; without it the database is "unavailable".
class ScratchDatabase
{
public:
    explicit ScratchDatabase(const QString &engine)
        : m_engine(engine)
    {
        static int counter = 0;
        m_connection = QStringLiteral("scratch-%1").arg(++counter);
        if (engine == QLatin1String("sqlite")) {
            m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
            m_db.setDatabaseName(m_dir.filePath(QStringLiteral("maint.db")));
        } else {
            if (qEnvironmentVariableIsEmpty("ORVANTEL_TEST_PGHOST")
                || qEnvironmentVariableIsEmpty("ORVANTEL_TEST_PGPORT")) {
                m_unavailable = true;
                return;
            }
            m_name = QStringLiteral("orv_demodata_%1_%2").arg(QCoreApplication::applicationPid()).arg(counter);
            {
                QSqlDatabase admin = server(m_connection + QStringLiteral("-admin"), QStringLiteral("postgres"));
                if (!admin.open() || !QSqlQuery(admin).exec(QStringLiteral("CREATE DATABASE ") + m_name))
                    m_error = QStringLiteral("Cannot create a PostgreSQL database: ") + admin.lastError().text();
            }
            QSqlDatabase::removeDatabase(m_connection + QStringLiteral("-admin"));
            m_db = server(m_connection, m_name);
        }
        if (m_error.isEmpty() && !m_db.open())
            m_error = m_db.lastError().text();
    }

    ~ScratchDatabase()
    {
        m_db.close();
        m_db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_connection);
        if (!m_name.isEmpty()) {
            {
                QSqlDatabase admin = server(m_connection + QStringLiteral("-admin"), QStringLiteral("postgres"));
                if (admin.open())
                    QSqlQuery(admin).exec(QStringLiteral("DROP DATABASE IF EXISTS ") + m_name
                                          + QStringLiteral(" WITH (FORCE)"));
            }
            QSqlDatabase::removeDatabase(m_connection + QStringLiteral("-admin"));
        }
    }

    bool unavailable() const { return m_unavailable; }
    QString error() const { return m_error; }
    QSqlDatabase db() const { return m_db; }
    bool isPostgreSql() const { return m_engine == QLatin1String("postgresql"); }

    /// The text of DateLoaded as SQLite stores it, on either engine.
    QString dateText() const
    {
        return isPostgreSql() ? QStringLiteral("to_char(DateLoaded, 'YYYY-MM-DD HH24:MI:SS')")
                              : QStringLiteral("DateLoaded");
    }

    QString createWorkOrderSql(const QString &asset, const QString &request, int priority, const QString &user) const
    {
        const QString args = quoted(asset) + QStringLiteral(", ") + quoted(request) + QStringLiteral(", ")
                + QString::number(priority) + QStringLiteral(", ") + quoted(user);
        return isPostgreSql() ? QStringLiteral("CALL sp_QX_CreateWorkOrder(") + args + QLatin1Char(')')
                              : QStringLiteral("INSERT INTO sp_QX_CreateWorkOrder VALUES (") + args + QLatin1Char(')');
    }

private:
    static QSqlDatabase server(const QString &connection, const QString &database)
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connection);
        db.setHostName(qEnvironmentVariable("ORVANTEL_TEST_PGHOST"));
        db.setPort(qEnvironmentVariableIntValue("ORVANTEL_TEST_PGPORT"));
        db.setUserName(qEnvironmentVariable("ORVANTEL_TEST_PGUSER"));
        db.setPassword(qEnvironmentVariable("ORVANTEL_TEST_PGPASSWORD"));
        db.setDatabaseName(database);
        return db;
    }

    QString m_engine;
    QString m_connection;
    QString m_name;
    QString m_error;
    bool m_unavailable = false;
    QTemporaryDir m_dir;
    QSqlDatabase m_db;
};

#define OPEN_SCRATCH(var, engine) \
    ScratchDatabase var(engine); \
    if (var.unavailable()) { \
        if (qEnvironmentVariableIsSet("CI")) \
            QFAIL("ORVANTEL_TEST_PGHOST/PORT/USER/PASSWORD are not set, and CI needs the PostgreSQL tests"); \
        QSKIP("PostgreSQL tests need ORVANTEL_TEST_PGHOST/PORT/USER/PASSWORD (scripts/test sets them)"); \
    } \
    QVERIFY2(var.error().isEmpty(), qPrintable(var.error()))

/// Every row of a query as "a|b|c", NULL as "<null>".
QStringList dump(QSqlDatabase db, const QString &sql)
{
    QStringList rows;
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (!q.exec(sql)) {
        qWarning() << sql << q.lastError().text();
        return {QStringLiteral("<error>")};
    }
    while (q.next()) {
        QStringList values;
        for (int i = 0; i < q.record().count(); ++i)
            values.append(q.isNull(i) ? QStringLiteral("<null>") : q.value(i).toString());
        rows.append(values.join(QLatin1Char('|')));
    }
    return rows;
}

QStringList dumpAll(const ScratchDatabase &scratch)
{
    QStringList columns = workOrderColumns;
    columns[workOrderColumns.indexOf(QStringLiteral("DateLoaded"))] = scratch.dateText();
    return dump(scratch.db(),
                QStringLiteral("SELECT ") + columns.join(QLatin1Char(','))
                        + QStringLiteral(" FROM vw_QX_WorkOrdersGrid ORDER BY WO_Nbr"))
            + dump(scratch.db(), QStringLiteral("SELECT * FROM vw_LinkedFiles ORDER BY FileName"))
            + dump(scratch.db(), QStringLiteral("SELECT * FROM vw_WORequestedUsers ORDER BY UserID"));
}

QVariant scalar(QSqlDatabase db, const QString &sql)
{
    QSqlQuery q(db);
    if (!q.exec(sql) || !q.next()) {
        qWarning() << sql << q.lastError().text();
        return QVariant();
    }
    return q.value(0);
}

void addEngineRows(const char *name)
{
    QTest::addRow("sqlite: %s", name) << QStringLiteral("sqlite");
    QTest::addRow("postgresql: %s", name) << QStringLiteral("postgresql");
}

} // namespace

class DemoDataTest : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();

    void splitsScriptIntoStatements_data();
    void splitsScriptIntoStatements();
    void sqliteSchemaRunsInTheSqliteShell();

    void demoPlantHasExpectedSpread_data();
    void demoPlantHasExpectedSpread();
    void viewsListColumnsInContractOrder_data();
    void viewsListColumnsInContractOrder();
    void sameOptionsGiveSameRows();
    void bothEnginesHoldTheSameRows();
    void benchmarkSizeKeepsRealisticText();
    void schemaErrorNamesTheStatement();

    void createWorkOrderStoresRequest_data();
    void createWorkOrderStoresRequest();
    void createWorkOrderRejectsUnknownAsset_data();
    void createWorkOrderRejectsUnknownAsset();
    void firstCreatedWorkOrderIsNumberTwo_data();
    void firstCreatedWorkOrderIsNumberTwo();

    void linkedFilesExistAndDecode();

private:
    QTemporaryDir m_dir;
    QSqlDatabase m_demo; // the demo plant in SQLite, read-only
};

void DemoDataTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    const QString path = m_dir.filePath(QStringLiteral("demo.db"));
    DemoData::createSqliteFile(path);
    m_demo = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("demo"));
    m_demo.setDatabaseName(path);
    QVERIFY(m_demo.open());
}

void DemoDataTest::splitsScriptIntoStatements_data()
{
    QTest::addColumn<QString>("script");
    QTest::addColumn<QStringList>("statements");

    QTest::addRow("plain") << QStringLiteral("SELECT 1;\nSELECT 2;")
                           << QStringList {QStringLiteral("SELECT 1"), QStringLiteral("SELECT 2")};
    QTest::addRow("no final semicolon") << QStringLiteral("SELECT 1; SELECT 2")
                                        << QStringList {QStringLiteral("SELECT 1"), QStringLiteral("SELECT 2")};
    QTest::addRow("semicolon in a string")
            << QStringLiteral("SELECT 'a;b', 'it''s;'; SELECT 3")
            << QStringList {QStringLiteral("SELECT 'a;b', 'it''s;'"), QStringLiteral("SELECT 3")};
    QTest::addRow("semicolon in an identifier")
            << QStringLiteral("SELECT 1 AS \"x;y\"; SELECT 2")
            << QStringList {QStringLiteral("SELECT 1 AS \"x;y\""), QStringLiteral("SELECT 2")};
    QTest::addRow("comments") << QStringLiteral("-- one; two\nSELECT 1 /* ; */;\n-- trailing; comment\n")
                              << QStringList {QStringLiteral("-- one; two\nSELECT 1 /* ; */")};
    QTest::addRow("dollar-quoted body")
            << QStringLiteral(
                       "CREATE FUNCTION f() RETURNS int AS $$ BEGIN RETURN 1; END; $$ LANGUAGE plpgsql; SELECT f()")
            << QStringList {
                       QStringLiteral("CREATE FUNCTION f() RETURNS int AS $$ BEGIN RETURN 1; END; $$ LANGUAGE plpgsql"),
                       QStringLiteral("SELECT f()")};
    QTest::addRow("tagged dollar quote") << QStringLiteral("DO $body$ BEGIN PERFORM '$$;'; END $body$; SELECT $1")
                                         << QStringList {QStringLiteral("DO $body$ BEGIN PERFORM '$$;'; END $body$"),
                                                         QStringLiteral("SELECT $1")};
    QTest::addRow("trigger body") << QStringLiteral(
            "CREATE TRIGGER t INSTEAD OF INSERT ON v\nBEGIN\n  SELECT 1;\n  INSERT INTO x VALUES (2);\nEND;\nSELECT 3;")
                                  << QStringList {QStringLiteral("CREATE TRIGGER t INSTEAD OF INSERT ON v\nBEGIN\n  "
                                                                 "SELECT 1;\n  INSERT INTO x VALUES (2);\nEND"),
                                                  QStringLiteral("SELECT 3")};
    QTest::addRow("temporary trigger")
            << QStringLiteral("create temp trigger t after insert on x begin delete from y; end; select 1")
            << QStringList {QStringLiteral("create temp trigger t after insert on x begin delete from y; end"),
                            QStringLiteral("select 1")};
    QTest::addRow("END outside a trigger")
            << QStringLiteral("SELECT CASE WHEN 1 THEN 2 END; SELECT 3")
            << QStringList {QStringLiteral("SELECT CASE WHEN 1 THEN 2 END"), QStringLiteral("SELECT 3")};
}

void DemoDataTest::splitsScriptIntoStatements()
{
    QFETCH(QString, script);
    QFETCH(QStringList, statements);
    QCOMPARE(DemoData::splitSqlScript(script), statements);
}

void DemoDataTest::sqliteSchemaRunsInTheSqliteShell()
{
    const QString shell = QStandardPaths::findExecutable(QStringLiteral("sqlite3"));
    if (shell.isEmpty())
        QSKIP("the sqlite3 shell is not installed");
    QProcess process;
    process.setStandardInputFile(QStringLiteral(ORVANTEL_DB_SOURCE_DIR "/sqlite/schema.sql"));
    process.start(shell, {QStringLiteral("-bail"), m_dir.filePath(QStringLiteral("shell.db"))});
    QVERIFY(process.waitForFinished());
    QVERIFY2(process.exitCode() == 0, process.readAllStandardError().constData());

    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("shell"));
    db.setDatabaseName(m_dir.filePath(QStringLiteral("shell.db")));
    QVERIFY(db.open());
    DemoData::Options options;
    options.workOrders = 100;
    DemoData::populate(db, options);
    QCOMPARE(scalar(db, QStringLiteral("SELECT COUNT(*) FROM vw_QX_WorkOrdersGrid")).toInt(), 100);
    db.close();
    db = QSqlDatabase();
    QSqlDatabase::removeDatabase(QStringLiteral("shell"));
}

void DemoDataTest::demoPlantHasExpectedSpread_data()
{
    QTest::addColumn<QString>("sql");
    QTest::addColumn<int>("low");
    QTest::addColumn<int>("high");

    const QString wo = QStringLiteral("SELECT COUNT(*) FROM vw_QX_WorkOrdersGrid WHERE ");
    QTest::addRow("work orders") << wo + QStringLiteral("1 = 1") << 1500 << 1500;
    QTest::addRow("numbers start at 10001")
            << QStringLiteral("SELECT MIN(WO_Nbr) FROM vw_QX_WorkOrdersGrid") << 10001 << 10001;
    QTest::addRow("numbers have no gaps")
            << QStringLiteral("SELECT MAX(WO_Nbr) FROM vw_QX_WorkOrdersGrid") << 11500 << 11500;
    QTest::addRow("open, not PM") << wo + QStringLiteral("Status < 3 AND IsPM = 0") << 100 << 400;
    QTest::addRow("open PM") << wo + QStringLiteral("Status < 3 AND IsPM = 1") << 50 << 200;
    QTest::addRow("PM history") << wo + QStringLiteral("Status >= 3 AND IsPM = 1") << 50 << 300;
    QTest::addRow("completed") << wo + QStringLiteral("Status = 3") << 50 << 400;
    QTest::addRow("closed") << wo + QStringLiteral("Status = 4") << 500 << 1200;
    for (int p = 1; p <= 5; ++p)
        QTest::addRow("priority %d", p) << wo + QStringLiteral("Priority = %1").arg(p) << 20 << 1000;
    QTest::addRow("no priority") << wo + QStringLiteral("Priority IS NULL") << 5 << 100;
    QTest::addRow("no notes") << wo + QStringLiteral("Notes IS NULL") << 10 << 150;
    QTest::addRow("multi-line notes") << wo + QStringLiteral("Notes LIKE '%' || char(10) || '%'") << 50 << 600;
    QTest::addRow("notes with a quote") << wo + QStringLiteral("Notes LIKE '%''%'") << 50 << 1500;
    QTest::addRow("no requester name") << wo + QStringLiteral("RequestedByName IS NULL") << 10 << 600;
    QTest::addRow("no technician name") << wo + QStringLiteral("AssignedToName IS NULL") << 10 << 600;
    QTest::addRow("no asset description") << wo + QStringLiteral("AssetDescr IS NULL") << 1 << 300;
    QTest::addRow("PM iff StatusDescr is PM") << wo + QStringLiteral("(IsPM = 1) <> (StatusDescr = 'PM')") << 0 << 0;
    QTest::addRow("status names") << QStringLiteral("SELECT COUNT(DISTINCT StatusDescr) FROM vw_QX_WorkOrdersGrid") << 6
                                  << 6;
    QTest::addRow("division from the asset")
            << QStringLiteral("SELECT COUNT(*) FROM WO_WorkOrders w JOIN GS_Assets a ON a.AssetCode = w.AssetCode "
                              "WHERE a.DivisionID <> w.DivisionID OR a.DepartmentID <> w.DepartmentID")
            << 0 << 0;
    QTest::addRow("assets") << QStringLiteral("SELECT COUNT(*) FROM GS_Assets") << 55 << 65;
    QTest::addRow("assets without description")
            << QStringLiteral("SELECT COUNT(*) FROM GS_Assets WHERE Descr IS NULL") << 2 << 6;
    QTest::addRow("assets with work") << QStringLiteral("SELECT COUNT(DISTINCT AssetCode) FROM WO_WorkOrders") << 55
                                      << 65;
    QTest::addRow("divisions") << QStringLiteral("SELECT COUNT(*) FROM GS_Divisions") << 3 << 3;
    QTest::addRow("departments") << QStringLiteral("SELECT COUNT(*) FROM GS_Departments") << 6 << 6;
    QTest::addRow("requesters") << QStringLiteral("SELECT COUNT(*) FROM vw_WORequestedUsers") << 20 << 20;
    QTest::addRow("requesters without name")
            << QStringLiteral("SELECT COUNT(*) FROM vw_WORequestedUsers WHERE Name IS NULL") << 1 << 3;
    QTest::addRow("linked files") << QStringLiteral("SELECT COUNT(*) FROM vw_LinkedFiles") << 200 << 200;
    QTest::addRow("distinct file names") << QStringLiteral("SELECT COUNT(DISTINCT FileName) FROM vw_LinkedFiles") << 200
                                         << 200;
    QTest::addRow("file names with blanks")
            << QStringLiteral("SELECT COUNT(*) FROM vw_LinkedFiles WHERE FileName LIKE '% %'") << 20 << 180;
    QTest::addRow("document types") << QStringLiteral("SELECT COUNT(DISTINCT DocType) FROM vw_LinkedFiles") << 5 << 8;
    QTest::addRow("assets with files") << QStringLiteral("SELECT COUNT(DISTINCT AssetCode) FROM vw_LinkedFiles") << 30
                                       << 61;
    for (const char *ext : {"jpg", "png", "pdf", "txt", "html"}) {
        QTest::addRow("%s files", ext) << QStringLiteral(
                                                  "SELECT COUNT(*) FROM vw_LinkedFiles WHERE FileName LIKE '%.%1'")
                                                  .arg(QLatin1String(ext))
                                       << 5 << 120;
    }
}

void DemoDataTest::demoPlantHasExpectedSpread()
{
    QFETCH(QString, sql);
    QFETCH(int, low);
    QFETCH(int, high);
    QSqlQuery q(m_demo);
    QVERIFY_SQL(q, exec(sql));
    QVERIFY(q.next());
    const int value = q.value(0).toInt();
    QVERIFY2(value >= low && value <= high,
             qPrintable(QStringLiteral("%1 is not in [%2, %3]").arg(value).arg(low).arg(high)));
}

void DemoDataTest::viewsListColumnsInContractOrder_data()
{
    QTest::addColumn<QString>("engine");
    addEngineRows("views");
}

void DemoDataTest::viewsListColumnsInContractOrder()
{
    QFETCH(QString, engine);
    OPEN_SCRATCH(scratch, engine);
    DemoData::createSchema(scratch.db());

    const QList<QPair<QString, QStringList>> views = {
            {QStringLiteral("vw_QX_WorkOrdersGrid"), workOrderColumns},
            {QStringLiteral("vw_LinkedFiles"),
             {QStringLiteral("AssetCode"), QStringLiteral("DocType"), QStringLiteral("DocDescr"),
              QStringLiteral("FileName")}},
            {QStringLiteral("vw_WORequestedUsers"), {QStringLiteral("UserID"), QStringLiteral("Name")}},
    };
    for (const auto &[view, expected] : views) {
        QSqlQuery q(scratch.db());
        QVERIFY_SQL(q, exec(QStringLiteral("SELECT * FROM ") + view));
        QStringList columns;
        for (int i = 0; i < q.record().count(); ++i)
            columns.append(q.record().fieldName(i).toLower());
        QStringList lowered;
        for (const QString &column : expected)
            lowered.append(column.toLower());
        QCOMPARE(columns, lowered);
    }
}

void DemoDataTest::sameOptionsGiveSameRows()
{
    DemoData::Options options;
    options.workOrders = 2000;
    const auto rowsOf = [this](const DemoData::Options &options, const QString &name) {
        const QString path = m_dir.filePath(name);
        DemoData::createSqliteFile(path, options);
        QStringList rows;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(path);
            if (db.open()) {
                rows = dump(db, QStringLiteral("SELECT * FROM vw_QX_WorkOrdersGrid ORDER BY WO_Nbr"))
                        + dump(db, QStringLiteral("SELECT * FROM vw_LinkedFiles ORDER BY FileName"));
            }
        }
        QSqlDatabase::removeDatabase(name);
        return rows;
    };
    const QStringList first = rowsOf(options, QStringLiteral("first.db"));
    QCOMPARE(first.size(), 2200);
    QCOMPARE(rowsOf(options, QStringLiteral("second.db")), first);

    options.seed += 1;
    const QStringList reseeded = rowsOf(options, QStringLiteral("reseeded.db"));
    QCOMPARE(reseeded.size(), first.size());
    QVERIFY(reseeded != first);
}

void DemoDataTest::bothEnginesHoldTheSameRows()
{
    OPEN_SCRATCH(postgres, QStringLiteral("postgresql"));
    ScratchDatabase sqlite(QStringLiteral("sqlite"));
    QVERIFY2(sqlite.error().isEmpty(), qPrintable(sqlite.error()));
    for (const ScratchDatabase *scratch : {&postgres, &sqlite}) {
        DemoData::createSchema(scratch->db());
        DemoData::populate(scratch->db());
    }
    const QStringList expected = dumpAll(sqlite);
    QCOMPARE(expected.size(), 1500 + 200 + 20);
    QCOMPARE(dumpAll(postgres), expected);
}

void DemoDataTest::benchmarkSizeKeepsRealisticText()
{
    ScratchDatabase scratch(QStringLiteral("sqlite"));
    DemoData::createSchema(scratch.db());
    DemoData::Options options;
    options.workOrders = 25000;
    DemoData::populate(scratch.db(), options);

    QSqlQuery q(scratch.db());
    QVERIFY_SQL(q,
                exec(QStringLiteral(
                        "SELECT COUNT(*), MAX(WO_Nbr), AVG(LENGTH(Notes)), "
                        "AVG(LENGTH(WO_Nbr) + LENGTH(AssetCode) + IFNULL(LENGTH(AssetDescr), 0) + LENGTH(StatusDescr) "
                        "+ LENGTH(DateLoaded) + IFNULL(LENGTH(RequestedByName), 0) + IFNULL(LENGTH(AssignedToName), 0) "
                        "+ IFNULL(LENGTH(Notes), 0) + LENGTH(DivisionID) + LENGTH(DepartmentID) + 3), "
                        "SUM(Status < 3 AND IsPM = 0) * 100 / COUNT(*) "
                        "FROM vw_QX_WorkOrdersGrid")));
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toInt(), 25000);
    QCOMPARE(q.value(1).toInt(), DemoData::FirstWorkOrderNumber + 25000 - 1);
    const double notes = q.value(2).toDouble();
    QVERIFY2(notes > 80 && notes < 120, qPrintable(QString::number(notes)));
    // 250,000 rows of this make the 40-50 MB a benchmark expects.
    const double row = q.value(3).toDouble();
    QVERIFY2(row > 160 && row < 200, qPrintable(QString::number(row)));
    const int openPercent = q.value(4).toInt();
    QVERIFY2(openPercent >= 5 && openPercent <= 25, qPrintable(QString::number(openPercent)));
}

void DemoDataTest::schemaErrorNamesTheStatement()
{
    ScratchDatabase scratch(QStringLiteral("sqlite"));
    QVERIFY(QSqlQuery(scratch.db()).exec(QStringLiteral("CREATE TABLE GS_Assets (x)")));
    try {
        DemoData::createSchema(scratch.db());
        QFAIL("createSchema() accepted a database that already has GS_Assets");
    } catch (const DemoData::Error &e) {
        const QString message = QString::fromUtf8(e.what());
        QVERIFY2(message.contains(QLatin1String("CREATE TABLE GS_Assets")), qPrintable(message));
    }
    // All or nothing: the tables made before the failing one are gone again.
    QVERIFY(!scratch.db().tables().contains(QStringLiteral("GS_Divisions")));
}

void DemoDataTest::createWorkOrderStoresRequest_data()
{
    QTest::addColumn<QString>("engine");
    QTest::addColumn<QString>("asset");
    QTest::addColumn<QString>("request");
    QTest::addColumn<int>("priority");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("requesterName");

    const struct
    {
        const char *name;
        QString asset;
        QString request;
        int priority;
        QString user;
        QString requesterName;
    } cases[] = {
            {"quote in the request", QStringLiteral("P-101"), QStringLiteral("Fix the pump's seal"), 2,
             QStringLiteral("JDOE"), QStringLiteral("Jordan Doe")},
            {"several lines, backslash, degree sign", QStringLiteral("BLR-1"),
             QStringLiteral("Burner won't light.\nChecked C:\\logs\\burner.txt; 85 \u00b0C\n'done'"), 1,
             QStringLiteral("JOBRIEN"), QStringLiteral("Jim O'Brien")},
            {"asset in another division", QStringLiteral("PKG-2"), QStringLiteral("Labels crooked"), 5,
             QStringLiteral("HMUELLER"), QStringLiteral("Hans M\u00fcller")},
            {"requester without a name", QStringLiteral("FL-01"), QString(QLatin1String("")), 3,
             QStringLiteral("SHIFTA"), QString()},
    };
    for (const auto &c : cases) {
        for (const QString &engine : {QStringLiteral("sqlite"), QStringLiteral("postgresql")}) {
            QTest::addRow("%s: %s", qPrintable(engine), c.name)
                    << engine << c.asset << c.request << c.priority << c.user << c.requesterName;
        }
    }
}

void DemoDataTest::createWorkOrderStoresRequest()
{
    QFETCH(QString, engine);
    QFETCH(QString, asset);
    QFETCH(QString, request);
    QFETCH(int, priority);
    QFETCH(QString, user);
    QFETCH(QString, requesterName);

    OPEN_SCRATCH(scratch, engine);
    DemoData::Options options;
    options.workOrders = 300;
    options.linkedFiles = 10;
    DemoData::createSchema(scratch.db());
    DemoData::populate(scratch.db(), options);

    const QDateTime before = QDateTime::currentDateTime().addSecs(-2);
    QSqlQuery q(scratch.db());
    QVERIFY_SQL(q, exec(scratch.createWorkOrderSql(asset, request, priority, user)));
    const QDateTime after = QDateTime::currentDateTime().addSecs(2);

    QVERIFY_SQL(q,
                exec(QStringLiteral("SELECT w.WO_Nbr, w.Status, w.StatusDescr, w.Priority, ") + scratch.dateText()
                     + QStringLiteral(", w.RequestedByName, w.AssignedToName, w.Notes, w.IsPM, "
                                      "w.DivisionID = a.DivisionID AND w.DepartmentID = a.DepartmentID "
                                      "FROM vw_QX_WorkOrdersGrid w JOIN GS_Assets a ON a.AssetCode = w.AssetCode "
                                      "WHERE w.WO_Nbr = (SELECT MAX(WO_Nbr) FROM vw_QX_WorkOrdersGrid)")));
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toInt(), DemoData::FirstWorkOrderNumber + 300);
    QCOMPARE(q.value(1).toInt(), 0);
    QCOMPARE(q.value(2).toString(), QStringLiteral("Requested"));
    QCOMPARE(q.value(3).toInt(), priority);
    const QDateTime loaded = QDateTime::fromString(q.value(4).toString(), QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    QVERIFY2(loaded >= before && loaded <= after, qPrintable(q.value(4).toString()));
    QCOMPARE(q.value(5).toString(), requesterName);
    QCOMPARE(q.isNull(5), requesterName.isNull());
    QVERIFY(q.isNull(6));
    QCOMPARE(q.value(7).toString(), request);
    QCOMPARE(q.value(8).toInt(), 0);
    QVERIFY2(q.value(9).toBool(), "division or department differs from the asset's");
}

void DemoDataTest::createWorkOrderRejectsUnknownAsset_data()
{
    QTest::addColumn<QString>("engine");
    addEngineRows("unknown asset");
}

void DemoDataTest::createWorkOrderRejectsUnknownAsset()
{
    QFETCH(QString, engine);
    OPEN_SCRATCH(scratch, engine);
    DemoData::Options options;
    options.workOrders = 50;
    DemoData::createSchema(scratch.db());
    DemoData::populate(scratch.db(), options);

    QSqlQuery q(scratch.db());
    // Asset codes compare exactly: a known code in another case is unknown too.
    for (const QString &asset : {QStringLiteral("NO-SUCH-1"), QStringLiteral("p-101")}) {
        QVERIFY(!q.exec(scratch.createWorkOrderSql(asset, QStringLiteral("x"), 2, QStringLiteral("JDOE"))));
        QVERIFY2(q.lastError().text().contains(QLatin1String("unknown asset code")), qPrintable(q.lastError().text()));
    }
    QCOMPARE(scalar(scratch.db(), QStringLiteral("SELECT COUNT(*) FROM WO_WorkOrders")).toInt(), 50);
}

void DemoDataTest::firstCreatedWorkOrderIsNumberTwo_data()
{
    QTest::addColumn<QString>("engine");
    addEngineRows("empty plant");
}

void DemoDataTest::firstCreatedWorkOrderIsNumberTwo()
{
    QFETCH(QString, engine);
    OPEN_SCRATCH(scratch, engine);
    DemoData::createSchema(scratch.db());
    QSqlQuery q(scratch.db());
    QVERIFY_SQL(q, exec(QStringLiteral("INSERT INTO GS_Divisions (DivisionID) VALUES ('D1')")));
    QVERIFY_SQL(q, exec(QStringLiteral("INSERT INTO GS_Departments (DepartmentID, DivisionID) VALUES ('M1', 'D1')")));
    QVERIFY_SQL(q,
                exec(QStringLiteral(
                        "INSERT INTO GS_Assets (AssetCode, DivisionID, DepartmentID) VALUES ('A1', 'D1', 'M1')")));
    for (int i = 0; i < 2; ++i)
        QVERIFY_SQL(q,
                    exec(scratch.createWorkOrderSql(QStringLiteral("A1"), QStringLiteral("first"), 3,
                                                    QStringLiteral("U"))));
    QCOMPARE(dump(scratch.db(),
                  QStringLiteral(
                          "SELECT WO_Nbr, AssetCode, AssetDescr, DivisionID FROM vw_QX_WorkOrdersGrid ORDER BY 1")),
             QStringList({QStringLiteral("2|A1|<null>|D1"), QStringLiteral("3|A1|<null>|D1")}));
}

void DemoDataTest::linkedFilesExistAndDecode()
{
    const QString folder = m_dir.filePath(QStringLiteral("Item Images"));
    DemoData::writeLinkedFiles(folder);
    const QDir dir(folder);
    QCOMPARE(dir.entryList(QDir::Files).size(), 200);

    int images = 0;
    int pdfs = 0;
    const QRegularExpression objectRef(QStringLiteral("^(\\d{10}) 00000 n $"));
    for (const QString &name : dump(m_demo, QStringLiteral("SELECT FileName FROM vw_LinkedFiles"))) {
        QFile file(dir.filePath(name));
        QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(name));
        const QByteArray bytes = file.readAll();
        QVERIFY2(bytes.size() > 100, qPrintable(name));
        if (name.endsWith(QLatin1String(".jpg")) || name.endsWith(QLatin1String(".png"))) {
            QImage image;
            QVERIFY2(image.loadFromData(bytes), qPrintable(name));
            QVERIFY2(image.width() >= 64 && image.height() >= 48, qPrintable(name));
            // The floor at the bottom is the same grey in every picture.
            const QColor floor = image.pixelColor(image.width() / 2, image.height() - 2);
            QVERIFY2(qAbs(floor.red() - 90) < 8 && qAbs(floor.blue() - 96) < 8, qPrintable(name));
            ++images;
        } else if (name.endsWith(QLatin1String(".pdf"))) {
            QVERIFY2(bytes.startsWith("%PDF-1.4\n") && bytes.endsWith("%%EOF\n"), qPrintable(name));
            // Every cross-reference entry points at its object.
            const qsizetype xref = bytes.lastIndexOf("\nxref\n") + 1;
            int object = 1;
            for (const QByteArray &line : bytes.mid(xref).split('\n')) {
                const auto match = objectRef.match(QString::fromLatin1(line));
                if (!match.hasMatch())
                    continue;
                const qsizetype offset = match.captured(1).toLongLong();
                QVERIFY2(bytes.mid(offset).startsWith(QByteArray(QByteArray::number(object) + " 0 obj")),
                         qPrintable(name));
                ++object;
            }
            QCOMPARE(object, 6);
            ++pdfs;
        } else if (name.endsWith(QLatin1String(".html"))) {
            QVERIFY2(bytes.startsWith("<!DOCTYPE html>") && bytes.contains("</html>"), qPrintable(name));
        }
    }
    QVERIFY(images > 20);
    QVERIFY(pdfs > 10);
}

QTEST_GUILESS_MAIN(DemoDataTest)
#include "tst_demodata.moc"

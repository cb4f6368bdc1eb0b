#include "hostilevalues.h"
#include "testsupport.h"

#include "workordersgrid.h"
#include "workordersgrid_p.h"
#include "connectionstring.h"
#include "lookups.h"
#include "recordset.h"
#include "datagrid.h"

#include <QApplication>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>

using namespace Orvantel;
using namespace TestSupport;

namespace {

enum class Engine { Sqlite, PostgresStandardStrings, PostgresBackslashEscapes };

/// Every table's row count, and how many assets keep the descriptions they were filled
/// with: a statement that a value changed would show here.
const QString TablesFingerprint = QStringLiteral(
        "SELECT (SELECT count(*) FROM WO_WorkOrders) || ',' || (SELECT count(*) FROM GS_Assets) || ',' || "
        "(SELECT count(*) FROM GS_Assets WHERE Descr IN ('Pump', 'hostile')) || ',' || "
        "(SELECT count(*) FROM GS_LinkedFiles) || ',' || (SELECT count(*) FROM GS_Divisions) || ',' || "
        "(SELECT count(*) FROM GS_Departments) || ',' || (SELECT count(*) FROM GS_Users) || ',' || "
        "(SELECT count(*) FROM WO_Statuses)");

/// Values that can stand as one asset code in a list (the list drops blanks and splits
/// at commas) and fit the code column.
bool usableAsCode(const QString &value)
{
    return !value.isEmpty() && !value.contains(u' ') && !value.contains(u',') && value.size() <= 60;
}

} // namespace

Q_DECLARE_METATYPE(Engine)

/// Hostile values through every path of the grids that builds SQL or a connection string:
/// matched literally, never changing a statement, any failure reported in a box.
class HostileTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void cleanup();
    void filtersMatchLiterally_data();
    void filtersMatchLiterally();
    void lookupsAndCreationStayLiteral_data();
    void lookupsAndCreationStayLiteral();
    void settingsFileValuesStayLiteral();
    void connectionSettingsCannotAddKeys();

private:
    void engines();
    /// Points the control at the engine: on PostgreSQL, the database then reads strings
    /// with or without backslash escapes (standard_conforming_strings off or on) in every
    /// new connection.
    void useEngine(Engine engine);
    /// The first value of a query on the engine's database, through a connection of the test's own.
    QString scalar(Engine engine, const QString &sql);
    /// Creates the schema and rows for every hostile value (as asset code, division and
    /// department), inserting them with bound values.
    void fill(QSqlDatabase db);
    void connect(WorkOrdersGrid &grid, Engine engine);

    QTemporaryDir m_dir;
    QString m_sqlite;
    QString m_pgDatabase;
    int m_workOrders = 0;
};

void HostileTest::fill(QSqlDatabase db)
{
    DemoData::createSchema(db);
    QSqlQuery q(db);
    QVERIFY_SQL(q, exec(QStringLiteral("INSERT INTO GS_Divisions (DivisionID) VALUES ('D1')")));
    QVERIFY_SQL(q, exec(QStringLiteral("INSERT INTO GS_Departments (DepartmentID, DivisionID) VALUES ('M1', 'D1')")));
    QVERIFY_SQL(q, exec(QStringLiteral("INSERT INTO GS_Assets (AssetCode, Descr, DivisionID, DepartmentID) "
                                       "VALUES ('P-101', 'Pump', 'D1', 'M1')")));
    const QStringList values = hostileValues();
    int number = 1000;
    auto insertWorkOrder = [&](const QString &asset, const QString &division, const QString &department) {
        QVERIFY_SQL(q, prepare(QStringLiteral(
                           "INSERT INTO WO_WorkOrders (WO_Nbr, AssetCode, Status, IsPM, Priority, DateLoaded, "
                           "WorkRequest, DivisionID, DepartmentID) VALUES (?, ?, 0, 0, 3, '2026-03-01 08:00:00', ?, ?, ?)")));
        q.addBindValue(++number);
        q.addBindValue(asset);
        q.addBindValue(QStringLiteral("request"));
        q.addBindValue(division);
        q.addBindValue(department);
        QVERIFY_SQL(q, exec());
        ++m_workOrders;
    };
    insertWorkOrder(QStringLiteral("P-101"), QStringLiteral("D1"), QStringLiteral("M1"));
    for (const QString &value : values) {
        if (usableAsCode(value)) {
            QVERIFY_SQL(q, prepare(QStringLiteral("INSERT INTO GS_Assets (AssetCode, Descr, DivisionID, DepartmentID) "
                                                  "VALUES (?, 'hostile', 'D1', 'M1')")));
            q.addBindValue(value);
            QVERIFY_SQL(q, exec());
            insertWorkOrder(value, QStringLiteral("D1"), QStringLiteral("M1"));
            QVERIFY_SQL(q, prepare(QStringLiteral("INSERT INTO GS_LinkedFiles (FileID, AssetCode, DocType, DocDescr, "
                                                  "FileName) VALUES (?, ?, 'Photo', 'hostile', 'x.png')")));
            q.addBindValue(number);
            q.addBindValue(value);
            QVERIFY_SQL(q, exec());
        }
        if (!value.isEmpty())
            insertWorkOrder(QStringLiteral("P-101"), value, value);
    }
}

void HostileTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    qputenv("ORVANTEL_CONFIG_DIR", QFile::encodeName(m_dir.path()));
    m_sqlite = m_dir.path() + QStringLiteral("/hostile.db");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("fill"));
        db.setDatabaseName(m_sqlite);
        QVERIFY(db.open());
        fill(db);
    }
    QSqlDatabase::removeDatabase(QStringLiteral("fill"));
    if (PgServer::configured()) {
        m_pgDatabase = PgServer::createDatabase(QStringLiteral("tst_hostile"));
        const int sqliteCount = m_workOrders;
        m_workOrders = 0;
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), QStringLiteral("fill"));
            db.setHostName(PgServer::host());
            db.setPort(PgServer::port());
            db.setUserName(PgServer::user());
            db.setPassword(PgServer::password());
            db.setDatabaseName(m_pgDatabase);
            QVERIFY(db.open());
            fill(db);
        }
        QSqlDatabase::removeDatabase(QStringLiteral("fill"));
        QCOMPARE(m_workOrders, sqliteCount);
    }
}

void HostileTest::cleanupTestCase()
{
    if (!m_pgDatabase.isEmpty())
        PgServer::dropDatabase(m_pgDatabase);
}

void HostileTest::cleanup()
{
    QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
}

void HostileTest::connect(WorkOrdersGrid &grid, Engine engine)
{
    if (engine != Engine::Sqlite) {
        grid.setDBServerName(PgServer::serverName());
        grid.setDBDatabaseName(m_pgDatabase);
        grid.setDBUserID(PgServer::user());
        grid.setDBPassword(PgServer::password());
    } else {
        grid.setDBServerName(QStringLiteral("sqlite:") + m_sqlite);
    }
    grid.setRefreshInterval(30);
    QVERIFY(grid.ConnectToServer());
}

void HostileTest::engines()
{
    QTest::addColumn<Engine>("engine");
    QTest::addRow("sqlite") << Engine::Sqlite;
    QTest::addRow("postgresql, standard strings") << Engine::PostgresStandardStrings;
    QTest::addRow("postgresql, backslash escapes") << Engine::PostgresBackslashEscapes;
}

void HostileTest::useEngine(Engine engine)
{
    if (engine == Engine::Sqlite)
        return;
    REQUIRE_POSTGRES();
    const QString setting = engine == Engine::PostgresBackslashEscapes ? QStringLiteral("off") : QStringLiteral("on");
    QString error;
    QVERIFY2(
            PgServer::adminExec(
                    QStringLiteral("ALTER DATABASE %1 SET standard_conforming_strings = %2").arg(m_pgDatabase, setting),
                    &error),
            qPrintable(error));
    QCOMPARE(scalar(engine, QStringLiteral("SHOW standard_conforming_strings")), setting);
}

QString HostileTest::scalar(Engine engine, const QString &sql)
{
    if (engine != Engine::Sqlite)
        return PgServer::exec(m_pgDatabase, sql).toString();
    QString value;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("scalar"));
        db.setDatabaseName(m_sqlite);
        QSqlQuery q(db);
        if (db.open() && q.exec(sql) && q.next())
            value = q.value(0).toString();
        else
            qWarning("%s: %s", qPrintable(sql), qPrintable(q.lastError().text()));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("scalar"));
    return value;
}

void HostileTest::filtersMatchLiterally_data()
{
    engines();
}

void HostileTest::filtersMatchLiterally()
{
    QFETCH(Engine, engine);
    useEngine(engine);
    if (QTest::currentTestFailed())
        return;
    const QString tables = scalar(engine, TablesFingerprint);
    WorkOrdersGrid grid;
    letStartUpFinish();
    MessageBoxRecorder boxes;
    connect(grid, engine);
    auto *d = WorkOrdersGridPrivate::get(&grid);
    Recordset *rs = d->grdWorkOrders->recordset();
    int tried = 0;
    for (const QString &value : hostileValues()) {
        const QByteArray label = value.left(40).toUtf8();
        // As the asset list: only the work orders of that code (or every one when empty).
        grid.setAssetList(value);
        grid.setDivision(QString());
        grid.setDepartment(QString());
        QVERIFY2(grid.RefreshData(), label.constData());
        QString codes = value;
        codes.remove(u' ');
        if (codes.isEmpty()) {
            QCOMPARE(d->grdWorkOrders->rowCount(), m_workOrders);
        } else if (usableAsCode(value)) {
            QCOMPARE(d->grdWorkOrders->rowCount(), 1);
            QCOMPARE(rs->text(0, rs->fieldIndex(QStringLiteral("AssetCode"))), value);
        } else {
            QVERIFY2(d->grdWorkOrders->rowCount() == 0, label.constData());
        }
        d->RefreshLinkedFiles();
        QCOMPARE(d->TDBGrid1->rowCount(), usableAsCode(value) ? 1 : codes.isEmpty() ? d->TDBGrid1->rowCount() : 0);

        // As division and department: exactly the work order filed under that text.
        grid.setAssetList(QString());
        grid.setDivision(value);
        grid.setDepartment(value);
        QVERIFY2(grid.RefreshData(), label.constData());
        if (value.isEmpty()) {
            QCOMPARE(d->grdWorkOrders->rowCount(), m_workOrders);
        } else {
            QCOMPARE(d->grdWorkOrders->rowCount(), 1);
            QCOMPARE(rs->text(0, rs->fieldIndex(QStringLiteral("DivisionID"))), value);
        }
        ++tried;
    }
    QVERIFY(boxes.messages.isEmpty());
    QCOMPARE(tried, hostileValues().size());

    // Every table is intact.
    grid.setDivision(QString());
    grid.setDepartment(QString());
    QVERIFY(grid.RefreshData());
    QCOMPARE(d->grdWorkOrders->rowCount(), m_workOrders);
    QCOMPARE(scalar(engine, TablesFingerprint), tables);
}

void HostileTest::lookupsAndCreationStayLiteral_data()
{
    engines();
}

void HostileTest::lookupsAndCreationStayLiteral()
{
    QFETCH(Engine, engine);
    useEngine(engine);
    if (QTest::currentTestFailed())
        return;
    const QString connection = engine != Engine::Sqlite
        ? ConnectionString::build({PgServer::serverName(), m_pgDatabase, PgServer::user(), PgServer::password()})
        : ConnectionString::build({QStringLiteral("sqlite:") + m_sqlite, {}, {}, {}});
    const QStringList tables = scalar(engine, TablesFingerprint).split(u',');
    WorkOrdersGrid grid;
    letStartUpFinish();
    MessageBoxRecorder boxes;
    connect(grid, engine);
    auto *d = WorkOrdersGridPrivate::get(&grid);
    Recordset *rs = d->grdWorkOrders->recordset();
    QVERIFY(grid.RefreshData());
    const int before = d->grdWorkOrders->rowCount();
    int created = 0;
    for (const QString &value : hostileValues()) {
        const QByteArray label = value.left(40).toUtf8();
        // An asset code is looked up as typed: found only when it is one.
        const AssetCheck check = ValidateAsset(connection, value);
        QVERIFY2(!check.error, label.constData());
        QCOMPARE(check.exists, usableAsCode(value));
        // The request and the requester are stored as typed.
        QVERIFY2(!CreateWorkOrder(connection, QStringLiteral("P-101"), 3, value, value), label.constData());
        ++created;
        grid.setAssetList(QStringLiteral("P-101"));
        QVERIFY(grid.RefreshData());
        QCOMPARE(rs->text(0, rs->fieldIndex(QStringLiteral("Notes"))), value);
        QCOMPARE(rs->text(0, rs->fieldIndex(QStringLiteral("Priority"))), QStringLiteral("3"));
        QCOMPARE(scalar(engine, QStringLiteral("SELECT RequestedBy FROM WO_WorkOrders ORDER BY WO_Nbr DESC LIMIT 1")),
                 value);
    }
    // Nothing else changed: the work orders are the ones made here and before.
    grid.setAssetList(QString());
    QVERIFY(grid.RefreshData());
    QCOMPARE(d->grdWorkOrders->rowCount(), before + created);
    QStringList expectedTables = tables;
    expectedTables[0] = QString::number(tables.at(0).toInt() + created);
    QCOMPARE(scalar(engine, TablesFingerprint).split(u','), expectedTables);
    const ComboList users = LoadComboBox(connection, QStringLiteral("vw_WORequestedUsers"), QStringLiteral("UserID"),
                                         true, QStringLiteral("Name"));
    QVERIFY(!users.error);
    QVERIFY(boxes.messages.isEmpty());
}

void HostileTest::settingsFileValuesStayLiteral()
{
    const QString code = QStringLiteral("O'Brien");
    writeSettings(m_dir.path(), "DBServerName=sqlite:hostile.db\nRefreshInterval=30\nAssetList=" + code.toUtf8()
                                    + "\nDivision=D1\nDepartment='; DROP TABLE WO_WorkOrders; --\n");
    MessageBoxRecorder boxes;
    WorkOrdersGrid grid;
    auto *d = WorkOrdersGridPrivate::get(&grid);
    letStartUpFinish();
    QVERIFY(boxes.messages.isEmpty());
    QCOMPARE(grid.AssetList(), code);
    QCOMPARE(grid.Department(), QStringLiteral("'; DROP TABLE WO_WorkOrders; --"));
    QCOMPARE(d->grdWorkOrders->rowCount(), 0);  // no work order has that department
    grid.setDepartment(QStringLiteral("M1"));
    QVERIFY(grid.RefreshData());
    QCOMPARE(d->grdWorkOrders->rowCount(), 1);
    QCOMPARE(d->TDBGrid1->rowCount(), 1);
    QFile::remove(m_dir.path() + QStringLiteral("/OrvantelWO.ini"));
}

void HostileTest::connectionSettingsCannotAddKeys()
{
    int tried = 0;
    for (const QString &value : hostileValues()) {
        for (int field = 0; field < 4; ++field) {
            WorkOrdersGrid grid;
            letStartUpFinish();
            MessageBoxRecorder boxes;
            grid.setDBServerName(QStringLiteral("sqlite:") + m_sqlite);
            const QString injected = value + QStringLiteral(";Data Source=sqlite:") + m_sqlite;
            switch (field) {
            case 0: grid.setDBServerName(QStringLiteral("sqlite:") + m_dir.path() + QStringLiteral("/none") + injected); break;
            case 1: grid.setDBDatabaseName(injected); break;
            case 2: grid.setDBUserID(injected); break;
            case 3: grid.setDBPassword(injected); break;
            }
            const bool connected = grid.ConnectToServer();
            // A server name with something appended names no file; the other settings
            // are not used by SQLite and cannot change which file is opened.
            QCOMPARE(connected, field != 0);
            QCOMPARE(boxes.messages.size(), field == 0 ? 1 : 0);
            ++tried;
        }
    }
    QCOMPARE(tried, hostileValues().size() * 4);
    QVERIFY(!QFile::exists(m_dir.path() + QStringLiteral("/none")));
}

QTEST_MAIN(HostileTest)
#include "tst_hostile.moc"

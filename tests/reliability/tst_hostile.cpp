#include "testsupport.h"

#include "connectionstring.h"
#include "lookups.h"
#include "recordset.h"

#include <QFile>
#include <QSignalSpy>

using namespace Orvantel;
using namespace TestSupport;

namespace {

/// Values that break naive quoting or try to change a statement: quotes of every kind,
/// backslashes before quotes (an escape where a server reads backslashes in strings),
/// comment markers, statement separators, very long text, control characters, blanks.
// clang-format off
const QStringList Hostile = {
    u"O'Brien"_qs, u"'"_qs, u"''"_qs, u"x' OR '1'='1"_qs, u"'; DROP TABLE WO_WorkOrders; --"_qs,
    u"P-101'); DELETE FROM GS_Assets; --"_qs, u"\\'; SELECT 1; --"_qs, u"a\\"_qs,
    u"\\'; DELETE FROM WO_WorkOrders; --"_qs, u"\\' OR 1=1 --"_qs,
    u"\\', 3, NULL); UPDATE GS_Assets SET Descr = NULL; --"_qs, u"\\\\'"_qs, u"a\\\\\\'b"_qs, u"\\\\"_qs,
    u"\"quoted\""_qs, u"/* open comment"_qs, u"-- trailing comment"_qs, u";"_qs, u"a;b=c"_qs, u"%_*?[]"_qs,
    u"\u2019s"_qs, u"\uFF07 OR 1=1 --"_qs, u"\u02BCx"_qs, u"Fr\u00e4sen \u00fcnd Schwei\u00dfen"_qs,
    QString(5000, u'A') + u'\'', u"tab\there\r\nnew line"_qs, u"\x01\x1f" "ctl"_qs, QString(), u"   "_qs,
    u",,,"_qs, u"$$; SELECT 1; $$"_qs};
// clang-format on

/// The 14 values that stand as one asset code in a list (the list loses its blanks and
/// splits at commas); each is an asset with one open work order and one linked file.
bool isCode(const QString &value)
{
    return !value.isEmpty() && !value.contains(u' ') && !value.contains(u',') && value.size() <= 60;
}

/// Work orders, assets, assets with a description, linked files, divisions, departments,
/// users, statuses: a statement that a value changed or ended would show here.
const QString Tables = u"SELECT (SELECT count(*) FROM WO_WorkOrders) || ',' || (SELECT count(*) FROM GS_Assets) "
                       "|| ',' || (SELECT count(Descr) FROM GS_Assets) || ',' || (SELECT count(*) FROM GS_LinkedFiles) "
                       "|| ',' || (SELECT count(*) FROM GS_Divisions) || ',' || (SELECT count(*) FROM GS_Departments) "
                       "|| ',' || (SELECT count(*) FROM GS_Users) || ',' || (SELECT count(*) FROM WO_Statuses)"_qs;

/// Adds to the plant per code an asset, its open work order and a linked file; per
/// non-empty value an open work order of A1 filed under it as division and department.
/// The plant has no such rows; the filters need them to match. Both engines read standard
/// strings at this point, so doubled quotes give the values exactly.
void addHostileRows(const TestPlant &plant)
{
    const auto text = [](QString value) -> QString { return u'\'' + value.replace(u'\'', u"''"_qs) + u'\''; };
    const QString workOrder = u"INSERT INTO WO_WorkOrders (WO_Nbr, AssetCode, DateLoaded, DivisionID, DepartmentID) "
                              "VALUES (%1, %2, '2026-03-01 08:00:00', %3, %4)"_qs;
    QStringList rows;
    int number = 1000;
    for (const QString &value : Hostile) {
        if (isCode(value)) {
            ++number;
            rows << u"INSERT INTO GS_Assets (AssetCode, Descr, DivisionID, DepartmentID) VALUES (%1, 'hostile', "
                    "'D1', 'M1')"_qs.arg(text(value))
                 << workOrder.arg(number).arg(text(value), u"'D1'"_qs, u"'M1'"_qs)
                 << u"INSERT INTO GS_LinkedFiles VALUES (%1, %2, 'Photo', NULL, 'x.png')"_qs.arg(number).arg(
                            text(value));
        }
        if (!value.isEmpty())
            rows << workOrder.arg(++number).arg(u"'A1'"_qs, text(value), text(value));
    }
    plant.exec(rows);
}

/// QCOMPARE that names the hostile value it was given.
#define COMPARE_FOR(value, actual, expected) \
    do { \
        const auto found = (actual); \
        QVERIFY2(found == (expected), \
                 qPrintable(u"%1: %2, expected %3"_qs.arg((value).left(40)).arg(found).arg(expected))); \
    } while (false)

} // namespace

/// Hostile values through every path that builds SQL or a connection string: matched
/// literally, stored as typed, no table touched, no failure.
class HostileTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty()); }
    void valuesStayLiteral_data()
    {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("backslashes"); // PostgreSQL's standard_conforming_strings; empty: SQLite
        for (const char *path : {"settings file and filters", "asset lookup and creation"}) {
            QTest::addRow("%s, sqlite", path) << QString::fromLatin1(path) << QString();
            QTest::addRow("%s, postgresql, standard strings", path) << QString::fromLatin1(path) << u"on"_qs;
            QTest::addRow("%s, postgresql, backslash escapes", path) << QString::fromLatin1(path) << u"off"_qs;
        }
        QTest::addRow("connection settings, sqlite") << u"connection settings"_qs << QString();
    }
    void valuesStayLiteral();
};

void HostileTest::valuesStayLiteral()
{
    QFETCH(QString, path);
    QFETCH(QString, backslashes);
    const bool postgres = !backslashes.isEmpty();
    if (postgres)
        REQUIRE_POSTGRES();
    TestPlant plant(postgres ? TestPlant::Postgres : TestPlant::Sqlite);
    addHostileRows(plant);
    if (postgres) {
        const QString database = plant.databaseName();
        QVERIFY(PgServer::adminExec(
                u"ALTER DATABASE %1 SET standard_conforming_strings = %2"_qs.arg(database, backslashes)));
        QCOMPARE(PgServer::exec(database, u"SHOW standard_conforming_strings"_qs).toString(), backslashes);
    }
    QCOMPARE(plant.scalar(Tables).toString(), u"52,20,19,16,2,2,4,5"_qs);
    if (path != u"connection settings") {
        plant.writeSettings("RefreshInterval=600\nAssetList=O'Brien,A1\nDivision=\\'; DELETE FROM WO_WorkOrders; "
                            "--\nDepartment=\\'; DELETE FROM WO_WorkOrders; --\n");
    }
    MessageBoxRecorder boxes;
    WorkOrdersGrid grid;
    QSignalSpy failures(&grid, &WorkOrdersGrid::exception);
    letStartUpFinish();
    auto *workOrders = grid.findChild<DataGrid *>(u"grdWorkOrders"_qs);
    auto *files = grid.findChild<DataGrid *>(u"TDBGrid1"_qs);
    const auto top = [&](const QString &field) {
        return workOrders->recordset()->text(0, workOrders->recordset()->fieldIndex(field));
    };
    const auto latest = [&](const QString &column) {
        return plant.scalar(u"SELECT %1 FROM WO_WorkOrders ORDER BY WO_Nbr DESC LIMIT 1"_qs.arg(column)).toString();
    };
    const char *const settings[] = {"DBServerName", "DBDatabaseName", "DBUserID", "DBPassword"};
    const QString connection
            = ConnectionString::build({plant.serverName(), plant.databaseName(), plant.userId(), plant.password()});
    if (path != u"connection settings") {
        // Start-up reads them literally: only the work order of A1 filed under that division
        // (O'Brien's is in M1), and the files of both.
        QCOMPARE(workOrders->rowCount(), 1);
        QCOMPARE(top(u"DivisionID"_qs), u"\\'; DELETE FROM WO_WorkOrders; --"_qs);
        QCOMPARE(files->rowCount(), 2);
    }
    for (const QString &value : Hostile) {
        if (path == u"settings file and filters") {
            // As the asset list: the work order and file of that code; every one when blank.
            grid.setAssetList(value);
            grid.setDivision(QString());
            grid.setDepartment(QString());
            grid.setRefreshNow(1);
            const bool blank = value.trimmed().isEmpty();
            COMPARE_FOR(value, workOrders->rowCount(), blank ? 49 : isCode(value) ? 1 : 0);
            COMPARE_FOR(value, files->rowCount(), blank ? 16 : isCode(value) ? 1 : 0);
            if (isCode(value))
                QCOMPARE(top(u"AssetCode"_qs), value);
            // As division and department: the one work order filed under that text.
            grid.setAssetList(QString());
            grid.setDivision(value);
            grid.setDepartment(value);
            COMPARE_FOR(value, grid.RefreshData(), true);
            COMPARE_FOR(value, workOrders->rowCount(), value.isEmpty() ? 49 : 1);
            if (!value.isEmpty())
                QCOMPARE(top(u"DepartmentID"_qs), value);
        } else if (path == u"asset lookup and creation") {
            // Looked up as typed (found only when it is a code); request and requester stored as typed.
            const AssetCheck check = ValidateAsset(connection, value);
            COMPARE_FOR(value, check.exists && !check.error, isCode(value));
            QVERIFY(!CreateWorkOrder(connection, u"A1"_qs, 3, value, value));
            QCOMPARE(latest(u"WorkRequest"_qs), value);
            QCOMPARE(latest(u"RequestedBy"_qs), value);
        } else if (path == u"connection settings") {
            // A setting that would add a key names no other file: the server name then points
            // nowhere, the other settings are not read by SQLite.
            for (int setting = 0; setting < 4; ++setting) {
                for (int other = 0; other < 4; ++other)
                    grid.setProperty(settings[other], other == 0 ? u"sqlite:plant.db"_qs : QString());
                const QString added = value + u";Data Source=sqlite:"_qs + (setting == 0 ? u"plant.db"_qs : u"none"_qs);
                grid.setProperty(settings[setting], QString(grid.property(settings[setting]).toString() + added));
                COMPARE_FOR(value, grid.ConnectToServer(), setting != 0);
                COMPARE_FOR(value, boxes.titles().join(u","_qs),
                            setting == 0 ? u"ConnectToServer Error"_qs : QString());
                boxes.messages.clear();
            }
        }
    }
    QVERIFY(!QFile::exists(plant.folder() + u"/none"_qs));
    QCOMPARE(boxes.titles(), QStringList());
    QCOMPARE(failures.count(), 0);
    QCOMPARE(plant.scalar(Tables).toString(),
             path == u"asset lookup and creation" ? u"83,20,19,16,2,2,4,5"_qs : u"52,20,19,16,2,2,4,5"_qs);
}

QTEST_MAIN(HostileTest)
#include "tst_hostile.moc"

#pragma once

// What a test of the control needs: the control, its grids and boxes, and the widgets it is driven through.
#include "controlerror.h"
#include "datagrid.h"
#include "demodata.h"
#include "gridcolumns.h"
#include "messagebox.h"
#include "workordersgrid.h"

#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QMessageBox>
#include <QPushButton>
#include <QSqlError>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

/// Verifies a SQL step and prints the driver's error when it fails.
#define QVERIFY_SQL(q, stmt) QVERIFY2((q).stmt, qPrintable((q).lastError().text()))

/// Requires the PostgreSQL test server: skips when it is not configured, fails in CI.
#define REQUIRE_POSTGRES() \
    do { \
        if (!TestSupport::PgServer::configured()) { \
            if (TestSupport::runningInCi()) \
                QFAIL("ORVANTEL_TEST_PG* is not set: the PostgreSQL test server is missing"); \
            QSKIP("ORVANTEL_TEST_PG* is not set: run through scripts/test for the PostgreSQL tests"); \
        } \
    } while (false)

namespace TestSupport {

/// The error f throws (number 0 when it throws none).
template<typename F>
Orvantel::ControlError thrown(F &&f)
{
    try {
        f();
    } catch (const Orvantel::ControlError &e) {
        return e;
    }
    return {0, u"no error"_qs};
}

inline bool runningInCi()
{
    return !qEnvironmentVariableIsEmpty("CI");
}

/// A new control connects and loads at the first turn of the event loop (boxes it opens
/// run their own loops).
inline void letStartUpFinish()
{
    QCoreApplication::processEvents();
}

/// Writes OrvantelWO.ini into folder: section [Orvantel] followed by keys ("Key=value" lines).
void writeSettings(const QString &folder, const QByteArray &keys);

/// A control on a host window, started up the way a host starts it: by showing it (start-up
/// reads the settings file of $ORVANTEL_CONFIG_DIR). reset() destroys both.
struct HostedControl
{
    void show();
    void reset()
    {
        host.reset();
        grid = nullptr;
    }

    std::unique_ptr<QWidget> host;
    WorkOrdersGrid *grid = nullptr;
};

struct ShownMessage
{
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
};

/// Answers every modal message box that opens while it lives by pressing OK (unless answer
/// is false), and records what each said and the most boxes open at once.
class MessageBoxRecorder : public QObject
{
    Q_OBJECT
public:
    explicit MessageBoxRecorder(QObject *parent = nullptr);

    QList<ShownMessage> messages;
    int mostOpenAtOnce = 0;
    bool answer = true;

    QStringList titles() const;

private:
    void poll();
    QList<QMessageBox *> m_seen;
};

/// Runs callback once the next modal widget other than a message box is active (a dialog's
/// exec()). Fails the test if none appears within timeoutMs.
void whenModal(const std::function<void(QWidget *)> &callback, int timeoutMs = 10000);

/// The PostgreSQL server that scripts/test starts (ORVANTEL_TEST_PG*).
class PgServer
{
public:
    static bool configured() { return port() != 0 && !user().isEmpty(); }
    static QString host() { return qEnvironmentVariable("ORVANTEL_TEST_PGHOST", QStringLiteral("127.0.0.1")); }
    static int port() { return qEnvironmentVariableIntValue("ORVANTEL_TEST_PGPORT"); }
    static QString user() { return qEnvironmentVariable("ORVANTEL_TEST_PGUSER"); }
    static QString password() { return qEnvironmentVariable("ORVANTEL_TEST_PGPASSWORD"); }
    /// "postgresql://127.0.0.1:PORT", the control's server name for it.
    static QString serverName() { return QStringLiteral("postgresql://%1:%2").arg(host()).arg(port()); }
    /// Creates a database named after prefix, with the schema and data of options unless null.
    static QString createDatabase(const QString &prefix, const Orvantel::DemoData::Options *options = nullptr);
    static void dropDatabase(const QString &name);
    /// Runs a statement on the server's admin database; returns false on failure.
    static bool adminExec(const QString &sql, QString *error = nullptr);
    /// Runs a statement in database: its first value, true without rows, invalid (printed) on failure.
    static QVariant exec(const QString &database, const QString &sql);
    /// The path of the script that stops and starts the server, empty when unknown.
    static QString controlScript() { return qEnvironmentVariable("ORVANTEL_TEST_PGCTL"); }
};

/// The test plant: a maintenance database whose every row the tests know, on SQLite or
/// on the PostgreSQL test server, with a settings folder ($ORVANTEL_CONFIG_DIR) of its own.
///   divisions D1, D2; departments M1 (D1), M2 (D2); assets (division/department)
///   A1 Pump, A2 Fan, O'Q Quoted (D1/M1); B1 Boiler, C3 (no description), P-100 Feed pump (D2/M2)
///   requesters U1 Ann, U2 Bob, U3 (no name); T9 Tech may not request work
///   work orders: number asset status PM priority date(2026-01-0N 08:00:00) requester request,
///   division/department of the asset
///     101 A1 0 - 1 01 U1 "Seal leaks" (open)       102 A2 1 - 2 02 U2 "Belt slipping" (open)
///     103 B1 2 - 3 03 U1 "Burner check" (open)     104 A1 0 PM 3 04 U1 "Monthly pump PM" (upcoming PM)
///     105 B1 3 - 4 05 U2 "Replaced roller" (hist.) 106 A2 4 - 5 06 U1 "Fan closed" (history)
///     107 P-100 0 - NULL 07 U2 "Noise" (open)      108 O'Q 1 - 2 08 U1 "Quoted request" (open)
///   linked files 1: A1 Photo "Pump front" a1.png; 2: B1 Manual "Boiler manual" "b1 manual.pdf"
class TestPlant
{
public:
    enum Backend { Sqlite, Postgres };
    /// Without changeNotifications, PostgreSQL gets no notify.sql (as a site's database may not).
    explicit TestPlant(Backend backend = Sqlite, bool changeNotifications = true);
    /// "sqlite" or "postgresql", as addBackendRows() names them.
    explicit TestPlant(const QString &backend, bool changeNotifications = true)
        : TestPlant(backend == QLatin1String("postgresql") ? Postgres : Sqlite, changeNotifications)
    {}
    ~TestPlant();

    /// The control's settings for this plant ("sqlite:plant.db" is found in the settings folder).
    QString serverName() const
    {
        return m_backend == Sqlite ? QStringLiteral("sqlite:plant.db") : PgServer::serverName();
    }
    QString databaseName() const { return m_backend == Sqlite ? QStringLiteral("Maintenance") : m_pgDatabase; }
    QString userId() const { return m_backend == Sqlite ? QString() : PgServer::user(); }
    QString password() const { return m_backend == Sqlite ? QString() : PgServer::password(); }
    /// Writes the settings file for this plant, with further keys ("Key=value" lines).
    void writeSettings(const QByteArray &moreKeys = QByteArray()) const;
    QString folder() const { return m_dir.path(); }
    /// The SQLite file (empty on PostgreSQL).
    QString sqliteFile() const { return m_backend == Sqlite ? m_dir.filePath(QStringLiteral("plant.db")) : QString(); }
    /// Runs statements; a failing one is fatal and prints the driver's error.
    void exec(const QStringList &statements) const;
    /// The first value of a query (invalid when it fails, which is printed).
    QVariant scalar(const QString &sql) const;

private:
    Backend m_backend;
    QTemporaryDir m_dir;
    QString m_pgDatabase;
    QString m_connection;
};

/// A backend column (QString "backend"), rows "sqlite" and "postgresql" (the latter needs REQUIRE_POSTGRES()).
void addBackendRows();

/// Runs statements on a SQLite file through a connection of its own; a failing one fails the test.
void execSqlite(const QString &path, const QStringList &statements);

} // namespace TestSupport

#pragma once

#include "demodata.h"

#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QSqlError>
#include <QString>
#include <QTest>
#include <QVariant>

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

class WorkOrdersGrid;
class QWidget;

namespace TestSupport {

bool runningInCi();

/// Lets the start-up of the controls just created finish: a new control connects and
/// loads at the first turn of the event loop (boxes it opens run their own loops).
void letStartUpFinish();

/// Writes OrvantelWO.ini into folder: section [Orvantel] followed by keys ("Key=value" lines).
void writeSettings(const QString &folder, const QByteArray &keys);

/// A control on a host window, started up the way a host starts it: by showing it.
struct HostedControl
{
    /// Creates the host and the control at its design size and shows them; start-up
    /// reads the settings file of $ORVANTEL_CONFIG_DIR.
    void show();
    /// Closes and destroys both.
    void reset();

    std::unique_ptr<QWidget> host;
    WorkOrdersGrid *grid = nullptr;
};

struct ShownMessage
{
    QString title;
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
};

/// Answers every modal message box that opens while it lives by pressing OK, and
/// records what each one said. Also records the most boxes that were open at once.
class MessageBoxRecorder : public QObject
{
    Q_OBJECT
public:
    explicit MessageBoxRecorder(QObject *parent = nullptr);
    ~MessageBoxRecorder() override;

    QList<ShownMessage> messages;
    int mostOpenAtOnce = 0;
    /// While false, boxes are recorded but left open (to test what happens meanwhile).
    bool answer = true;

    QStringList titles() const;

private:
    void poll();
    QList<QMessageBox *> m_seen;
};

/// Ticks (through tick) while the error box of the first tick is open, then answers it.
/// Returns how many boxes had been shown while it was open (-1 when it never opened or
/// never closed). The first tick comes from a one-shot timer, the others from a second
/// timer: Qt never re-enters one timer's own handler.
int ticksWhileErrorBoxIsOpen(const std::function<void()> &tick, MessageBoxRecorder &boxes);

/// Runs callback once the next modal widget is active (a dialog's exec()), then returns.
/// Fails the test if none appears within timeoutMs.
void whenModal(const std::function<void(QWidget *)> &callback, int timeoutMs = 10000);

/// The test plant: a maintenance database whose every row the tests know, on SQLite or
/// on the PostgreSQL test server, with a settings folder ($ORVANTEL_CONFIG_DIR) of its own.
///   divisions    D1, D2; departments M1 (D1), M2 (D2)
///   assets       A1 Pump, A2 Fan, O'Q Quoted (D1/M1); B1 Boiler, C3 (no description),
///                P-100 Feed pump (D2/M2)
///   requesters   U1 Ann, U2 Bob, U3 (no name); T9 Tech may not request work
///   work orders  number asset status PM priority date(2026-01-0N) requester request
///                101 A1   0 - 1 01 U1 "Seal leaks"       (open)
///                102 A2   1 - 2 02 U2 "Belt slipping"    (open)
///                103 B1   2 - 3 03 U1 "Burner check"     (open)
///                104 A1   0 PM 3 04 U1 "Monthly pump PM" (upcoming PM)
///                105 B1   3 - 4 05 U2 "Replaced roller"  (history)
///                106 A2   4 - 5 06 U1 "Fan closed"       (history)
///                107 P-100 0 - NULL 07 U2 "Noise"        (open)
///                108 O'Q  1 - 2 08 U1 "Quoted request"   (open)
///                D1/M1 for the assets of D1, D2/M2 for the others; dates at 08:00:00
///   linked files A1 Photo "Pump front" a1.png; B1 Manual "Boiler manual" "b1 manual.pdf"
class TestPlant
{
public:
    enum Backend { Sqlite, Postgres };
    /// Fails the test (fatally) when the database cannot be made. Without
    /// changeNotifications, PostgreSQL gets no notify.sql (as a site's database may not).
    explicit TestPlant(Backend backend = Sqlite, bool changeNotifications = true);
    /// "sqlite" or "postgresql", as addBackendRows() names them.
    explicit TestPlant(const QString &backend, bool changeNotifications = true)
        : TestPlant(backend == QLatin1String("postgresql") ? Postgres : Sqlite, changeNotifications)
    {}
    ~TestPlant();

    /// The control's server and database names for this plant ("sqlite:plant.db" is taken
    /// from the settings folder).
    QString serverName() const;
    QString databaseName() const;
    QString userId() const;
    QString password() const;
    /// Writes the settings file for this plant, with further keys ("Key=value" lines).
    void writeSettings(const QByteArray &moreKeys = QByteArray()) const;
    QString folder() const;
    /// The SQLite file (empty on PostgreSQL).
    QString sqliteFile() const;
    /// Runs statements; a failing one fails the test and prints the driver's error.
    void exec(const QStringList &statements) const;
    /// The first value of a query (invalid when it fails, which is printed).
    QVariant scalar(const QString &sql) const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

/// A data-driven test's backend column (QString "backend"): rows "sqlite" and "postgresql"
/// (call REQUIRE_POSTGRES() in the test for the latter).
void addBackendRows();

/// A fresh SQLite maintenance database at dir/name (demo plant unless options say otherwise).
QString createSqliteDatabase(const QString &dir, const QString &name = QStringLiteral("maint.db"),
                             const Orvantel::DemoData::Options &options = Orvantel::DemoData::Options());

/// A new SQLite file at path holding the maintenance schema and no rows.
void createSqliteSchema(const QString &path);

/// Runs statements on a SQLite file through a connection of its own; a failing
/// statement fails the test and prints the driver's error.
void execSqlite(const QString &path, const QStringList &statements);

/// The PostgreSQL server that scripts/test starts (ORVANTEL_TEST_PG*).
class PgServer
{
public:
    static bool configured();
    static QString host();
    static int port();
    static QString user();
    static QString password();
    /// "postgresql://127.0.0.1:PORT", the control's server name for it.
    static QString serverName();
    /// Creates an empty database with a unique name made from prefix; fills it with the
    /// maintenance schema and data unless options is null. Returns its name.
    static QString createDatabase(const QString &prefix, const Orvantel::DemoData::Options *options = nullptr);
    static void dropDatabase(const QString &name);
    /// Runs a statement on the server's admin database; returns false on failure.
    static bool adminExec(const QString &sql, QString *error = nullptr);
    /// Runs a statement in database; returns its first value (invalid on failure, which
    /// is printed).
    static QVariant exec(const QString &database, const QString &sql);
    /// The path of the script that stops and starts the server, empty when unknown.
    static QString controlScript();
};

} // namespace TestSupport

#include "database.h"

#include "cancellation.h"
#include "logging.h"

#include "configdir.h"
#include "connectionstring.h"
#include "controlerror.h"
#include "loaders.h"
#include "recordset.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include <libpq-fe.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <iterator>
#include <utility>

namespace Orvantel {

namespace {

const QLatin1String SqlitePrefix("sqlite:");
const QLatin1String PostgresPrefix("postgresql://");

/// A port number 1..65535, or 0 when the text is not one.
int parsePort(const QString &text)
{
    bool ok = false;
    const int port = text.toInt(&ok);
    const bool digitsOnly
            = !text.isEmpty() && std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.isDigit(); });
    return ok && digitsOnly && port > 0 && port <= 65535 ? port : 0;
}

/// ODBC drivers known to read a braced value's doubled '}' back as one '}' (the ODBC rule).
/// FreeTDS is not one: it ends a braced value at a '}' followed by ';', so "{a}};PORT=1}"
/// would give it the password "a}" and then a PORT keyword.
const QLatin1String DriversUndoingDoubledBraces[] = {
        QLatin1String("ODBC Driver 17 for SQL Server"),
        QLatin1String("ODBC Driver 18 for SQL Server"),
};

bool undoesDoubledBraces(const QString &driver)
{
    return std::any_of(std::begin(DriversUndoingDoubledBraces), std::end(DriversUndoingDoubledBraces),
                       [&driver](QLatin1String known) { return driver.compare(known, Qt::CaseInsensitive) == 0; });
}

/// Why a value cannot go into the ODBC connection string as the driver would read it back;
/// empty when it can. what names the setting; the value itself is never repeated, since it
/// may be a password.
QString odbcRefusal(const QString &what, const QString &value, const QString &driver)
{
    const QString notAttempted = QStringLiteral("; the connection was not attempted.");
    if (value.contains(QChar(0)))
        return what + QStringLiteral(" contains a NUL character, which no ODBC driver can take") + notAttempted;
    // Qt's ODBC driver reads a connection string holding ".dsn" anywhere as the name of a file DSN.
    if (value.contains(QLatin1String(".dsn"), Qt::CaseInsensitive))
        return what + QStringLiteral(" contains \".dsn\", which would make the connection read a file DSN instead")
                + notAttempted;
    if (value.contains(QLatin1Char('}')) && !undoesDoubledBraces(driver)) {
        if (driver.compare(QLatin1String("FreeTDS"), Qt::CaseInsensitive) == 0)
            return what + QStringLiteral(" contains '}', which the FreeTDS ODBC driver cannot take") + notAttempted;
        return what + QStringLiteral(" contains '}', which the ODBC driver \"") + driver
                + QStringLiteral("\" is not known to take") + notAttempted;
    }
    return QString();
}

/// An ODBC attribute value, in braces when it would otherwise end early or split; a '}'
/// inside is doubled (only values that odbcRefusal() let through get here).
QString odbcValue(const QString &value, bool alwaysBraced = false)
{
    static const QString special = QStringLiteral(";{}=");
    const bool braced
            = alwaysBraced || std::any_of(value.cbegin(), value.cend(), [](QChar c) { return special.contains(c); });
    if (!braced)
        return value;
    QString escaped = value;
    escaped.replace(QLatin1Char('}'), QLatin1String("}}"));
    return QLatin1Char('{') + escaped + QLatin1Char('}');
}

void resolvePostgres(ConnectionTarget &target, const QString &address)
{
    QString rest = address;
    while (rest.endsWith(QLatin1Char('/')))
        rest.chop(1);

    QString portText;
    if (rest.startsWith(QLatin1Char('['))) {
        const qsizetype close = rest.indexOf(QLatin1Char(']'));
        if (close < 0) {
            target.error = QStringLiteral("Missing ']' in server name: ") + address;
            return;
        }
        target.hostName = rest.mid(1, close - 1);
        const QString after = rest.mid(close + 1);
        if (after.startsWith(QLatin1Char(':')))
            portText = after.mid(1);
        else if (!after.isEmpty())
            target.error = QStringLiteral("Unexpected text after the host in server name: ") + address;
    } else if (rest.count(QLatin1Char(':')) == 1) {
        const qsizetype colon = rest.indexOf(QLatin1Char(':'));
        target.hostName = rest.left(colon);
        portText = rest.mid(colon + 1);
    } else {
        // No port, or a bare IPv6 address.
        target.hostName = rest;
    }
    if (target.hostName.contains(QLatin1Char('/')))
        target.error = QStringLiteral("Unexpected text after the host in server name: ") + address;
    if (!portText.isNull()) {
        target.port = parsePort(portText);
        if (target.port == 0) {
            target.port = -1;
            target.error = QStringLiteral("Invalid port in server name: ") + address;
        }
    }
}

void resolveOdbc(ConnectionTarget &target, const QString &server, const ConnectionSettings &settings)
{
    QString host = server;
    QString portText;
    const qsizetype comma = server.lastIndexOf(QLatin1Char(','));
    if (comma >= 0) {
        host = server.left(comma);
        portText = server.mid(comma + 1).trimmed();
        if (parsePort(portText) == 0)
            target.error = QStringLiteral("Invalid port in server name: ") + server;
    }

    QString driver = qEnvironmentVariable("ORVANTEL_ODBC_DRIVER");
    if (driver.isEmpty())
        driver = QStringLiteral("FreeTDS");

    // The driver manager and the driver each parse the whole string, so a driver name with
    // a '}' could end the DRIVER value early whatever the rule for the others.
    if (driver.contains(QLatin1Char('}'))) {
        target.error = QStringLiteral("The ODBC driver name in ORVANTEL_ODBC_DRIVER contains '}'; the connection "
                                      "was not attempted.");
        return;
    }
    const std::pair<QString, const QString &> values[] = {
            {QStringLiteral("The ODBC driver name in ORVANTEL_ODBC_DRIVER"), driver},
            {QStringLiteral("The server name"), host},
            {QStringLiteral("The database name"), settings.database},
            {QStringLiteral("The user ID"), settings.userId},
            {QStringLiteral("The password"), settings.password},
    };
    for (const auto &[what, value] : values) {
        const QString refusal = odbcRefusal(what, value, driver);
        if (!refusal.isEmpty()) {
            target.error = refusal;
            return;
        }
    }

    // FreeTDS resolves a named instance itself from SERVER=HOST\INSTANCE.
    QString odbc = QStringLiteral("DRIVER=") + odbcValue(driver, true) + QStringLiteral(";SERVER=") + odbcValue(host);
    if (!portText.isEmpty())
        odbc += QStringLiteral(";PORT=") + portText;
    odbc += QStringLiteral(";DATABASE=") + odbcValue(settings.database) + QStringLiteral(";UID=")
            + odbcValue(settings.userId) + QStringLiteral(";PWD=") + odbcValue(settings.password)
            + QStringLiteral(";TDS_Version=7.4");

    target.databaseName = odbc;
    // Bounds of the driver's own: logging in, and any later request on the connection.
    target.connectOptions = QStringLiteral("SQL_ATTR_LOGIN_TIMEOUT=%1;SQL_ATTR_CONNECTION_TIMEOUT=%2")
                                    .arg(LoginTimeoutSeconds)
                                    .arg(ServerSilenceSeconds);
}

std::atomic<int> connectionCounter {0};

/// The SQLite file's device and inode; empty when it is missing, and for a server.
QString fileIdentity(const ConnectionTarget &target)
{
    struct stat info;
    if (target.backend != Backend::Sqlite || ::stat(QFile::encodeName(target.databaseName).constData(), &info) != 0)
        return QString();
    return QString::number(info.st_dev) + QLatin1Char(':') + QString::number(info.st_ino);
}

/// SQLite's wait for a lock another connection holds: up to ServerSilenceSeconds, ended
/// early when the thread's waits are cancelled.
int waitForLock(void *, int attempts)
{
    constexpr int SliceMs = 10;
    if (Cancellation::requested() || attempts >= ServerSilenceSeconds * 1000 / SliceMs)
        return 0;
    std::this_thread::sleep_for(std::chrono::milliseconds(SliceMs));
    return 1;
}

} // namespace

ConnectionTarget resolveConnectionTarget(const QString &connectionString, const QString &baseDirectory)
{
    const ConnectionSettings settings = ConnectionString::Reader(connectionString).settings();
    const QString server = settings.server.trimmed();
    ConnectionTarget target;

    if (server.startsWith(SqlitePrefix, Qt::CaseInsensitive)) {
        target.backend = Backend::Sqlite;
        target.driver = QStringLiteral("QSQLITE");
        const QString path = server.mid(SqlitePrefix.size());
        const QDir base(baseDirectory.isEmpty() ? configDirectory() : baseDirectory);
        target.databaseName = QDir::cleanPath(base.absoluteFilePath(path));
        if (path.isEmpty())
            target.error = QStringLiteral("No database file in server name: ") + server;
        return target;
    }

    if (server.startsWith(PostgresPrefix, Qt::CaseInsensitive)) {
        target.backend = Backend::PostgreSql;
        target.driver = QStringLiteral("QPSQL");
        resolvePostgres(target, server.mid(PostgresPrefix.size()));
        target.databaseName = settings.database;
        target.userName = settings.userId;
        target.password = settings.password;
        // Statements wait on the socket with a bound of their own; keepalives and the TCP
        // user timeout end the commoner case sooner, a peer that is gone altogether.
        target.connectOptions = QStringLiteral("connect_timeout=%1;keepalives=1;keepalives_idle=5;"
                                               "keepalives_interval=2;keepalives_count=3;tcp_user_timeout=%2")
                                        .arg(LoginTimeoutSeconds)
                                        .arg(ServerSilenceSeconds * 1000);
        return target;
    }

    target.backend = Backend::SqlServer;
    target.driver = QStringLiteral("QODBC");
    resolveOdbc(target, server, settings);
    return target;
}

Database::Database(const QString &connectionString, const QString &baseDirectory)
    : m_target(resolveConnectionTarget(connectionString, baseDirectory))
    , m_connectionName(QStringLiteral("orvantel-") + QString::number(++connectionCounter))
{}

Database::~Database()
{
    if (QSqlDatabase::contains(m_connectionName)) {
        close();
        QSqlDatabase::removeDatabase(m_connectionName);
    }
}

void Database::open()
{
    if (!m_target.error.isEmpty())
        throw ControlError(ControlError::DatabaseFailure, m_target.error);
    if (isOpen())
        return;
    if (!QSqlDatabase::isDriverAvailable(m_target.driver)) {
        throw ControlError(ControlError::DatabaseFailure,
                           QStringLiteral("The database driver %1 is not available").arg(m_target.driver));
    }

    QSqlDatabase db = QSqlDatabase::contains(m_connectionName)
            ? QSqlDatabase::database(m_connectionName, false)
            : QSqlDatabase::addDatabase(m_target.driver, m_connectionName);
    if (!db.isValid()) {
        throw ControlError(ControlError::DatabaseFailure,
                           QStringLiteral("The database driver %1 could not be loaded").arg(m_target.driver));
    }

    if (m_target.backend == Backend::Sqlite) {
        const QFileInfo file(m_target.databaseName);
        if (!file.exists())
            throw ControlError(ControlError::DatabaseFailure,
                               QStringLiteral("Database file not found: ") + file.filePath());
        if (!file.isFile())
            throw ControlError(ControlError::DatabaseFailure,
                               QStringLiteral("Not a database file: ") + file.filePath());
        // mode=rw: SQLite must never create a new, empty file in place of one that just went missing.
        db.setDatabaseName(QUrl::fromLocalFile(file.filePath()).toString(QUrl::FullyEncoded)
                           + QStringLiteral("?mode=rw"));
        db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_URI"));
    } else {
        db.setDatabaseName(m_target.databaseName);
        db.setHostName(m_target.hostName);
        db.setPort(m_target.port);
        db.setUserName(m_target.userName);
        db.setPassword(m_target.password);
        db.setConnectOptions(m_target.connectOptions);
    }

    if (!db.open())
        throw ControlError::fromSqlError(db.lastError());

    if (m_target.backend == Backend::Sqlite) {
        m_openedFile = fileIdentity(m_target);
        // A file locked by another connection is waited on for as long as a silent server.
        const QVariant handle = db.driver()->handle();
        if (handle.isValid() && qstrcmp(handle.typeName(), "sqlite3*") == 0)
            sqlite3_busy_handler(*static_cast<sqlite3 *const *>(handle.constData()), waitForLock, nullptr);
        // SQLite reads the file lazily: a file that is no database must fail here, not on the first query.
        QSqlQuery probe(db);
        if (!probe.exec(QStringLiteral("SELECT count(*) FROM sqlite_master"))) {
            const ControlError error = ControlError::fromSqlError(probe.lastError());
            probe = QSqlQuery();
            db.close();
            throw error;
        }
    }
}

bool Database::fileReplaced() const
{
    return m_target.backend == Backend::Sqlite && isOpen() && fileIdentity(m_target) != m_openedFile;
}

bool Database::connectionLost() const
{
    if (!isOpen())
        return true;
    // libpq knows without asking the server, which may not answer.
    const QVariant handle = database().driver()->handle();
    if (m_target.backend == Backend::PostgreSql && handle.isValid())
        return PQstatus(*static_cast<PGconn *const *>(handle.constData())) != CONNECTION_OK;
    if (m_target.backend == Backend::Sqlite)
        return false;
    // ODBC: the probe is bounded by the connection's request timeout.
    QSqlQuery probe(database());
    return !probe.exec(QStringLiteral("SELECT 1"));
}

qint64 Database::dataVersion()
{
    if (m_target.backend != Backend::Sqlite)
        return -1;
    const ColumnStore version = load(Statement(QStringLiteral("PRAGMA data_version")));
    return version.recordCount() == 1 ? version.column(0).integer(0) : -1;
}

bool Database::isOpen() const
{
    return QSqlDatabase::contains(m_connectionName) && QSqlDatabase::database(m_connectionName, false).isOpen();
}

void Database::close()
{
    if (QSqlDatabase::contains(m_connectionName))
        QSqlDatabase::database(m_connectionName, false).close();
}

QSqlDatabase Database::database() const
{
    return QSqlDatabase::database(m_connectionName, false);
}

ColumnStore Database::load(const Statement &statement, int rowLimit)
{
    try {
        return loadOpen(statement, rowLimit);
    } catch (const ControlError &error) {
        // A statement abandoned on a silent server leaves its connection unusable.
        if (error.number == ControlError::ServerSilent) {
            qCInfo(lcDatabase, "Connection %s closed after silence", qPrintable(m_connectionName));
            close();
        }
        throw;
    }
}

ColumnStore Database::loadOpen(const Statement &statement, int rowLimit)
{
    open();
    QSqlDatabase db = database();
    const QVariant handle = db.driver()->handle();
    switch (m_target.backend) {
    case Backend::Sqlite: {
        sqlite3 *connection = nullptr;
        if (handle.isValid() && qstrcmp(handle.typeName(), "sqlite3*") == 0)
            connection = *static_cast<sqlite3 *const *>(handle.constData());
        return loadSqlite(connection, statement, rowLimit);
    }
    case Backend::PostgreSql:
        // Qt registers the handle's type under its struct name ("pg_conn*") or, in some
        // versions, under the typedef's. There is no other way to PostgreSQL: the driver's
        // prepare() writes the values back into the text.
        if (!handle.isValid()
            || (qstrcmp(handle.typeName(), "pg_conn*") != 0 && qstrcmp(handle.typeName(), "PGconn*") != 0)) {
            throw ControlError(ControlError::DatabaseFailure,
                               QStringLiteral("The PostgreSQL driver does not give its connection handle"));
        }
        return loadPostgres(*static_cast<PGconn *const *>(handle.constData()), statement, rowLimit);
    case Backend::SqlServer:
        break;
    }
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.prepare(statement.sql))
        throw ControlError::fromSqlError(query.lastError());
    for (const QVariant &value : statement.values)
        query.addBindValue(value);
    if (!query.exec())
        throw ControlError::fromSqlError(query.lastError());
    return loadQuery(query, rowLimit);
}

void Database::load(const Statement &statement, Recordset &recordset)
{
    recordset.replace(load(statement, recordset.rowLimit()));
}

void Database::execute(const Statement &statement)
{
    load(statement);
}

} // namespace Orvantel

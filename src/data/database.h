#pragma once

#include "columnstore.h"
#include "sqldialect.h"

#include <QSqlDatabase>
#include <QString>

namespace Orvantel {

class Recordset;

/// Where a connection string leads: which Qt driver, and what to hand it.
/// The backend follows from "Data Source":
///   sqlite:PATH               -> QSQLITE, the file at PATH (relative to baseDirectory)
///   postgresql://HOST[:PORT]  -> QPSQL, database "Initial Catalog"
///   anything else             -> QODBC, SQL Server through $ORVANTEL_ODBC_DRIVER or FreeTDS
///                                (HOST, HOST\INSTANCE or HOST,PORT)
struct ConnectionTarget
{
    Backend backend = Backend::SqlServer;
    QString driver; ///< "QSQLITE", "QPSQL" or "QODBC"
    QString databaseName; ///< file path, database name, or the ODBC connection string
    QString hostName; ///< PostgreSQL only
    int port = -1; ///< PostgreSQL only; -1 for the default
    QString userName; ///< PostgreSQL only (ODBC carries them in databaseName)
    QString password;
    QString connectOptions; ///< login timeout and the like
    QString error; ///< why the server name cannot be used (open() reports it); empty when fine
};

/// Seconds a connection attempt may take before it gives up.
constexpr int LoginTimeoutSeconds = 5;

/// Pure: reads the connection string and decides. Never touches the network or disk.
ConnectionTarget resolveConnectionTarget(const QString &connectionString, const QString &baseDirectory);

/// One open connection of its own (a unique QSqlDatabase connection name, never the
/// default one), closed and removed when destroyed.
class Database
{
public:
    /// Relative SQLite paths are taken from baseDirectory (the settings folder by default).
    explicit Database(const QString &connectionString, const QString &baseDirectory = QString());
    ~Database();
    Database(const Database &) = delete;
    Database &operator=(const Database &) = delete;

    /// Opens the connection. Throws ControlError: a missing SQLite file is an error
    /// (never a new empty file), an unreachable server fails within the login timeout.
    void open();
    bool isOpen() const;
    void close();
    /// For SQLite: whether the file at the path is no longer the one opened (removed, or
    /// replaced by another). An open connection would go on reading the old one; reopen.
    bool fileReplaced() const;
    /// Whether a connection that was working has gone away (the server restarted, the
    /// network was lost), so that a failed statement is worth one more try on a new one.
    bool connectionLost() const;
    /// SQLite's PRAGMA data_version: a number that changes when another connection commits
    /// to the file. -1 for a server.
    qint64 dataVersion();

    QSqlDatabase database() const;
    QString connectionName() const { return m_connectionName; }
    Backend backend() const { return m_target.backend; }
    SqlDialect dialect() const { return SqlDialect(m_target.backend); }

    /// Runs a statement and returns its rows (the first rowLimit of them), opening the
    /// connection first when needed, through the engine's loader (loaders.h). The values
    /// are bound by the engine's own binding and never enter the text: sqlite3_bind_* on
    /// SQLite, libpq parameters on PostgreSQL, QSqlQuery placeholders (ODBC parameters,
    /// Unicode text) on SQL Server. Like the connection, for the thread that opened it.
    /// Throws ControlError on failure.
    ColumnStore load(const Statement &statement, int rowLimit = NoRowLimit);
    /// The same, shown in recordset (at most its row limit) in one model reset.
    /// Throws ControlError on failure, leaving recordset as it was.
    void load(const Statement &statement, Recordset &recordset);

    /// Runs a statement for its effect, as load() does; rows it returns are dropped.
    void execute(const Statement &statement);

private:
    ColumnStore loadOpen(const Statement &statement, int rowLimit);

    ConnectionTarget m_target;
    QString m_connectionName;
    QString m_openedFile; ///< the SQLite file's device and inode when opened
};

} // namespace Orvantel

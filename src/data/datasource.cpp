#include "datasource.h"

#include "configdir.h"
#include "controlerror.h"
#include "database.h"
#include "recordset.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>

namespace Orvantel {

struct DataSource::Private
{
    QString connectionString;
    QString recordSource;
    QString baseDirectory;
    std::unique_ptr<Database> database;
    /// What the open database was made from, to notice a change.
    QString openedConnectionString;
    QString openedBaseDirectory;
    Recordset *recordset = nullptr;

    QString effectiveBaseDirectory() const { return baseDirectory.isEmpty() ? configDirectory() : baseDirectory; }

    void openDatabase()
    {
        database.reset();
        auto db = std::make_unique<Database>(connectionString, effectiveBaseDirectory());
        db->open();
        database = std::move(db);
        openedConnectionString = connectionString;
        openedBaseDirectory = effectiveBaseDirectory();
    }

    void load()
    {
        if (database->backend() == Backend::Sqlite) {
            const QVariant handle = database->database().driver()->handle();
            sqlite3 *connection = nullptr;
            if (handle.isValid() && qstrcmp(handle.typeName(), "sqlite3*") == 0)
                connection = *static_cast<sqlite3 *const *>(handle.constData());
            recordset->loadSqlite(connection, recordSource);
            return;
        }
        if (database->backend() == Backend::PostgreSql) {
            const QVariant handle = database->database().driver()->handle();
            // Qt registers the handle's type under its struct name ("pg_conn*") or, in some
            // versions, under the typedef's.
            if (handle.isValid()
                && (qstrcmp(handle.typeName(), "pg_conn*") == 0 || qstrcmp(handle.typeName(), "PGconn*") == 0)) {
                recordset->loadPostgres(*static_cast<PGconn *const *>(handle.constData()), recordSource);
                return;
            }
        }
        QSqlQuery query(database->database());
        query.setForwardOnly(true);
        if (!query.exec(recordSource))
            throw ControlError::fromSqlError(query.lastError());
        recordset->load(query);
    }

    /// True when a connection that was working has gone away (server restarted, network lost).
    bool connectionLost()
    {
        if (!database->isOpen())
            return true;
        QSqlQuery probe(database->database());
        return !probe.exec(QStringLiteral("SELECT 1"));
    }
};

DataSource::DataSource(QObject *parent)
    : QObject(parent)
    , d(std::make_unique<Private>())
{
    d->recordset = new Recordset(this);
}

DataSource::~DataSource() = default;

QString DataSource::connectionString() const
{
    return d->connectionString;
}

void DataSource::setConnectionString(const QString &connectionString)
{
    d->connectionString = connectionString;
}

QString DataSource::recordSource() const
{
    return d->recordSource;
}

void DataSource::setRecordSource(const QString &sql)
{
    d->recordSource = sql;
}

void DataSource::setBaseDirectory(const QString &directory)
{
    d->baseDirectory = directory;
}

void DataSource::refresh()
{
    if (d->recordSource.trimmed().isEmpty())
        throw ControlError(ControlError::DatabaseFailure, QStringLiteral("The record source is empty"));

    const bool reuse = d->database && d->database->isOpen() && d->openedConnectionString == d->connectionString
            && d->openedBaseDirectory == d->effectiveBaseDirectory();
    if (!reuse)
        d->openDatabase();

    try {
        d->load();
    } catch (const ControlError &) {
        // A kept server connection may have died since its last use: reconnect once and retry.
        if (reuse && d->database->backend() != Backend::Sqlite && d->connectionLost()) {
            try {
                d->openDatabase();
                d->load();
                Q_EMIT refreshed();
                return;
            } catch (const ControlError &) {
                if (d->database)
                    d->database->close();
                throw;
            }
        }
        // Start from a fresh connection next time; a broken one would keep failing.
        d->database->close();
        throw;
    }
    Q_EMIT refreshed();
}

Recordset *DataSource::recordset() const
{
    return d->recordset;
}

Database *DataSource::database() const
{
    return d->database.get();
}

} // namespace Orvantel

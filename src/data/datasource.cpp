#include "datasource.h"

#include "configdir.h"
#include "controlerror.h"
#include "database.h"
#include "recordset.h"

#include <QFile>
#include <QSqlError>
#include <QSqlQuery>

#include <sys/stat.h>

namespace Orvantel {

namespace {

/// The SQLite file's device and inode; empty when it is missing, and for a server.
QString sqliteFileIdentity(const ConnectionTarget &target)
{
    struct stat info;
    if (target.backend != Backend::Sqlite || ::stat(QFile::encodeName(target.databaseName).constData(), &info) != 0)
        return QString();
    return QString::number(info.st_dev) + QLatin1Char(':') + QString::number(info.st_ino);
}

} // namespace

struct DataSource::Private
{
    QString connectionString;
    Statement recordSource;
    QString baseDirectory;
    std::unique_ptr<Database> database;
    /// What the open database was made from, to notice a change.
    QString openedConnectionString;
    QString openedBaseDirectory;
    /// An open SQLite connection keeps reading its file after the file was removed or
    /// replaced; the file at the path must still be this one for the connection to be kept.
    QString openedFile;
    Recordset *recordset = nullptr;

    QString effectiveBaseDirectory() const { return baseDirectory.isEmpty() ? configDirectory() : baseDirectory; }
    QString fileAtPath() const
    {
        return sqliteFileIdentity(resolveConnectionTarget(connectionString, effectiveBaseDirectory()));
    }

    void openDatabase()
    {
        database.reset();
        auto db = std::make_unique<Database>(connectionString, effectiveBaseDirectory());
        db->open();
        database = std::move(db);
        openedConnectionString = connectionString;
        openedBaseDirectory = effectiveBaseDirectory();
        openedFile = fileAtPath();
    }

    void load() { database->load(recordSource, *recordset); }

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

Statement DataSource::recordSource() const
{
    return d->recordSource;
}

void DataSource::setRecordSource(const Statement &statement, const QString &baseOrder)
{
    d->recordSource = statement;
    d->recordset->setBaseOrder(baseOrder);
}

SqlDialect DataSource::dialect() const
{
    return SqlDialect(resolveConnectionTarget(d->connectionString, d->effectiveBaseDirectory()).backend);
}

void DataSource::setBaseDirectory(const QString &directory)
{
    d->baseDirectory = directory;
}

void DataSource::refresh()
{
    if (d->recordSource.sql.trimmed().isEmpty())
        throw ControlError(ControlError::DatabaseFailure, QStringLiteral("The record source is empty"));

    const bool reuse = d->database && d->database->isOpen() && d->openedConnectionString == d->connectionString
            && d->openedBaseDirectory == d->effectiveBaseDirectory() && d->openedFile == d->fileAtPath();
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

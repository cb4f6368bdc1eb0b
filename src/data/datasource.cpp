#include "datasource.h"

#include "configdir.h"
#include "controlerror.h"
#include "database.h"
#include "logging.h"
#include "recordset.h"

#include <QPointer>
#include <QSqlError>
#include <QSqlQuery>

namespace Orvantel {

struct DataSource::Private
{
    QString connectionString;
    Statement recordSource;
    QString baseDirectory;
    std::unique_ptr<Database> database;
    /// What the open database was made from, to notice a change.
    QString openedConnectionString;
    QString openedBaseDirectory;
    Recordset *recordset = nullptr;
    QPointer<DataSource> connectionOwner;

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

    /// Whose connection this source uses: its owner's where shared, else its own.
    Private &home()
    {
        if (connectionOwner) {
            Private &owner = *connectionOwner->d;
            if (owner.connectionString == connectionString
                && owner.effectiveBaseDirectory() == effectiveBaseDirectory())
                return owner;
        }
        return *this;
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

    Private &home = d->home();
    const bool reuse = home.database && home.database->isOpen() && home.openedConnectionString == home.connectionString
            && home.openedBaseDirectory == home.effectiveBaseDirectory() && !home.database->fileReplaced();
    if (!reuse)
        home.openDatabase();

    const auto load = [&] { home.database->load(d->recordSource, *d->recordset); };
    try {
        load();
    } catch (const ControlError &error) {
        // A kept server connection may have died since its last use: reconnect once and retry.
        // Not after silence: that wait already took its bound, the next use reconnects.
        if (reuse && error.number != ControlError::ServerSilent && home.database->backend() != Backend::Sqlite
            && home.database->connectionLost()) {
            qCInfo(lcDatabase, "Reconnecting after: %s", qPrintable(error.description));
            try {
                home.openDatabase();
                load();
                Q_EMIT refreshed();
                return;
            } catch (const ControlError &) {
                if (home.database)
                    home.database->close();
                throw;
            }
        }
        // Start from a fresh connection next time; a broken one would keep failing.
        home.database->close();
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
    return d->home().database.get();
}

void DataSource::shareConnectionOf(DataSource *owner)
{
    d->connectionOwner = owner;
}

} // namespace Orvantel

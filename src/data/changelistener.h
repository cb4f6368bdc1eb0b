#pragma once

#include <QList>
#include <QObject>
#include <QString>

#include <memory>

namespace Orvantel {

/// What one change notification says (db/postgresql/notify.sql writes them).
struct ChangeNotice
{
    enum Kind { WorkOrders, Everything, LinkedFiles };
    Kind kind = Everything;
    QList<qint64> numbers; ///< the work orders that changed (WorkOrders only)
};

/// Reads a payload: "wo:N,N,..." (work-order numbers), "all" or "files". Anything else, a
/// malformed list included, reads as Everything: a notice that cannot be read must not
/// hide a change.
ChangeNotice parseChangeNotice(const QString &payload);

/// Tells when another connection changes the database, without ever blocking the thread it
/// lives on:
/// - PostgreSQL: a connection of its own LISTENs on the channel notify.sql NOTIFYs, its
///   socket watched by the event loop. A lost connection (closed, or silent for
///   ServerSilenceSeconds while a heartbeat is due) is reopened with back-off.
///   everythingChanged() follows every time it starts listening, the first time included,
///   since changes may have been missed meanwhile (the owner's first load does not wait for
///   this connection, which comes up in the background).
/// - SQLite: the file, its journal and its write-ahead log are watched; at most a few times
///   a second, fileChanged() says that another connection may have committed (the owner
///   confirms with PRAGMA data_version where that is cheap).
/// - SQL Server: nothing (its notification service is out of reach of the ODBC driver).
class ChangeListener : public QObject
{
    Q_OBJECT
public:
    /// The PostgreSQL channel notify.sql NOTIFYs.
    static constexpr const char *Channel = "orvantel_changes";

    explicit ChangeListener(QObject *parent = nullptr);
    ~ChangeListener() override;

    /// Listens to the database of connectionString, and to no other from now on.
    void listen(const QString &connectionString, const QString &baseDirectory);
    void stop();
    /// Whether a PostgreSQL LISTEN is in force right now.
    bool isListening() const;

Q_SIGNALS:
    void workOrdersChanged(const QList<qint64> &numbers);
    void everythingChanged();
    void linkedFilesChanged();
    /// SQLite only: the file or its journal changed.
    void fileChanged();

private:
    class Postgres;
    class Sqlite;
    std::unique_ptr<Postgres> m_postgres;
    std::unique_ptr<Sqlite> m_sqlite;
};

} // namespace Orvantel

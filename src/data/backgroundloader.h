#pragma once

#include "columnstore.h"
#include "controlerror.h"
#include "sqldialect.h"

#include <QList>
#include <QObject>
#include <QString>

#include <memory>
#include <optional>
#include <vector>

namespace Orvantel {

/// Loads record sources on a thread of its own, with a connection of that thread, so that
/// the thread that owns the loader never waits on the database for them. One load at a
/// time: start() while a load runs starts nothing.
///
/// The worker thread keeps its connection from load to load (opened again when the
/// connection string changes, or after a failure). A finished load is kept, under a lock,
/// in one slot that takeResult() empties; finished() only says that it is there (queued to
/// the loader's thread, never emitted once the loader is gone).
///
/// Destroying the loader returns at once: a load that runs (or waits on a silent server)
/// is abandoned, its waits cancelled, its result dropped; the thread closes its connection
/// and ends by itself.
class BackgroundLoader : public QObject
{
    Q_OBJECT
public:
    /// What to load.
    struct Request
    {
        QString connectionString;
        QString baseDirectory; ///< for relative SQLite paths
        Statement statement;
        QString sort; ///< the rows are sorted by it on the worker thread
        int rowLimit = NoRowLimit;
        int kind = 0; ///< the owner's own tag, handed back with the result
        QList<qint64> keys; ///< the owner's own, handed back with the result
        /// Loads nothing: only asks SQLite whether another connection committed to the file
        /// since this connection last loaded or asked (PRAGMA data_version).
        bool probeOnly = false;
    };

    /// What a load gave.
    struct Result
    {
        quint64 ticket = 0;
        int kind = 0;
        QList<qint64> keys;
        std::optional<ControlError> error; ///< the load failed (store empty)
        ColumnStore store;
        std::vector<int> order; ///< sortedOrder(store, orderedBy)
        QString orderedBy;
        bool changed = true; ///< a probe's answer (a load says true)
    };

    explicit BackgroundLoader(QObject *parent = nullptr);
    ~BackgroundLoader() override;

    /// Starts loading request, unless a load is running. Returns the load's ticket (they
    /// count up from 1), or 0 when it started nothing.
    quint64 start(const Request &request);
    /// Whether a load runs or its result waits to be taken.
    bool isBusy() const;
    /// The finished load's result, once; nothing before finished().
    std::optional<Result> takeResult();

Q_SIGNALS:
    void finished();

protected:
    bool event(QEvent *event) override;

private:
    struct Shared;
    static void work(const std::shared_ptr<Shared> &shared);

    std::shared_ptr<Shared> m_shared;
};

} // namespace Orvantel

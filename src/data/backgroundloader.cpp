#include "backgroundloader.h"

#include "cancellation.h"
#include "database.h"
#include "logging.h"
#include "rowsorter.h"

#include <QCoreApplication>
#include <QEvent>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>

namespace Orvantel {

namespace {

QEvent::Type resultReadyEvent()
{
    static const auto type = QEvent::Type(QEvent::registerEventType());
    return type;
}

/// How long the application's end waits for worker threads still closing or cancelling.
constexpr int ExitWaitSeconds = 5;

/// The worker threads whose loader is gone but which still run: a worker outlives its loader
/// for a moment (it closes its connection, or returns from a cancelled wait). The
/// application's end waits for them, so that none touches Qt's SQL registry while it is
/// being destroyed. (A worker whose loader the host never deleted just sleeps: not counted.)
struct LiveWorkers
{
    std::mutex mutex;
    std::condition_variable ended;
    int count = 0;
};

LiveWorkers &liveWorkers()
{
    static auto *workers = new LiveWorkers; // never destroyed: a worker may end after static destruction began
    return *workers;
}

void waitForWorkersAtExit()
{
    LiveWorkers &workers = liveWorkers();
    std::unique_lock<std::mutex> lock(workers.mutex);
    if (!workers.ended.wait_for(lock, std::chrono::seconds(ExitWaitSeconds), [&] { return workers.count == 0; }))
        qCInfo(lcRefresh, "%d background loads still running as the application ends", workers.count);
}

void workerOrphaned()
{
    static std::once_flag registered;
    std::call_once(registered, [] { qAddPostRoutine(waitForWorkersAtExit); });
    const std::lock_guard<std::mutex> lock(liveWorkers().mutex);
    ++liveWorkers().count;
}

void workerEnded()
{
    LiveWorkers &workers = liveWorkers();
    const std::lock_guard<std::mutex> lock(workers.mutex);
    --workers.count;
    workers.ended.notify_all();
}

} // namespace

struct BackgroundLoader::Shared
{
    std::mutex mutex;
    std::condition_variable wake;
    // Guarded by mutex.
    BackgroundLoader *owner = nullptr; ///< null once the loader is gone
    std::optional<Request> request; ///< waiting for the worker
    quint64 requestTicket = 0;
    bool running = false; ///< a load is on the worker
    std::optional<Result> result; ///< finished, waiting to be taken
    quint64 lastTicket = 0;
    bool threadStarted = false;
    // Read by the worker's waits without the lock.
    std::atomic<bool> cancelled {false};
};

/// The worker thread: takes requests until the loader is gone, with one connection of its
/// own that it opens, keeps and closes itself.
namespace {

/// The worker's one connection, opened, kept and closed on the worker thread.
class WorkerConnection
{
public:
    /// Runs request on the connection (opened or reopened as needed) and fills result.
    /// Throws ControlError.
    void run(const BackgroundLoader::Request &request, BackgroundLoader::Result &result)
    {
        const QString target = request.connectionString + QLatin1Char('\n') + request.baseDirectory;
        const bool reuse = m_database && m_openedFor == target && !m_database->fileReplaced();
        if (!reuse)
            open(request, target);
        if (request.probeOnly) {
            const qint64 version = m_database->dataVersion();
            result.changed = !reuse || version != m_seenVersion;
            m_seenVersion = version;
            return;
        }
        try {
            result.store = m_database->load(request.statement, request.rowLimit);
        } catch (const ControlError &error) {
            // A kept connection may have died since its last use: one more try on a new one
            // (not after silence, which took its bound already).
            if (!reuse || error.number == ControlError::ServerSilent || !m_database->connectionLost())
                throw;
            open(request, target);
            result.store = m_database->load(request.statement, request.rowLimit);
        }
        // What this load saw: a later probe answers whether anything was committed since.
        m_seenVersion = m_database->dataVersion();
        if (request.sort.isEmpty())
            return;
        try {
            result.order = sortedOrder(result.store, request.sort);
            result.orderedBy = request.sort;
        } catch (const ControlError &) {
            // A sort the result cannot take: the loaded order, as a load on the GUI thread gives.
        }
    }

    /// Drops the connection: a broken one would keep failing; the next request reopens.
    void reset() { m_database.reset(); }
    ~WorkerConnection()
    {
        if (m_database)
            qCInfo(lcDatabase, "Background connection closed");
    }

private:
    void open(const BackgroundLoader::Request &request, const QString &target)
    {
        qCInfo(lcDatabase, "Background connection opened");
        m_database.reset();
        m_database = std::make_unique<Database>(request.connectionString, request.baseDirectory);
        m_openedFor = target;
    }

    std::unique_ptr<Database> m_database;
    QString m_openedFor;
    qint64 m_seenVersion = -1;
};

} // namespace

/// The worker thread: takes requests until the loader is gone.
void BackgroundLoader::work(const std::shared_ptr<Shared> &shared)
{
    const Cancellation cancellation(shared->cancelled);
    WorkerConnection connection;
    for (;;) {
        Request request;
        Result result;
        {
            std::unique_lock<std::mutex> lock(shared->mutex);
            shared->wake.wait(lock, [&] { return shared->request || !shared->owner; });
            if (!shared->owner)
                break;
            request = std::move(*shared->request);
            shared->request.reset();
            result.ticket = shared->requestTicket;
        }
        result.kind = request.kind;
        result.keys = request.keys;
        try {
            connection.run(request, result);
        } catch (const ControlError &error) {
            result.error = error;
        } catch (const std::bad_alloc &) {
            result.error = ControlError(ControlError::OutOfMemory, QStringLiteral("Out of memory"));
        } catch (...) {
            result.error = ControlError(ControlError::InternalError, QStringLiteral("Internal error"));
        }
        if (result.error) {
            connection.reset();
            result.store = ColumnStore();
        }

        const std::lock_guard<std::mutex> lock(shared->mutex);
        shared->running = false;
        if (!shared->owner)
            break;
        shared->result = std::move(result);
        // Posted under the lock: the loader cannot be destroyed meanwhile, and an event that
        // it no longer lives to receive is dropped with it. (A plain event rather than a
        // queued functor: its one owner after posting is Qt's event queue.)
        QCoreApplication::postEvent(shared->owner, new QEvent(resultReadyEvent()));
    }
}

BackgroundLoader::BackgroundLoader(QObject *parent)
    : QObject(parent)
    , m_shared(std::make_shared<Shared>())
{
    m_shared->owner = this;
}

BackgroundLoader::~BackgroundLoader()
{
    {
        const std::lock_guard<std::mutex> lock(m_shared->mutex);
        // Counted before the worker can see that its loader is gone (and end).
        if (m_shared->threadStarted)
            workerOrphaned();
        m_shared->owner = nullptr;
        m_shared->cancelled = true;
        if (m_shared->running)
            qCInfo(lcRefresh, "A background load was abandoned");
    }
    m_shared->wake.notify_all();
}

quint64 BackgroundLoader::start(const Request &request)
{
    const std::lock_guard<std::mutex> lock(m_shared->mutex);
    if (m_shared->running || m_shared->result)
        return 0;
    m_shared->request = request;
    m_shared->requestTicket = ++m_shared->lastTicket;
    m_shared->running = true;
    if (!m_shared->threadStarted) {
        m_shared->threadStarted = true;
        // Never joined: destroying the loader must not wait on a load. The thread holds
        // the shared state until it ends; the application's end waits for it (bounded).
        std::thread([shared = m_shared] {
            work(shared);
            workerEnded();
        }).detach();
    }
    m_shared->wake.notify_all();
    return m_shared->requestTicket;
}

bool BackgroundLoader::isBusy() const
{
    const std::lock_guard<std::mutex> lock(m_shared->mutex);
    return m_shared->running || m_shared->result.has_value();
}

bool BackgroundLoader::event(QEvent *event)
{
    if (event->type() != resultReadyEvent())
        return QObject::event(event);
    Q_EMIT finished();
    return true;
}

std::optional<BackgroundLoader::Result> BackgroundLoader::takeResult()
{
    const std::lock_guard<std::mutex> lock(m_shared->mutex);
    std::optional<Result> result = std::move(m_shared->result);
    m_shared->result.reset();
    return result;
}

} // namespace Orvantel

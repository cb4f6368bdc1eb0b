#include "changelistener.h"

#include "cancellation.h"
#include "database.h"
#include "logging.h"

#include <QFileInfo>
#include <QFileSystemWatcher>
#include <QSocketNotifier>
#include <QTimer>

#include <libpq-fe.h>

#include <algorithm>
#include <utility>
#include <vector>

namespace Orvantel {

ChangeNotice parseChangeNotice(const QString &payload)
{
    if (payload == QLatin1String("files"))
        return {ChangeNotice::LinkedFiles, {}};
    if (!payload.startsWith(QLatin1String("wo:")))
        return {};
    ChangeNotice notice {ChangeNotice::WorkOrders, {}};
    const QStringList numbers = payload.mid(3).split(QLatin1Char(','));
    for (const QString &text : numbers) {
        bool ok = false;
        const qint64 number = text.toLongLong(&ok);
        if (!ok)
            return {};
        notice.numbers.append(number);
    }
    return notice;
}

/// The PostgreSQL side: one non-blocking libpq connection that LISTENs.
class ChangeListener::Postgres
{
public:
    Postgres(ChangeListener *owner, const ConnectionTarget &target)
        : m_owner(owner)
        , m_target(target)
    {
        m_deadline.setSingleShot(true);
        QObject::connect(&m_deadline, &QTimer::timeout, owner, [this] { fail(QStringLiteral("no answer in time")); });
        m_retry.setSingleShot(true);
        QObject::connect(&m_retry, &QTimer::timeout, owner, [this] { connect(); });
        // Only a statement can tell a silent server from a quiet one.
        m_heartbeat.setInterval(HeartbeatSeconds * 1000);
        QObject::connect(&m_heartbeat, &QTimer::timeout, owner, [this] { send(";", State::Heartbeat); });
        connect();
    }

    ~Postgres() { close(); }

    bool isListening() const { return m_state == State::Ready || m_state == State::Heartbeat; }

private:
    enum class State { Closed, Connecting, Check, CheckDone, Listen, Ready, Heartbeat };
    static constexpr int HeartbeatSeconds = 30;
    static constexpr int MaxBackOffMs = 30000;

    void connect()
    {
        close();
        const QByteArray host = m_target.hostName.toUtf8();
        const QByteArray port = m_target.port > 0 ? QByteArray::number(m_target.port) : QByteArray();
        const QByteArray database = m_target.databaseName.toUtf8();
        const QByteArray user = m_target.userName.toUtf8();
        const QByteArray password = m_target.password.toUtf8();
        const QByteArray userTimeout = QByteArray::number(ServerSilenceSeconds * 1000);
        std::vector<const char *> keys {"dbname",           "user",
                                        "password",         "client_encoding",
                                        "application_name", "keepalives",
                                        "keepalives_idle",  "keepalives_interval",
                                        "keepalives_count", "tcp_user_timeout"};
        std::vector<const char *> values {database.constData(),
                                          user.constData(),
                                          password.constData(),
                                          "UTF8",
                                          "Orvantel change listener",
                                          "1",
                                          "5",
                                          "2",
                                          "3",
                                          userTimeout.constData()};
        if (!host.isEmpty()) {
            keys.push_back("host");
            values.push_back(host.constData());
        }
        if (!port.isEmpty()) {
            keys.push_back("port");
            values.push_back(port.constData());
        }
        keys.push_back(nullptr);
        values.push_back(nullptr);
        m_connection = PQconnectStartParams(keys.data(), values.data(), 0);
        if (!m_connection || PQstatus(m_connection) == CONNECTION_BAD)
            return fail(QStringLiteral("cannot start a connection"));
        PQsetnonblocking(m_connection, 1);
        m_state = State::Connecting;
        m_deadline.start(LoginTimeoutSeconds * 1000);
        poll(PGRES_POLLING_WRITING);
    }

    void close()
    {
        // Closing may happen inside a notifier's own signal: the notifiers go later.
        for (std::unique_ptr<QSocketNotifier> *notifier : {&m_read, &m_write}) {
            if (*notifier) {
                (*notifier)->setEnabled(false);
                notifier->release()->deleteLater();
            }
        }
        m_deadline.stop();
        m_heartbeat.stop();
        if (m_connection)
            PQfinish(m_connection);
        m_connection = nullptr;
        m_state = State::Closed;
    }

    void fail(const QString &reason)
    {
        const bool wasListening = isListening();
        close();
        qCInfo(lcNotify, "Listening connection %s: %s; trying again in %d ms", wasListening ? "lost" : "failed",
               qPrintable(reason), m_backOffMs);
        m_retry.start(m_backOffMs);
        m_backOffMs = std::min(m_backOffMs * 2, MaxBackOffMs);
    }

    /// Watches the connection's socket in the direction libpq waits for.
    void poll(PostgresPollingStatusType direction)
    {
        const int socket = PQsocket(m_connection);
        if (socket < 0)
            return fail(QString::fromUtf8(PQerrorMessage(m_connection)).simplified());
        if (!m_read || m_read->socket() != socket) {
            m_read = std::make_unique<QSocketNotifier>(socket, QSocketNotifier::Read);
            QObject::connect(m_read.get(), &QSocketNotifier::activated, m_owner, [this] { ready(); });
            m_write = std::make_unique<QSocketNotifier>(socket, QSocketNotifier::Write);
            QObject::connect(m_write.get(), &QSocketNotifier::activated, m_owner, [this] { ready(); });
        }
        m_read->setEnabled(direction != PGRES_POLLING_WRITING);
        m_write->setEnabled(direction == PGRES_POLLING_WRITING);
    }

    void ready()
    {
        if (m_state == State::Connecting) {
            switch (PQconnectPoll(m_connection)) {
            case PGRES_POLLING_OK:
                // A database without our triggers never notifies: no connection is kept for it.
                return send("SELECT to_regproc('orvantel_notify_work_orders') IS NOT NULL", State::Check);
            case PGRES_POLLING_FAILED:
                return fail(QString::fromUtf8(PQerrorMessage(m_connection)).simplified());
            case PGRES_POLLING_READING:
                return poll(PGRES_POLLING_READING);
            default:
                return poll(PGRES_POLLING_WRITING);
            }
        }
        if (PQflush(m_connection) == 1)
            return poll(PGRES_POLLING_WRITING); // more to send first
        poll(PGRES_POLLING_READING);
        if (!PQconsumeInput(m_connection) || PQstatus(m_connection) == CONNECTION_BAD)
            return fail(QString::fromUtf8(PQerrorMessage(m_connection)).simplified());
        while (!PQisBusy(m_connection)) {
            PGresult *result = PQgetResult(m_connection);
            if (!result) {
                if (m_state == State::CheckDone)
                    return send("LISTEN " + QByteArray(Channel), State::Listen);
                break;
            }
            const ExecStatusType status = PQresultStatus(result);
            const bool yes = status == PGRES_TUPLES_OK && PQntuples(result) == 1
                    && qstrcmp(PQgetvalue(result, 0, 0), "t") == 0;
            PQclear(result);
            if (status != PGRES_COMMAND_OK && status != PGRES_EMPTY_QUERY && status != PGRES_TUPLES_OK)
                return fail(QString::fromUtf8(PQerrorMessage(m_connection)).simplified());
            if (!answered(yes))
                return;
        }
        while (PGnotify *notify = PQnotifies(m_connection)) {
            const bool ours = qstrcmp(notify->relname, Channel) == 0;
            const QString payload = QString::fromUtf8(notify->extra);
            PQfreemem(notify);
            if (ours)
                dispatch(parseChangeNotice(payload));
        }
    }

    void send(const QByteArray &sql, State state)
    {
        if (!PQsendQuery(m_connection, sql.constData()))
            return fail(QString::fromUtf8(PQerrorMessage(m_connection)).simplified());
        m_state = state;
        m_deadline.start(ServerSilenceSeconds * 1000);
        poll(PQflush(m_connection) == 1 ? PGRES_POLLING_WRITING : PGRES_POLLING_READING);
    }

    /// The statement sent last has answered (yes: its one value was true). False when the
    /// connection is given up.
    bool answered(bool yes)
    {
        m_deadline.stop();
        if (m_state == State::Check) {
            if (!yes) {
                qCInfo(lcNotify, "The database has no change notifications: the refresh timer alone shows changes");
                close();
                return false;
            }
            // The rest of the check's results come first, then LISTEN's.
            m_state = State::CheckDone;
            return true;
        }
        if (m_state == State::Listen) {
            qCInfo(lcNotify, "Listening on %s", Channel);
            m_backOffMs = 1000;
            m_heartbeat.start();
            // Changes made while nobody listened are caught up with a full refresh: those
            // made while the connection was lost, and at first those made between the
            // control's first load (which does not wait for this connection) and now.
            Q_EMIT m_owner->everythingChanged();
        }
        m_state = State::Ready;
        return true;
    }

    void dispatch(const ChangeNotice &notice)
    {
        qCDebug(lcNotify, "Notified: %d, %lld work orders", int(notice.kind), qlonglong(notice.numbers.size()));
        switch (notice.kind) {
        case ChangeNotice::WorkOrders:
            Q_EMIT m_owner->workOrdersChanged(notice.numbers);
            break;
        case ChangeNotice::LinkedFiles:
            Q_EMIT m_owner->linkedFilesChanged();
            break;
        case ChangeNotice::Everything:
            Q_EMIT m_owner->everythingChanged();
            break;
        }
    }

    ChangeListener *m_owner;
    ConnectionTarget m_target;
    PGconn *m_connection = nullptr;
    State m_state = State::Closed;
    std::unique_ptr<QSocketNotifier> m_read;
    std::unique_ptr<QSocketNotifier> m_write;
    QTimer m_deadline;
    QTimer m_retry;
    QTimer m_heartbeat;
    int m_backOffMs = 1000;
};

/// The SQLite side: the file, and the folder its journal and write-ahead log come and go in.
class ChangeListener::Sqlite
{
public:
    Sqlite(ChangeListener *owner, const QString &file)
        : m_file(file)
    {
        // At most a few looks a second, however busy the file: the first change is told at
        // once, later ones within the window once at its end.
        m_throttle.setSingleShot(true);
        m_throttle.setInterval(250);
        const auto tell = [this, owner] {
            // A file replaced by another drops out of the watch: watch the new one.
            if (!m_watcher.files().contains(m_file) && QFileInfo::exists(m_file))
                m_watcher.addPath(m_file);
            m_throttle.start();
            Q_EMIT owner->fileChanged();
        };
        QObject::connect(&m_throttle, &QTimer::timeout, owner, [this, tell] {
            if (std::exchange(m_pending, false))
                tell();
        });
        const auto changed = [this, tell] {
            if (m_throttle.isActive())
                m_pending = true;
            else
                tell();
        };
        QObject::connect(&m_watcher, &QFileSystemWatcher::fileChanged, owner, changed);
        QObject::connect(&m_watcher, &QFileSystemWatcher::directoryChanged, owner, changed);
        m_watcher.addPath(QFileInfo(file).absolutePath());
        if (QFileInfo::exists(file))
            m_watcher.addPath(file);
    }

private:
    QString m_file;
    QFileSystemWatcher m_watcher;
    QTimer m_throttle;
    bool m_pending = false;
};

ChangeListener::ChangeListener(QObject *parent)
    : QObject(parent)
{}

ChangeListener::~ChangeListener() = default;

void ChangeListener::listen(const QString &connectionString, const QString &baseDirectory)
{
    stop();
    const ConnectionTarget target = resolveConnectionTarget(connectionString, baseDirectory);
    if (!target.error.isEmpty())
        return;
    if (target.backend == Backend::PostgreSql)
        m_postgres = std::make_unique<Postgres>(this, target);
    else if (target.backend == Backend::Sqlite)
        m_sqlite = std::make_unique<Sqlite>(this, target.databaseName);
}

void ChangeListener::stop()
{
    m_postgres.reset();
    m_sqlite.reset();
}

bool ChangeListener::isListening() const
{
    return m_postgres && m_postgres->isListening();
}

} // namespace Orvantel

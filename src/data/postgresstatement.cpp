#include "postgresstatement.h"

#include "cancellation.h"
#include "logging.h"

#include <QByteArray>
#include <QSqlError>

#include <libpq-fe.h>

#include <cerrno>
#include <chrono>
#include <limits>
#include <vector>

#include <poll.h>

namespace Orvantel {

namespace {

// Built-in type OIDs (fixed by PostgreSQL); 0 leaves a parameter's type to the server.
constexpr Oid UnknownOid = 0;
constexpr Oid Int8Oid = 20;
constexpr Oid Int4Oid = 23;

bool isCopy(ExecStatusType status)
{
    return status == PGRES_COPY_IN || status == PGRES_COPY_OUT || status == PGRES_COPY_BOTH;
}

ControlError failure(const QString &description)
{
    return {ControlError::DatabaseFailure, description};
}

ControlError silence()
{
    return {ControlError::ServerSilent,
            Cancellation::requested()
                    ? QStringLiteral("The statement was abandoned")
                    : QStringLiteral("The server sent nothing for %1 seconds; the statement was abandoned and its "
                                     "connection closed")
                              .arg(ServerSilenceSeconds)};
}

/// Waits until the connection has a whole result to give (or none is due), reading what
/// arrives as it comes. Throws ServerSilent when nothing arrives for ServerSilenceSeconds,
/// or when the thread's wait is cancelled.
void awaitInput(PGconn *connection)
{
    using Clock = std::chrono::steady_clock;
    constexpr int SliceMs = 100; // how often a cancellation is noticed
    auto deadline = Clock::now() + std::chrono::seconds(ServerSilenceSeconds);
    while (PQisBusy(connection)) {
        pollfd socket {PQsocket(connection), POLLIN, 0};
        if (socket.fd < 0)
            return; // a lost connection: PQgetResult reports it
        const int ready = ::poll(&socket, 1, SliceMs);
        if (ready < 0 && errno != EINTR)
            return;
        if (ready > 0) {
            deadline = Clock::now() + std::chrono::seconds(ServerSilenceSeconds);
            if (!PQconsumeInput(connection))
                return;
        } else if (Cancellation::requested() || Clock::now() >= deadline) {
            const ControlError error = silence();
            qCInfo(lcDatabase, "PostgreSQL statement abandoned: %s", qPrintable(error.description));
            throw error;
        }
    }
}

/// Reads and drops every result still due on the connection, ending a COPY (which would
/// otherwise hold it for good). Throws ServerSilent as awaitInput() does.
void discardResults(PGconn *connection)
{
    for (;;) {
        awaitInput(connection);
        PGresult *result = PQgetResult(connection);
        if (!result)
            return;
        const ExecStatusType status = PQresultStatus(result);
        PQclear(result);
        if (status == PGRES_COPY_OUT) {
            char *buffer = nullptr;
            int received;
            while ((received = PQgetCopyData(connection, &buffer, 0)) > 0)
                PQfreemem(buffer);
            if (received != -1)
                return;
        } else if (status == PGRES_COPY_IN) {
            if (PQputCopyEnd(connection, "no data to copy") != 1)
                return;
        } else if (status == PGRES_COPY_BOTH) {
            return;
        }
    }
}

} // namespace

void PostgresResultClearer::operator()(PGresult *result) const
{
    PQclear(result);
}

ControlError postgresError(PGconn *connection, const PGresult *result)
{
    QString message = QString::fromUtf8(result ? PQresultErrorMessage(result) : PQerrorMessage(connection));
    if (message.isEmpty())
        message = QString::fromUtf8(PQerrorMessage(connection));
    const QString code = result ? QString::fromLatin1(PQresultErrorField(result, PG_DIAG_SQLSTATE)) : QString();
    if (!code.isEmpty())
        message += QLatin1Char('(') + code + QLatin1Char(')');
    return ControlError::fromSqlError(
            QSqlError(QStringLiteral("QPSQL: Unable to create query"), message, QSqlError::StatementError, code));
}

PostgresStatement::PostgresStatement(PGconn *connection, const Statement &statement, Rows rows)
    : m_connection(connection)
{
    if (!connection || PQstatus(connection) != CONNECTION_OK) {
        const QString reason = connection ? QString::fromUtf8(PQerrorMessage(connection)).simplified() : QString();
        throw failure(reason.isEmpty() ? QStringLiteral("The PostgreSQL connection is not open") : reason);
    }

    // A query of the driver's that stopped reading part-way still holds the connection; the
    // driver, too, drops such rows before it sends a statement.
    discardResults(connection);

    // The driver asks for UTF-8 when it connects; the values below are UTF-8 whatever happened since.
    const char *encoding = PQparameterStatus(connection, "client_encoding");
    if ((!encoding || qstrcmp(encoding, "UTF8") != 0) && PQsetClientEncoding(connection, "UTF8") != 0)
        throw postgresError(connection, nullptr);

    const qsizetype count = statement.values.size();
    if (count > std::numeric_limits<short>::max())
        throw failure(QStringLiteral("The statement has more values than PostgreSQL can take"));
    const auto n = static_cast<std::size_t>(count);
    std::vector<QByteArray> texts(n);
    std::vector<const char *> values(n);
    std::vector<Oid> types(n, UnknownOid);
    for (qsizetype i = 0; i < count; ++i) {
        const QVariant &value = statement.values.at(i);
        QByteArray &text = texts[std::size_t(i)];
        if (bindsAsInteger(value)) {
            const qlonglong number = value.toLongLong();
            text = QByteArray::number(number);
            const bool fitsInt4
                    = number >= std::numeric_limits<int>::min() && number <= std::numeric_limits<int>::max();
            types[std::size_t(i)] = fitsInt4 ? Int4Oid : Int8Oid;
        } else if (!value.isNull()) {
            text = value.toString().toUtf8();
            // A parameter travels as a C string: a NUL would silently cut the value short.
            if (text.contains('\0'))
                throw failure(QStringLiteral("A value holds a NUL character, which PostgreSQL text cannot hold"));
        }
        values[std::size_t(i)] = value.isNull() ? nullptr : text.constData();
    }

    const QByteArray sql = statement.sql.toUtf8();
    if (!PQsendQueryParams(connection, sql.constData(), int(count), types.data(), values.data(), nullptr, nullptr, 0))
        throw postgresError(connection, nullptr);
    // Should single-row mode be refused, the rows come in one result.
    if (rows == Rows::OneByOne)
        PQsetSingleRowMode(connection);
}

PostgresStatement::~PostgresStatement()
{
    // After silence nothing more is read: the connection is given up.
    if (m_abandoned)
        return;
    try {
        discardResults(m_connection);
    } catch (const ControlError &) {
    }
}

PostgresResult PostgresStatement::next()
{
    PostgresResult result(awaitResult());
    if (!result)
        return result;
    const ExecStatusType status = PQresultStatus(result.get());
    // A COPY is ended by the destructor's draining.
    if (isCopy(status))
        throw failure(QStringLiteral("A COPY statement cannot be run here"));
    if (status == PGRES_EMPTY_QUERY)
        throw failure(QStringLiteral("The SQL text holds no statement"));
    if (status != PGRES_SINGLE_TUPLE && status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK)
        throw postgresError(m_connection, result.get());
    return result;
}

PGresult *PostgresStatement::awaitResult()
{
    try {
        awaitInput(m_connection);
    } catch (const ControlError &) {
        m_abandoned = true;
        throw;
    }
    return PQgetResult(m_connection);
}

} // namespace Orvantel

#pragma once

#include "controlerror.h"
#include "sqldialect.h"

#include <memory>

typedef struct pg_conn PGconn;
typedef struct pg_result PGresult;

namespace Orvantel {

struct PostgresResultClearer
{
    void operator()(PGresult *result) const;
};
using PostgresResult = std::unique_ptr<PGresult, PostgresResultClearer>;

/// The error of a failed statement, worded as the QPSQL driver words it, so that every
/// path to PostgreSQL describes a failure alike ("message(SQLSTATE)").
ControlError postgresError(PGconn *connection, const PGresult *result);

/// One statement sent on a libpq connection with its values as parameters of the
/// extended protocol (PQsendQueryParams): the server never reads a value as SQL, whatever
/// standard_conforming_strings says. Texts go as UTF-8, integers as int4/int8; a text's
/// type is left to the server, as a quoted literal's would be.
///
/// The results are read with next(). Whatever is still due when the object goes away is
/// read and dropped, so that the connection can take the next statement.
class PostgresStatement
{
public:
    enum class Rows { Together, OneByOne };

    /// Sends the statement. Throws ControlError when the connection is not usable or
    /// refuses it. OneByOne asks libpq for single-row mode (the rows come one result each).
    PostgresStatement(PGconn *connection, const Statement &statement, Rows rows = Rows::Together);
    ~PostgresStatement();
    PostgresStatement(const PostgresStatement &) = delete;
    PostgresStatement &operator=(const PostgresStatement &) = delete;

    /// The next result (rows, or a command's completion); null once the statement is done.
    /// Throws ControlError for an error the server reports or a COPY.
    PostgresResult next();

private:
    /// The one place that waits for the server: at most ServerSilenceSeconds without
    /// hearing from it (ControlError ServerSilent; the connection must then be closed).
    PGresult *awaitResult();

    PGconn *m_connection;
    bool m_abandoned = false;
};

} // namespace Orvantel

#pragma once

#include "columnstore.h"
#include "sqldialect.h"

class QSqlQuery;
struct sqlite3;
typedef struct pg_conn PGconn;

namespace Orvantel {

// One loader per engine. Each runs one statement on a connection of the calling thread
// and returns its rows in the order the statement gives them, at most rowLimit of them;
// none touches a model or emits anything, so a worker thread can load with a connection it
// opened and hand the result over. Each throws ControlError on failure.

/// The fast path for SQLite: the statement runs on the connection's own handle, its values
/// bound with sqlite3_bind_*; texts stay UTF-8 as SQLite holds them.
ColumnStore loadSqlite(sqlite3 *handle, const Statement &statement, int rowLimit = NoRowLimit);

/// The fast path for PostgreSQL: one statement on the connection's own handle, its values
/// bound as parameters (PostgresStatement), the server's text kept as UTF-8. int2, int4,
/// int8 and oid load as integers; float4 and float8 as reals; numeric as a real when it
/// has at most 15 significant digits (so it reads back unchanged), else as text; bool as
/// "true" / "false"; everything else as the server's text (a timestamp(0) as
/// "YYYY-MM-DD HH:MM:SS"). A failure reads "[SQLSTATE] message".
ColumnStore loadPostgres(PGconn *connection, const Statement &statement, int rowLimit = NoRowLimit);

/// Any other driver (SQL Server through ODBC): the rows of a forward-only query that has
/// been executed.
ColumnStore loadQuery(QSqlQuery &query, int rowLimit = NoRowLimit);

} // namespace Orvantel

#pragma once

#include <QStringList>

namespace Orvantel::DemoData {

/// Whose reading of a script: the two differ in where a CREATE TRIGGER ends.
enum class ScriptDialect { SQLite, PostgreSQL };

/// Splits an SQL script into statements at the semicolons that end them, the way
/// sqlite3 and psql read a file: semicolons inside quotes, comments and
/// dollar-quoted bodies do not count, and in SQLite a CREATE TRIGGER statement ends
/// only at "END;" (a PostgreSQL trigger has no body of its own). The terminating
/// semicolons are dropped, and so are chunks holding nothing but comments.
QStringList splitSqlScript(const QString &script, ScriptDialect dialect);

} // namespace Orvantel::DemoData

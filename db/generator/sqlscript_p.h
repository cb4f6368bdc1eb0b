#pragma once

#include <QStringList>

namespace Orvantel::DemoData {

/// Splits an SQL script into statements at the semicolons that end them, the way
/// sqlite3 and psql read a file: semicolons inside quotes, comments and
/// dollar-quoted bodies do not count, and a CREATE TRIGGER statement ends only at
/// "END;". The terminating semicolons are dropped, and so are chunks holding
/// nothing but comments.
QStringList splitSqlScript(const QString &script);

} // namespace Orvantel::DemoData

#pragma once

#include <QString>
#include <QStringList>

namespace Orvantel {

enum class Backend { Sqlite, PostgreSql, SqlServer };

/// The two constructs that differ between the databases the control talks to.
class SqlDialect
{
public:
    explicit SqlDialect(Backend backend = Backend::SqlServer) : m_backend(backend) {}

    Backend backend() const { return m_backend; }

    /// ISNULL(a,b) / COALESCE(a,b) / IFNULL(a,b).
    QString nullFallback(const QString &a, const QString &b) const;

    /// Runs a stored procedure with arguments already written as SQL literals:
    /// "EXEC p a, b" / "CALL p(a, b)" / "INSERT INTO p VALUES (a, b)".
    /// Arguments are joined with ", " in every dialect.
    QString procedureCall(const QString &procedure, const QStringList &sqlArguments) const;

    /// The one place where text goes inside SQL quotes: 'text' with every ' doubled.
    static QString quoted(const QString &text);

private:
    Backend m_backend;
};

} // namespace Orvantel

#pragma once

#include <QString>
#include <QVariant>
#include <QVariantList>

namespace Orvantel {

enum class Backend { Sqlite, PostgreSql, SqlServer };

/// SQL text with placeholders and the values bound to them, in placeholder order. The
/// values never enter the text: each engine binds them itself. A value is a QString
/// (bound as text) or an integer (bound as an integer).
struct Statement
{
    Statement() = default;
    /// A fixed text without values.
    Statement(const QString &sql)
        : sql(sql)
    {}
    Statement(const QString &sql, const QVariantList &values)
        : sql(sql)
        , values(values)
    {}

    bool operator==(const Statement &o) const { return sql == o.sql && values == o.values; }

    QString sql;
    QVariantList values;
};

/// Whether a statement value is bound as an integer (every other value goes as text).
bool bindsAsInteger(const QVariant &value);

/// What differs between the databases the control talks to: the null fallback, how a
/// stored procedure is run, and how a placeholder is written.
class SqlDialect
{
public:
    explicit SqlDialect(Backend backend = Backend::SqlServer)
        : m_backend(backend)
    {}

    /// ISNULL(a,b) / COALESCE(a,b) / IFNULL(a,b).
    QString nullFallback(const QString &a, const QString &b) const;

    /// Appends one placeholder per value to the statement's text, joined with ", ", and
    /// the values to its values: "?, ?" on SQL Server and SQLite, "$3, $4" on PostgreSQL
    /// (numbered on from the values the statement already has). A null QString is bound
    /// as empty text, never as NULL.
    void appendValues(Statement &statement, const QVariantList &values) const;

    /// Runs a stored procedure with the arguments bound: "EXEC p ?, ?" / "CALL p($1, $2)" /
    /// "INSERT INTO p VALUES (?, ?)".
    Statement procedureCall(const QString &procedure, const QVariantList &arguments) const;

private:
    Backend m_backend;
};

} // namespace Orvantel

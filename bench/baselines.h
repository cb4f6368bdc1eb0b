#pragma once

#include <QByteArray>
#include <QSortFilterProxyModel>
#include <QSqlDatabase>
#include <QSqlQueryModel>
#include <QString>

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

struct sqlite3;

namespace Bench {

/// A measurement that could not be taken; what() says why.
struct Failure : std::runtime_error
{
    explicit Failure(const QString &what)
        : std::runtime_error(what.toStdString())
    {}
};

/// The parts of a libpq "key=value key='quoted value'" string that the benchmark uses.
struct PgSettings
{
    QString host = QStringLiteral("127.0.0.1");
    int port = 5432;
    QString dbname;
    QString user;
    QString password;

    /// Nothing when the text is not a key=value list or names an unknown key.
    static std::optional<PgSettings> parse(const QString &conninfo);
};

/// What a pass over a result read.
struct RawPass
{
    std::int64_t rows = 0;
    std::uint64_t checksum = 0; ///< keeps the compiler from dropping the reads
};

/// The engine on its own: a read-only connection of SQLite's C interface and a
/// sqlite3_step loop, the least any SQLite client can do.
class RawSqlite
{
public:
    /// Opens path read-only, without SQLite's per-call mutex (as Qt opens it).
    explicit RawSqlite(const QString &path);
    ~RawSqlite();
    RawSqlite(const RawSqlite &) = delete;
    RawSqlite &operator=(const RawSqlite &) = delete;

    /// Prepares sql, steps through every row and reads every column the way its type
    /// asks (integers as int64, reals as double, the rest as UTF-8 text).
    RawPass readAll(const QString &sql);
    /// The sum of the UTF-8 byte lengths of every non-NULL value, read as text.
    std::int64_t textBytes(const QString &sql);
    /// One column's values as UTF-8 (NULL as empty text).
    std::vector<std::string> textColumn(const QString &sql, const QString &field);
    /// One column's values as integers (NULL as the smallest int64, so it sorts first).
    std::vector<std::int64_t> integerColumn(const QString &sql, const QString &field);

private:
    template<typename Row>
    void forEachRow(const QString &sql, Row &&row);
    int columnIndex(const QString &sql, const QString &field);

    sqlite3 *m_db = nullptr;
    QString m_path;
};

/// A QtSql connection with a name of its own, closed and removed when destroyed.
class SqlConnection
{
public:
    /// A QSQLITE connection to the file at path.
    SqlConnection(const QString &name, const QString &path);
    /// A QPSQL connection.
    SqlConnection(const QString &name, const PgSettings &settings);
    ~SqlConnection();
    SqlConnection(const SqlConnection &) = delete;
    SqlConnection &operator=(const SqlConnection &) = delete;

    QSqlDatabase database() const { return QSqlDatabase::database(m_name, false); }

private:
    void open();
    QString m_name;
};

/// The naive peer: QSqlQueryModel fetched to the end, with a QSortFilterProxyModel over it.
class NaivePeer
{
public:
    NaivePeer();

    /// Runs sql on db and fetches every row (fetchMore() until !canFetchMore()).
    void load(const QString &sql, const QSqlDatabase &db);
    int rowCount() const { return m_proxy.rowCount(); }
    int column(const QString &field) const;

    QSqlQueryModel &model() { return m_model; }
    QSortFilterProxyModel &proxy() { return m_proxy; }

private:
    QSqlQueryModel m_model;
    QSortFilterProxyModel m_proxy;
};

/// Runs `COPY (sql) TO STDOUT` through psql with its output sent to /dev/null and
/// returns the wall time in milliseconds. Throws Failure when psql fails.
double psqlCopy(const QString &psql, const PgSettings &settings, const QString &sql);

/// The order std::stable_sort gives an index vector sorted by values alone.
template<typename T>
std::vector<int> stableOrder(const std::vector<T> &values, bool descending)
{
    std::vector<int> order(values.size());
    std::iota(order.begin(), order.end(), 0);
    if (descending)
        std::stable_sort(order.begin(), order.end(),
                         [&values](int a, int b) { return values[size_t(b)] < values[size_t(a)]; });
    else
        std::stable_sort(order.begin(), order.end(),
                         [&values](int a, int b) { return values[size_t(a)] < values[size_t(b)]; });
    return order;
}

} // namespace Bench

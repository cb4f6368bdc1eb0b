#pragma once

#include "sqldialect.h"

#include <QAbstractTableModel>
#include <QString>
#include <QVariant>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class QSqlQuery;
struct sqlite3;
typedef struct pg_conn PGconn;

namespace Orvantel {

/// A client-side result: every row of a query held in memory, compactly (values as
/// UTF-8 in one buffer per column, numbers as 64-bit values), turned into QVariant
/// only when a view asks for a cell.
///
/// Rows are addressed two ways: by row (their position in the current order) and by
/// bookmark (their position in the result as loaded). Sorting permutes an index, so a
/// bookmark keeps naming the same row across any sort.
///
/// Sort order: NULL first, then numbers by value, then text compared byte-wise on UTF-8
/// with ASCII letters folded to one case. A sort is stable: equal rows keep their
/// loaded order.
class Recordset : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Role {
        BookmarkRole = Qt::UserRole + 1,  ///< the row's bookmark (int)
    };

    explicit Recordset(QObject *parent = nullptr);
    ~Recordset() override;

    // QAbstractItemModel
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

    // Fields
    int fieldCount() const;
    QString fieldName(int field) const;
    /// The field's position, its name matched without regard to case; -1 when absent.
    int fieldIndex(const QString &name) const;

    // Values in the current order. A NULL reads as an invalid QVariant / empty text.
    QVariant value(int row, int field) const;
    QString text(int row, int field) const;
    bool isNull(int row, int field) const;

    // Bookmarks
    int bookmark(int row) const;
    /// The row currently holding the bookmark, -1 when there is none.
    int rowOfBookmark(int bookmark) const;

    /// "Field", "Field ASC", "Field DESC", or several of these separated by commas;
    /// blanks around names are ignored and the field is matched without regard to case.
    /// An empty text restores the loaded order. Throws ControlError (InvalidSort) for a
    /// field that does not exist, leaving the order as it was. The sort stays in force:
    /// every later load comes in its order, unless the new result cannot take it (then the
    /// sort is dropped).
    void setSort(const QString &sort);
    QString sort() const;
    /// A view's sort request, by column; an error leaves the order as it was.
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    /// Replaces the contents with every row of a forward-only query that has been
    /// executed. Throws ControlError on a fetch failure, keeping the previous rows.
    void load(QSqlQuery &query);
    /// The fast path for SQLite: runs the statement on the connection's own handle, its
    /// values bound with sqlite3_bind_*. Throws ControlError on failure, keeping the
    /// previous rows.
    void loadSqlite(sqlite3 *handle, const Statement &statement);
    /// The fast path for PostgreSQL: runs one statement on the connection's own handle, its
    /// values bound as parameters (PostgresStatement), and keeps the server's text as
    /// UTF-8. int2, int4, int8 and oid load as integers; float4 and float8 as reals;
    /// numeric as a real when it has at most 15 significant digits (so it reads back
    /// unchanged), else as text; bool as "true" / "false"; everything else as the server's
    /// text (a timestamp(0) as "YYYY-MM-DD HH:MM:SS").
    /// Throws ControlError on failure ("[SQLSTATE] message"), keeping the previous rows.
    void loadPostgres(PGconn *connection, const Statement &statement);
    /// Field names without rows (the result's columns when it is empty).
    void clear();

private:
    struct Storage;
    void replace(std::unique_ptr<Storage> storage);
    void applyOrder(std::vector<int> order);

    std::unique_ptr<Storage> m_storage;
    QString m_sort;
};

} // namespace Orvantel

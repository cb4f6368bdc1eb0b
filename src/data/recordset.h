#pragma once

#include "columnstore.h"
#include "roworder.h"
#include "rowsorter.h"

#include <QAbstractTableModel>
#include <QList>
#include <QString>
#include <QVariant>

#include <optional>
#include <vector>

namespace Orvantel {

/// A client-side result as a table model: a ColumnStore (values as UTF-8 in one buffer
/// per column, numbers as 64-bit values), turned into QVariant only when a view asks for
/// a cell.
///
/// Rows are addressed two ways: by row (their position in the current order) and by
/// bookmark (the record's number in the result as loaded). Sorting permutes an index, and
/// merges move single rows, so a bookmark keeps naming the same record until the next load.
///
/// Sort order: NULL first, then numbers by value, then text compared byte-wise on UTF-8
/// with ASCII letters folded to one case. A sort is stable: equal rows keep their
/// loaded order.
class Recordset : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Role {
        BookmarkRole = Qt::UserRole + 1, ///< the row's bookmark (int)
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

    /// The order the record source delivers its rows in (its ORDER BY, as a sort text such
    /// as "WO_Nbr DESC"); empty (the default) when it has none. Merged rows are placed by
    /// it where the sort in force finds them equal to others, and by it alone when no sort
    /// is in force. It is matched to each result's fields; without them a merged row goes
    /// after its equals, a new one last.
    void setBaseOrder(const QString &order);
    QString baseOrder() const;

    /// The most rows shown (NoRowLimit by default): the first rows the record source
    /// delivers, whatever the sort. A load keeps that many; a row merged in at the limit
    /// takes the place of the one delivered last (or stays out, when that is itself); a
    /// lower limit drops the rows beyond it in one model reset.
    void setRowLimit(int rows);
    int rowLimit() const;

    /// Shows store's records in place of the current ones, in one model reset, in the
    /// sort in force (sorted here). A result that cannot take the sort comes in its
    /// loaded order, and the sort is dropped.
    void replace(ColumnStore store);
    /// The same with the records already ordered elsewhere (a loading thread) by
    /// sortedOrder(store, orderedBy). Should the sort in force have changed meanwhile, the
    /// records are sorted here again.
    void replace(ColumnStore store, std::vector<int> order, const QString &orderedBy);

    /// Merges rows changed since the load without reloading, by the value of keyField (a
    /// whole number): every key of keys that has rows in changedRows gets them (an update
    /// where the key has rows, an insert where it has none), every other key of keys loses
    /// its rows; rows of changedRows with a key not in keys are passed over. changedRows
    /// must have the result's fields. Rows take their place in the sort in force (see
    /// setBaseOrder()). The model announces each row that changes (dataChanged, a row
    /// move, rows inserted or removed), never a reset; bookmarks of other rows do not
    /// change, an updated row keeps its own, and a removed row's bookmark is dead until the
    /// next load. Throws ControlError (DatabaseFailure) when keyField or the fields do not
    /// match the result, changing nothing.
    void merge(const QString &keyField, const ColumnStore &changedRows, const QList<qint64> &keys);
    /// The row showing the record whose keyField holds key (the first such row), -1 when none.
    int rowOfKey(const QString &keyField, qint64 key) const;
    /// The value of keyField in row as a whole number, -1 when there is none.
    qint64 keyOfRow(const QString &keyField, int row) const;

private:
    /// Shows records in this order (the loaded order when there is none), keeping
    /// persistent indexes on their records.
    void applyOrder(std::optional<std::vector<int>> records);
    /// The live records in the order of the result as loaded, merged rows placed by the
    /// base order.
    std::vector<int> loadedOrder() const;
    /// Whether the record source delivers the first record before the second: by the base
    /// order, then by bookmark.
    bool loadedBefore(const ColumnStore &a, int recordA, int bookmarkA, const ColumnStore &b, int recordB,
                      int bookmarkB) const;
    /// Where a row of from would go among the rows (without the one at skipRow, if any).
    int placement(const ColumnStore &from, int fromRecord, int bookmark, int skipRow) const;
    /// The shown record the record source delivers last; -1 when none is shown.
    int lastLoadedRecord() const;
    void removeRow(int row);
    void updateRecord(int record, const ColumnStore &from, int fromRecord);
    void insertRecord(const ColumnStore &from, int fromRecord);

    ColumnStore m_store;
    RowOrder m_order;
    QString m_sort;
    std::vector<SortKey> m_sortKeys;
    QString m_baseOrder;
    std::vector<SortKey> m_baseKeys;
    int m_rowLimit = NoRowLimit;
    /// The records of the last load; they came in the record source's order.
    int m_loadedRecords = 0;
    /// The records merges inserted or changed since the load, each once: their numbers no
    /// longer say where the record source would put them.
    std::vector<int> m_mergedRecords;
};

} // namespace Orvantel

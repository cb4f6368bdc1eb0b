#pragma once

#include <QString>
#include <QStringList>

#include <memory>
#include <vector>

namespace Orvantel {

class ColumnStore;

/// One step of a sort: a field of the result and its direction.
struct SortKey
{
    int field;
    bool descending;
};

/// The keys a sort text names among fieldNames: "Field", "Field ASC", "Field DESC", or
/// several of these separated by commas; a name may be in brackets, blanks around names
/// are ignored and fields are matched without regard to case. Empty for an empty text.
/// Throws ControlError (InvalidSort) for a field that is not there or an empty item.
std::vector<SortKey> parseSortKeys(const QStringList &fieldNames, const QString &sort);

/// Orders records of a result by sort keys: NULL first, then numbers by value, then texts
/// byte-wise on UTF-8 with ASCII letters folded to one case, a text first when it starts
/// the other. The sort is stable: equal records keep the order they are given in.
///
/// It does not compare cells one pair at a time: each step radix-sorts compact entries
/// (8 bytes of a key at a time), then refines every run of ties by the next 8 bytes of a
/// text, or by the next key.
class RowSorter
{
public:
    RowSorter(const ColumnStore &store, std::vector<SortKey> keys);
    ~RowSorter();
    RowSorter(const RowSorter &) = delete;
    RowSorter &operator=(const RowSorter &) = delete;

    /// records (record numbers of the store), sorted.
    std::vector<int> sorted(const std::vector<int> &records);
    /// The first records of the store (all of them by default), sorted; ties in the loaded
    /// order.
    std::vector<int> sorted(int records = -1);

private:
    class Private;
    std::unique_ptr<Private> d;
};

/// Compares record recordA of a with record recordB of b (results with the same fields)
/// by keys, in RowSorter's order: negative when the first comes first, 0 when they are
/// equal under every key.
int compareRecords(const ColumnStore &a, int recordA, const ColumnStore &b, int recordB,
                   const std::vector<SortKey> &keys);

/// Every record of store in the order of a sort text, for the thread that loaded it
/// (Recordset::replace() takes the result): empty for an empty text, which keeps the
/// loaded order. Throws ControlError (InvalidSort) as parseSortKeys() does.
std::vector<int> sortedOrder(const ColumnStore &store, const QString &sort);

} // namespace Orvantel

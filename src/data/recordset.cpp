#include "recordset.h"

#include "controlerror.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>

namespace Orvantel {

namespace {

/// The keys of a sort text among names; none when they are not all there.
std::vector<SortKey> keysIfAny(const QStringList &names, const QString &sort)
{
    try {
        return parseSortKeys(names, sort);
    } catch (const ControlError &) {
        return {};
    }
}

/// The whole number a key cell holds; false for any other value.
bool keyValue(const RecordColumn &column, int record, qint64 &key)
{
    const std::size_t row = std::size_t(record);
    switch (column.type(row)) {
    case RecordColumn::Integer:
        key = column.integer(row);
        return true;
    case RecordColumn::Real: {
        const double value = column.real(row);
        constexpr double Limit = 9223372036854775808.0; // 2^63
        if (!(value >= -Limit && value < Limit) || std::trunc(value) != value)
            return false;
        key = qint64(value);
        return true;
    }
    case RecordColumn::Null:
    case RecordColumn::Text:
        break;
    }
    return false;
}

/// (key, record) for each record of store whose key field holds one of keys (sorted),
/// skipping records without a row in shown when given; sorted.
std::vector<std::pair<qint64, int>> keyedRecords(const ColumnStore &store, int keyField,
                                                 const std::vector<qint64> &keys, const RowOrder *shown)
{
    // A scan of one column: a few hundred microseconds for 250 000 rows, and no index to
    // keep up through loads and merges.
    std::vector<std::pair<qint64, int>> found;
    const RecordColumn &column = store.column(keyField);
    for (int record = 0; record < store.recordCount(); ++record) {
        qint64 key;
        if (keyValue(column, record, key) && std::binary_search(keys.begin(), keys.end(), key)
            && (!shown || shown->row(record) >= 0))
            found.emplace_back(key, record);
    }
    std::sort(found.begin(), found.end());
    return found;
}

} // namespace

Recordset::Recordset(QObject *parent)
    : QAbstractTableModel(parent)
{}

Recordset::~Recordset() = default;

int Recordset::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_order.rowCount();
}

int Recordset::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_store.fieldCount();
}

QVariant Recordset::data(const QModelIndex &index, int role) const
{
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return QVariant();
    switch (role) {
    case Qt::DisplayRole: {
        if (isNull(index.row(), index.column()))
            return QVariant();
        return text(index.row(), index.column());
    }
    case Qt::EditRole:
        return value(index.row(), index.column());
    case BookmarkRole:
        return bookmark(index.row());
    default:
        return QVariant();
    }
}

QVariant Recordset::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && (role == Qt::DisplayRole || role == Qt::EditRole)) {
        if (section >= 0 && section < fieldCount())
            return fieldName(section);
        return QVariant();
    }
    return QAbstractTableModel::headerData(section, orientation, role);
}

int Recordset::fieldCount() const
{
    return m_store.fieldCount();
}

QString Recordset::fieldName(int field) const
{
    return m_store.fieldNames().value(field);
}

int Recordset::fieldIndex(const QString &name) const
{
    return m_store.fieldIndex(name);
}

QVariant Recordset::value(int row, int field) const
{
    if (row < 0 || row >= rowCount() || field < 0 || field >= fieldCount())
        return QVariant();
    const RecordColumn &column = m_store.column(field);
    const std::size_t cell = std::size_t(m_order.record(row));
    switch (column.type(cell)) {
    case RecordColumn::Null:
        break;
    case RecordColumn::Integer:
        return QVariant(qint64(column.integer(cell)));
    case RecordColumn::Real:
        return QVariant(column.real(cell));
    case RecordColumn::Text: {
        const std::string_view text = column.text(cell);
        return QVariant(QString::fromUtf8(text.data(), qsizetype(text.size())));
    }
    }
    return QVariant();
}

QString Recordset::text(int row, int field) const
{
    if (row < 0 || row >= rowCount() || field < 0 || field >= fieldCount())
        return QString();
    const RecordColumn &column = m_store.column(field);
    const std::size_t cell = std::size_t(m_order.record(row));
    switch (column.type(cell)) {
    case RecordColumn::Null:
        break;
    case RecordColumn::Integer:
        return QString::number(qint64(column.integer(cell)));
    case RecordColumn::Real:
        return QString::number(column.real(cell), 'g', 15);
    case RecordColumn::Text: {
        const std::string_view text = column.text(cell);
        return QString::fromUtf8(text.data(), qsizetype(text.size()));
    }
    }
    return QString();
}

bool Recordset::isNull(int row, int field) const
{
    if (row < 0 || row >= rowCount() || field < 0 || field >= fieldCount())
        return true;
    return m_store.column(field).type(std::size_t(m_order.record(row))) == RecordColumn::Null;
}

int Recordset::bookmark(int row) const
{
    if (row < 0 || row >= rowCount())
        return -1;
    return m_order.record(row);
}

int Recordset::rowOfBookmark(int bookmark) const
{
    return m_order.row(bookmark);
}

void Recordset::setSort(const QString &sort)
{
    if (sort == m_sort)
        return; // loads and merges keep the rows in this order already
    std::vector<SortKey> keys = parseSortKeys(m_store.fieldNames(), sort);
    // While every record shows as loaded, the loaded order needs no list of its own.
    const bool asLoaded = rowCount() == m_store.recordCount() && m_mergedRecords.empty();
    std::optional<std::vector<int>> records;
    if (!asLoaded)
        records = RowSorter(m_store, keys).sorted(loadedOrder());
    else if (!keys.empty())
        records = RowSorter(m_store, keys).sorted();
    m_sort = sort;
    m_sortKeys = std::move(keys);
    applyOrder(std::move(records));
}

QString Recordset::sort() const
{
    return m_sort;
}

void Recordset::sort(int column, Qt::SortOrder order)
{
    if (column < 0 || column >= fieldCount())
        return;
    try {
        setSort(order == Qt::DescendingOrder ? fieldName(column) + QStringLiteral(" DESC") : fieldName(column));
    } catch (const ControlError &) {
        // Only a field whose name cannot be written in a sort text gets here; the order stays.
    }
}

void Recordset::setBaseOrder(const QString &order)
{
    m_baseOrder = order;
    m_baseKeys = keysIfAny(m_store.fieldNames(), order);
}

QString Recordset::baseOrder() const
{
    return m_baseOrder;
}

void Recordset::setRowLimit(int rows)
{
    m_rowLimit = std::max(rows, 0);
    if (rowCount() <= m_rowLimit)
        return;
    // The rows kept are those a load would have kept; they may lie anywhere in the sort.
    std::vector<int> kept = loadedOrder();
    kept.resize(std::size_t(m_rowLimit));
    std::vector<bool> keep(std::size_t(m_store.recordCount()), false);
    for (const int record : kept)
        keep[std::size_t(record)] = true;
    std::vector<int> records;
    records.reserve(kept.size());
    for (int row = 0; row < rowCount(); ++row) {
        if (keep[std::size_t(m_order.record(row))])
            records.push_back(m_order.record(row));
    }
    beginResetModel();
    m_order.assign(std::move(records), m_store.recordCount());
    endResetModel();
}

int Recordset::rowLimit() const
{
    return m_rowLimit;
}

std::vector<int> Recordset::loadedOrder() const
{
    std::vector<int> records;
    records.reserve(std::size_t(rowCount()));
    for (int record = 0; record < m_store.recordCount(); ++record) {
        if (m_order.row(record) >= 0)
            records.push_back(record);
    }
    // A merged record's number says nothing about where the record source would put it.
    if (!m_mergedRecords.empty() && !m_baseKeys.empty())
        return RowSorter(m_store, m_baseKeys).sorted(std::move(records));
    return records;
}

void Recordset::applyOrder(std::optional<std::vector<int>> records)
{
    Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);

    const QModelIndexList from = persistentIndexList();
    std::vector<int> bookmarks;
    bookmarks.reserve(std::size_t(from.size()));
    for (const QModelIndex &index : from)
        bookmarks.push_back(m_order.record(index.row()));

    if (records)
        m_order.assign(std::move(*records), m_store.recordCount());
    else
        m_order.assignLoadedOrder(m_store.recordCount());

    QModelIndexList to;
    to.reserve(from.size());
    for (qsizetype i = 0; i < from.size(); ++i)
        to.append(index(m_order.row(bookmarks[std::size_t(i)]), from.at(i).column()));
    changePersistentIndexList(from, to);

    Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void Recordset::replace(ColumnStore store)
{
    replace(std::move(store), {}, QString());
}

void Recordset::replace(ColumnStore store, std::vector<int> order, const QString &orderedBy)
{
    store.finish();
    // New rows come in the sort in force, so they are shown in one reset: the first row
    // after a load is the first of the sorted rows. A result that cannot take the sort
    // comes in its loaded order, and the sort is dropped.
    bool sortKept = true;
    std::vector<SortKey> sortKeys;
    try {
        sortKeys = parseSortKeys(store.fieldNames(), m_sort);
    } catch (const ControlError &) {
        sortKept = false;
    }
    // A load keeps the first rows the record source delivers, whatever the sort.
    const int rows = std::min(store.recordCount(), m_rowLimit);
    const bool ordered = sortKept && orderedBy == m_sort && int(order.size()) == store.recordCount();
    const bool asLoaded = !ordered && sortKeys.empty() && rows == store.recordCount();
    if (ordered && rows < store.recordCount())
        order.erase(std::remove_if(order.begin(), order.end(), [rows](int record) { return record >= rows; }),
                    order.end());
    else if (!ordered && !asLoaded)
        order = RowSorter(store, sortKeys).sorted(rows);

    beginResetModel();
    if (!sortKept)
        m_sort.clear();
    m_sortKeys = std::move(sortKeys);
    m_baseKeys = keysIfAny(store.fieldNames(), m_baseOrder);
    m_store = std::move(store);
    if (asLoaded)
        m_order.assignLoadedOrder(m_store.recordCount());
    else
        m_order.assign(std::move(order), m_store.recordCount());
    m_loadedRecords = m_store.recordCount();
    m_mergedRecords.clear();
    endResetModel();
}

int Recordset::rowOfKey(const QString &keyField, qint64 key) const
{
    const int keyColumn = m_store.fieldIndex(keyField);
    if (keyColumn < 0)
        return -1;
    int best = -1;
    for (const auto &[found, record] : keyedRecords(m_store, keyColumn, {key}, &m_order)) {
        const int row = m_order.row(record);
        if (best < 0 || row < best)
            best = row;
    }
    return best;
}

qint64 Recordset::keyOfRow(const QString &keyField, int row) const
{
    const QVariant value = this->value(row, fieldIndex(keyField));
    bool ok = false;
    const qint64 key = value.toLongLong(&ok);
    return ok ? key : -1;
}

void Recordset::merge(const QString &keyField, const ColumnStore &changedRows, const QList<qint64> &keys)
{
    const int keyColumn = m_store.fieldIndex(keyField);
    if (keyColumn < 0)
        throw ControlError(ControlError::DatabaseFailure, QStringLiteral("The result has no field ") + keyField);
    if (!m_store.hasFieldsOf(changedRows))
        throw ControlError(ControlError::DatabaseFailure,
                           QStringLiteral("The changed rows do not have the fields of the result"));

    std::vector<qint64> wanted(keys.cbegin(), keys.cend());
    std::sort(wanted.begin(), wanted.end());
    wanted.erase(std::unique(wanted.begin(), wanted.end()), wanted.end());
    if (wanted.empty())
        return;
    const std::vector<std::pair<qint64, int>> shown = keyedRecords(m_store, keyColumn, wanted, &m_order);
    const std::vector<std::pair<qint64, int>> changed = keyedRecords(changedRows, keyColumn, wanted, nullptr);

    // A key's rows pair up in loaded order: the first shown row takes the first changed row,
    // and so on; shown rows left over go, changed rows left over come in.
    std::vector<int> removed;
    std::vector<std::pair<int, int>> updated;
    std::vector<int> inserted;
    auto s = shown.cbegin();
    auto c = changed.cbegin();
    while (s != shown.cend() || c != changed.cend()) {
        const qint64 key
                = s == shown.cend() ? c->first : (c == changed.cend() ? s->first : std::min(s->first, c->first));
        for (; s != shown.cend() && s->first == key; ++s) {
            if (c != changed.cend() && c->first == key)
                updated.emplace_back(s->second, (c++)->second);
            else
                removed.push_back(s->second);
        }
        for (; c != changed.cend() && c->first == key; ++c)
            inserted.push_back(c->second);
    }

    for (const int record : removed)
        removeRow(m_order.row(record));
    for (const auto &[record, from] : updated)
        updateRecord(record, changedRows, from);
    for (const int from : inserted)
        insertRecord(changedRows, from);
}

bool Recordset::loadedBefore(const ColumnStore &a, int recordA, int bookmarkA, const ColumnStore &b, int recordB,
                             int bookmarkB) const
{
    const int c = compareRecords(a, recordA, b, recordB, m_baseKeys);
    return c != 0 ? c < 0 : bookmarkA < bookmarkB;
}

int Recordset::placement(const ColumnStore &from, int fromRecord, int bookmark, int skipRow) const
{
    // The order a stable sort of the loaded rows gives: the sort in force, then the order
    // the record source delivers, then the order the rows were loaded (or merged) in.
    const auto comesBefore = [&](int record) {
        const int c = compareRecords(m_store, record, from, fromRecord, m_sortKeys);
        return c != 0 ? c < 0 : loadedBefore(m_store, record, record, from, fromRecord, bookmark);
    };
    int low = 0;
    int high = rowCount() - (skipRow >= 0 ? 1 : 0);
    while (low < high) {
        const int middle = low + (high - low) / 2;
        const int row = skipRow >= 0 && middle >= skipRow ? middle + 1 : middle;
        if (comesBefore(m_order.record(row)))
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

int Recordset::lastLoadedRecord() const
{
    // Loaded records that no merge touched stand in the record source's order already: the
    // last of them is the highest such record with a row. A merged one may fall anywhere.
    const auto merged = [this](int record) {
        return std::find(m_mergedRecords.begin(), m_mergedRecords.end(), record) != m_mergedRecords.end();
    };
    int last = m_loadedRecords - 1;
    while (last >= 0 && (m_order.row(last) < 0 || merged(last)))
        --last;
    for (const int record : m_mergedRecords) {
        if (m_order.row(record) >= 0 && (last < 0 || loadedBefore(m_store, last, last, m_store, record, record)))
            last = record;
    }
    return last;
}

void Recordset::removeRow(int row)
{
    beginRemoveRows({}, row, row);
    m_order.remove(row);
    endRemoveRows();
}

void Recordset::updateRecord(int record, const ColumnStore &from, int fromRecord)
{
    const int row = m_order.row(record);
    const int to = placement(from, fromRecord, record, row);
    if (to != row) {
        // Qt names the destination as the row the moved one goes before, counted before the move.
        const bool moving = beginMoveRows({}, row, row, {}, to > row ? to + 1 : to);
        Q_ASSERT(moving);
        m_order.move(row, to);
        endMoveRows();
    }
    m_store.assignRecord(record, from, fromRecord);
    if (std::find(m_mergedRecords.begin(), m_mergedRecords.end(), record) == m_mergedRecords.end())
        m_mergedRecords.push_back(record);
    Q_EMIT dataChanged(index(to, 0), index(to, columnCount() - 1));
}

void Recordset::insertRecord(const ColumnStore &from, int fromRecord)
{
    const int bookmark = m_store.recordCount();
    if (rowCount() >= m_rowLimit) {
        // Full: the new row takes the place of the one a load would now leave out, unless
        // that is the new row itself.
        const int last = lastLoadedRecord();
        if (last < 0 || !loadedBefore(from, fromRecord, bookmark, m_store, last, last))
            return;
        removeRow(m_order.row(last));
    }
    const int row = placement(from, fromRecord, bookmark, -1);
    beginInsertRows({}, row, row);
    m_store.appendRecord(from, fromRecord);
    m_order.insert(row, bookmark);
    m_mergedRecords.push_back(bookmark);
    endInsertRows();
}

} // namespace Orvantel

#include "recordset.h"
#include "recordset_p.h"

#include "controlerror.h"
#include "postgresstatement.h"

#include <QDate>
#include <QDateTime>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTime>

#include <libpq-fe.h>
#include <sqlite3.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <optional>

namespace Orvantel {

namespace {

constexpr std::size_t InitialTableSize = 1024;
constexpr std::size_t MaxTableSize = std::size_t(1) << 20;
/// Lookups after which a column of mostly distinct texts stops sharing them.
constexpr std::size_t SharingTrial = 8192;

inline std::uint64_t load64(const char *p)
{
    std::uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

inline std::uint32_t load32(const char *p)
{
    std::uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Both helpers below read the tail of a text as one overlapping word: the shared texts
// are short, and a byte loop or a library call would cost more than the rest.
std::uint64_t hashBytes(const char *data, std::size_t length)
{
    constexpr std::uint64_t m = 0x9E3779B97F4A7C15ull;
    std::uint64_t h = (length + 1) * m;
    if (length >= 8) {
        const char *last = data + length - 8;
        for (; data < last; data += 8) {
            h = (h ^ load64(data)) * m;
            h ^= h >> 32;
        }
        h = (h ^ load64(last)) * m;
    } else if (length >= 4) {
        h = (h ^ ((std::uint64_t(load32(data)) << 32) | load32(data + length - 4))) * m;
    } else if (length > 0) {
        const auto byte = [data](std::size_t i) { return std::uint64_t(static_cast<unsigned char>(data[i])); };
        h = (h ^ (byte(0) << 16 | byte(length / 2) << 8 | byte(length - 1))) * m;
    }
    h ^= h >> 32;
    h *= m;
    return h ^ (h >> 29);
}

inline bool equalBytes(const char *a, const char *b, std::size_t length)
{
    if (length >= 8) {
        for (std::size_t i = 0; i + 8 < length; i += 8) {
            if (load64(a + i) != load64(b + i))
                return false;
        }
        return load64(a + length - 8) == load64(b + length - 8);
    }
    if (length >= 4)
        return load32(a) == load32(b) && load32(a + length - 4) == load32(b + length - 4);
    for (std::size_t i = 0; i < length; ++i) {
        if (a[i] != b[i])
            return false;
    }
    return true;
}

inline unsigned char foldCase(unsigned char c)
{
    return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
}

template<typename T>
int threeWay(T a, T b)
{
    return a < b ? -1 : (b < a ? 1 : 0);
}

/// Two numeric cells by value (long double holds every 64-bit integer exactly).
int compareNumbers(const RecordColumn &column, std::size_t a, std::size_t b)
{
    if (column.type(a) == RecordColumn::Integer && column.type(b) == RecordColumn::Integer)
        return threeWay(column.integer(a), column.integer(b));
    auto number = [&column](std::size_t row) -> long double {
        return column.type(row) == RecordColumn::Integer ? column.integer(row) : column.real(row);
    };
    return threeWay(number(a), number(b));
}

struct SortKey
{
    int field;
    bool descending;
};

/// One row's sort key at one step: class (NULL, number, text), 64 bits that order like the
/// value (a number's ordered bits; for a text, 8 case-folded bytes starting at 8 * depth),
/// and the length of the text from there up to 9. Entries equal in all three are equal
/// values when both are exact; otherwise the next 8 bytes (or the cells) decide.
struct SortEntry
{
    std::uint64_t prefix;
    std::uint32_t bookmark;
    std::uint8_t rank;
    std::uint8_t length;
    bool exact;
};

SortEntry sortEntry(const RecordColumn &column, std::uint32_t bookmark, std::size_t depth)
{
    SortEntry entry {0, bookmark, 0, 0, true};
    switch (column.type(bookmark)) {
    case RecordColumn::Null:
        break;
    case RecordColumn::Integer:
    case RecordColumn::Real: {
        entry.rank = 1;
        double value;
        if (column.type(bookmark) == RecordColumn::Integer) {
            const std::int64_t integer = column.integer(bookmark);
            value = double(integer);
            entry.exact = integer >= -(std::int64_t(1) << 53) && integer <= (std::int64_t(1) << 53);
        } else {
            value = column.real(bookmark);
        }
        if (std::isnan(value))
            break; // the lowest number
        if (value == 0)
            value = 0; // -0 equals 0
        std::uint64_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        entry.prefix = (bits >> 63) ? ~bits : bits | (std::uint64_t(1) << 63);
        break;
    }
    case RecordColumn::Text: {
        entry.rank = 2;
        std::string_view text = column.text(bookmark);
        text.remove_prefix(std::min(text.size(), depth * 8));
        const std::size_t n = std::min<std::size_t>(text.size(), 8);
        for (std::size_t i = 0; i < n; ++i)
            entry.prefix |= std::uint64_t(foldCase(static_cast<unsigned char>(text[i]))) << (56 - 8 * i);
        entry.length = std::uint8_t(std::min<std::size_t>(text.size(), 9));
        entry.exact = text.size() <= 8;
        break;
    }
    }
    return entry;
}

/// Orders entries by class, prefix and length only: the key a radix pass can sort by.
int compareKeys(const SortEntry &a, const SortEntry &b)
{
    if (a.rank != b.rank)
        return threeWay(a.rank, b.rank);
    if (a.prefix != b.prefix)
        return threeWay(a.prefix, b.prefix);
    return threeWay(a.length, b.length);
}

/// Sorts rows stably by sort keys without comparing cells one pair at a time: each step
/// radix-sorts compact entries, then refines every run of ties by the next 8 bytes of a
/// text, or by the next key.
///
/// The runs still to refine wait on a work list, not on the call stack: texts that share
/// a long start would otherwise nest one call per 8 bytes and overflow the stack. Runs
/// are disjoint, so the order in which they are refined does not matter.
class RowSorter
{
public:
    RowSorter(const std::vector<RecordColumn> &columns, const std::vector<SortKey> &keys)
        : m_columns(columns)
        , m_keys(keys)
    {}

    std::vector<int> sorted(std::size_t rows)
    {
        std::vector<SortEntry> entries(rows);
        for (std::size_t row = 0; row < rows; ++row)
            entries[row].bookmark = std::uint32_t(row);
        m_work.push_back({entries.data(), entries.data() + rows, 0, 0, false});
        while (!m_work.empty()) {
            const Run run = m_work.back();
            m_work.pop_back();
            if (run.byCells)
                sortNumbers(run);
            else
                sortRun(run);
        }
        std::vector<int> order(rows);
        for (std::size_t row = 0; row < rows; ++row)
            order[row] = int(entries[row].bookmark);
        return order;
    }

private:
    /// Below this many entries a comparison sort costs less than the radix passes.
    static constexpr std::ptrdiff_t RadixThreshold = 256;

    /// Entries still to order among themselves: by the key's 8 bytes at depth, or (byCells)
    /// by the key's numeric cells.
    struct Run
    {
        SortEntry *begin;
        SortEntry *end;
        std::size_t key;
        std::size_t depth;
        bool byCells;
    };

    void sortRun(const Run &r)
    {
        SortEntry *const begin = r.begin;
        SortEntry *const end = r.end;
        const std::size_t key = r.key;
        const RecordColumn &column = m_columns[std::size_t(m_keys[key].field)];
        const bool descending = m_keys[key].descending;
        bool exact = true;
        for (SortEntry *e = begin; e != end; ++e) {
            *e = sortEntry(column, e->bookmark, r.depth);
            exact = exact && e->exact;
        }

        if (end - begin >= RadixThreshold) {
            radixSort(begin, end, descending);
        } else {
            std::stable_sort(begin, end, [descending](const SortEntry &a, const SortEntry &b) {
                const int c = compareKeys(a, b);
                return descending ? c > 0 : c < 0;
            });
        }

        // Equal keys of exact entries are equal values: only a next key can order them.
        if (exact && key + 1 == m_keys.size())
            return;
        for (SortEntry *run = begin; run != end;) {
            SortEntry *next = run + 1;
            bool exactRun = run->exact;
            while (next != end && compareKeys(*run, *next) == 0) {
                exactRun = exactRun && next->exact;
                ++next;
            }
            if (next - run > 1) {
                if (run->rank == 2 && !run->exact)
                    m_work.push_back({run, next, key, sharedDepth(column, run, next, r.depth + 1), false});
                else if (run->rank == 1 && !exactRun)
                    m_work.push_back({run, next, key, 0, true});
                else if (key + 1 < m_keys.size())
                    m_work.push_back({run, next, key + 1, 0, false});
            }
            run = next;
        }
    }

    /// The depth from which the texts of a run of ties can differ: at least depth, further
    /// on by whole 8-byte steps that every text of the run shares (without regard to case).
    /// Texts with a long common start are then compared once, not step by step.
    static std::size_t sharedDepth(const RecordColumn &column, const SortEntry *begin, const SortEntry *end,
                                   std::size_t depth)
    {
        const std::size_t from = depth * 8;
        const std::string_view first = column.text(begin->bookmark);
        if (first.size() <= from)
            return depth;
        std::size_t shared = first.size() - from;
        for (const SortEntry *e = begin + 1; e != end && shared >= 8; ++e) {
            const std::string_view text = column.text(e->bookmark);
            const std::size_t limit = std::min(shared, text.size() > from ? text.size() - from : 0);
            std::size_t i = 0;
            while (i < limit
                   && foldCase(static_cast<unsigned char>(first[from + i]))
                           == foldCase(static_cast<unsigned char>(text[from + i])))
                ++i;
            shared = i;
        }
        return depth + shared / 8;
    }

    /// Integers beyond 2^53 can share a prefix with their neighbours: those few runs are
    /// ordered by the cells themselves.
    void sortNumbers(const Run &r)
    {
        const std::size_t key = r.key;
        const RecordColumn &column = m_columns[std::size_t(m_keys[key].field)];
        const bool descending = m_keys[key].descending;
        const auto compare = [&column](const SortEntry &a, const SortEntry &b) {
            return compareNumbers(column, a.bookmark, b.bookmark);
        };
        std::stable_sort(r.begin, r.end, [&](const SortEntry &a, const SortEntry &b) {
            const int c = compare(a, b);
            return descending ? c > 0 : c < 0;
        });
        if (key + 1 >= m_keys.size())
            return;
        for (SortEntry *run = r.begin; run != r.end;) {
            SortEntry *next = run + 1;
            while (next != r.end && compare(*run, *next) == 0)
                ++next;
            if (next - run > 1)
                m_work.push_back({run, next, key + 1, 0, false});
            run = next;
        }
    }

    /// A stable LSD radix sort on the entries' keys (length, then the prefix's bytes from
    /// the lowest, then class), skipping the bytes that are the same in every entry.
    void radixSort(SortEntry *begin, SortEntry *end, bool descending)
    {
        const std::size_t n = std::size_t(end - begin);
        std::uint64_t prefixes = 0;
        unsigned lengths = 0;
        unsigned ranks = 0;
        for (const SortEntry *e = begin; e != end; ++e) {
            prefixes |= e->prefix ^ begin->prefix;
            lengths |= unsigned(e->length ^ begin->length);
            ranks |= unsigned(e->rank ^ begin->rank);
        }
        if (m_scratch.size() < n)
            m_scratch.resize(n);
        SortEntry *from = begin;
        SortEntry *to = m_scratch.data();
        const auto pass = [&](auto digit) {
            std::array<std::size_t, 256> offsets {};
            for (const SortEntry *e = from; e != from + n; ++e)
                ++offsets[digit(*e)];
            std::size_t sum = 0;
            for (int i = 0; i < 256; ++i) {
                std::size_t &offset = offsets[std::size_t(descending ? 255 - i : i)];
                const std::size_t count = offset;
                offset = sum;
                sum += count;
            }
            for (const SortEntry *e = from; e != from + n; ++e)
                to[offsets[digit(*e)]++] = *e;
            std::swap(from, to);
        };

        if (lengths)
            pass([](const SortEntry &e) { return e.length; });
        for (int shift = 0; shift < 64; shift += 8) {
            if ((prefixes >> shift) & 0xFF)
                pass([shift](const SortEntry &e) { return unsigned(e.prefix >> shift) & 0xFF; });
        }
        if (ranks)
            pass([](const SortEntry &e) { return e.rank; });
        if (from != begin)
            std::copy(from, from + n, begin);
    }

    const std::vector<RecordColumn> &m_columns;
    const std::vector<SortKey> &m_keys;
    std::vector<SortEntry> m_scratch;
    std::vector<Run> m_work;
};

ControlError invalidSort(const QString &detail)
{
    return {ControlError::InvalidSort, detail};
}

void appendVariant(RecordColumn &column, const QVariant &value)
{
    if (value.isNull()) {
        column.appendNull();
        return;
    }
    auto appendUtf8
            = [&column](const QByteArray &utf8) { column.appendText(utf8.constData(), std::size_t(utf8.size())); };
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Char:
    case QMetaType::SChar:
    case QMetaType::UChar:
        column.appendInteger(value.toLongLong());
        break;
    case QMetaType::ULongLong: {
        const qulonglong v = value.toULongLong();
        if (v <= qulonglong(std::numeric_limits<qint64>::max()))
            column.appendInteger(qint64(v));
        else
            column.appendReal(double(v));
        break;
    }
    case QMetaType::Double:
    case QMetaType::Float:
        column.appendReal(value.toDouble());
        break;
    case QMetaType::QDateTime:
        appendUtf8(value.toDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss")).toUtf8());
        break;
    case QMetaType::QDate:
        appendUtf8(value.toDate().toString(QStringLiteral("yyyy-MM-dd")).toUtf8());
        break;
    case QMetaType::QTime:
        appendUtf8(value.toTime().toString(QStringLiteral("hh:mm:ss")).toUtf8());
        break;
    case QMetaType::QByteArray:
        appendUtf8(value.toByteArray());
        break;
    default:
        appendUtf8(value.toString().toUtf8());
        break;
    }
}

struct StatementFinalizer
{
    void operator()(sqlite3_stmt *statement) const { sqlite3_finalize(statement); }
};

ControlError sqliteError(sqlite3 *handle, int code)
{
    return {code, QString::fromUtf8(sqlite3_errmsg(handle))};
}

/// Binds the statement's values to its parameters: texts as UTF-8 text, integers as
/// 64-bit integers.
void bindSqlite(sqlite3 *handle, sqlite3_stmt *statement, const QVariantList &values)
{
    if (sqlite3_bind_parameter_count(statement) != values.size()) {
        throw ControlError(ControlError::DatabaseFailure,
                           QStringLiteral("The statement has %1 placeholders for %2 values")
                                   .arg(sqlite3_bind_parameter_count(statement))
                                   .arg(values.size()));
    }
    for (int i = 0; i < int(values.size()); ++i) {
        const QVariant &value = values.at(i);
        int bound;
        if (bindsAsInteger(value)) {
            bound = sqlite3_bind_int64(statement, i + 1, value.toLongLong());
        } else if (value.isNull()) {
            bound = sqlite3_bind_null(statement, i + 1);
        } else {
            const QByteArray text = value.toString().toUtf8();
            bound = sqlite3_bind_text(statement, i + 1, text.constData(), int(text.size()), SQLITE_TRANSIENT);
        }
        if (bound != SQLITE_OK)
            throw sqliteError(handle, bound);
    }
}

/// How a PostgreSQL column's text is stored, from its type's (built-in, fixed) OID.
enum class PgField { Integer, Real, Numeric, Bool, Text };

PgField pgField(Oid type)
{
    enum : Oid {
        BoolOid = 16,
        Int8Oid = 20,
        Int2Oid = 21,
        Int4Oid = 23,
        OidOid = 26,
        Float4Oid = 700,
        Float8Oid = 701,
        NumericOid = 1700,
    };
    switch (type) {
    case Int2Oid:
    case Int4Oid:
    case Int8Oid:
    case OidOid:
        return PgField::Integer;
    case Float4Oid:
    case Float8Oid:
        return PgField::Real;
    case NumericOid:
        return PgField::Numeric;
    case BoolOid:
        return PgField::Bool;
    default:
        return PgField::Text;
    }
}

/// A numeric's text as a double when the double reads back as the same number (at most
/// 15 significant digits; not NaN, not beyond the double's range).
bool exactNumeric(const char *text, std::size_t length, double &value)
{
    std::ptrdiff_t first = -1;
    std::ptrdiff_t last = -1;
    std::ptrdiff_t position = 0;
    for (std::size_t i = 0; i < length; ++i) {
        const char c = text[i];
        if (c < '0' || c > '9')
            continue;
        if (c != '0') {
            if (first < 0)
                first = position;
            last = position;
        }
        ++position;
    }
    if (first >= 0 && last - first + 1 > std::numeric_limits<double>::digits10)
        return false;
    const auto [end, error] = std::from_chars(text, text + length, value);
    return error == std::errc() && end == text + length && std::isfinite(value) && (first < 0 || value != 0);
}

void appendPgValue(RecordColumn &column, PgField field, const char *text, std::size_t length)
{
    switch (field) {
    case PgField::Integer: {
        std::int64_t value;
        const auto [end, error] = std::from_chars(text, text + length, value);
        if (error == std::errc() && end == text + length) {
            column.appendInteger(value);
            return;
        }
        break;
    }
    case PgField::Real: {
        // from_chars, unlike strtod, does not follow the process's LC_NUMERIC.
        double value;
        const auto [end, error] = std::from_chars(text, text + length, value);
        if (error == std::errc() && end == text + length) {
            column.appendReal(value);
            return;
        }
        break;
    }
    case PgField::Numeric: {
        double value;
        if (exactNumeric(text, length, value)) {
            column.appendReal(value);
            return;
        }
        break;
    }
    case PgField::Bool:
        if (length == 1 && (text[0] == 't' || text[0] == 'f')) {
            if (text[0] == 't')
                column.appendText("true", 4);
            else
                column.appendText("false", 5);
            return;
        }
        break;
    case PgField::Text:
        break;
    }
    column.appendText(text, length);
}

} // namespace

char *TextBuffer::allocate(std::size_t length, std::uint64_t &offset)
{
    if (length > m_free) {
        std::size_t size = std::max(length, m_nextBlockSize);
        size = (size + SlotSize - 1) & ~(SlotSize - 1);
        m_blocks.emplace_back(new char[size]);
        char *block = m_blocks.back().get();
        m_cursorOffset = std::uint64_t(m_slots.size()) << SlotBits;
        for (std::size_t slot = 0; slot < size / SlotSize; ++slot)
            m_slots.push_back(block + slot * SlotSize);
        m_cursor = block;
        m_free = size;
        m_nextBlockSize = std::min(m_nextBlockSize * 2, MaxBlockSize);
    }
    char *room = m_cursor;
    offset = m_cursorOffset;
    m_cursor += length;
    m_cursorOffset += length;
    m_free -= length;
    return room;
}

void RecordColumn::appendText(const char *data, std::size_t length)
{
    m_types.push_back(Text);
    if (length == 0)
        m_values.push_back(0);
    else
        m_values.push_back(m_sharing && length <= ShareableLength ? shareText(data, length) : storeText(data, length));
}

std::uint64_t RecordColumn::storeText(const char *data, std::size_t length)
{
    std::uint64_t offset;
    if (length >= LongText) {
        const std::uint64_t length64 = length;
        char *room = m_text.allocate(sizeof length64 + length, offset);
        std::memcpy(room, &length64, sizeof length64);
        std::memcpy(room + sizeof length64, data, length);
        return (offset << LengthBits) | LongText;
    }
    std::memcpy(m_text.allocate(length, offset), data, length);
    return (offset << LengthBits) | length;
}

std::uint64_t RecordColumn::shareText(const char *data, std::size_t length)
{
    if (m_table.empty())
        m_table.assign(InitialTableSize, 0);
    ++m_lookups;
    const std::size_t mask = m_table.size() - 1;
    std::size_t slot = std::size_t(hashBytes(data, length)) & mask;
    while (const std::uint64_t entry = m_table[slot]) {
        const std::uint64_t payload = entry - 1;
        if ((payload & LongText) == length && equalBytes(m_text.at(payload >> LengthBits), data, length))
            return payload;
        slot = (slot + 1) & mask;
    }
    const std::uint64_t payload = storeText(data, length);
    m_table[slot] = payload + 1;
    if (++m_distinct * 2 > m_table.size())
        growTable();
    return payload;
}

void RecordColumn::growTable()
{
    // Sharing pays only while texts repeat; a column of mostly distinct texts stops trying.
    if ((m_lookups >= SharingTrial && m_distinct * 2 > m_lookups) || m_table.size() >= MaxTableSize) {
        m_sharing = false;
        std::vector<std::uint64_t>().swap(m_table);
        return;
    }
    std::vector<std::uint64_t> table(m_table.size() * 2, 0);
    const std::size_t mask = table.size() - 1;
    for (const std::uint64_t entry : m_table) {
        if (!entry)
            continue;
        const std::string_view text = textOf(entry - 1);
        std::size_t slot = std::size_t(hashBytes(text.data(), text.size())) & mask;
        while (table[slot])
            slot = (slot + 1) & mask;
        table[slot] = entry;
    }
    m_table.swap(table);
}

void RecordColumn::finish()
{
    std::vector<std::uint64_t>().swap(m_table);
    m_sharing = false;
}

Recordset::Recordset(QObject *parent)
    : QAbstractTableModel(parent)
    , m_storage(std::make_unique<Storage>())
{}

Recordset::~Recordset() = default;

int Recordset::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_storage->rows;
}

int Recordset::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(m_storage->columns.size());
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
    return int(m_storage->columns.size());
}

QString Recordset::fieldName(int field) const
{
    return m_storage->names.value(field);
}

int Recordset::fieldIndex(const QString &name) const
{
    const QStringList &names = m_storage->names;
    for (int i = 0; i < names.size(); ++i) {
        if (names.at(i).compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

QVariant Recordset::value(int row, int field) const
{
    if (row < 0 || row >= m_storage->rows || field < 0 || field >= fieldCount())
        return QVariant();
    const RecordColumn &column = m_storage->columns[std::size_t(field)];
    const std::size_t cell = std::size_t(m_storage->bookmarkOf(row));
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
    if (row < 0 || row >= m_storage->rows || field < 0 || field >= fieldCount())
        return QString();
    const RecordColumn &column = m_storage->columns[std::size_t(field)];
    const std::size_t cell = std::size_t(m_storage->bookmarkOf(row));
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
    if (row < 0 || row >= m_storage->rows || field < 0 || field >= fieldCount())
        return true;
    const std::size_t cell = std::size_t(m_storage->bookmarkOf(row));
    return m_storage->columns[std::size_t(field)].type(cell) == RecordColumn::Null;
}

int Recordset::bookmark(int row) const
{
    if (row < 0 || row >= m_storage->rows)
        return -1;
    return m_storage->bookmarkOf(row);
}

int Recordset::rowOfBookmark(int bookmark) const
{
    if (bookmark < 0 || bookmark >= m_storage->rows)
        return -1;
    return m_storage->rowOf(bookmark);
}

namespace {

/// The sort keys a sort text names among a result's fields; throws InvalidSort.
std::vector<SortKey> sortKeys(const QStringList &names, const QString &sort)
{
    const auto fieldIndex = [&names](const QString &name) {
        for (int i = 0; i < names.size(); ++i) {
            if (names.at(i).compare(name, Qt::CaseInsensitive) == 0)
                return i;
        }
        return -1;
    };
    std::vector<SortKey> keys;
    if (sort.trimmed().isEmpty())
        return keys;
    const QStringList parts = sort.split(QLatin1Char(','));
    for (const QString &part : parts) {
        QString name = part.trimmed();
        if (name.isEmpty())
            throw invalidSort(QStringLiteral("The sort text lists an empty field: ") + sort);
        bool descending = false;
        if (fieldIndex(name) < 0) {
            const qsizetype blank = name.lastIndexOf(QLatin1Char(' '));
            const QString direction = blank > 0 ? name.mid(blank + 1) : QString();
            if (direction.compare(QLatin1String("ASC"), Qt::CaseInsensitive) == 0) {
                name = name.left(blank).trimmed();
            } else if (direction.compare(QLatin1String("DESC"), Qt::CaseInsensitive) == 0) {
                name = name.left(blank).trimmed();
                descending = true;
            }
            if (name.size() > 2 && name.startsWith(QLatin1Char('[')) && name.endsWith(QLatin1Char(']')))
                name = name.mid(1, name.size() - 2);
        }
        const int field = fieldIndex(name);
        if (field < 0)
            throw invalidSort(QStringLiteral("The sort names no field of the result: ") + name);
        keys.push_back({field, descending});
    }
    return keys;
}

/// The row order of storage under a sort text: empty for the loaded order.
std::vector<int> sortedOrder(const std::vector<RecordColumn> &columns, int rows, const std::vector<SortKey> &keys)
{
    if (keys.empty() || rows <= 0)
        return {};
    return RowSorter(columns, keys).sorted(std::size_t(rows));
}

std::vector<int> inverted(const std::vector<int> &order)
{
    std::vector<int> inverse(order.size());
    for (std::size_t row = 0; row < order.size(); ++row)
        inverse[std::size_t(order[row])] = int(row);
    return inverse;
}

} // namespace

void Recordset::setSort(const QString &sort)
{
    if (sort == m_sort)
        return; // loads keep the rows in this order already
    std::vector<int> order = sortedOrder(m_storage->columns, m_storage->rows, sortKeys(m_storage->names, sort));
    m_sort = sort;
    applyOrder(std::move(order));
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

void Recordset::applyOrder(std::vector<int> order)
{
    Q_EMIT layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);

    const QModelIndexList from = persistentIndexList();
    std::vector<int> bookmarks;
    bookmarks.reserve(std::size_t(from.size()));
    for (const QModelIndex &index : from)
        bookmarks.push_back(m_storage->bookmarkOf(index.row()));

    std::vector<int> inverse = inverted(order);
    m_storage->order = std::move(order);
    m_storage->inverse = std::move(inverse);

    QModelIndexList to;
    to.reserve(from.size());
    for (qsizetype i = 0; i < from.size(); ++i)
        to.append(index(m_storage->rowOf(bookmarks[std::size_t(i)]), from.at(i).column()));
    changePersistentIndexList(from, to);

    Q_EMIT layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

void Recordset::load(QSqlQuery &query)
{
    if (query.lastError().isValid())
        throw ControlError::fromSqlError(query.lastError());
    if (!query.isActive())
        throw ControlError(ControlError::DatabaseFailure, QStringLiteral("The query has not been run"));

    auto storage = std::make_unique<Storage>();
    const QSqlRecord record = query.record();
    const int fields = record.count();
    for (int i = 0; i < fields; ++i)
        storage->names.append(record.fieldName(i));
    storage->columns.resize(std::size_t(fields));

    int rows = 0;
    while (query.next()) {
        for (int i = 0; i < fields; ++i)
            appendVariant(storage->columns[std::size_t(i)], query.value(i));
        ++rows;
    }
    if (query.lastError().isValid())
        throw ControlError::fromSqlError(query.lastError());

    storage->rows = rows;
    replace(std::move(storage));
}

void Recordset::loadSqlite(sqlite3 *handle, const Statement &statement)
{
    if (!handle)
        throw ControlError(ControlError::DatabaseFailure, QStringLiteral("The SQLite connection is not open"));

    const QByteArray utf8 = statement.sql.toUtf8();
    sqlite3_stmt *raw = nullptr;
    const int prepared = sqlite3_prepare_v2(handle, utf8.constData(), int(utf8.size()), &raw, nullptr);
    std::unique_ptr<sqlite3_stmt, StatementFinalizer> owner(raw);
    if (prepared != SQLITE_OK)
        throw sqliteError(handle, prepared);
    if (!owner)
        throw ControlError(ControlError::DatabaseFailure, QStringLiteral("The SQL text holds no statement"));
    bindSqlite(handle, raw, statement.values);

    auto storage = std::make_unique<Storage>();
    const int fields = sqlite3_column_count(raw);
    for (int i = 0; i < fields; ++i)
        storage->names.append(QString::fromUtf8(sqlite3_column_name(raw, i)));
    storage->columns.resize(std::size_t(fields));
    RecordColumn *columns = storage->columns.data();

    int rows = 0;
    int stepped;
    while ((stepped = sqlite3_step(raw)) == SQLITE_ROW) {
        for (int i = 0; i < fields; ++i) {
            RecordColumn &column = columns[i];
            switch (sqlite3_column_type(raw, i)) {
            case SQLITE_INTEGER:
                column.appendInteger(sqlite3_column_int64(raw, i));
                break;
            case SQLITE_FLOAT:
                column.appendReal(sqlite3_column_double(raw, i));
                break;
            case SQLITE_NULL:
                column.appendNull();
                break;
            case SQLITE_BLOB: {
                const void *data = sqlite3_column_blob(raw, i);
                column.appendText(static_cast<const char *>(data), std::size_t(sqlite3_column_bytes(raw, i)));
                break;
            }
            default: {
                const unsigned char *data = sqlite3_column_text(raw, i);
                column.appendText(reinterpret_cast<const char *>(data), std::size_t(sqlite3_column_bytes(raw, i)));
                break;
            }
            }
        }
        ++rows;
    }
    if (stepped != SQLITE_DONE)
        throw sqliteError(handle, stepped);

    storage->rows = rows;
    replace(std::move(storage));
}

void Recordset::loadPostgres(PGconn *connection, const Statement &statement)
{
    // Row by row: within noise of one result for 250 000 rows, and about 100 MiB less memory
    // held, since libpq never builds the whole result (twice the text, which the heap keeps
    // after it is freed).
    PostgresStatement running(connection, statement, PostgresStatement::Rows::OneByOne);

    std::unique_ptr<Storage> storage;
    std::unique_ptr<Storage> finished;
    std::vector<PgField> kinds;
    int rows = 0;
    while (const PostgresResult result = running.next()) {
        PGresult *raw = result.get();
        if (!storage) {
            storage = std::make_unique<Storage>();
            const int fields = PQnfields(raw);
            kinds.resize(std::size_t(fields));
            for (int i = 0; i < fields; ++i) {
                storage->names.append(QString::fromUtf8(PQfname(raw, i)));
                kinds[std::size_t(i)] = pgField(PQftype(raw, i));
            }
            storage->columns.resize(std::size_t(fields));
        }
        RecordColumn *columns = storage->columns.data();
        const int fields = int(kinds.size());
        const int tuples = PQntuples(raw);
        for (int row = 0; row < tuples; ++row) {
            for (int i = 0; i < fields; ++i) {
                // A NULL reads as an empty value: only those need asking.
                const int length = PQgetlength(raw, row, i);
                if (length == 0 && PQgetisnull(raw, row, i))
                    columns[i].appendNull();
                else
                    appendPgValue(columns[i], kinds[std::size_t(i)], PQgetvalue(raw, row, i), std::size_t(length));
            }
        }
        rows += tuples;
        if (PQresultStatus(raw) != PGRES_SINGLE_TUPLE) {
            storage->rows = rows;
            finished = std::move(storage);
        }
    }
    if (!finished)
        throw ControlError(ControlError::DatabaseFailure, QStringLiteral("The SQL text holds no statement"));
    replace(std::move(finished));
}

void Recordset::clear()
{
    auto storage = std::make_unique<Storage>();
    storage->names = m_storage->names;
    storage->columns.resize(m_storage->columns.size());
    replace(std::move(storage));
}

void Recordset::replace(std::unique_ptr<Storage> storage)
{
    for (RecordColumn &column : storage->columns)
        column.finish();
    // New rows come in the sort in force, so they are shown in one reset: the first row
    // after a load is the first of the sorted rows. A result that cannot take the sort
    // comes in its loaded order, and the sort is dropped.
    try {
        storage->order = sortedOrder(storage->columns, storage->rows, sortKeys(storage->names, m_sort));
    } catch (const ControlError &) {
        m_sort.clear();
    }
    storage->inverse = inverted(storage->order);
    beginResetModel();
    m_storage.swap(storage);
    endResetModel();
}

} // namespace Orvantel

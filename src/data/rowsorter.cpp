#include "rowsorter.h"

#include "columnstore.h"
#include "controlerror.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace Orvantel {

namespace {

inline unsigned char foldCase(unsigned char c)
{
    return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
}

template<typename T>
int threeWay(T a, T b)
{
    return a < b ? -1 : (b < a ? 1 : 0);
}

/// Two numeric cells by value (long double holds every 64-bit integer exactly); NaN is
/// the lowest number.
int compareNumbers(const RecordColumn &a, std::size_t rowA, const RecordColumn &b, std::size_t rowB)
{
    if (a.type(rowA) == RecordColumn::Integer && b.type(rowB) == RecordColumn::Integer)
        return threeWay(a.integer(rowA), b.integer(rowB));
    const auto number = [](const RecordColumn &column, std::size_t row) -> long double {
        return column.type(row) == RecordColumn::Integer ? column.integer(row) : column.real(row);
    };
    const long double x = number(a, rowA);
    const long double y = number(b, rowB);
    if (std::isnan(x) || std::isnan(y))
        return threeWay(!std::isnan(x), !std::isnan(y));
    return threeWay(x, y);
}

int compareTexts(std::string_view a, std::string_view b)
{
    const std::size_t n = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned char x = foldCase(static_cast<unsigned char>(a[i]));
        const unsigned char y = foldCase(static_cast<unsigned char>(b[i]));
        if (x != y)
            return x < y ? -1 : 1;
    }
    return threeWay(a.size(), b.size());
}

/// NULL, number, text: the order of the classes.
int rankOf(RecordColumn::Type type)
{
    switch (type) {
    case RecordColumn::Null:
        return 0;
    case RecordColumn::Integer:
    case RecordColumn::Real:
        return 1;
    case RecordColumn::Text:
        break;
    }
    return 2;
}

int compareCells(const RecordColumn &a, std::size_t rowA, const RecordColumn &b, std::size_t rowB)
{
    const int rank = rankOf(a.type(rowA));
    if (rank != rankOf(b.type(rowB)))
        return threeWay(rank, rankOf(b.type(rowB)));
    if (rank == 1)
        return compareNumbers(a, rowA, b, rowB);
    if (rank == 2)
        return compareTexts(a.text(rowA), b.text(rowB));
    return 0;
}

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

ControlError invalidSort(const QString &detail)
{
    return {ControlError::InvalidSort, detail};
}

} // namespace

/// The runs still to refine wait on a work list, not on the call stack: texts that share
/// a long start would otherwise nest one call per 8 bytes and overflow the stack. Runs
/// are disjoint, so the order in which they are refined does not matter.
class RowSorter::Private
{
public:
    Private(const ColumnStore &store, std::vector<SortKey> keys)
        : m_store(store)
        , m_keys(std::move(keys))
    {}

    int recordCount() const { return m_store.recordCount(); }

    /// records, or the first count records when records is null.
    std::vector<int> sorted(const int *records, std::size_t count)
    {
        std::vector<SortEntry> entries(count);
        for (std::size_t row = 0; row < count; ++row)
            entries[row].bookmark = std::uint32_t(records ? records[row] : int(row));
        if (!m_keys.empty() && count > 1)
            m_work.push_back({entries.data(), entries.data() + count, 0, 0, false});
        while (!m_work.empty()) {
            const Run run = m_work.back();
            m_work.pop_back();
            if (run.byCells)
                sortNumbers(run);
            else
                sortRun(run);
        }
        std::vector<int> order(count);
        for (std::size_t row = 0; row < count; ++row)
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

    const RecordColumn &columnOf(std::size_t key) const { return m_store.column(m_keys[key].field); }

    void sortRun(const Run &r)
    {
        SortEntry *const begin = r.begin;
        SortEntry *const end = r.end;
        const std::size_t key = r.key;
        const RecordColumn &column = columnOf(key);
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
        const RecordColumn &column = columnOf(key);
        const bool descending = m_keys[key].descending;
        const auto compare = [&column](const SortEntry &a, const SortEntry &b) {
            return compareNumbers(column, a.bookmark, column, b.bookmark);
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

    const ColumnStore &m_store;
    const std::vector<SortKey> m_keys;
    std::vector<SortEntry> m_scratch;
    std::vector<Run> m_work;
};

RowSorter::RowSorter(const ColumnStore &store, std::vector<SortKey> keys)
    : d(std::make_unique<Private>(store, std::move(keys)))
{}

RowSorter::~RowSorter() = default;

std::vector<int> RowSorter::sorted(const std::vector<int> &records)
{
    return d->sorted(records.data(), records.size());
}

std::vector<int> RowSorter::sorted(int records)
{
    const int count = records < 0 ? d->recordCount() : std::min(records, d->recordCount());
    return d->sorted(nullptr, std::size_t(count));
}

std::vector<SortKey> parseSortKeys(const QStringList &names, const QString &sort)
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

int compareRecords(const ColumnStore &a, int recordA, const ColumnStore &b, int recordB,
                   const std::vector<SortKey> &keys)
{
    for (const SortKey &key : keys) {
        const int c
                = compareCells(a.column(key.field), std::size_t(recordA), b.column(key.field), std::size_t(recordB));
        if (c != 0)
            return key.descending ? -c : c;
    }
    return 0;
}

std::vector<int> sortedOrder(const ColumnStore &store, const QString &sort)
{
    std::vector<SortKey> keys = parseSortKeys(store.fieldNames(), sort);
    if (keys.empty())
        return {};
    return RowSorter(store, std::move(keys)).sorted();
}

} // namespace Orvantel

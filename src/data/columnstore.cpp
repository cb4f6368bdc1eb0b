#include "columnstore.h"

#include <algorithm>

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
    m_values.push_back(textPayload(data, length));
}

std::uint64_t RecordColumn::textPayload(const char *data, std::size_t length)
{
    if (length == 0)
        return 0;
    return m_sharing && length <= ShareableLength ? shareText(data, length) : storeText(data, length);
}

std::uint64_t RecordColumn::payloadOf(const RecordColumn &from, std::size_t row)
{
    if (from.type(row) != Text)
        return from.m_values[row];
    const std::string_view text = from.text(row);
    return textPayload(text.data(), text.size());
}

void RecordColumn::appendCell(const RecordColumn &from, std::size_t row)
{
    const std::uint64_t payload = payloadOf(from, row);
    m_types.push_back(from.m_types[row]);
    m_values.push_back(payload);
}

void RecordColumn::assignCell(std::size_t row, const RecordColumn &from, std::size_t fromRow)
{
    const std::uint64_t payload = payloadOf(from, fromRow);
    m_types[row] = from.m_types[fromRow];
    m_values[row] = payload;
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

ColumnStore::ColumnStore(const QStringList &fieldNames)
    : m_names(fieldNames)
    , m_columns(std::size_t(fieldNames.size()))
{}

int ColumnStore::fieldIndex(const QString &name) const
{
    for (int i = 0; i < m_names.size(); ++i) {
        if (m_names.at(i).compare(name, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

bool ColumnStore::hasFieldsOf(const ColumnStore &other) const
{
    if (m_names.size() != other.m_names.size())
        return false;
    for (int i = 0; i < m_names.size(); ++i) {
        if (m_names.at(i).compare(other.m_names.at(i), Qt::CaseInsensitive) != 0)
            return false;
    }
    return true;
}

void ColumnStore::finish()
{
    for (RecordColumn &column : m_columns)
        column.finish();
}

int ColumnStore::appendRecord(const ColumnStore &from, int record)
{
    Q_ASSERT(hasFieldsOf(from));
    for (std::size_t field = 0; field < m_columns.size(); ++field)
        m_columns[field].appendCell(from.m_columns[field], std::size_t(record));
    return m_records++;
}

void ColumnStore::assignRecord(int record, const ColumnStore &from, int fromRecord)
{
    Q_ASSERT(hasFieldsOf(from) && record >= 0 && record < m_records);
    for (std::size_t field = 0; field < m_columns.size(); ++field)
        m_columns[field].assignCell(std::size_t(record), from.m_columns[field], std::size_t(fromRecord));
}

} // namespace Orvantel

#pragma once

#include "recordset.h"

#include <QStringList>

#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

namespace Orvantel {

/// The UTF-8 bytes of a column's texts, in blocks that are never moved once written, so
/// loading copies every text once. A text is addressed by a 64-bit offset and lies
/// contiguous in one block.
class TextBuffer
{
public:
    const char *at(std::uint64_t offset) const
    {
        return m_slots[std::size_t(offset >> SlotBits)] + (offset & (SlotSize - 1));
    }
    /// Room for length contiguous bytes; offset receives their address.
    char *allocate(std::size_t length, std::uint64_t &offset);

private:
    static constexpr int SlotBits = 16;
    static constexpr std::size_t SlotSize = std::size_t(1) << SlotBits;
    static constexpr std::size_t MaxBlockSize = std::size_t(1) << 20;

    std::vector<std::unique_ptr<char[]>> m_blocks;
    /// Every SlotSize bytes of offset space, the memory they map to.
    std::vector<char *> m_slots;
    char *m_cursor = nullptr;
    std::size_t m_free = 0;
    std::uint64_t m_cursorOffset = 0;
    std::size_t m_nextBlockSize = SlotSize;
};

/// One field of a loaded result: a type tag and an 8-byte payload per row. A number is
/// held as itself; a text as offset and length into the column's text buffer.
class RecordColumn
{
public:
    enum Type : std::uint8_t { Null, Integer, Real, Text };

    std::size_t size() const { return m_types.size(); }
    Type type(std::size_t row) const { return Type(m_types[row]); }
    std::int64_t integer(std::size_t row) const { return std::int64_t(m_values[row]); }
    double real(std::size_t row) const
    {
        double v;
        std::memcpy(&v, &m_values[row], sizeof v);
        return v;
    }
    std::string_view text(std::size_t row) const { return textOf(m_values[row]); }

    void reserve(std::size_t rows)
    {
        m_types.reserve(rows);
        m_values.reserve(rows);
    }
    void appendNull()
    {
        m_types.push_back(Null);
        m_values.push_back(0);
    }
    void appendInteger(std::int64_t value)
    {
        m_types.push_back(Integer);
        m_values.push_back(std::uint64_t(value));
    }
    void appendReal(double value)
    {
        std::uint64_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        m_types.push_back(Real);
        m_values.push_back(bits);
    }
    void appendText(const char *data, std::size_t length);

    /// Frees what only loading needs.
    void finish();

private:
    static constexpr int LengthBits = 24;
    /// A length field of all ones: the real length precedes the text as 8 bytes.
    static constexpr std::uint64_t LongText = (std::uint64_t(1) << LengthBits) - 1;
    /// Texts up to this length are looked up among the column's earlier texts and shared.
    static constexpr std::size_t ShareableLength = 64;

    std::string_view textOf(std::uint64_t payload) const
    {
        std::uint64_t length = payload & LongText;
        if (length == 0)
            return std::string_view();
        const char *data = m_text.at(payload >> LengthBits);
        if (length == LongText) {
            std::memcpy(&length, data, sizeof length);
            data += sizeof length;
        }
        return {data, std::size_t(length)};
    }
    std::uint64_t storeText(const char *data, std::size_t length);
    std::uint64_t shareText(const char *data, std::size_t length);
    void growTable();

    std::vector<std::uint8_t> m_types;
    std::vector<std::uint64_t> m_values;
    TextBuffer m_text;

    // Open-addressing set of the distinct short texts seen so far (payload + 1; 0 = empty slot).
    // Dropped for a column whose texts turn out to be mostly distinct.
    std::vector<std::uint64_t> m_table;
    std::size_t m_distinct = 0;
    std::size_t m_lookups = 0;
    bool m_sharing = true;
};

struct Recordset::Storage
{
    QStringList names;
    std::vector<RecordColumn> columns;
    int rows = 0;
    /// row -> bookmark and bookmark -> row; both empty while the loaded order holds.
    std::vector<int> order;
    std::vector<int> inverse;

    int bookmarkOf(int row) const { return order.empty() ? row : order[std::size_t(row)]; }
    int rowOf(int bookmark) const { return inverse.empty() ? bookmark : inverse[std::size_t(bookmark)]; }
};

} // namespace Orvantel

#pragma once

#include <QString>
#include <QStringList>

#include <cstdint>
#include <cstring>
#include <limits>
#include <memory>
#include <string_view>
#include <vector>

namespace Orvantel {

/// A row limit that never stops a load.
constexpr int NoRowLimit = std::numeric_limits<int>::max();

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

/// One field of a loaded result: a type tag and an 8-byte payload per record. A number
/// is held as itself; a text as offset and length into the column's text buffer.
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

    /// Appends the value of another result's column (of the same field) at row.
    void appendCell(const RecordColumn &from, std::size_t row);
    /// Replaces the value at row with another result's at fromRow. A text it replaces
    /// stays in the buffer until the column goes.
    void assignCell(std::size_t row, const RecordColumn &from, std::size_t fromRow);

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
    /// The payload of a copy of another column's cell.
    std::uint64_t payloadOf(const RecordColumn &from, std::size_t row);
    std::uint64_t textPayload(const char *data, std::size_t length);
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

/// A loaded result: its field names, one RecordColumn per field, and how many records it
/// holds. A record's number is its position in the result as loaded.
///
/// Plain data, no QObject: a loader fills one on any thread, and it is handed to the GUI
/// thread by moving it.
class ColumnStore
{
public:
    ColumnStore() = default;
    /// One empty column per field.
    explicit ColumnStore(const QStringList &fieldNames);
    ColumnStore(ColumnStore &&) noexcept = default;
    ColumnStore &operator=(ColumnStore &&) noexcept = default;
    ColumnStore(const ColumnStore &) = delete;
    ColumnStore &operator=(const ColumnStore &) = delete;

    const QStringList &fieldNames() const { return m_names; }
    int fieldCount() const { return int(m_columns.size()); }
    /// The field's position, its name matched without regard to case; -1 when absent.
    int fieldIndex(const QString &name) const;
    /// Whether other has the same fields in the same order (names without regard to case).
    bool hasFieldsOf(const ColumnStore &other) const;
    int recordCount() const { return m_records; }
    const RecordColumn &column(int field) const { return m_columns[std::size_t(field)]; }

    /// For a loader: the columns to append one value each to, in field order; then
    /// endRecord() counts the record.
    RecordColumn *columns() { return m_columns.data(); }
    void endRecord() { ++m_records; }
    /// Frees what only loading needs; a loader calls it once every record is in.
    void finish();

    /// Appends record `record` of from (a result with the same fields); returns its number.
    int appendRecord(const ColumnStore &from, int record);
    /// Replaces the values of record `record` with those of record fromRecord of from.
    void assignRecord(int record, const ColumnStore &from, int fromRecord);

private:
    QStringList m_names;
    std::vector<RecordColumn> m_columns;
    int m_records = 0;
};

} // namespace Orvantel

#pragma once

#include <vector>

namespace Orvantel {

/// The rows of a result as shown: which record each row holds, and which row holds each
/// record (-1 for none: a record removed by a merge, or beyond the row limit). Inserting,
/// removing or moving one row moves the rows between by one, in place. While every record
/// shows in loaded order (no sort, no merge) nothing is stored.
class RowOrder
{
public:
    /// records in row order, each below recordCount and listed at most once.
    void assign(std::vector<int> records, int recordCount);
    /// Every record in loaded order.
    void assignLoadedOrder(int recordCount);

    int rowCount() const { return m_loadedOrder ? m_count : int(m_records.size()); }
    int recordCount() const { return m_loadedOrder ? m_count : int(m_rows.size()); }
    int record(int row) const { return m_loadedOrder ? row : m_records[std::size_t(row)]; }
    /// -1 when the record has no row (or is no record).
    int row(int record) const
    {
        if (record < 0 || record >= recordCount())
            return -1;
        return m_loadedOrder ? record : m_rows[std::size_t(record)];
    }

    /// Shows record (one without a row, or the next record number) at row.
    void insert(int row, int record);
    /// The record at row keeps no row.
    void remove(int row);
    /// The record at row from goes to row to; the rows between close up.
    void move(int from, int to);
    /// The rows from rows on go.
    void truncate(int rows);

private:
    /// Stores the loaded order, for a change to it.
    void materialise();
    /// Tells the records of rows first..last their rows again.
    void renumber(int first, int last);

    bool m_loadedOrder = true;
    int m_count = 0;
    std::vector<int> m_records;
    std::vector<int> m_rows;
};

} // namespace Orvantel

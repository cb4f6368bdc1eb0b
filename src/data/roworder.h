#pragma once

#include <vector>

namespace Orvantel {

/// The rows of a result as shown: which record each row holds, and which row holds each
/// record (-1 for none: a record removed by a merge, or beyond the row limit). Inserting,
/// removing or moving one row moves the rows between by one, in place.
class RowOrder
{
public:
    /// records in row order, each below recordCount and listed at most once.
    void assign(std::vector<int> records, int recordCount);

    int rowCount() const { return int(m_records.size()); }
    int recordCount() const { return int(m_rows.size()); }
    int record(int row) const { return m_records[std::size_t(row)]; }
    /// -1 when the record has no row (or is no record).
    int row(int record) const { return record >= 0 && record < recordCount() ? m_rows[std::size_t(record)] : -1; }
    const std::vector<int> &records() const { return m_records; }

    /// Shows record (one without a row, or the next record number) at row.
    void insert(int row, int record);
    /// The record at row keeps no row.
    void remove(int row);
    /// The record at row from goes to row to; the rows between close up.
    void move(int from, int to);
    /// The rows from rows on go.
    void truncate(int rows);

private:
    /// Tells the records of rows first..last their rows again.
    void renumber(int first, int last);

    std::vector<int> m_records;
    std::vector<int> m_rows;
};

} // namespace Orvantel

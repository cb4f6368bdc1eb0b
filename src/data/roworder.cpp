#include "roworder.h"

#include <QtGlobal>

#include <algorithm>

namespace Orvantel {

void RowOrder::assign(std::vector<int> records, int recordCount)
{
    m_records = std::move(records);
    m_rows.assign(std::size_t(recordCount), -1);
    renumber(0, rowCount() - 1);
}

void RowOrder::insert(int row, int record)
{
    Q_ASSERT(row >= 0 && row <= rowCount() && record >= 0 && record <= recordCount() && this->row(record) < 0);
    if (record == recordCount())
        m_rows.push_back(-1);
    m_records.insert(m_records.begin() + row, record);
    renumber(row, rowCount() - 1);
}

void RowOrder::remove(int row)
{
    Q_ASSERT(row >= 0 && row < rowCount());
    m_rows[std::size_t(m_records[std::size_t(row)])] = -1;
    m_records.erase(m_records.begin() + row);
    renumber(row, rowCount() - 1);
}

void RowOrder::move(int from, int to)
{
    Q_ASSERT(from >= 0 && from < rowCount() && to >= 0 && to < rowCount());
    const auto at = [this](int row) { return m_records.begin() + row; };
    if (from < to)
        std::rotate(at(from), at(from + 1), at(to + 1));
    else
        std::rotate(at(to), at(from), at(from + 1));
    renumber(std::min(from, to), std::max(from, to));
}

void RowOrder::truncate(int rows)
{
    for (int row = rows; row < rowCount(); ++row)
        m_rows[std::size_t(m_records[std::size_t(row)])] = -1;
    if (rows < rowCount())
        m_records.resize(std::size_t(rows));
}

void RowOrder::renumber(int first, int last)
{
    for (int row = first; row <= last; ++row)
        m_rows[std::size_t(m_records[std::size_t(row)])] = row;
}

} // namespace Orvantel

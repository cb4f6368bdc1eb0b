#include "roworder.h"

#include <QtGlobal>

#include <algorithm>
#include <numeric>

namespace Orvantel {

void RowOrder::assign(std::vector<int> records, int recordCount)
{
    m_loadedOrder = false;
    m_count = recordCount;
    m_records = std::move(records);
    m_rows.assign(std::size_t(recordCount), -1);
    renumber(0, rowCount() - 1);
}

void RowOrder::assignLoadedOrder(int recordCount)
{
    m_loadedOrder = true;
    m_count = recordCount;
    std::vector<int>().swap(m_records);
    std::vector<int>().swap(m_rows);
}

void RowOrder::materialise()
{
    if (!m_loadedOrder)
        return;
    m_records.resize(std::size_t(m_count));
    std::iota(m_records.begin(), m_records.end(), 0);
    m_rows = m_records;
    m_loadedOrder = false;
}

void RowOrder::insert(int row, int record)
{
    Q_ASSERT(row >= 0 && row <= rowCount() && record >= 0 && record <= recordCount() && this->row(record) < 0);
    materialise();
    if (record == recordCount())
        m_rows.push_back(-1);
    m_records.insert(m_records.begin() + row, record);
    renumber(row, rowCount() - 1);
}

void RowOrder::remove(int row)
{
    Q_ASSERT(row >= 0 && row < rowCount());
    materialise();
    m_rows[std::size_t(m_records[std::size_t(row)])] = -1;
    m_records.erase(m_records.begin() + row);
    renumber(row, rowCount() - 1);
}

void RowOrder::move(int from, int to)
{
    Q_ASSERT(from >= 0 && from < rowCount() && to >= 0 && to < rowCount());
    materialise();
    const auto at = [this](int row) { return m_records.begin() + row; };
    if (from < to)
        std::rotate(at(from), at(from + 1), at(to + 1));
    else
        std::rotate(at(to), at(from), at(from + 1));
    renumber(std::min(from, to), std::max(from, to));
}

void RowOrder::truncate(int rows)
{
    if (rows >= rowCount())
        return;
    materialise();
    for (int row = rows; row < rowCount(); ++row)
        m_rows[std::size_t(m_records[std::size_t(row)])] = -1;
    m_records.resize(std::size_t(rows));
}

void RowOrder::renumber(int first, int last)
{
    for (int row = first; row <= last; ++row)
        m_rows[std::size_t(m_records[std::size_t(row)])] = row;
}

} // namespace Orvantel

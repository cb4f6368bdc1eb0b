#include "gridexport.h"

#include "datagrid.h"

#include "csvfile.h"
#include "recordset.h"

namespace Orvantel {

namespace {
/// Slices read ahead of the writer at most: a slow disk must not fill the memory.
constexpr int MaxPendingBatches = 4;
} // namespace

GridExport::GridExport(DataGrid *grid, const QString &fileName, QObject *parent)
    : QObject(parent)
    , m_grid(grid)
    , m_fileName(fileName)
{
    connect(&m_slices, &QTimer::timeout, this, &GridExport::nextSlice);
}

GridExport::~GridExport() = default;

void GridExport::start()
{
    if (!m_grid || !m_grid->recordset()) {
        end(tr("There are no rows to export."));
        return;
    }
    m_writer = std::make_unique<BackgroundCsvWriter>(m_fileName);
    connect(m_writer.get(), &BackgroundCsvWriter::finished, this, &GridExport::end);
    connect(m_grid->model(), &QAbstractItemModel::modelAboutToBeReset, this, [this] { m_reloaded = true; });
    begin();
    m_slices.start(0);
}

void GridExport::begin()
{
    m_reloaded = false;
    m_columns = m_grid->dataColumns();
    m_writer->write(m_grid->textTable({}));
    const Recordset *rs = m_grid->recordset();
    m_bookmarks.resize(std::size_t(m_grid->rowCount()));
    for (int row = 0; row < int(m_bookmarks.size()); ++row)
        m_bookmarks[std::size_t(row)] = rs->bookmark(row);
    m_next = 0;
}

void GridExport::nextSlice()
{
    if (m_finished)
        return;
    if (!m_grid || !m_grid->recordset()) {
        end(tr("The grid is gone."));
        return;
    }
    if (m_reloaded) {
        if (++m_reloads > MaxReloads) {
            end(tr("The rows were reloaded %1 times while they were exported.").arg(m_reloads));
            return;
        }
        m_writer->restart();
        begin();
    }
    // Wait for the writer rather than read ahead without bound.
    m_slices.setInterval(m_writer->pendingBatches() >= MaxPendingBatches ? 10 : 0);
    if (m_writer->pendingBatches() >= MaxPendingBatches)
        return;

    const Recordset *rs = m_grid->recordset();
    QElapsedTimer clock;
    clock.start();
    TextTable rows;
    while (m_next < m_bookmarks.size() && rows.size() < SliceRows && !clock.hasExpired(SliceMilliseconds)) {
        const int row = rs->rowOfBookmark(m_bookmarks[m_next++]);
        if (row < 0)
            continue;
        QStringList cells;
        cells.reserve(m_columns.size());
        for (int column : std::as_const(m_columns))
            cells << m_grid->cellText(row, column);
        rows << cells;
    }
    m_writer->write(std::move(rows));
    if (m_next == m_bookmarks.size()) {
        m_slices.stop();
        m_writer->finish();
    }
    Q_EMIT progress(int(m_next), int(m_bookmarks.size()));
}

void GridExport::end(const QString &error)
{
    if (m_finished)
        return;
    m_finished = true;
    m_error = error;
    m_slices.stop();
    Q_EMIT finished();
}

} // namespace Orvantel

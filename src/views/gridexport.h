#pragma once

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QTimer>

#include <memory>
#include <vector>

namespace Orvantel {

class BackgroundCsvWriter;
class DataGrid;

/// Writes every row of a DataGrid, in its displayed order and columns, to a CSV file in the
/// background, as DataGrid::exportCsv() does on the calling thread.
///
/// The rows' texts are read here, on the grid's thread, a slice at a time (at most
/// SliceRows rows or SliceMilliseconds) so that the event loop keeps running in between;
/// a BackgroundCsvWriter formats and writes them on a thread of its own. They are not read
/// on that thread: the grid's recordset is swapped in and merged on this one, so another
/// thread would need a copy of all its rows first.
///
/// The rows exported are those of the moment the export starts, by bookmark: a sort or a
/// merge meanwhile changes nothing (a row merged away is left out). A reload replaces the
/// rows: the file is started over with the new ones, up to MaxReloads times.
class GridExport : public QObject
{
    Q_OBJECT
public:
    /// Exports of more rows than this belong in the background: written on the calling
    /// thread, they would hold it for more than a few frames.
    static constexpr int BackgroundRows = 5000;
    static constexpr int SliceRows = 1000;
    static constexpr int SliceMilliseconds = 10;
    static constexpr int MaxReloads = 3;

    GridExport(DataGrid *grid, const QString &fileName, QObject *parent = nullptr);
    /// An export that has not finished is abandoned and leaves no file (unless the writer
    /// had already given the complete file its name, in the instant before).
    ~GridExport() override;

    /// Starts the export; progress() follows after each slice, finished() at the end.
    void start();
    bool isFinished() const { return m_finished; }
    /// Why the file was not written; empty once it was.
    QString errorString() const { return m_error; }

Q_SIGNALS:
    void progress(int rowsRead, int rows);
    void finished();

private:
    void begin();
    void nextSlice();
    void end(const QString &error);

    QPointer<DataGrid> m_grid;
    QString m_fileName;
    std::unique_ptr<BackgroundCsvWriter> m_writer;
    QTimer m_slices;
    QList<int> m_columns;
    std::vector<int> m_bookmarks;
    std::size_t m_next = 0;
    int m_reloads = 0;
    bool m_reloaded = false;
    bool m_finished = false;
    QString m_error;
};

} // namespace Orvantel

#pragma once

#include "tableformat.h"

#include <QObject>
#include <QString>

#include <memory>

class QSaveFile;

namespace Orvantel {

/// A CSV file (csvRecord()): UTF-8 with a byte-order mark, one record per row. The
/// records go to a temporary file in the target's folder, which takes the target's name
/// only at commit(); a failure, or a file never committed, leaves nothing under that name
/// (and a file that was there as it was).
class CsvFile
{
public:
    explicit CsvFile(const QString &fileName);
    /// Removes the temporary file unless it was committed.
    ~CsvFile();
    CsvFile(const CsvFile &) = delete;
    CsvFile &operator=(const CsvFile &) = delete;

    /// Creates the temporary file and writes the byte-order mark.
    bool open();
    bool write(const TextTable &rows);
    /// Gives the file its name.
    bool commit();
    /// What failed: "Cannot write FILE: reason".
    QString errorString() const;

private:
    bool failed();

    std::unique_ptr<QSaveFile> m_file;
    QString m_error;
};

/// A CsvFile written on a thread of its own, so that the thread that owns the writer never
/// waits on the disk: rows are handed over in batches, and written in that order.
///
/// Destroying the writer before finished() discards the file: it waits for the batch
/// being written, then the temporary file is removed.
class BackgroundCsvWriter : public QObject
{
    Q_OBJECT
public:
    explicit BackgroundCsvWriter(const QString &fileName, QObject *parent = nullptr);
    ~BackgroundCsvWriter() override;

    /// Writes rows after those handed over before.
    void write(TextTable rows);
    /// Starts the file over: what was written or handed over so far is dropped.
    void restart();
    /// Commits the file once everything handed over is written; finished() follows.
    void finish();
    /// Batches handed over and not yet written.
    int pendingBatches() const;

Q_SIGNALS:
    /// The file was committed (error empty) or failed (then as soon as a write fails).
    /// Queued to the writer's thread, never emitted once it is gone.
    void finished(const QString &error);

private:
    struct Shared;
    std::shared_ptr<Shared> m_shared;
};

} // namespace Orvantel

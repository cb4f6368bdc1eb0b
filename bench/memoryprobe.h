#pragma once

#include <QString>

namespace Bench {

/// Resident memory of this process as /proc/self/status reports it, in KiB; -1 when unknown.
struct ProcStatus
{
    qint64 rssKiB = -1; ///< VmRSS
    qint64 peakKiB = -1; ///< VmHWM

    static ProcStatus read();
    /// Parses the text of a status file.
    static ProcStatus parse(const QByteArray &status);
};

/// What one probe measured, in KiB.
struct MemoryFigures
{
    qint64 beforeKiB = -1; ///< with the application object only
    qint64 emptyKiB = -1; ///< with the control shown and connected, nothing loaded
    qint64 peakKiB = -1; ///< the peak while loading and drawing the rows
    qint64 loadedKiB = -1; ///< after loading and drawing
    qint64 tickPeakKiB = -1; ///< the peak over three timed refreshes after that
    int rows = 0;
    bool peakReset = false; ///< the kernel let the peak be reset before loading

    QString toLine() const;
    /// Reads the line toLine() wrote among other output; false when there is none.
    static bool fromOutput(const QByteArray &output, MemoryFigures *figures);
};

/// The probe's own process: shows a control connected to the SQLite file, loads every
/// work order into it and prints MemoryFigures::toLine(). Returns the exit code.
int runMemoryProbe(const QString &sqlitePath);

/// Runs program (this executable) with --memory-probe in a new process, so that each
/// measurement starts from a clean heap. Throws Failure.
MemoryFigures probeInChildProcess(const QString &program, const QString &sqlitePath);

} // namespace Bench

#include "memoryprobe.h"

#include "backgroundloader.h"

#include "baselines.h"
#include "gridsetup.h"

#include "workordersgrid.h"
#include "workordersgrid_p.h"
#include "datagrid.h"

#include <QApplication>
#include <QFile>
#include <QProcess>

#include <cstdio>

namespace Bench {

namespace {

const QByteArray ProbePrefix = QByteArrayLiteral("memory-probe:");

/// Makes VmHWM start again from the current VmRSS (Linux 4.0 and later).
bool resetPeak()
{
    QFile clearRefs(QStringLiteral("/proc/self/clear_refs"));
    return clearRefs.open(QIODevice::WriteOnly | QIODevice::Unbuffered) && clearRefs.write("5") == 1;
}

} // namespace

ProcStatus ProcStatus::parse(const QByteArray &status)
{
    ProcStatus result;
    for (const QByteArray &line : status.split('\n')) {
        qint64 *target = line.startsWith("VmRSS:") ? &result.rssKiB
                : line.startsWith("VmHWM:")        ? &result.peakKiB
                                                   : nullptr;
        if (!target)
            continue;
        // "VmRSS:\t  123456 kB"
        const QByteArray figure = line.mid(6).trimmed();
        bool ok = false;
        const qint64 value = figure.left(figure.indexOf(' ')).toLongLong(&ok);
        if (ok && figure.endsWith("kB"))
            *target = value;
    }
    return result;
}

ProcStatus ProcStatus::read()
{
    QFile file(QStringLiteral("/proc/self/status"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return parse(file.readAll());
}

QString MemoryFigures::toLine() const
{
    return QString::fromLatin1(ProbePrefix)
            + QStringLiteral(" before=%1 empty=%2 peak=%3 loaded=%4 rows=%5 peak-reset=%6")
                      .arg(beforeKiB)
                      .arg(emptyKiB)
                      .arg(peakKiB)
                      .arg(loadedKiB)
                      .arg(rows)
                      .arg(peakReset ? 1 : 0)
            + QStringLiteral(" ticks=%1").arg(tickPeakKiB);
}

bool MemoryFigures::fromOutput(const QByteArray &output, MemoryFigures *figures)
{
    for (const QByteArray &line : output.split('\n')) {
        if (!line.startsWith(ProbePrefix))
            continue;
        MemoryFigures read;
        int found = 0;
        for (const QByteArray &pair : line.mid(ProbePrefix.size()).simplified().split(' ')) {
            const qsizetype equals = pair.indexOf('=');
            if (equals < 0)
                return false;
            const QByteArray key = pair.left(equals);
            bool ok = false;
            const qint64 value = pair.mid(equals + 1).toLongLong(&ok);
            if (!ok)
                return false;
            if (key == "before")
                read.beforeKiB = value;
            else if (key == "empty")
                read.emptyKiB = value;
            else if (key == "peak")
                read.peakKiB = value;
            else if (key == "loaded")
                read.loadedKiB = value;
            else if (key == "rows")
                read.rows = int(value);
            else if (key == "peak-reset")
                read.peakReset = value != 0;
            else if (key == "ticks")
                read.tickPeakKiB = value;
            else
                continue;
            ++found;
        }
        if (found != 7)
            return false;
        *figures = read;
        return true;
    }
    return false;
}

int runMemoryProbe(const QString &sqlitePath)
{
    MemoryFigures figures;
    installMessageWatcher();
    try {
        figures.beforeKiB = ProcStatus::read().rssKiB;
        std::unique_ptr<WorkOrdersGrid> grid = connectedGrid(Server::sqlite(sqlitePath));
        figures.emptyKiB = ProcStatus::read().rssKiB;
        figures.peakReset = resetPeak();

        refreshOrThrow(*grid);
        grid->repaint();
        QApplication::processEvents();
        const ProcStatus after = ProcStatus::read();
        figures.peakKiB = after.peakKiB;
        figures.loadedKiB = after.rssKiB;
        WorkOrdersGridPrivate *d = WorkOrdersGridPrivate::get(grid.get());
        figures.rows = d->grdWorkOrders->rowCount();

        // Timed refreshes: the new result loads beside the one shown until the swap.
        resetPeak();
        for (int tick = 0; tick < 3; ++tick) {
            d->timerTick();
            while (d->m_inFlight != WorkOrdersGridPrivate::BackgroundNone || d->m_loader->isBusy())
                QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
            grid->repaint();
        }
        if (!takeMessages().isEmpty())
            throw Failure(QStringLiteral("a timed refresh failed"));
        figures.tickPeakKiB = ProcStatus::read().peakKiB;
    } catch (const Failure &failure) {
        std::fprintf(stderr, "memory probe: %s\n", failure.what());
        return 1;
    }
    std::printf("%s\n", qPrintable(figures.toLine()));
    std::fflush(stdout);
    return 0;
}

MemoryFigures probeInChildProcess(const QString &program, const QString &sqlitePath)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::SeparateChannels);
    child.start(program, {QStringLiteral("--memory-probe"), QStringLiteral("--sqlite"), sqlitePath});
    if (!child.waitForStarted(30000))
        throw Failure(QStringLiteral("cannot start the memory probe: ") + child.errorString());
    child.waitForFinished(-1);
    const QByteArray output = child.readAllStandardOutput();
    MemoryFigures figures;
    if (child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0
        || !MemoryFigures::fromOutput(output, &figures)) {
        throw Failure(QStringLiteral("the memory probe failed (exit code %1): %2")
                              .arg(child.exitCode())
                              .arg(QString::fromLocal8Bit(child.readAllStandardError()).trimmed()));
    }
    return figures;
}

} // namespace Bench

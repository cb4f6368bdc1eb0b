#include "testsupport.h"

#include "workordersgrid.h"
#include "workordersgrid_p.h"
#include "datagrid.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QTemporaryDir>

using namespace TestSupport;

namespace {

/// Resident memory in KiB.
long residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return -1;
}

int openFiles()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size());
}

// Under AddressSanitizer memory is held back on purpose (quarantine); leaks are its
// business there, and the resident size says nothing.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool MeasureMemory = false;
#else
constexpr bool MeasureMemory = true;
#endif

} // namespace

/// Long runs: many timed refreshes, many controls created and destroyed, without growth
/// in memory, connections or open files.
class LongRunTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void tenThousandTicks();
    void twoHundredControls();

private:
    QTemporaryDir m_dir;
};

void LongRunTest::initTestCase()
{
    QVERIFY(m_dir.isValid());
    qputenv("ORVANTEL_CONFIG_DIR", QFile::encodeName(m_dir.path()));
    Orvantel::DemoData::Options small;
    small.workOrders = 40;
    small.linkedFiles = 10;
    createSqliteDatabase(m_dir.path(), QStringLiteral("plant.db"), small);
    writeSettings(m_dir.path(), "DBServerName=sqlite:plant.db\nRefreshInterval=30\n");
}

void LongRunTest::tenThousandTicks()
{
    QWidget host;
    auto *grid = new WorkOrdersGrid(&host);
    MessageBoxRecorder boxes;
    host.show();
    letStartUpFinish();
    auto *d = WorkOrdersGridPrivate::get(grid);
    QVERIFY(grid->ConnectedToDB());
    const int rows = d->grdWorkOrders->rowCount();
    QVERIFY(rows > 0);
    d->grdWorkOrders->setCurrentRowIndex(rows / 2);

    auto ticks = [&](int n) {
        for (int i = 0; i < n; ++i) {
            d->timerTick();
            if (i % 100 == 0)
                QCoreApplication::processEvents();
        }
    };
    ticks(1000);  // warm-up: caches and allocator pools settle
    const long memoryBefore = residentKiB();
    const int filesBefore = openFiles();
    const int connectionsBefore = int(QSqlDatabase::connectionNames().size());
    ticks(9000);
    QCOMPARE(openFiles(), filesBefore);
    QCOMPARE(int(QSqlDatabase::connectionNames().size()), connectionsBefore);
    QCOMPARE(d->grdWorkOrders->rowCount(), rows);
    QCOMPARE(d->grdWorkOrders->currentRowIndex(), rows / 2);
    QVERIFY(boxes.messages.isEmpty());
    if (MeasureMemory) {
        const long growth = residentKiB() - memoryBefore;
        qInfo("9000 ticks after warm-up: resident memory %+ld KiB", growth);
        QVERIFY2(growth < 2048, qPrintable(QStringLiteral("resident memory grew by %1 KiB").arg(growth)));
    }
}

void LongRunTest::twoHundredControls()
{
    MessageBoxRecorder boxes;
    auto cycle = [&](int n) {
        for (int i = 0; i < n; ++i) {
            QWidget host;
            auto *grid = new WorkOrdersGrid(&host);
            host.show();
            letStartUpFinish(); // settings, connection, first load
            QVERIFY(grid->ConnectedToDB());
            QCoreApplication::processEvents();
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    };
    cycle(20);
    const long memoryBefore = residentKiB();
    const int filesBefore = openFiles();
    const int connections = int(QSqlDatabase::connectionNames().size());
    cycle(180);
    QCOMPARE(int(QSqlDatabase::connectionNames().size()), connections);
    QCOMPARE(openFiles(), filesBefore);
    QVERIFY(boxes.messages.isEmpty());
    if (MeasureMemory) {
        const long growth = residentKiB() - memoryBefore;
        qInfo("180 controls after warm-up: resident memory %+ld KiB", growth);
        QVERIFY2(growth < 2048, qPrintable(QStringLiteral("resident memory grew by %1 KiB").arg(growth)));
    }
}

QTEST_MAIN(LongRunTest)
#include "tst_longrun.moc"

#include "testsupport.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>

using namespace TestSupport;

/// Long runs: many timed refreshes, many controls created and destroyed, without growth in
/// memory, connections or open files.
class LongRunTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanup() { QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty()); }
    void resourcesStayFlat_data()
    {
        QTest::addColumn<int>("ticks"); // of one control
        QTest::addColumn<int>("controls"); // each created, started and destroyed
        QTest::addRow("10 000 timer ticks") << 10000 << 0;
        QTest::addRow("200 controls") << 0 << 200;
    }
    void resourcesStayFlat();
};

void LongRunTest::resourcesStayFlat()
{
    QFETCH(int, ticks);
    QFETCH(int, controls);
    TestPlant plant;
    plant.writeSettings("RefreshInterval=600\n");
    MessageBoxRecorder boxes;
    HostedControl control;
    control.show();
    auto *workOrders = control.grid->findChild<Orvantel::DataGrid *>(u"grdWorkOrders"_qs);
    workOrders->setCurrentRowIndex(2);
    auto *timer = control.grid->findChild<QTimer *>(u"Timer1"_qs);
    int ticked = 0;
    int toTick = 0;
    connect(timer, &QTimer::timeout, this, [&] {
        if (++ticked == toTick)
            timer->stop();
    });
    // A tenth first, so that caches and allocator pools settle before measuring.
    const auto run = [&](int tenths) {
        if (ticks > 0) {
            toTick += ticks * tenths / 10;
            timer->start(0);
            QTRY_VERIFY_WITH_TIMEOUT(ticked == toTick, 600000);
        }
        for (int i = 0; i < controls * tenths / 10; ++i) {
            QWidget host;
            auto *grid = new WorkOrdersGrid(&host);
            host.show();
            letStartUpFinish();
            QVERIFY(grid->ConnectedToDB());
        }
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    };
    // Resident memory in KiB, and what a leaked connection makes grow.
    const auto residentKiB = [] {
        QFile status(u"/proc/self/status"_qs);
        const QByteArray text = status.open(QIODevice::ReadOnly) ? status.readAll() : QByteArray();
        return text.mid(text.indexOf("VmRSS:") + 6).trimmed().split(' ').value(0).toLong();
    };
    const auto handles = [] {
        return u"%1 open files, %2 connections"_qs
                .arg(QDir(u"/proc/self/fd"_qs).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size())
                .arg(QSqlDatabase::connectionNames().size());
    };
    run(1);
    [[maybe_unused]] const long kib = residentKiB();
    const QString opened = handles();
    run(9);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(handles(), opened);
    QCOMPARE(workOrders->rowCount(), 5);
    QCOMPARE(workOrders->currentRowIndex(), 2);
    QCOMPARE(boxes.titles(), QStringList());
#if !defined(__SANITIZE_ADDRESS__) // whose quarantine holds memory back on purpose
    QVERIFY2(residentKiB() - kib < 2048, qPrintable(u"resident memory grew by %1 KiB"_qs.arg(residentKiB() - kib)));
#endif
}

QTEST_MAIN(LongRunTest)
#include "tst_longrun.moc"

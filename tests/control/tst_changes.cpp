#include "testsupport.h"

#include "changelistener.h"

#include <QProcess>

using namespace Orvantel;
using namespace TestSupport;

namespace {

/// The time a change has to reach the display (no tick comes meanwhile).
constexpr int Soon = 2000;

QString insert(int number)
{
    return u"INSERT INTO WO_WorkOrders (WO_Nbr, AssetCode, Status, IsPM, Priority, DateLoaded, WorkRequest, "
           "DivisionID, DepartmentID) VALUES (%1, 'A2', 0, 0, 1, '2026-01-09 08:00:00', 'Leak', 'D1', 'M1')"_qs.arg(
                   number);
}

} // namespace

/// Changes made by another connection reach the display by themselves: PostgreSQL's
/// notifications, SQLite's file watch. The refresh timer never ticks during these tests.
class ChangesTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanup()
    {
        m_control.reset();
        m_plant.reset();
        QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
    }
    void unreadablePayloadsMeanEverything_data()
    {
        QTest::addColumn<QString>("payload");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QList<qint64>>("numbers");
        QTest::addRow("two work orders") << "wo:101,102" << int(ChangeNotice::WorkOrders) << QList<qint64> {101, 102};
        QTest::addRow("unreadable list") << "wo:101,x" << int(ChangeNotice::Everything) << QList<qint64> {};
        QTest::addRow("unknown") << "wo101" << int(ChangeNotice::Everything) << QList<qint64> {};
    }
    void unreadablePayloadsMeanEverything()
    {
        QFETCH(QString, payload);
        QFETCH(int, kind);
        QFETCH(QList<qint64>, numbers);
        const ChangeNotice notice = parseChangeNotice(payload);
        QCOMPARE(int(notice.kind), kind);
        QCOMPARE(notice.numbers, numbers);
    }
    void changesShowWithoutATick_data() { addBackendRows(); }
    void changesShowWithoutATick();
    void listensAgainAfterTheServerRestarts();
    void withoutNotificationsNothingChangesBetweenTicks();

private:
    void start(const QString &backend, bool notifications = true);
    QStringList column(int column) const
    {
        QStringList texts;
        for (int row = 0; row < m_orders->rowCount(); ++row)
            texts << m_orders->model()->index(row, column).data().toString();
        return texts;
    }

    std::unique_ptr<TestPlant> m_plant;
    HostedControl m_control;
    DataGrid *m_orders = nullptr;
};

void ChangesTest::start(const QString &backend, bool notifications)
{
    m_plant = std::make_unique<TestPlant>(backend, notifications);
    // Enough work orders that the grid scrolls: 201..230 on asset B1, open.
    QStringList more;
    for (int number = 201; number <= 230; ++number)
        more << u"INSERT INTO WO_WorkOrders (WO_Nbr, AssetCode, Status, IsPM, Priority, DateLoaded, WorkRequest, "
                "DivisionID, DepartmentID) VALUES (%1, 'B1', 0, 0, 3, '2026-02-01 08:00:00', 'More', 'D2', 'M2')"_qs
                        .arg(number);
    m_plant->exec(more);
    m_plant->writeSettings("RefreshInterval=3600\n");
    m_control.show();
    m_orders = m_control.grid->findChild<DataGrid *>(u"grdWorkOrders"_qs);
    QCOMPARE(m_orders->rowCount(), 35);
}

void ChangesTest::changesShowWithoutATick()
{
    QFETCH(QString, backend);
    if (backend == u"postgresql")
        REQUIRE_POSTGRES();
    start(backend);
    if (QTest::currentTestFailed())
        return;
    MessageBoxRecorder boxes;
    // Sorted by asset code; the operator looks at the rows from 220 on, on work order 103.
    QHeaderView *header = m_orders->horizontalHeader();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      {header->sectionViewportPosition(WoAssetCodeColumn) + 5, header->height() / 2});
    QCoreApplication::processEvents();
    const QStringList sorted = column(WoNumberColumn);
    QCOMPARE(sorted.mid(0, 3), (QStringList {u"101"_qs, u"102"_qs, u"230"_qs}));
    m_orders->setCurrentRowIndex(sorted.indexOf(u"103"_qs));
    m_orders->scrollTo(m_orders->model()->index(sorted.indexOf(u"220"_qs), 0), QAbstractItemView::PositionAtTop);
    const auto topNumber = [this] { return m_orders->model()->index(m_orders->rowAt(0), WoNumberColumn).data(); };
    QCOMPARE(topNumber().toString(), u"220"_qs);

    // Inserted elsewhere: shows in its sorted place (asset A2, newest of its asset first);
    // closed elsewhere, it leaves the open work orders; then one is deleted elsewhere.
    m_plant->exec({insert(109)});
    QTRY_COMPARE_WITH_TIMEOUT(column(WoNumberColumn).mid(0, 4),
                              (QStringList {u"101"_qs, u"109"_qs, u"102"_qs, u"230"_qs}), Soon);
    m_plant->exec({u"UPDATE WO_WorkOrders SET Status = 3 WHERE WO_Nbr = 109"_qs});
    QTRY_COMPARE_WITH_TIMEOUT(column(WoNumberColumn).mid(0, 3), (QStringList {u"101"_qs, u"102"_qs, u"230"_qs}), Soon);
    m_plant->exec({u"DELETE FROM WO_WorkOrders WHERE WO_Nbr = 108"_qs});
    QTRY_VERIFY_WITH_TIMEOUT(!column(WoNumberColumn).contains(u"108"_qs), Soon);
    QCOMPARE(m_orders->rowCount(), 34);
    QCOMPARE(m_orders->column(WoNumberColumn)->value().toInt(), 103);
    QCOMPARE(topNumber().toString(), u"220"_qs);

    // An asset's description changed elsewhere: every row of the asset shows it.
    m_plant->exec({u"UPDATE GS_Assets SET Descr = 'Main pump' WHERE AssetCode = 'A1'"_qs});
    QTRY_COMPARE_WITH_TIMEOUT(column(WoDescriptionColumn).first(), u"Main pump"_qs, Soon);
    QCOMPARE(m_orders->column(WoNumberColumn)->value().toInt(), 103);
    // A linked file added elsewhere.
    auto *files = m_control.grid->findChild<DataGrid *>(u"TDBGrid1"_qs);
    QCOMPARE(files->rowCount(), 2);
    m_plant->exec({u"INSERT INTO GS_LinkedFiles (FileID, AssetCode, DocType, DocDescr, FileName) "
                   "VALUES (3, 'A2', 'Photo', 'Fan', 'a2.png')"_qs});
    QTRY_COMPARE_WITH_TIMEOUT(files->rowCount(), 3, Soon);
    QVERIFY(boxes.messages.isEmpty());
}

void ChangesTest::listensAgainAfterTheServerRestarts()
{
    REQUIRE_POSTGRES();
    start(u"postgresql"_qs);
    if (QTest::currentTestFailed())
        return;
    MessageBoxRecorder boxes;
    m_plant->exec({insert(109)}); // shown once the control listens
    QTRY_COMPARE_WITH_TIMEOUT(m_orders->rowCount(), 36, Soon);
    // The control's connections: the grids' one, the background loads' one, the listening one.
    QCOMPARE(
            m_plant->scalar(u"SELECT count(*) - 1 FROM pg_stat_activity WHERE datname = current_database()"_qs).toInt(),
            3);
    const QString pgctl = PgServer::controlScript();
    QVERIFY(!pgctl.isEmpty());
    QCOMPARE(QProcess::execute(pgctl, {u"stop"_qs}), 0);
    QCOMPARE(QProcess::execute(pgctl, {u"start"_qs}), 0);
    // Made before the control listens again: no notification reaches it, the catching up does.
    m_plant->exec({insert(110)});
    QTRY_COMPARE_WITH_TIMEOUT(m_orders->rowCount(), 37, 40000);
    // And it hears the next change as it is made.
    m_plant->exec({u"DELETE FROM WO_WorkOrders WHERE WO_Nbr = 109"_qs});
    QTRY_COMPARE_WITH_TIMEOUT(m_orders->rowCount(), 36, Soon);
    QVERIFY(boxes.messages.isEmpty());
}

void ChangesTest::withoutNotificationsNothingChangesBetweenTicks()
{
    REQUIRE_POSTGRES();
    start(u"postgresql"_qs, false);
    if (QTest::currentTestFailed())
        return;
    m_plant->exec({u"DELETE FROM WO_WorkOrders WHERE WO_Nbr = 108"_qs});
    QTest::qWait(Soon); // nothing may come
    QCOMPARE(m_orders->rowCount(), 35);
    m_control.grid->findChild<QTimer *>(u"Timer1"_qs)->start(10); // the next tick shows it, as always
    QTRY_COMPARE(m_orders->rowCount(), 34);
}

QTEST_MAIN(ChangesTest)
#include "tst_changes.moc"

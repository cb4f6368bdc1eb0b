#include "testsupport.h"

#include "datagrid.h"
#include "datasource.h"
#include "gridcolumns.h"
#include "layout.h"
#include "workordersgrid.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QHeaderView>
#include <QMetaProperty>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalSpy>

using namespace Orvantel;
using namespace TestSupport;

namespace {

/// The work-order numbers of a grid's rows, top to bottom: "108 107 103".
QString rows(const DataGrid *grid)
{
    QStringList numbers;
    for (int row = 0; row < grid->model()->rowCount(); ++row)
        numbers << grid->model()->index(row, WoNumberColumn).data().toString();
    return numbers.join(u' ');
}

/// An operator's click (or double-click, after the press that makes the row current) on a cell.
void clickCell(DataGrid *grid, int row, int column, bool twice = false)
{
    const QPoint at = grid->visualRect(grid->model()->index(row, column)).center();
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, at);
    if (twice)
        QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, at);
    QCoreApplication::processEvents(); // the grid's events reach the control from the event loop
}

void clickHeader(DataGrid *grid, int column)
{
    QHeaderView *header = grid->horizontalHeader();
    const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
    QCoreApplication::processEvents();
}

} // namespace

/// View buttons and the acting host properties, the work-order grid's cells, sorting and
/// request box, and the layout: real clicks and property writes on the test plant.
class ViewsTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void viewSwitches_data();
    void viewSwitches();
    void priorityColoursAndDates();
    void headerClicksSortPerColumnAcrossRefresh();
    void doubleClickShowsTheRequest();
    void linkedFilesFailureKeepsWorkOrdersShown();
    void resizeRule_data();
    void resizeRule();
    void resizeFollowsTheControl();

private:
    /// Starts a control on the plant; from then on a tester checks the work-order grid's
    /// model through every view switch, sort and refresh.
    void start(int refreshInterval = 30);
    QRadioButton *view(int index) const { return m_grid->findChild<QRadioButton *>(u"optView_%1"_qs.arg(index)); }

    std::unique_ptr<TestPlant> m_plant;
    std::unique_ptr<MessageBoxRecorder> m_boxes;
    HostedControl m_control;
    WorkOrdersGrid *m_grid = nullptr;
    DataGrid *m_orders = nullptr;
    DataGrid *m_files = nullptr;
    std::unique_ptr<QAbstractItemModelTester> m_tester;
};

void ViewsTest::init()
{
    QLocale::setDefault(QLocale::c());
    m_plant = std::make_unique<TestPlant>();
    m_boxes = std::make_unique<MessageBoxRecorder>();
}

void ViewsTest::cleanup()
{
    m_tester.reset();
    m_control.reset();
    m_boxes.reset();
    QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
    m_plant.reset();
}

void ViewsTest::start(int refreshInterval)
{
    m_plant->writeSettings("RefreshInterval=" + QByteArray::number(refreshInterval) + '\n');
    m_control.show();
    m_grid = m_control.grid;
    m_orders = m_grid->findChild<DataGrid *>(u"grdWorkOrders"_qs);
    m_files = m_grid->findChild<DataGrid *>(u"TDBGrid1"_qs);
    QVERIFY(m_orders && m_files);
    m_tester = std::make_unique<QAbstractItemModelTester>(m_orders->model());
}

void ViewsTest::viewSwitches_data()
{
    // "actions => state": the actions ("{no timer}" first: RefreshInterval 0), "click=N" for view button N and
    // "Name=value" for a property write; then the work orders in their grid ("open": 108 107 103 102 101, "all":
    // 108 to 101) | the grid shown | ViewMode | ViewChoice | the columns, as created or as a view button sets them up
    // ("WO": "WO#", "Work Requested" 3100 wide; "PM": "PM#", "PM Name" 5000 wide, no status, priority or requester)
    // | hidden buttons | propertyChanged | loads of each grid.
    QTest::addColumn<QString>("story");
    QTest::addRow("PMs") << "click=1 => 104 | orders | Work Orders | 1 | PM | | | 1 0";
    QTest::addRow("history") << "click=2 => 106 105 | orders | Work Orders | 2 | WO | | | 1 0";
    QTest::addRow("PMs, files") << "click=1; click=3 => all | files | Linked Files | 3 | PM | | | 2 1";
    QTest::addRow("PMs, files, history")
            << "click=1; click=3; click=2 => 106 105 | orders | Work Orders | 2 | WO | | | 3 1";
    QTest::addRow("no timer") << "{no timer} click=1; click=3; click=0 =>  | orders | Work Orders | 0 | WO | | | 0 1";
    QTest::addRow("ViewChoice -1") << "ViewChoice=-1 => open | orders | Work Orders | 0 | WO | | ViewChoice | 1 0";
    QTest::addRow("ViewChoice 4") << "ViewChoice=4 => all | files | Linked Files | 3 | | | ViewChoice | 2 1";
    QTest::addRow("ViewChoice 5") << "ViewChoice=5 => open | orders | Work Orders | 0 | WO | | ViewChoice | 1 0";
    QTest::addRow("FILES") << "ViewMode=FILES => open | files | Linked Files | 0 | | | ViewMode | 0 1";
    QTest::addRow("linkedfiles") << "ViewMode=linkedfiles => open | files | Linked Files | 0 | | | ViewMode | 0 1";
    QTest::addRow("with a blank") << "ViewMode= files => open | orders |  files | 0 | | | ViewMode | 0 0";
    QTest::addRow("FILES: no swap back")
            << "click=3; ViewMode=FILES; click=0 => open | files | FILES | 0 | WO | | ViewMode | 2 1";
    QTest::addRow("other text") << "click=3; ViewMode=other => all | orders | Work Orders | 3 | | | ViewMode | 1 1";
    QTest::addRow("RefreshNow") << "{no timer} RefreshNow=5 => open | orders | Work Orders | 0 | | | RefreshNow | 1 1";
    QTest::addRow("HideViewWorkOrders") << "HideViewWorkOrders=1 => all | files | Linked Files | 3 | | optView_0 "
                                           "optView_1 optView_2 | HideViewWorkOrders | 1 1";
    QTest::addRow("and back")
            << "HideViewWorkOrders=1; HideViewWorkOrders=0 => all | files | Linked Files | 3 | | | HideViewWorkOrders "
               "HideViewWorkOrders | 1 1";
    QTest::addRow("HideViewLinkedFiles") << "click=3; HideViewLinkedFiles=1 => open | orders | Work Orders | 0 | WO | "
                                            "optView_3 | HideViewLinkedFiles | 2 1";
    QTest::addRow("HideNewWO") << "HideNewWO=1 => open | orders | Work Orders | 0 | | cmdNewWO | HideNewWO | 0 0";
}

void ViewsTest::viewSwitches()
{
    QFETCH(QString, story);
    QString actions = story.section(u" => "_qs, 0, 0);
    start(actions.startsWith(u"{no timer} "_qs) ? 0 : 30);
    QSignalSpy changed(m_grid, &WorkOrdersGrid::propertyChanged);
    QSignalSpy orderLoads(m_grid->findChild<DataSource *>(u"Adodc1"_qs), &DataSource::refreshed);
    QSignalSpy fileLoads(m_grid->findChild<DataSource *>(u"Adodc2"_qs), &DataSource::refreshed);
    std::map<QString, std::unique_ptr<QSignalSpy>> notifySpies; // each acting property's NOTIFY signal
    for (int i = 0; i < m_grid->metaObject()->propertyCount(); ++i) {
        if (const QMetaProperty p = m_grid->metaObject()->property(i); p.hasNotifySignal())
            notifySpies[QLatin1String(p.name())] = std::make_unique<QSignalSpy>(m_grid, p.notifySignal());
    }
    for (const QString &action : actions.remove(u"{no timer} "_qs).split(u"; "_qs)) {
        const QString name = action.section(u'=', 0, 0), value = action.section(u'=', 1);
        if (name == u"click"_qs)
            QTest::mouseClick(view(value.toInt()), Qt::LeftButton);
        else
            QVERIFY(m_grid->setProperty(qPrintable(name), value));
    }

    int hiddenColumns = 0;
    for (int column : {WoStatusColumn, WoPriorityColumn, WoRequestedByColumn})
        hiddenColumns += m_orders->isColumnHidden(column);
    QStringList hidden, notified;
    for (const QString &name : {u"optView_0"_qs, u"optView_1"_qs, u"optView_2"_qs, u"optView_3"_qs, u"cmdNewWO"_qs}) {
        if (m_grid->findChild<QWidget *>(name)->isHidden())
            hidden << name;
    }
    for (const QList<QVariant> &arguments : changed)
        notified << arguments.first().toString();
    const QMap<QString, QString> aliases = {{u"108 107 103 102 101"_qs, u"open"_qs},
                                            {u"108 107 106 105 104 103 102 101"_qs, u"all"_qs},
                                            {u"WO #,Work Requested,1910,0"_qs, QString()}, // as created, at this size
                                            {u"WO#,Work Requested,3100,0"_qs, u"WO"_qs},
                                            {u"PM#,PM Name,5000,3"_qs, u"PM"_qs}};
    const QString columns = u"%1,%2,%3,%4"_qs.arg(
            m_orders->column(WoNumberColumn)->caption(), m_orders->column(WoNotesColumn)->caption(),
            QString::number(m_orders->column(WoNotesColumn)->width()), QString::number(hiddenColumns));
    const QString seen = u"%1 | %2 | %3 | %4 | %5 | %6 | %7 | %8 %9"_qs.arg(
            aliases.value(rows(m_orders), rows(m_orders)), m_files->isHidden() ? u"orders"_qs : u"files"_qs,
            m_grid->ViewMode(), QString::number(m_grid->ViewChoice()), aliases.value(columns, columns),
            hidden.join(u' '), notified.join(u' '), QString::number(orderLoads.size()),
            QString::number(fileLoads.size()));
    QCOMPARE(story.section(u" => "_qs, 0, 0) + u" => "_qs + QString(seen).replace(u"  |"_qs, u" |"_qs), story);
    for (const auto &[name, spy] : notifySpies)
        QCOMPARE(spy->size(), notified.count(name));
    QCOMPARE(m_orders->isHidden(), !m_files->isHidden());
    QVERIFY(view(m_grid->ViewChoice())->isChecked());
    QCOMPARE(m_grid->RefreshNow(), 0);
    QCOMPARE(m_boxes->titles(), QStringList());
}

void ViewsTest::priorityColoursAndDates()
{
    start();
    // Black on red for priority 1, on yellow for 2, in the priority cell alone; the colour follows its row.
    const auto colours = [&] {
        QString result;
        for (int row = 0; row < m_orders->model()->rowCount(); ++row) {
            result += u' ' + m_orders->model()->index(row, WoNumberColumn).data().toString() + u':';
            for (int column = 0; column < m_orders->model()->columnCount(); ++column) {
                for (int role : {Qt::ForegroundRole, Qt::BackgroundRole}) {
                    if (const QVariant colour = m_orders->model()->index(row, column).data(role); colour.isValid())
                        result += colour.value<QColor>().name();
                }
            }
        }
        return result;
    };
    QCOMPARE(colours(), u" 108:#000000#ffff00 107: 103: 102:#000000#ffff00 101:#000000#ff0000"_qs);
    clickHeader(m_orders, WoAssetCodeColumn);
    QCOMPARE(colours(), u" 101:#000000#ff0000 102:#000000#ffff00 103: 108:#000000#ffff00 107:"_qs);
    const QModelIndex date = m_orders->model()->index(1, WoDateColumn);
    QCOMPARE(date.data().toString(), u"2026-01-02"_qs);
    QCOMPARE(date.data(Qt::ToolTipRole).toString(), u"2026-01-02 08:00:00"_qs);

    // On the current row too: the selection shows as a frame inside the coloured cell.
    clickCell(m_orders, 0, WoNumberColumn);
    const QImage image = m_orders->viewport()->grab().toImage();
    const QRect priority = m_orders->visualRect(m_orders->model()->index(0, WoPriorityColumn));
    const QRect status = m_orders->visualRect(m_orders->model()->index(0, WoStatusColumn));
    const QColor selection = image.pixelColor(status.right() - 2, status.center().y()); // right of the text
    QCOMPARE(selection, m_orders->palette().color(QPalette::Highlight));
    QCOMPARE(image.pixelColor(priority.right() - priority.width() / 4, priority.center().y()), QColor(255, 0, 0));
    QCOMPARE(image.pixelColor(priority.left(), priority.center().y()), selection);
}

void ViewsTest::headerClicksSortPerColumnAcrossRefresh()
{
    // A site's view without some of the grid's fields: their headers cannot sort.
    m_plant->exec({u"DROP VIEW vw_QX_WorkOrdersGrid"_qs,
                   u"CREATE VIEW vw_QX_WorkOrdersGrid AS SELECT WO_Nbr, AssetCode, Status, Priority, DateLoaded, "
                   "WorkRequest AS Notes, IsPM, DivisionID, DepartmentID FROM WO_WorkOrders"_qs});
    start(0);
    clickHeader(m_orders, WoAssetCodeColumn); // before any data: sorts nothing
    QVERIFY(m_grid->RefreshData());
    QCOMPARE(rows(m_orders), u"108 107 103 102 101"_qs);

    clickCell(m_orders, 2, WoNumberColumn); // work order 103 stays current through every sort
    const std::pair<int, QString> steps[] = {
            {WoAssetCodeColumn, u"101 102 103 108 107 | Asset Code ascending | 103"_qs},
            {WoAssetCodeColumn, u"107 108 103 102 101 | Asset Code descending | 103"_qs},
            {WoDateColumn, u"101 102 103 107 108 | Date ascending | 103"_qs},
            {WoAssetCodeColumn, u"101 102 103 108 107 | Asset Code ascending | 103"_qs}, // its own last direction
            {WoPriorityColumn, u"107 101 108 102 103 | Priority ascending | 103"_qs}, // none first; ties newest first
    };
    const QHeaderView *header = m_orders->horizontalHeader();
    for (const auto &[column, expected] : steps) {
        clickHeader(m_orders, column);
        QCOMPARE(u"%1 | %2 %3 | %4"_qs.arg(
                         rows(m_orders),
                         m_orders->model()->headerData(header->sortIndicatorSection(), Qt::Horizontal).toString(),
                         header->sortIndicatorOrder() == Qt::AscendingOrder ? u"ascending"_qs : u"descending"_qs,
                         m_orders->currentIndex().siblingAtColumn(WoNumberColumn).data().toString()),
                 expected);
    }
    clickHeader(m_orders, WoAssignedToColumn); // the results have no such field: not sorted, not kept
    QCOMPARE(rows(m_orders), u"107 101 108 102 103"_qs);
    QCOMPARE(m_boxes->titles(), QStringList {u"grdWorkOrders HeadClick"_qs});
    QVERIFY(m_boxes->messages.first().text.startsWith(u"Error 3001\r\n"_qs));

    // A new work order sorts into the middle: the order holds, the top row stays current and in view.
    clickCell(m_orders, 0, WoNumberColumn);
    m_plant->exec({u"INSERT INTO sp_QX_CreateWorkOrder VALUES ('B1', 'Pilot light out', 2, 'U1')"_qs});
    QVERIFY(m_grid->RefreshData());
    QCOMPARE(rows(m_orders), u"107 101 109 108 102 103"_qs);
    QCOMPARE(m_orders->currentIndex().row(), 0);
    QCOMPARE(m_orders->verticalScrollBar()->value(), 0);
    QCOMPARE(m_boxes->messages.size(), 1);
}

void ViewsTest::doubleClickShowsTheRequest()
{
    // 4 MiB of text after the first line.
    m_plant->exec({u"INSERT INTO WO_WorkOrders (WO_Nbr, AssetCode, Status, IsPM, Priority, DateLoaded, RequestedBy, "
                   "WorkRequest, DivisionID, DepartmentID) VALUES (109, 'A1', 0, 0, 3, '2026-01-09 08:00:00', 'U1', "
                   "'Line one' || char(10) || replace(hex(zeroblob(2097152)), '0', 'x'), 'D1', 'M1')"_qs});
    start();
    clickCell(m_orders, 4, WoDateColumn, true); // 102
    clickCell(m_orders, 0, WoDateColumn, true);
    QTest::mouseClick(view(1), Qt::LeftButton); // the PM view: the column is "PM Name"
    clickCell(m_orders, 0, WoNumberColumn, true);
    QTRY_COMPARE(m_boxes->titles(), (QStringList {u"Work Order 102"_qs, u"Work Order 109"_qs, u"PM 104"_qs}));
    QCOMPARE(m_boxes->messages.at(0).text, u"Belt slipping"_qs);
    QCOMPARE(m_boxes->messages.at(2).text, u"Monthly pump PM"_qs);
    QCOMPARE(m_boxes->messages.at(0).icon, QMessageBox::Information);
    // 65536 characters, then an ellipsis, in the box, the tooltip and the cell (on one line).
    const QString cut = u"Line one\n"_qs + QString(65527, u'x') + u"…"_qs;
    QCOMPARE(m_boxes->messages.at(1).text, cut);
    QTest::mouseClick(view(0), Qt::LeftButton);
    const QModelIndex notes = m_orders->model()->index(0, WoNotesColumn);
    QCOMPARE(notes.data(Qt::ToolTipRole).toString(), cut);
    QCOMPARE(notes.data().toString(), QString(cut).replace(u'\n', u' '));
}

void ViewsTest::linkedFilesFailureKeepsWorkOrdersShown()
{
    start();
    m_plant->exec({u"DROP VIEW vw_LinkedFiles"_qs});
    QTest::mouseClick(view(3), Qt::LeftButton);
    QCOMPARE(m_boxes->titles(), QStringList {u"RefreshLinkedFiles Error"_qs});
    QVERIFY(!m_orders->isHidden() && m_files->isHidden());
    QCOMPARE(m_grid->ViewMode(), u"Work Orders"_qs);
    // Through a property the host hears of it as well, and the notification is not sent.
    QSignalSpy exceptions(m_grid, &WorkOrdersGrid::exception);
    QSignalSpy changed(m_grid, &WorkOrdersGrid::propertyChanged);
    m_grid->setViewMode(u"files"_qs);
    QCOMPARE(m_boxes->messages.size(), 2);
    QCOMPARE(exceptions.size(), 1);
    QCOMPARE(exceptions.first().at(1).toString(), u"ViewMode"_qs);
    QVERIFY(exceptions.first().at(2).toString().contains(u"vw_LinkedFiles"_qs));
    QCOMPARE(changed.size(), 0);
    QVERIFY(!m_orders->isHidden());
    QCOMPARE(m_grid->ViewMode(), u"files"_qs); // stored before the swap failed
}

void ViewsTest::resizeRule_data()
{
    QTest::addColumn<double>("width");
    QTest::addColumn<double>("height");
    QTest::addColumn<QList<double>>("grid"); // its width and height and the notes width; -1: unchanged
    QTest::addRow("design size") << 11370.0 << 3210.0 << QList<double> {11310, 2370, 1910};
    QTest::addRow("width 10060") << 10060.0 << 3210.0 << QList<double> {10000, 2370, -1};
    QTest::addRow("width 10061") << 10061.0 << 3210.0 << QList<double> {10001, 2370, 601};
    QTest::addRow("width 60") << 60.0 << 3210.0 << QList<double> {0, 2370, -1};
    QTest::addRow("width 61") << 61.0 << 3210.0 << QList<double> {1, 2370, -1};
    QTest::addRow("height 390") << 11370.0 << 390.0 << QList<double> {11310, 0, 1910};
    QTest::addRow("height 391 keeps") << 11370.0 << 391.0 << QList<double> {11310, -1, 1910};
    QTest::addRow("height 839 keeps") << 11370.0 << 839.0 << QList<double> {11310, -1, 1910};
    QTest::addRow("height 840") << 11370.0 << 840.0 << QList<double> {11310, 0, 1910};
}

void ViewsTest::resizeRule()
{
    QFETCH(double, width);
    QFETCH(double, height);
    QFETCH(QList<double>, grid);
    const GridResize r = Orvantel::resizeRule(width, height, 11295.0);
    QCOMPARE((QList<double> {r.gridWidth.value_or(-1), r.gridHeight.value_or(-1), r.notesWidth.value_or(-1)}), grid);
}

void ViewsTest::resizeFollowsTheControl()
{
    start();
    m_grid->resize(900, 400);
    QCOMPARE(m_orders->geometry(), QRect(0, 48, 896, 344));
    QCOMPARE(m_orders->column(WoNotesColumn)->width(), 4040); // 13500 twips less 60 and 9400
    QCOMPARE(m_files->size(), QSize(753, 154)); // the linked-files grid keeps its design size
    QCOMPARE(m_grid->findChild<QPushButton *>(u"cmdNewWO"_qs)->geometry(), QRect(496, 32, 65, 17));
    m_grid->resize(900, 40); // 600 twips: between 391 and 839, the height stays
    QCOMPARE(m_orders->height(), 344);
    m_grid->resize(900, 26); // 390 twips
    QCOMPARE(m_orders->height(), 0);
    QCOMPARE(view(0)->pos(), QPoint(8, 35)); // header children never move
}

QTEST_MAIN(ViewsTest)
#include "tst_views.moc"

#include "testsupport.h"

#include "layout.h"
#include "messagebox.h"
#include "workordersgrid.h"
#include "workordersgrid_p.h"
#include "datasource.h"
#include "recordset.h"
#include "datagrid.h"
#include "gridcolumns.h"

#include <QApplication>
#include <QFile>
#include <QHeaderView>
#include <QImage>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

using namespace Orvantel;
using namespace TestSupport;

namespace {

/// Work orders 201..206 with known priorities, statuses and assets.
void fillPlant(const QString &path)
{
    createSqliteSchema(path);
    execSqlite(path, {
        QStringLiteral("INSERT INTO GS_Divisions (DivisionID) VALUES ('D1')"),
        QStringLiteral("INSERT INTO GS_Departments (DepartmentID, DivisionID) VALUES ('M1', 'D1')"),
        QStringLiteral("INSERT INTO GS_Assets (AssetCode, Descr, DivisionID, DepartmentID) VALUES "
                       "('C1', 'Conveyor', 'D1', 'M1'), ('A1', 'Pump', 'D1', 'M1'), ('B1', 'Boiler', 'D1', 'M1')"),
        QStringLiteral("INSERT INTO GS_Users (UserID, Name) VALUES ('U1', 'Ann'), ('U2', 'Bob')"),
        QStringLiteral(
            "INSERT INTO WO_WorkOrders (WO_Nbr, AssetCode, Status, IsPM, Priority, DateLoaded, RequestedBy, "
            "WorkRequest, DivisionID, DepartmentID) VALUES "
            "(201, 'C1', 0, 0, 1, '2026-02-01 08:00:00', 'U2', 'Belt slipping', 'D1', 'M1'),"
            "(202, 'A1', 1, 0, 2, '2026-02-02 08:00:00', 'U1', 'Seal leaks', 'D1', 'M1'),"
            "(203, 'B1', 2, 0, 3, '2026-02-03 08:00:00', 'U2', 'Burner check', 'D1', 'M1'),"
            "(204, 'A1', 0, 1, 2, '2026-02-04 08:00:00', 'U1', 'Monthly pump PM', 'D1', 'M1'),"
            "(205, 'C1', 3, 0, 1, '2026-02-05 08:00:00', 'U1', 'Replaced roller', 'D1', 'M1'),"
            "(206, 'A1', 0, 0, NULL, '2026-02-06 08:00:00', 'U1', 'Noise', 'D1', 'M1')"),
        QStringLiteral("INSERT INTO GS_LinkedFiles (AssetCode, DocType, DocDescr, FileName) VALUES "
                       "('A1', 'Photo', 'Pump front', 'a1.png'), ('C1', 'Manual', 'Conveyor manual', 'c1.pdf')"),
    });
}

QList<int> numbers(DataGrid *grid)
{
    QList<int> result;
    for (int row = 0; row < grid->rowCount(); ++row)
        result << grid->recordset()->value(row, grid->fieldOfColumn(WoNumberColumn)).toInt();
    return result;
}

void clickHeader(DataGrid *grid, int column)
{
    QHeaderView *header = grid->horizontalHeader();
    const QPoint at(header->sectionViewportPosition(column) + header->sectionSize(column) / 2, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, at);
    QCoreApplication::processEvents(); // the grid's events reach the control from the event loop
}

QPoint cellCentre(DataGrid *grid, int row, int column)
{
    return grid->visualRect(grid->model()->index(row, column)).center();
}

/// A user's double-click: the press that makes the row current, then the double-click.
void doubleClickCell(DataGrid *grid, int row, int column)
{
    const QPoint at = cellCentre(grid, row, column);
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, at);
    QCoreApplication::processEvents();
}

} // namespace

/// View buttons, the work-order grid's colours, sorting and request box, the host
/// properties and the layout, driven by real clicks and real property writes.
class ViewsTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void pmColumnVariantAndBack();
    void linkedFilesSwapWithoutTimedRefresh();
    void swapBlockedWhileViewModeHoldsOtherText();
    void viewModeTexts_data();
    void viewModeTexts();
    void viewChoiceClampsAndRunsTheClickHandler_data();
    void viewChoiceClampsAndRunsTheClickHandler();
    void refreshNowRefreshesBothGrids();
    void hidePropertiesAndNotifications();
    void priorityColoursOnlyInPriorityColumn();
    void priorityColourShowsOnTheCurrentRow();
    void headerClicksSortPerColumnAcrossRefresh();
    void sortedRefreshLeavesTheTopRowCurrent();
    void sortTheResultsCannotTakeIsNotKept();
    void dateColumnShowsTheDay();
    void headerClickBeforeAnyDataDoesNothing();
    void doubleClickShowsTheRequest();
    void hugeRequestIsCutWhereShown();
    void linkedFilesFailureKeepsWorkOrdersShown();
    void resizeRule_data();
    void resizeRule();
    void resizeFollowsTheControl();

private:
    WorkOrdersGrid *makeGrid(qint16 refreshInterval = 30);

    std::unique_ptr<QTemporaryDir> m_dir;
    HostedControl m_control;
    WorkOrdersGrid *m_grid = nullptr;
    WorkOrdersGridPrivate *d = nullptr;
    std::unique_ptr<MessageBoxRecorder> m_boxes;
};

void ViewsTest::init()
{
    QLocale::setDefault(QLocale::c());
    m_dir = std::make_unique<QTemporaryDir>();
    qputenv("ORVANTEL_CONFIG_DIR", QFile::encodeName(m_dir->path()));
    fillPlant(m_dir->path() + QStringLiteral("/plant.db"));
    m_boxes = std::make_unique<MessageBoxRecorder>();
}

void ViewsTest::cleanup()
{
    m_control.reset();
    m_boxes.reset();
    QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
    m_dir.reset();
}

WorkOrdersGrid *ViewsTest::makeGrid(qint16 refreshInterval)
{
    writeSettings(m_dir->path(), "DBServerName=sqlite:plant.db\nRefreshInterval=" + QByteArray::number(refreshInterval));
    m_control.show();  // start-up reads the settings, connects and loads
    d = m_control.d;
    return m_grid = m_control.grid;
}

void ViewsTest::pmColumnVariantAndBack()
{
    makeGrid();
    QTest::mouseClick(d->optView[1], Qt::LeftButton);
    DataGrid *grid = d->grdWorkOrders;
    QCOMPARE(grid->column(WoNumberColumn)->caption(), QStringLiteral("PM#"));
    QCOMPARE(grid->column(WoNotesColumn)->caption(), QStringLiteral("PM Name"));
    QCOMPARE(grid->column(WoNotesColumn)->width(), 5000);
    for (int c : {WoStatusColumn, WoPriorityColumn, WoRequestedByColumn})
        QVERIFY(!grid->column(c)->isVisible());
    QCOMPARE(numbers(grid), QList<int>{204});
    QCOMPARE(m_grid->ViewChoice(), qint16(1));

    // Through the linked files and back, the PM variant stays.
    QTest::mouseClick(d->optView[3], Qt::LeftButton);
    QVERIFY(grid->isHidden());
    QCOMPARE(grid->column(WoNumberColumn)->caption(), QStringLiteral("PM#"));

    QTest::mouseClick(d->optView[2], Qt::LeftButton);
    QVERIFY(!grid->isHidden());
    QVERIFY(d->TDBGrid1->isHidden());
    QCOMPARE(grid->column(WoNumberColumn)->caption(), QStringLiteral("WO#"));
    QCOMPARE(grid->column(WoNotesColumn)->caption(), QStringLiteral("Work Requested"));
    QCOMPARE(grid->column(WoNotesColumn)->width(), 3100);
    for (int c : {WoStatusColumn, WoPriorityColumn, WoRequestedByColumn})
        QVERIFY(grid->column(c)->isVisible());
    QCOMPARE(numbers(grid), QList<int>{205});
    QCOMPARE(m_grid->ViewMode(), QStringLiteral("Work Orders"));
    QVERIFY(m_boxes->messages.isEmpty());
}

void ViewsTest::linkedFilesSwapWithoutTimedRefresh()
{
    makeGrid(0);
    QVERIFY(!d->m_bDataLoaded);
    QTest::mouseClick(d->optView[3], Qt::LeftButton);
    QVERIFY(d->grdWorkOrders->isHidden());
    QVERIFY(!d->TDBGrid1->isHidden());
    QCOMPARE(d->TDBGrid1->rowCount(), 2);
    QCOMPARE(m_grid->ViewMode(), QStringLiteral("Linked Files"));
    QCOMPARE(m_grid->ViewChoice(), qint16(3));
    QVERIFY(!d->m_bDataLoaded);  // no work-order reload with RefreshInterval 0

    // Back to the work orders: nothing reloads the linked files.
    int linkedLoads = 0;
    connect(d->Adodc2, &DataSource::refreshed, this, [&] { ++linkedLoads; });
    QTest::mouseClick(d->optView[0], Qt::LeftButton);
    QVERIFY(!d->grdWorkOrders->isHidden());
    QCOMPARE(linkedLoads, 0);
}

void ViewsTest::swapBlockedWhileViewModeHoldsOtherText()
{
    makeGrid();
    QTest::mouseClick(d->optView[3], Qt::LeftButton);
    QVERIFY(!d->TDBGrid1->isHidden());
    m_grid->setViewMode(QStringLiteral("files"));  // already showing files: no swap
    QCOMPARE(m_grid->ViewMode(), QStringLiteral("files"));
    QTest::mouseClick(d->optView[0], Qt::LeftButton);
    QVERIFY(!d->TDBGrid1->isHidden());  // "files" is neither mode text: the click does not swap
    QVERIFY(d->grdWorkOrders->isHidden());
    QCOMPARE(m_grid->ViewChoice(), qint16(0));
}

void ViewsTest::viewModeTexts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("filesShownBefore");
    QTest::addColumn<bool>("filesShownAfter");
    QTest::addColumn<QString>("readBack");
    QTest::addRow("Linked Files") << "Linked Files" << false << true << "Linked Files";
    QTest::addRow("FILES switches") << "FILES" << false << true << "Linked Files";
    QTest::addRow("linkedfiles") << "linkedfiles" << false << true << "Linked Files";
    QTest::addRow("leading blank is not files") << " files" << false << false << " files";
    QTest::addRow("linked_files is not files") << "linked_files" << false << false << "linked_files";
    QTest::addRow("anything keeps work orders") << "anything" << false << false << "anything";
    QTest::addRow("FILES while files shown") << "FILES" << true << true << "FILES";
    QTest::addRow("anything while files shown") << "anything" << true << false << "Work Orders";
}

void ViewsTest::viewModeTexts()
{
    QFETCH(QString, text);
    QFETCH(bool, filesShownBefore);
    QFETCH(bool, filesShownAfter);
    QFETCH(QString, readBack);
    makeGrid();
    if (filesShownBefore)
        m_grid->setViewMode(QStringLiteral("Linked Files"));
    QSignalSpy changed(m_grid, &WorkOrdersGrid::propertyChanged);
    QVERIFY(m_grid->setProperty("ViewMode", text));
    QCOMPARE(!d->TDBGrid1->isHidden(), filesShownAfter);
    QCOMPARE(d->grdWorkOrders->isHidden(), filesShownAfter);
    QCOMPARE(m_grid->property("ViewMode").toString(), readBack);
    QCOMPARE(changed.size(), 1);
    QCOMPARE(changed.first().first().toString(), QStringLiteral("ViewMode"));
    QCOMPARE(m_grid->ViewChoice(), qint16(0));  // the buttons are not touched
    QVERIFY(d->optView[0]->isChecked());
}

void ViewsTest::viewChoiceClampsAndRunsTheClickHandler_data()
{
    QTest::addColumn<int>("written");
    QTest::addColumn<int>("stored");
    QTest::addColumn<int>("workOrderLoads");  // one per run of the click handler
    QTest::addRow("-1 stores 0, selection unchanged") << -1 << 0 << 1;
    QTest::addRow("2 changes the selection") << 2 << 2 << 2;
    QTest::addRow("3") << 3 << 3 << 2;
    QTest::addRow("4 stores 3") << 4 << 3 << 2;
    QTest::addRow("5 stores 0") << 5 << 0 << 1;
    QTest::addRow("32767 stores 0") << 32767 << 0 << 1;
}

void ViewsTest::viewChoiceClampsAndRunsTheClickHandler()
{
    QFETCH(int, written);
    QFETCH(int, stored);
    QFETCH(int, workOrderLoads);
    makeGrid();
    int loads = 0;
    connect(d->Adodc1, &DataSource::refreshed, this, [&] { ++loads; });
    QSignalSpy changed(m_grid, &WorkOrdersGrid::ViewChoiceChanged);
    QVERIFY(m_grid->setProperty("ViewChoice", QVariant::fromValue(qint16(written))));
    QCOMPARE(int(m_grid->ViewChoice()), stored);
    QVERIFY(d->optView[size_t(stored)]->isChecked());
    QCOMPARE(loads, workOrderLoads);
    QCOMPARE(changed.size(), 1);
    QCOMPARE(d->grdWorkOrders->isHidden(), stored == 3);
}

void ViewsTest::refreshNowRefreshesBothGrids()
{
    makeGrid(0);
    int workOrderLoads = 0;
    int linkedLoads = 0;
    connect(d->Adodc1, &DataSource::refreshed, this, [&] { ++workOrderLoads; });
    connect(d->Adodc2, &DataSource::refreshed, this, [&] { ++linkedLoads; });
    QSignalSpy changed(m_grid, &WorkOrdersGrid::propertyChanged);
    QVERIFY(m_grid->setProperty("RefreshNow", QVariant::fromValue(qint16(5))));
    QCOMPARE(workOrderLoads, 1);
    QCOMPARE(linkedLoads, 1);
    QCOMPARE(d->grdWorkOrders->rowCount(), 4);
    QCOMPARE(m_grid->property("RefreshNow").toInt(), 0);
    QCOMPARE(changed.size(), 1);
    QCOMPARE(changed.first().first().toString(), QStringLiteral("RefreshNow"));
}

void ViewsTest::hidePropertiesAndNotifications()
{
    makeGrid();
    QSignalSpy changed(m_grid, &WorkOrdersGrid::propertyChanged);
    m_grid->setHideViewWorkOrders(true);
    for (int i = 0; i < 3; ++i)
        QVERIFY(d->optView[size_t(i)]->isHidden());
    QVERIFY(d->optView[3]->isChecked());
    QVERIFY(d->grdWorkOrders->isHidden());
    QVERIFY(!d->TDBGrid1->isHidden());
    QCOMPARE(m_grid->ViewMode(), QStringLiteral("Linked Files"));

    m_grid->setHideViewWorkOrders(false);
    for (int i = 0; i < 3; ++i)
        QVERIFY(!d->optView[size_t(i)]->isHidden());
    QVERIFY(d->grdWorkOrders->isHidden());  // nothing else changes
    QVERIFY(d->optView[3]->isChecked());

    m_grid->setHideViewLinkedFiles(true);
    QVERIFY(d->optView[3]->isHidden());
    QVERIFY(d->optView[0]->isChecked());
    QVERIFY(!d->grdWorkOrders->isHidden());

    m_grid->setHideNewWO(true);
    QVERIFY(d->cmdNewWO->isHidden());
    m_grid->setHideNewWO(false);
    QVERIFY(!d->cmdNewWO->isHidden());

    QStringList names;
    for (const QList<QVariant> &args : changed)
        names << args.first().toString();
    QCOMPARE(names, (QStringList{QStringLiteral("HideViewWorkOrders"), QStringLiteral("HideViewWorkOrders"),
                                 QStringLiteral("HideViewLinkedFiles"), QStringLiteral("HideNewWO"),
                                 QStringLiteral("HideNewWO")}));
    QVERIFY(m_boxes->messages.isEmpty());
}

void ViewsTest::priorityColoursOnlyInPriorityColumn()
{
    makeGrid();
    DataGrid *grid = d->grdWorkOrders;
    QAbstractItemModel *model = grid->model();
    QMap<int, QColor> expected{{201, QColor(255, 0, 0)}, {202, QColor(255, 255, 0)}, {203, QColor()}, {206, QColor()}};
    for (int row = 0; row < grid->rowCount(); ++row) {
        const int number = numbers(grid).at(row);
        const QVariant background = model->data(model->index(row, WoPriorityColumn), Qt::BackgroundRole);
        QCOMPARE(background.value<QColor>(), expected.value(number));
        if (expected.value(number).isValid())
            QCOMPARE(model->data(model->index(row, WoPriorityColumn), Qt::ForegroundRole).value<QColor>(),
                     QColor(0, 0, 0));
        for (int c = 0; c < grid->columnCount(); ++c) {
            if (c != WoPriorityColumn)
                QVERIFY(!model->data(model->index(row, c), Qt::BackgroundRole).isValid());
        }
    }
}

void ViewsTest::sortedRefreshLeavesTheTopRowCurrent()
{
    makeGrid();
    DataGrid *grid = m_grid->findChild<DataGrid *>(QStringLiteral("grdWorkOrders"));
    clickHeader(grid, WoAssetCodeColumn);
    QCOMPARE(numbers(grid), (QList<int>{206, 202, 203, 201}));
    grid->setCurrentRowIndex(0);
    // The newest work order sorts into the middle; the top row stays current and in view.
    execSqlite(m_dir->path() + QStringLiteral("/plant.db"),
               {QStringLiteral("INSERT INTO WO_WorkOrders (WO_Nbr, AssetCode, Status, IsPM, Priority, DateLoaded, "
                               "WorkRequest, DivisionID, DepartmentID) "
                               "VALUES (207, 'B1', 0, 0, 3, '2026-02-07 08:00:00', 'New', 'D1', 'M1')")});
    QVERIFY(m_grid->RefreshData());
    QCOMPARE(numbers(grid), (QList<int>{206, 202, 207, 203, 201}));
    QCOMPARE(grid->currentRowIndex(), 0);
    QCOMPARE(grid->column(WoNumberColumn)->value().toInt(), 206);
    QCOMPARE(grid->verticalScrollBar()->value(), 0);
    QVERIFY(m_boxes->messages.isEmpty());
}

void ViewsTest::sortTheResultsCannotTakeIsNotKept()
{
    // A site's view without one of the grid's fields: its header cannot sort.
    execSqlite(m_dir->path() + QStringLiteral("/plant.db"),
               {QStringLiteral("DROP VIEW vw_QX_WorkOrdersGrid"),
                QStringLiteral("CREATE VIEW vw_QX_WorkOrdersGrid AS SELECT w.WO_Nbr, w.AssetCode, a.Descr AS AssetDescr, "
                               "w.Status, w.Priority, w.DateLoaded, w.WorkRequest AS Notes, w.IsPM, w.DivisionID, "
                               "w.DepartmentID FROM WO_WorkOrders w LEFT JOIN GS_Assets a ON a.AssetCode = w.AssetCode")});
    makeGrid();
    DataGrid *grid = m_grid->findChild<DataGrid *>(QStringLiteral("grdWorkOrders"));
    clickHeader(grid, WoAssetCodeColumn);
    clickHeader(grid, WoAssignedToColumn);
    QCOMPARE(m_boxes->titles(), QStringList{QStringLiteral("grdWorkOrders HeadClick")});
    QVERIFY(m_boxes->messages.first().text.startsWith(QStringLiteral("Error 3001\r\n")));
    // The sort that applied before stays in force, and refreshes go on working.
    QVERIFY(m_grid->RefreshData());
    QCOMPARE(numbers(grid), (QList<int>{206, 202, 203, 201}));
    QCOMPARE(m_boxes->messages.size(), 1);
}

void ViewsTest::priorityColourShowsOnTheCurrentRow()
{
    makeGrid();
    auto *grid = m_grid->findChild<DataGrid *>(QStringLiteral("grdWorkOrders"));
    const int row = numbers(grid).indexOf(201); // priority 1
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cellCentre(grid, row, WoNumberColumn));
    QCOMPARE(grid->currentRowIndex(), row);

    const QImage image = grid->viewport()->grab().toImage();
    const QRect priority = grid->visualRect(grid->model()->index(row, WoPriorityColumn));
    const QRect status = grid->visualRect(grid->model()->index(row, WoStatusColumn));
    // Right of the text: the cell's own background.
    const QColor selection = image.pixelColor(status.right() - 2, status.center().y());
    QCOMPARE(selection, grid->palette().color(QPalette::Highlight));
    QCOMPARE(image.pixelColor(priority.right() - priority.width() / 4, priority.center().y()), QColor(255, 0, 0));
    // The selection shows as a frame inside the coloured cell.
    QCOMPARE(image.pixelColor(priority.left(), priority.center().y()), selection);
}

void ViewsTest::headerClicksSortPerColumnAcrossRefresh()
{
    makeGrid();
    DataGrid *grid = d->grdWorkOrders;
    QCOMPARE(numbers(grid), (QList<int>{206, 203, 202, 201}));
    grid->setCurrentRowIndex(1);  // work order 203 stays current through every sort

    clickHeader(grid, WoAssetCodeColumn);
    QCOMPARE(d->m_sSortOrder, QStringLiteral("AssetCode "));
    QCOMPARE(numbers(grid), (QList<int>{206, 202, 203, 201}));
    QCOMPARE(grid->column(WoNumberColumn)->value().toInt(), 203);

    clickHeader(grid, WoAssetCodeColumn);
    QCOMPARE(d->m_sSortOrder, QStringLiteral("AssetCode DESC"));
    QCOMPARE(numbers(grid), (QList<int>{201, 203, 206, 202}));

    clickHeader(grid, WoDateColumn);
    QCOMPARE(d->m_sSortOrder, QStringLiteral("DateLoaded "));
    QCOMPARE(numbers(grid), (QList<int>{201, 202, 203, 206}));

    clickHeader(grid, WoAssetCodeColumn);  // remembers its own last direction: ascending now
    QCOMPARE(d->m_sSortOrder, QStringLiteral("AssetCode "));

    clickHeader(grid, WoPriorityColumn);
    QCOMPARE(d->m_sSortOrder, QStringLiteral("Priority "));
    QCOMPARE(numbers(grid), (QList<int>{206, 201, 202, 203}));  // NULL first
    QCOMPARE(grid->column(WoNumberColumn)->value().toInt(), 203);
    QCOMPARE(grid->column(WoAssetCodeColumn)->defaultValue(), QStringLiteral("A"));
    QCOMPARE(grid->column(WoDateColumn)->defaultValue(), QStringLiteral("A"));
    QCOMPARE(grid->column(WoPriorityColumn)->defaultValue(), QStringLiteral("A"));

    // A refresh with new rows keeps the order.
    execSqlite(m_dir->path() + QStringLiteral("/plant.db"),
           {QStringLiteral("INSERT INTO sp_QX_CreateWorkOrder VALUES ('B1', 'Pilot light out', 2, 'U1')")});
    QVERIFY(m_grid->RefreshData());
    QCOMPARE(numbers(grid), (QList<int>{206, 201, 207, 202, 203}));
    QVERIFY(m_boxes->messages.isEmpty());
}

void ViewsTest::dateColumnShowsTheDay()
{
    makeGrid();
    QAbstractItemModel *model = d->grdWorkOrders->model();
    const QModelIndex date = model->index(numbers(d->grdWorkOrders).indexOf(202), WoDateColumn);
    QCOMPARE(model->data(date).toString(), QStringLiteral("2026-02-02"));
    QCOMPARE(model->data(date, Qt::ToolTipRole).toString(), QStringLiteral("2026-02-02 08:00:00"));
}

void ViewsTest::headerClickBeforeAnyDataDoesNothing()
{
    makeGrid(0);
    clickHeader(d->grdWorkOrders, WoAssetCodeColumn);
    QVERIFY(d->m_sSortOrder.isEmpty());
    QVERIFY(d->grdWorkOrders->column(WoAssetCodeColumn)->defaultValue().isEmpty());
    QVERIFY(m_boxes->messages.isEmpty());
}

void ViewsTest::doubleClickShowsTheRequest()
{
    makeGrid();
    DataGrid *grid = d->grdWorkOrders;
    const int row = numbers(grid).indexOf(202);
    doubleClickCell(grid, row, WoDateColumn);
    QTRY_COMPARE(m_boxes->messages.size(), 1);
    QCOMPARE(m_boxes->messages.last().title, QStringLiteral("Work Order 202"));
    QCOMPARE(m_boxes->messages.last().text, QStringLiteral("Seal leaks"));
    QCOMPARE(m_boxes->messages.last().icon, QMessageBox::Information);

    QTest::mouseClick(d->optView[1], Qt::LeftButton);  // the PM view: the column is "PM Name"
    doubleClickCell(grid, 0, WoNumberColumn);
    QTRY_COMPARE(m_boxes->messages.size(), 2);
    QCOMPARE(m_boxes->messages.last().title, QStringLiteral("PM 204"));
    QCOMPARE(m_boxes->messages.last().text, QStringLiteral("Monthly pump PM"));
}

void ViewsTest::hugeRequestIsCutWhereShown()
{
    // 4 MiB of text after the first line.
    execSqlite(m_dir->path() + QStringLiteral("/plant.db"),
               {QStringLiteral("INSERT INTO WO_WorkOrders (WO_Nbr, AssetCode, Status, IsPM, Priority, DateLoaded, "
                               "RequestedBy, WorkRequest, DivisionID, DepartmentID) VALUES (207, 'A1', 0, 0, 3, "
                               "'2026-02-07 08:00:00', 'U1', 'Line one' || char(10) || "
                               "replace(hex(zeroblob(2097152)), '0', 'x'), 'D1', 'M1')")});
    makeGrid();
    auto *grid = m_grid->findChild<DataGrid *>(QStringLiteral("grdWorkOrders"));
    QCOMPARE(numbers(grid).first(), 207);
    const QModelIndex notes = grid->model()->index(0, WoNotesColumn);
    // 65536 characters of the request, then an ellipsis; the cell itself shows one line.
    const QString shownIn[] = {notes.data(Qt::ToolTipRole).toString(), notes.data().toString()};
    for (const QString &text : shownIn) {
        QCOMPARE(text.size(), 65537);
        QCOMPARE(text.right(3), QStringLiteral("xx…"));
    }
    QCOMPARE(shownIn[0].left(11), QStringLiteral("Line one\nxx"));
    QCOMPARE(shownIn[1].left(11), QStringLiteral("Line one xx"));

    doubleClickCell(grid, 0, WoDateColumn);
    QTRY_COMPARE(m_boxes->messages.size(), 1);
    const QString box = m_boxes->messages.last().text;
    QCOMPARE(box.size(), 65537);
    QCOMPARE(box.left(11), QStringLiteral("Line one\nxx"));
    QCOMPARE(box.right(3), QStringLiteral("xx…"));
}

void ViewsTest::linkedFilesFailureKeepsWorkOrdersShown()
{
    makeGrid();
    execSqlite(m_dir->path() + QStringLiteral("/plant.db"), {QStringLiteral("DROP VIEW vw_LinkedFiles")});
    QTest::mouseClick(d->optView[3], Qt::LeftButton);
    QCOMPARE(m_boxes->titles(), QStringList{QStringLiteral("RefreshLinkedFiles Error")});
    QVERIFY(!d->grdWorkOrders->isHidden());
    QVERIFY(d->TDBGrid1->isHidden());
    QCOMPARE(m_grid->ViewMode(), QStringLiteral("Work Orders"));

    // Through a property the host hears of it as well, and the notification is not sent.
    QSignalSpy exceptions(m_grid, &WorkOrdersGrid::exception);
    QSignalSpy changed(m_grid, &WorkOrdersGrid::propertyChanged);
    m_grid->setViewMode(QStringLiteral("files"));
    QCOMPARE(m_boxes->messages.size(), 2);
    QCOMPARE(exceptions.size(), 1);
    QCOMPARE(exceptions.first().at(1).toString(), QStringLiteral("ViewMode"));
    QVERIFY(exceptions.first().at(2).toString().contains(QStringLiteral("vw_LinkedFiles")));
    QCOMPARE(changed.size(), 0);
    QVERIFY(!d->grdWorkOrders->isHidden());
    QCOMPARE(m_grid->ViewMode(), QStringLiteral("files"));  // stored before the swap failed
}

void ViewsTest::resizeRule_data()
{
    QTest::addColumn<double>("width");
    QTest::addColumn<double>("height");
    QTest::addColumn<double>("gridWidth");   // -1: unchanged
    QTest::addColumn<double>("gridHeight");  // -1: unchanged
    QTest::addColumn<double>("notesWidth");  // -1: unchanged
    QTest::addRow("design size") << 11370.0 << 3210.0 << 11310.0 << 2370.0 << 1910.0;
    QTest::addRow("width 10060") << 10060.0 << 3210.0 << 10000.0 << 2370.0 << -1.0;
    QTest::addRow("width 10061") << 10061.0 << 3210.0 << 10001.0 << 2370.0 << 601.0;
    QTest::addRow("width 60") << 60.0 << 3210.0 << 0.0 << 2370.0 << -1.0;
    QTest::addRow("width 61") << 61.0 << 3210.0 << 1.0 << 2370.0 << -1.0;
    QTest::addRow("height 390") << 11370.0 << 390.0 << 11310.0 << 0.0 << 1910.0;
    QTest::addRow("height 391 keeps") << 11370.0 << 391.0 << 11310.0 << -1.0 << 1910.0;
    QTest::addRow("height 839 keeps") << 11370.0 << 839.0 << 11310.0 << -1.0 << 1910.0;
    QTest::addRow("height 840") << 11370.0 << 840.0 << 11310.0 << 0.0 << 1910.0;
    QTest::addRow("height 1000") << 11370.0 << 1000.0 << 11310.0 << 160.0 << 1910.0;
}

void ViewsTest::resizeRule()
{
    QFETCH(double, width);
    QFETCH(double, height);
    QFETCH(double, gridWidth);
    QFETCH(double, gridHeight);
    QFETCH(double, notesWidth);
    const GridResize r = Orvantel::resizeRule(width, height, 11295.0);
    QCOMPARE(r.gridWidth.value_or(-1.0), gridWidth);
    QCOMPARE(r.gridHeight.value_or(-1.0), gridHeight);
    QCOMPARE(r.notesWidth.value_or(-1.0), notesWidth);
}

void ViewsTest::resizeFollowsTheControl()
{
    makeGrid();
    m_grid->resize(900, 400);
    QCOMPARE(d->grdWorkOrders->geometry(), QRect(0, 48, 896, 344));
    QCOMPARE(d->grdWorkOrders->column(WoNotesColumn)->width(), 900 * 15 - 60 - 9400);
    QCOMPARE(d->TDBGrid1->size(), QSize(753, 154));  // the linked-files grid keeps its design size
    QCOMPARE(d->cmdNewWO->geometry(), QRect(496, 32, 65, 17));
    m_grid->resize(900, 40);  // 600 twips: between 391 and 839, the height stays
    QCOMPARE(d->grdWorkOrders->height(), 344);
    m_grid->resize(900, 26);  // 390 twips
    QCOMPARE(d->grdWorkOrders->height(), 0);
    QCOMPARE(d->optView[0]->pos(), QPoint(8, 35));  // header children never move
}

QTEST_MAIN(ViewsTest)
#include "tst_views.moc"

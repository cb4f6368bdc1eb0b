#include "testsupport.h"

#include "datagrid.h"
#include "gridcolumns.h"
#include "workordersgrid.h"

#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressDialog>
#include <QStandardPaths>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

using namespace Orvantel;
using namespace TestSupport;

namespace {

const QString Captions
        = u"WO #\tAsset Code\tDescription\tStatus\tPriority\tDate\tRequested By\tAssigned To\tWork Requested\n"_qs;
const QString HtmlCaptions = u"<meta charset=\"utf-8\"><table><tr><th>WO #</th><th>Asset Code</th><th>Description</th>"
                             "<th>Status</th><th>Priority</th><th>Date</th><th>Requested By</th><th>Assigned To</th>"
                             "<th>Work Requested</th></tr>"_qs;

/// The operator's click on a row's Date cell, with modifiers (Ctrl, Shift).
void clickRow(DataGrid *grid, int row, Qt::KeyboardModifiers modifiers = {})
{
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, modifiers,
                      grid->visualRect(grid->model()->index(row, WoDateColumn)).center());
}

/// The reachable controls of an accessibility tree that have no name ("QComboBox cboAssetCode").
void collectUnnamed(QAccessibleInterface *node, QStringList &unnamed)
{
    QObject *object = node ? node->object() : nullptr;
    if (!object)
        return;
    const QAccessible::State state = node->state();
    if (object->isWidgetType() && state.focusable && !state.invisible && node->text(QAccessible::Name).isEmpty())
        unnamed << QString::fromLatin1(object->metaObject()->className()) + u' ' + object->objectName();
    if (node->tableInterface())
        return; // the cells of a grid are named by their texts
    if (object->inherits("QWebEngineView"))
        return; // the page's own content (its interfaces come from the browser engine, built without RTTI)
    for (int i = 0; i < node->childCount(); ++i)
        collectUnnamed(node->child(i), unnamed);
}

QStringList unnamedControls(QWidget *window)
{
    QStringList unnamed;
    collectUnnamed(QAccessible::queryAccessibleInterface(window), unnamed);
    return unnamed;
}

} // namespace

/// Selection, copy, CSV export, the grids' keys and the names screen readers say, driven
/// as an operator drives them on the test plant.
class CopyExportTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void copiesSelectedRows_data();
    void copiesSelectedRows();
    void selectionKeptByNumberAcrossRefresh();
    void exportsTheSortedGrid();
    void failedOrCancelledExportLeavesNoFile_data();
    void failedOrCancelledExportLeavesNoFile();
    void keysMoveTheCurrentRow_data();
    void keysMoveTheCurrentRow();
    void enterDoesWhatADoubleClickDoes_data();
    void enterDoesWhatADoubleClickDoes();
    void everyControlHasAnAccessibleName_data();
    void everyControlHasAnAccessibleName();

private:
    /// Shows the control on the plant; true when its work orders are loaded.
    bool start();
    /// Triggers the grid's "actExport" and answers the file dialog with fileName.
    void exportTo(DataGrid *grid, const QString &fileName);

    std::unique_ptr<TestPlant> m_plant;
    std::unique_ptr<MessageBoxRecorder> m_boxes;
    QTemporaryDir m_folder;
    HostedControl m_control;
    DataGrid *m_orders = nullptr;
};

void CopyExportTest::initTestCase()
{
    // The file dialog's history goes to a settings file of the tests, not the user's.
    QStandardPaths::setTestModeEnabled(true);
}

void CopyExportTest::init()
{
    m_plant = std::make_unique<TestPlant>();
    m_boxes = std::make_unique<MessageBoxRecorder>();
    QGuiApplication::clipboard()->clear();
}

void CopyExportTest::cleanup()
{
    m_control.reset();
    m_boxes.reset();
    QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
    m_plant.reset();
}

bool CopyExportTest::start()
{
    m_plant->writeSettings("RefreshInterval=30\n");
    m_control.show();
    m_orders = m_control.grid->findChild<DataGrid *>(u"grdWorkOrders"_qs);
    m_orders->setFocus();
    return m_orders->rowCount() > 0;
}

void CopyExportTest::exportTo(DataGrid *grid, const QString &fileName)
{
    whenModal([fileName](QWidget *modal) {
        auto *dialog = qobject_cast<QFileDialog *>(modal);
        QVERIFY(dialog);
        // Typed whole into the name box: selectFile() leaves a box that has the focus as it is.
        dialog->findChild<QLineEdit *>(u"fileNameEdit"_qs)->setText(fileName);
        static_cast<QDialog *>(dialog)->accept(); // as the Save button does
    });
    grid->findChild<QAction *>(u"actExport"_qs)->trigger();
}

void CopyExportTest::copiesSelectedRows_data()
{
    QTest::addColumn<QList<int>>("clicks"); // rows; the second with Ctrl, the third with Shift
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("html");
    QTest::addRow("current row") << QList<int> {1}
                                 << u"107\tP-100\tFeed pump\tRequested\t\t2026-01-07\tBob\t\tNoise\n"_qs
                                 << u"<tr><td>107</td><td>P-100</td><td>Feed pump</td><td>Requested</td><td></td>"
                                    "<td>2026-01-07</td><td>Bob</td><td></td><td>Noise</td></tr>"_qs;
    // Shift extends from the row Ctrl last clicked, as in any desktop list.
    QTest::addRow("Ctrl, then Shift")
            << QList<int> {0, 4, 2}
            << u"108\tO'Q\tQuoted\tApproved\t2\t2026-01-08\tAnn\t\tQuoted request\n"
               "103\tB1\tBoiler\tIn Progress\t3\t2026-01-03\tAnn\t\tBurner check\n"
               "102\tA2\tFan\tApproved\t2\t2026-01-02\tBob\t\tBelt slipping\n"
               "101\tA1\tPump\tRequested\t1\t2026-01-01\tAnn\t\tSeal leaks\n"_qs
            << u"<tr><td>108</td><td>O'Q</td><td>Quoted</td><td>Approved</td><td>2</td><td>2026-01-08</td>"
               "<td>Ann</td><td></td><td>Quoted request</td></tr>"
               "<tr><td>103</td><td>B1</td><td>Boiler</td><td>In Progress</td><td>3</td><td>2026-01-03</td>"
               "<td>Ann</td><td></td><td>Burner check</td></tr>"
               "<tr><td>102</td><td>A2</td><td>Fan</td><td>Approved</td><td>2</td><td>2026-01-02</td>"
               "<td>Bob</td><td></td><td>Belt slipping</td></tr>"
               "<tr><td>101</td><td>A1</td><td>Pump</td><td>Requested</td><td>1</td><td>2026-01-01</td>"
               "<td>Ann</td><td></td><td>Seal leaks</td></tr>"_qs;
}

void CopyExportTest::copiesSelectedRows()
{
    QFETCH(QList<int>, clicks);
    QFETCH(QString, text);
    QFETCH(QString, html);
    QVERIFY(start());
    const Qt::KeyboardModifiers modifiers[] = {Qt::NoModifier, Qt::ControlModifier, Qt::ShiftModifier};
    for (int i = 0; i < clicks.size(); ++i)
        clickRow(m_orders, clicks[i], modifiers[i]);
    QTest::keyClick(m_orders, Qt::Key_C, Qt::ControlModifier);
    const QMimeData *copied = QGuiApplication::clipboard()->mimeData();
    QVERIFY(copied);
    QCOMPARE(copied->text(), Captions + text);
    QCOMPARE(copied->html(), HtmlCaptions + html + u"</table>"_qs);
}

void CopyExportTest::selectionKeptByNumberAcrossRefresh()
{
    QVERIFY(start());
    clickRow(m_orders, 1); // 107
    clickRow(m_orders, 3, Qt::ControlModifier); // 102
    // A new work order on top moves both rows down; a longer request is copied whole, on one line.
    m_plant->exec({u"INSERT INTO WO_WorkOrders (WO_Nbr, AssetCode, Status, IsPM, Priority, DateLoaded, RequestedBy, "
                   "WorkRequest, DivisionID, DepartmentID) VALUES (109, 'A1', 0, 0, 3, '2026-01-09 08:00:00', 'U1', "
                   "'New', 'D1', 'M1')"_qs,
                   u"UPDATE WO_WorkOrders SET WorkRequest = 'Noise' || char(10) || replace(hex(zeroblob(40000)), "
                   "'0', 'x') WHERE WO_Nbr = 107"_qs});
    QVERIFY(m_control.grid->RefreshData());
    m_control.grid->copyRows();
    QCOMPARE(QGuiApplication::clipboard()->text(),
             Captions + u"107\tP-100\tFeed pump\tRequested\t\t2026-01-07\tBob\t\tNoise "_qs + QString(80000, u'x')
                     + u"\n102\tA2\tFan\tApproved\t2\t2026-01-02\tBob\t\tBelt slipping\n"_qs);
}

void CopyExportTest::exportsTheSortedGrid()
{
    m_plant->exec({u"UPDATE WO_WorkOrders SET WorkRequest = 'Seal \"leaks\", again' WHERE WO_Nbr = 101"_qs,
                   u"UPDATE WO_WorkOrders SET WorkRequest = 'Belt' || char(13) || char(10) || 'slipping' "
                   "WHERE WO_Nbr = 102"_qs,
                   u"UPDATE WO_WorkOrders SET WorkRequest = '=1+2' WHERE WO_Nbr = 103"_qs,
                   u"UPDATE WO_WorkOrders SET WorkRequest = '-12.5' WHERE WO_Nbr = 107"_qs,
                   u"UPDATE WO_WorkOrders SET WorkRequest = '-5 mm gap, Düse größer' WHERE WO_Nbr = 108"_qs,
                   u"UPDATE GS_Users SET Name = '@Bob' WHERE UserID = 'U2'"_qs,
                   u"UPDATE GS_Users SET Name = char(9) || 'Ann' WHERE UserID = 'U1'"_qs});
    QVERIFY(start());
    QHeaderView *header = m_orders->horizontalHeader();
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                      QPoint(header->sectionViewportPosition(WoPriorityColumn) + 5, header->height() / 2));
    const QString file = m_folder.filePath(u"orders.csv"_qs);
    exportTo(m_orders, file);
    QTRY_VERIFY(QFile::exists(file));
    QFile csv(file);
    QVERIFY(csv.open(QIODevice::ReadOnly));
    QCOMPARE(csv.readAll(),
             QByteArray("\xEF\xBB\xBFWO #,Asset Code,Description,Status,Priority,Date,Requested By,"
                        "Assigned To,Work Requested\r\n"
                        "107,P-100,Feed pump,Requested,,2026-01-07,'@Bob,,-12.5\r\n"
                        "101,A1,Pump,Requested,1,2026-01-01,'\tAnn,,\"Seal \"\"leaks\"\", again\"\r\n"
                        "108,O'Q,Quoted,Approved,2,2026-01-08,'\tAnn,,\"'-5 mm gap, D\xC3\xBCse "
                        "gr\xC3\xB6\xC3\x9F"
                        "er\"\r\n"
                        "102,A2,Fan,Approved,2,2026-01-02,'@Bob,,\"Belt\r\nslipping\"\r\n"
                        "103,B1,Boiler,In Progress,3,2026-01-03,'\tAnn,,'=1+2\r\n"));
}

void CopyExportTest::failedOrCancelledExportLeavesNoFile_data()
{
    QTest::addColumn<QString>("folder"); // empty: the test's own
    QTest::addColumn<bool>("cancel"); // 12000 rows more, and Cancel in the progress dialog
    QTest::addColumn<QString>("box"); // the start of the "Export Error" box's text; empty: none
    QTest::addRow("folder that cannot be written")
            << u"/proc/sys"_qs << false << u"Error 75\r\nCannot write /proc/sys/wo.csv: "_qs;
    QTest::addRow("cancelled background export") << QString() << true << QString();
}

void CopyExportTest::failedOrCancelledExportLeavesNoFile()
{
    QFETCH(QString, folder);
    QFETCH(bool, cancel);
    QFETCH(QString, box);
    if (cancel) {
        m_plant->exec({u"WITH RECURSIVE n(i) AS (SELECT 1000 UNION ALL SELECT i + 1 FROM n WHERE i < 12999) "
                       "INSERT INTO WO_WorkOrders (WO_Nbr, AssetCode, Status, IsPM, Priority, DateLoaded, "
                       "RequestedBy, WorkRequest, DivisionID, DepartmentID) SELECT i, 'A1', 0, 0, 3, "
                       "'2025-12-01 08:00:00', 'U1', 'Row ' || i, 'D1', 'M1' FROM n"_qs});
    }
    QVERIFY(start());
    bool cancelled = false;
    QTimer canceller;
    connect(&canceller, &QTimer::timeout, this, [&] {
        if (auto *progress = qobject_cast<QProgressDialog *>(QApplication::activeModalWidget())) {
            cancelled = true;
            canceller.stop();
            QTest::mouseClick(progress->findChild<QPushButton *>(), Qt::LeftButton);
        }
    });
    canceller.start(0);
    const QString file = (folder.isEmpty() ? m_folder.path() : folder) + u"/wo.csv"_qs;
    exportTo(m_orders, file);
    if (cancel)
        QTRY_VERIFY(cancelled && !QApplication::activeModalWidget());
    else
        QTRY_COMPARE(m_boxes->messages.size(), 1);
    QCOMPARE(m_boxes->messages.size(), box.isEmpty() ? 0 : 1);
    if (!box.isEmpty()) {
        QCOMPARE(m_boxes->titles(), QStringList {u"Export Error"_qs});
        QVERIFY2(m_boxes->messages.at(0).text.startsWith(box), qPrintable(m_boxes->messages.at(0).text));
    }
    QCOMPARE(QDir(QFileInfo(file).path()).entryList({u"wo.csv*"_qs}, QDir::Files | QDir::Hidden), QStringList());
}

void CopyExportTest::keysMoveTheCurrentRow_data()
{
    QTest::addColumn<QList<int>>("keys");
    QTest::addColumn<int>("row"); // of the five open work orders, from the first
    QTest::addRow("Down Down Up") << QList<int> {Qt::Key_Down, Qt::Key_Down, Qt::Key_Up} << 1;
    QTest::addRow("End") << QList<int> {Qt::Key_End} << 4;
    QTest::addRow("End Home") << QList<int> {Qt::Key_End, Qt::Key_Home} << 0;
    QTest::addRow("Page Down") << QList<int> {Qt::Key_PageDown} << 4;
    QTest::addRow("End Page Up") << QList<int> {Qt::Key_End, Qt::Key_PageUp} << 0;
}

void CopyExportTest::keysMoveTheCurrentRow()
{
    QFETCH(QList<int>, keys);
    QFETCH(int, row);
    QVERIFY(start());
    for (int key : keys)
        QTest::keyClick(m_orders, Qt::Key(key));
    QCOMPARE(m_orders->currentRowIndex(), row);
}

void CopyExportTest::enterDoesWhatADoubleClickDoes_data()
{
    QTest::addColumn<int>("view");
    QTest::addColumn<QString>("opened"); // the message box's title, or the preview window's name
    QTest::addRow("work order: the request box") << 0 << u"Work Order 103: Burner check"_qs;
    QTest::addRow("linked file: the preview") << 3 << u"Form1"_qs;
}

void CopyExportTest::enterDoesWhatADoubleClickDoes()
{
    QFETCH(int, view);
    QFETCH(QString, opened);
    QVERIFY(start());
    m_control.grid->setViewChoice(qint16(view));
    auto *grid = m_control.grid->findChild<DataGrid *>(view == 3 ? u"TDBGrid1"_qs : u"grdWorkOrders"_qs);
    QString preview;
    QStringList unnamed;
    if (view == 3) {
        whenModal([&](QWidget *form) {
            preview = form->objectName();
            unnamed = unnamedControls(form);
            form->close();
        });
    } else {
        QTest::keyClick(grid, Qt::Key_Down);
        QTest::keyClick(grid, Qt::Key_Down);
    }
    QTest::keyClick(grid, Qt::Key_Return);
    if (view == 3) {
        QTRY_COMPARE(preview, opened);
        QCOMPARE(unnamed.join(u", "), QString());
    } else {
        QTRY_COMPARE(m_boxes->messages.size(), 1);
        QCOMPARE(m_boxes->messages.at(0).title + u": "_qs + m_boxes->messages.at(0).text, opened);
    }
}

void CopyExportTest::everyControlHasAnAccessibleName_data()
{
    QTest::addColumn<QString>("button"); // that opens the dialog walked; empty: the control
    QTest::addRow("control") << QString();
    QTest::addRow("frmNewWO") << u"cmdNewWO"_qs;
    QTest::addRow("frmConfig") << u"cmdConfig"_qs;
}

void CopyExportTest::everyControlHasAnAccessibleName()
{
    QFETCH(QString, button);
    QVERIFY(start());
    if (button.isEmpty()) {
        QCOMPARE(unnamedControls(m_control.host.get()).join(u", "), QString());
        // WO 101, priority 1, coloured as urgent; its text on screen stays "1".
        QAccessibleInterface *grid = QAccessible::queryAccessibleInterface(m_orders);
        QCOMPARE(grid->tableInterface()->cellAt(4, WoPriorityColumn)->text(QAccessible::Name), u"1, urgent"_qs);
        QCOMPARE(m_orders->model()->index(4, WoPriorityColumn).data().toString(), u"1"_qs);
        return;
    }
    QStringList unnamed {u"not walked"_qs};
    whenModal([&](QWidget *dialog) {
        unnamed = unnamedControls(dialog);
        qobject_cast<QDialog *>(dialog)->reject();
    });
    m_control.grid->findChild<QPushButton *>(button)->click();
    QCOMPARE(unnamed.join(u", "), QString());
}

QTEST_MAIN(CopyExportTest)
#include "tst_copyexport.moc"

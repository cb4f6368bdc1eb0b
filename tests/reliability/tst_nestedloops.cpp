#include "testsupport.h"

#include "workordersgrid.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QHeaderView>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QStandardPaths>
#include <QTableView>
#include <QTimer>

using namespace TestSupport;

/// A host may destroy the control while one of its nested event loops runs (a message
/// box, a dialog, the preview window): the loop ends, its window goes, and the control's
/// code never touches freed memory afterwards (the sanitizer build runs this too).
class NestedLoopsTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanup();
    void hostDestroysTheControlInsideALoop_data();
    void hostDestroysTheControlInsideALoop();
};

void NestedLoopsTest::initTestCase()
{
    // The export's file dialog keeps its history in a settings file of the tests, not the user's.
    QStandardPaths::setTestModeEnabled(true);
}

void NestedLoopsTest::cleanup()
{
    QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
    QVERIFY(!QGuiApplication::overrideCursor());
}

void NestedLoopsTest::hostDestroysTheControlInsideALoop_data()
{
    QTest::addColumn<QString>("loop");
    QTest::addColumn<bool>("later"); // deleteLater() instead of delete
    for (const char *loop :
         {"start-up error box", "RefreshData error box", "timer tick error box", "ConnectToServer error box",
          "request box", "header click error box", "New WO dialog", "Invalid Asset box", "Configure dialog",
          "About box", "preview window", "export file dialog", "export progress dialog", "export error box"}) {
        QTest::addRow("%s, delete", loop) << QString::fromLatin1(loop) << false;
        QTest::addRow("%s, deleteLater", loop) << QString::fromLatin1(loop) << true;
    }
}

void NestedLoopsTest::hostDestroysTheControlInsideALoop()
{
    QFETCH(QString, loop);
    QFETCH(bool, later);
    TestPlant plant;
    if (loop == u"start-up error box")
        writeSettings(plant.folder(), "DBServerName=sqlite:missing.db\nRefreshInterval=30\n");
    else
        plant.writeSettings("RefreshInterval=30\n");
    if (loop == u"export progress dialog") {
        plant.exec({u"WITH RECURSIVE n(i) AS (SELECT 1000 UNION ALL SELECT i + 1 FROM n WHERE i < 12999) "
                    "INSERT INTO WO_WorkOrders (WO_Nbr, AssetCode, Status, IsPM, DateLoaded, DivisionID, "
                    "DepartmentID) SELECT i, 'A1', 0, 0, '2025-12-01 08:00:00', 'D1', 'M1' FROM n"_qs});
    }
    if (loop == u"header click error box") {
        // A site's view without the Assigned To field: that header cannot sort.
        plant.exec({u"DROP VIEW vw_QX_WorkOrdersGrid"_qs,
                    u"CREATE VIEW vw_QX_WorkOrdersGrid AS SELECT WO_Nbr, AssetCode, Status, Priority, DateLoaded, "
                    "WorkRequest AS Notes, IsPM, DivisionID, DepartmentID FROM WO_WorkOrders"_qs});
    }
    auto host = std::make_unique<QWidget>();
    QPointer<WorkOrdersGrid> control = new WorkOrdersGrid(host.get());
    control->resize(control->sizeHint());
    host->show();

    // The host's part: once the loop under test is running, it destroys the control.
    const bool dialog = loop.endsWith(u"dialog") || loop == u"preview window";
    bool destroyed = false;
    QTimer hostSide;
    connect(&hostSide, &QTimer::timeout, this, [&] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || destroyed || !control)
            return;
        if (loop == u"Invalid Asset box" && !qobject_cast<QMessageBox *>(modal)) {
            // The dialog first: an asset that does not exist, then OK.
            modal->findChild<QComboBox *>(u"cboAssetCode"_qs)->setEditText(u"NO-SUCH"_qs);
            modal->findChild<QPushButton *>(u"cmdOK"_qs)->click();
            return;
        }
        auto *files = qobject_cast<QFileDialog *>(modal);
        if (files && loop != u"export file dialog") {
            // A file the export fails to write (in /proc/sys, where nothing can be created), or one it writes slowly
            // enough, under a progress dialog, to be caught at its first turn.
            files->findChild<QLineEdit *>(u"fileNameEdit"_qs)
                    ->setText(loop == u"export error box" ? u"/proc/sys/wo.csv"_qs : plant.folder() + u"/wo.csv"_qs);
            static_cast<QDialog *>(files)->accept();
            hostSide.setInterval(0);
            return;
        }
        if (dialog == bool(qobject_cast<QMessageBox *>(modal)))
            return;
        destroyed = true;
        if (later)
            control->deleteLater();
        else
            delete control;
    });
    hostSide.start(10);

    if (loop != u"start-up error box") {
        letStartUpFinish();
        QVERIFY(control && control->ConnectedToDB());
    }
    if (loop == u"RefreshData error box" || loop == u"timer tick error box")
        plant.exec({u"DROP VIEW vw_QX_WorkOrdersGrid"_qs});
    // Double-clicks the first row of a grid of the control.
    const auto doubleClick = [&](const QString &grid, int column) {
        auto *view = control->findChild<QTableView *>(grid);
        const QPoint cell = view->visualRect(view->model()->index(0, column)).center();
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cell);
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, cell);
    };
    if (loop == u"start-up error box") {
        letStartUpFinish();
    } else if (loop == u"RefreshData error box") {
        QVERIFY(!control->RefreshData());
    } else if (loop == u"timer tick error box") {
        control->findChild<QTimer *>(u"Timer1"_qs)->start(10);
    } else if (loop == u"ConnectToServer error box") {
        control->setDBServerName(u"sqlite:gone.db"_qs);
        QVERIFY(!control->ConnectToServer());
    } else if (loop == u"request box") {
        doubleClick(u"grdWorkOrders"_qs, 3);
    } else if (loop == u"header click error box") {
        QHeaderView *header = control->findChild<QTableView *>(u"grdWorkOrders"_qs)->horizontalHeader();
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(7) + 5, header->height() / 2));
    } else if (loop == u"New WO dialog" || loop == u"Invalid Asset box") {
        QTest::mouseClick(control->findChild<QPushButton *>(u"cmdNewWO"_qs), Qt::LeftButton);
    } else if (loop == u"Configure dialog") {
        control->findChild<QPushButton *>(u"cmdConfig"_qs)->click();
    } else if (loop == u"About box") {
        control->findChild<QPushButton *>(u"cmdAbout"_qs)->click();
    } else if (loop.startsWith(u"export")) {
        control->findChild<QTableView *>(u"grdWorkOrders"_qs)->findChild<QAction *>(u"actExport"_qs)->trigger();
    } else if (loop == u"preview window") {
        control->setViewMode(u"Linked Files"_qs);
        doubleClick(u"TDBGrid1"_qs, 1);
    }

    QTRY_VERIFY_WITH_TIMEOUT(destroyed, 20000);
    QTRY_VERIFY(!control);
    host.reset();
    // Every window the loop had open is gone with it, and an export left no file.
    QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
    QCOMPARE(QDir(plant.folder()).entryList({u"wo.csv*"_qs}, QDir::Files | QDir::Hidden), QStringList());
}

QTEST_MAIN(NestedLoopsTest)
#include "tst_nestedloops.moc"

#include "testsupport.h"

#include <QPointer>
#include <QTableView>

using namespace TestSupport;

/// A host may destroy the control while one of its nested event loops runs (a message
/// box, a dialog, the preview window): the loop ends, its window goes, and the control's
/// code never touches freed memory afterwards (the sanitizer build runs this too).
class NestedLoopsTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanup()
    {
        QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
        QVERIFY(!QGuiApplication::overrideCursor());
    }
    void hostDestroysTheControlInsideALoop_data();
    void hostDestroysTheControlInsideALoop();
};

void NestedLoopsTest::hostDestroysTheControlInsideALoop_data()
{
    QTest::addColumn<QString>("loop");
    QTest::addColumn<bool>("later"); // deleteLater() instead of delete
    for (const char *loop : {"start-up error box", "RefreshData error box", "timer tick error box",
                             "ConnectToServer error box", "request box", "header click error box", "New WO dialog",
                             "Invalid Asset box", "Configure dialog", "About box", "preview window"}) {
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
        } else if (dialog != bool(qobject_cast<QMessageBox *>(modal))) {
            destroyed = true;
            later ? control->deleteLater() : delete control;
        }
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
    } else if (loop == u"preview window") {
        control->setViewMode(u"Linked Files"_qs);
        doubleClick(u"TDBGrid1"_qs, 1);
    } else {
        const auto button = loop == u"Configure dialog" ? u"cmdConfig"_qs
                : loop == u"About box"                  ? u"cmdAbout"_qs
                                                        : u"cmdNewWO"_qs;
        control->findChild<QPushButton *>(button)->click();
    }

    QTRY_VERIFY_WITH_TIMEOUT(destroyed, 20000);
    QTRY_VERIFY(!control);
    host.reset();
    // Every window the loop had open is gone with it.
    QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
}

QTEST_MAIN(NestedLoopsTest)
#include "tst_nestedloops.moc"

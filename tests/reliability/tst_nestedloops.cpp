#include "testsupport.h"

#include <workordersgrid.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QHeaderView>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>

using namespace TestSupport;

namespace {

/// A cell's centre in the viewport of a grid of the control, found by name.
QPoint cellCentre(QAbstractItemView *grid, int row, int column)
{
    return grid->visualRect(grid->model()->index(row, column)).center();
}

void doubleClickRow(QAbstractItemView *grid, int column)
{
    QTest::mouseClick(grid->viewport(), Qt::LeftButton, {}, cellCentre(grid, 0, column));
    QTest::mouseDClick(grid->viewport(), Qt::LeftButton, {}, cellCentre(grid, 0, column));
}

QAbstractItemView *gridNamed(WorkOrdersGrid *control, const char *name)
{
    return control->findChild<QAbstractItemView *>(QLatin1String(name));
}

} // namespace

/// A host may destroy the control while one of its nested event loops runs (a message
/// box, a dialog, the preview window): the loop ends, its window goes, and the control's
/// code never touches freed memory afterwards (the sanitizer build runs this too).
class NestedLoopsTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();
    void hostDestroysTheControlInsideALoop_data();
    void hostDestroysTheControlInsideALoop();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_db;
};

void NestedLoopsTest::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    qputenv("ORVANTEL_CONFIG_DIR", QFile::encodeName(m_dir->path()));
    Orvantel::DemoData::Options small;
    small.workOrders = 40;
    m_db = createSqliteDatabase(m_dir->path(), QStringLiteral("plant.db"), small);
    writeSettings(m_dir->path(), "DBServerName=sqlite:plant.db\nRefreshInterval=30\n");
}

void NestedLoopsTest::cleanup()
{
    QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
    QVERIFY(!QGuiApplication::overrideCursor());
    m_dir.reset();
}

void NestedLoopsTest::hostDestroysTheControlInsideALoop_data()
{
    QTest::addColumn<QString>("loop");
    QTest::addColumn<bool>("later"); // deleteLater() instead of delete
    const char *const loops[] = {
            "start-up error box",   "RefreshData error box", "timer tick error box", "ConnectToServer error box",
            "request box",          "header click error box", "New WO dialog",       "Invalid Asset box",
            "Configure dialog",     "About box",              "preview window",
    };
    for (const char *loop : loops) {
        QTest::addRow("%s, delete", loop) << QString::fromLatin1(loop) << false;
        QTest::addRow("%s, deleteLater", loop) << QString::fromLatin1(loop) << true;
    }
}

void NestedLoopsTest::hostDestroysTheControlInsideALoop()
{
    QFETCH(QString, loop);
    QFETCH(bool, later);
    if (loop == u"start-up error box")
        writeSettings(m_dir->path(), "DBServerName=sqlite:missing.db\nRefreshInterval=30\n");
    if (loop == u"header click error box") {
        // A site's view without the Assigned To field: that header cannot sort.
        execSqlite(m_db, {QStringLiteral("DROP VIEW vw_QX_WorkOrdersGrid"),
                          QStringLiteral("CREATE VIEW vw_QX_WorkOrdersGrid AS SELECT WO_Nbr, AssetCode, Status, "
                                         "Priority, DateLoaded, WorkRequest AS Notes, IsPM, DivisionID, "
                                         "DepartmentID FROM WO_WorkOrders")});
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
            modal->findChild<QComboBox *>(QStringLiteral("cboAssetCode"))->setEditText(QStringLiteral("NO-SUCH"));
            modal->findChild<QPushButton *>(QStringLiteral("cmdOK"))->click();
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
        execSqlite(m_db, {QStringLiteral("DROP VIEW vw_QX_WorkOrdersGrid")});

    if (loop == u"start-up error box") {
        letStartUpFinish();
    } else if (loop == u"RefreshData error box") {
        QVERIFY(!control->RefreshData());
    } else if (loop == u"timer tick error box") {
        control->findChild<QTimer *>(QStringLiteral("Timer1"))->start(10);
    } else if (loop == u"ConnectToServer error box") {
        control->setDBServerName(QStringLiteral("sqlite:gone.db"));
        QVERIFY(!control->ConnectToServer());
    } else if (loop == u"request box") {
        doubleClickRow(gridNamed(control, "grdWorkOrders"), 3);
    } else if (loop == u"header click error box") {
        QHeaderView *header = static_cast<QTableView *>(gridNamed(control, "grdWorkOrders"))->horizontalHeader();
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {},
                          QPoint(header->sectionViewportPosition(7) + 5, header->height() / 2));
    } else if (loop == u"New WO dialog" || loop == u"Invalid Asset box") {
        QTest::mouseClick(control->findChild<QPushButton *>(QStringLiteral("cmdNewWO")), Qt::LeftButton);
    } else if (loop == u"Configure dialog") {
        control->findChild<QPushButton *>(QStringLiteral("cmdConfig"))->click();
    } else if (loop == u"About box") {
        control->findChild<QPushButton *>(QStringLiteral("cmdAbout"))->click();
    } else if (loop == u"preview window") {
        control->setViewMode(QStringLiteral("Linked Files"));
        doubleClickRow(gridNamed(control, "TDBGrid1"), 1);
    }

    QTRY_VERIFY_WITH_TIMEOUT(destroyed, 20000);
    QTRY_VERIFY(!control);
    host.reset();
    // Every window the loop had open is gone with it.
    QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
}

QTEST_MAIN(NestedLoopsTest)
#include "tst_nestedloops.moc"

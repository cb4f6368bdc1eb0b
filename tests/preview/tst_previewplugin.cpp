// A host that knows nothing of Qt WebEngine: it does not link the control's library and
// creates its application object before loading the control through the plugin. Opening
// a linked file must then fall back to the desktop's browser instead of crashing.

#include "demodata.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QMessageBox>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUiLoader>

class PreviewPluginTest : public QObject
{
    Q_OBJECT
public Q_SLOTS:
    /// Receives what QDesktopServices::openUrl() would hand to the desktop.
    void openInBrowser(const QUrl &url) { m_urls << url.path(); }

private Q_SLOTS:
    void previewFallsBackToTheDesktopBrowser();

private:
    QStringList m_urls;
};

void PreviewPluginTest::previewFallsBackToTheDesktopBrowser()
{
    QVERIFY(!QCoreApplication::testAttribute(Qt::AA_ShareOpenGLContexts));
    QTemporaryDir dir;
    Orvantel::DemoData::createSqliteFile(dir.filePath(u"plant.db"_qs), {20, 0});
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(u"QSQLITE"_qs, u"files"_qs);
        db.setDatabaseName(dir.filePath(u"plant.db"_qs));
        QVERIFY(db.open()
                && QSqlQuery(db).exec(
                        u"INSERT INTO GS_LinkedFiles (AssetCode, DocType, DocDescr, FileName) "
                        "SELECT MIN(AssetCode), 'Photo', 'Front', 'front #1.png' FROM GS_Assets "
                        "UNION ALL SELECT MIN(AssetCode), 'Photo', 'Back', 'back.png' FROM GS_Assets"_qs));
    }
    QSqlDatabase::removeDatabase(u"files"_qs);
    QFile settings(dir.filePath(u"OrvantelWO.ini"_qs));
    QVERIFY(settings.open(QIODevice::WriteOnly));
    settings.write("[Orvantel]\nDBServerName=sqlite:plant.db\nRefreshInterval=0\n");
    settings.close();
    qputenv("ORVANTEL_CONFIG_DIR", QFile::encodeName(dir.path()));
    QDesktopServices::setUrlHandler(u"http"_qs, this, "openInBrowser");

    QUiLoader loader;
    loader.clearPluginPaths();
    loader.addPluginPath(QStringLiteral(ORVANTEL_PLUGIN_DIR));
    std::unique_ptr<QWidget> grid(loader.createWidget(u"WorkOrdersGrid"_qs));
    QVERIFY2(grid, qPrintable(loader.errorString()));
    QCOMPARE(grid->metaObject()->className(), "WorkOrdersGrid"); // created by its class name
    grid->show();
    QVERIFY(QTest::qWaitForWindowExposed(grid.get()));
    QVERIFY(grid->setProperty("ViewChoice", QVariant::fromValue(qint16(3))));
    auto *files = grid->findChild<QTableView *>(u"TDBGrid1"_qs);
    QTRY_COMPARE(files->model()->rowCount(), 2);

    QStringList boxes; // answered, and what they said
    QTimer answer;
    connect(&answer, &QTimer::timeout, this, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            boxes << box->text();
            box->button(QMessageBox::Ok)->click();
        }
    });
    answer.start(10);
    for (int row : {0, 1}) { // the "..." button of each row
        QTest::mouseClick(files->viewport(), Qt::LeftButton, {},
                          files->visualRect(files->model()->index(row, 3)).center());
        QCoreApplication::processEvents(); // the grid's events reach the control from the event loop
    }
    QDesktopServices::unsetUrlHandler(u"http"_qs);
    QCOMPARE(m_urls, (QStringList {u"/Orvantel/ItemImages/front #1.png"_qs, u"/Orvantel/ItemImages/back.png"_qs}));
    QCOMPARE(boxes.size(), 1); // said once, not on every open
    QVERIFY2(boxes.first().contains(u"desktop's web browser"_qs), qPrintable(boxes.first()));
    QVERIFY(!grid->findChild<QWidget *>(u"Form1"_qs));
}

QTEST_MAIN(PreviewPluginTest)
#include "tst_previewplugin.moc"

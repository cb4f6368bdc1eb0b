// A host that knows nothing of Qt WebEngine: it does not link the control's library and
// creates its application object before loading the control through the plugin. Opening
// a linked file must then fall back to the desktop's browser instead of crashing.

#include "demodata.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDesktopServices>
#include <QFile>
#include <QMessageBox>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUiLoader>
#include <QUrl>

/// Receives what QDesktopServices::openUrl() would hand to the desktop.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;

public Q_SLOTS:
    void open(const QUrl &url) { urls << url; }
};

class PreviewPluginTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void previewFallsBackToTheDesktopBrowser();
};

void PreviewPluginTest::previewFallsBackToTheDesktopBrowser()
{
    QVERIFY(!QCoreApplication::testAttribute(Qt::AA_ShareOpenGLContexts));
    QTemporaryDir dir;
    Orvantel::DemoData::createSqliteFile(dir.filePath(u"plant.db"_qs), {20, 5});
    QFile settings(dir.filePath(u"OrvantelWO.ini"_qs));
    QVERIFY(settings.open(QIODevice::WriteOnly));
    settings.write("[Orvantel]\nDBServerName=sqlite:plant.db\nRefreshInterval=0\n");
    settings.close();
    qputenv("ORVANTEL_CONFIG_DIR", QFile::encodeName(dir.path()));
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(u"http"_qs, &catcher, "open");
    QDesktopServices::setUrlHandler(u"https"_qs, &catcher, "open");

    QUiLoader loader;
    loader.clearPluginPaths();
    loader.addPluginPath(QStringLiteral(ORVANTEL_PLUGIN_DIR));
    std::unique_ptr<QWidget> grid(loader.createWidget(u"WorkOrdersGrid"_qs));
    QVERIFY2(grid, qPrintable(loader.errorString()));
    grid->show();
    QVERIFY(QTest::qWaitForWindowExposed(grid.get()));
    QVERIFY(grid->setProperty("ViewChoice", QVariant::fromValue(qint16(3))));
    auto *files = grid->findChild<QTableView *>(u"TDBGrid1"_qs);
    QVERIFY(files);
    QTRY_COMPARE(files->model()->rowCount(), 5);

    QStringList boxes; // answered, and what they said
    QTimer answer;
    connect(&answer, &QTimer::timeout, this, [&] {
        if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            boxes << box->text();
            box->button(QMessageBox::Ok)->click();
        }
    });
    answer.start(10);
    for (int row : {0, 1}) { // the "..." button of the first two rows
        QTest::mouseClick(files->viewport(), Qt::LeftButton, {},
                          files->visualRect(files->model()->index(row, 3)).center());
        QCoreApplication::processEvents(); // the grid's events reach the control from the event loop
    }
    QDesktopServices::unsetUrlHandler(u"http"_qs);
    QDesktopServices::unsetUrlHandler(u"https"_qs);
    QCOMPARE(catcher.urls.size(), 2);
    for (int row : {0, 1}) {
        const QString name = files->model()->index(row, 2).data().toString();
        QCOMPARE(catcher.urls.at(row).path(), u"/Orvantel/ItemImages/"_qs + name);
    }
    QCOMPARE(boxes.size(), 1); // said once, not on every open
    QVERIFY2(boxes.first().contains(u"desktop's web browser"_qs), qPrintable(boxes.first()));
    QVERIFY(!grid->findChild<QWidget *>(u"Form1"_qs));
}

QTEST_MAIN(PreviewPluginTest)
#include "tst_previewplugin.moc"

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
#include <QUrl>

namespace {

/// Receives what QDesktopServices::openUrl() would hand to the desktop.
class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> urls;

public Q_SLOTS:
    void open(const QUrl &url) { urls << url; }
};

} // namespace

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
    const QString database = dir.filePath(QStringLiteral("plant.db"));
    Orvantel::DemoData::createSqliteFile(database, {20, 5});
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("plugin-test"));
        db.setDatabaseName(database);
        QVERIFY(db.open());
        QSqlQuery q(db);
        QVERIFY(q.exec(QStringLiteral("UPDATE GS_LinkedFiles SET FileName = 'pump #' || FileID || '.png'")));
    }
    QSqlDatabase::removeDatabase(QStringLiteral("plugin-test"));
    QFile settings(dir.filePath(QStringLiteral("OrvantelWO.ini")));
    QVERIFY(settings.open(QIODevice::WriteOnly));
    settings.write("[Orvantel]\nDBServerName=sqlite:plant.db\nRefreshInterval=0\n");
    settings.close();
    qputenv("ORVANTEL_CONFIG_DIR", QFile::encodeName(dir.path()));

    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &catcher, "open");
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher, "open");

    QUiLoader loader;
    loader.clearPluginPaths();
    loader.addPluginPath(QStringLiteral(ORVANTEL_PLUGIN_DIR));
    std::unique_ptr<QWidget> grid(loader.createWidget(QStringLiteral("WorkOrdersGrid")));
    QVERIFY2(grid, qPrintable(loader.errorString()));
    grid->resize(760, 220);
    grid->show();
    QVERIFY(QTest::qWaitForWindowExposed(grid.get()));
    QVERIFY(grid->setProperty("ViewChoice", QVariant::fromValue(qint16(3))));
    auto *files = grid->findChild<QTableView *>(QStringLiteral("TDBGrid1"));
    QVERIFY(files);
    QTRY_VERIFY(files->isVisible());
    QCOMPARE(files->model()->rowCount(), 5);

    // Answer the information box and count what was shown.
    QStringList boxes;
    QTimer answer;
    connect(&answer, &QTimer::timeout, this, [&] {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            auto *box = qobject_cast<QMessageBox *>(w);
            if (box && box->isVisible()) {
                boxes << box->text();
                box->button(QMessageBox::Ok)->click();
            }
        }
    });
    answer.start(10);

    for (int row : {0, 1}) {
        const QPoint at = files->visualRect(files->model()->index(row, 3)).center();
        QTest::mouseClick(files->viewport(), Qt::LeftButton, {}, at);
    }
    QCOMPARE(catcher.urls.size(), 2);
    QCOMPARE(catcher.urls.at(0).path(), QStringLiteral("/Orvantel/ItemImages/pump #1.png"));
    QCOMPARE(catcher.urls.at(1).path(), QStringLiteral("/Orvantel/ItemImages/pump #2.png"));
    QVERIFY(!catcher.urls.at(0).hasFragment());
    QCOMPARE(boxes.size(), 1); // said once, not on every open
    QVERIFY2(boxes.first().contains(QStringLiteral("desktop's web browser")), qPrintable(boxes.first()));
    QVERIFY(!grid->findChild<QWidget *>(QStringLiteral("Form1")));
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
}

QTEST_MAIN(PreviewPluginTest)
#include "tst_previewplugin.moc"

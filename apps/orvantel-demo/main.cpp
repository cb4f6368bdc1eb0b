// A host window for the work-orders control, on a demo plant database of its own, with
// the plant's linked files published by a small web server.

#include "demodata.h"
#include "hostpanel.h"
#include "linkedfileserver.h"

#include <workordersgrid.h>

#include <QApplication>
#include <QContextMenuEvent>
#include <QCommandLineParser>
#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <QStatusBar>
#include <QTableView>
#include <QTextStream>
#include <QTimer>
#include <QWebEnginePage>
#include <QWebEngineView>

namespace {

/// Writes the settings file the control reads at start-up.
bool writeSettings(const QString &dir, const QString &databaseFile)
{
    QFile file(dir + QStringLiteral("/OrvantelWO.ini"));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return false;
    QTextStream out(&file);
    out << "[Orvantel]\n"
        << "DBServerName=sqlite:" << databaseFile << "\n"
        << "DBDatabaseName=Maintenance\n"
        << "DBUserID=\n"
        << "DBPassword=\n"
        << "RefreshInterval=30\n"
        << "AssetList=\n"
        << "IncludePMWOs=1\n"
        << "Division=\n"
        << "Department=\n";
    return true;
}

/// A left click as the operator makes it.
void clickAt(QWidget *widget, const QPoint &at)
{
    const QPointF global = widget->mapToGlobal(QPointF(at));
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(at), global, Qt::LeftButton, Qt::LeftButton, {});
    QCoreApplication::sendEvent(widget, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(at), global, Qt::LeftButton, Qt::NoButton, {});
    QCoreApplication::sendEvent(widget, &release);
}

/// Clicks the "..." button of a row of the linked-files grid; the preview it opens is
/// modal, so this returns when the preview is closed. False when there is no such row.
bool openLinkedFile(WorkOrdersGrid *grid, int row)
{
    auto *files = grid->findChild<QTableView *>(QStringLiteral("TDBGrid1"));
    if (!files)
        return false;
    if (files->isHidden())
        grid->setProperty("ViewChoice", QVariant::fromValue(qint16(3)));
    const int buttonColumn = files->model()->columnCount() - 1;
    if (row < 0 || row >= files->model()->rowCount() || files->isHidden())
        return false;
    const QModelIndex index = files->model()->index(row, buttonColumn);
    files->scrollTo(index);
    clickAt(files->viewport(), files->visualRect(index).center());
    return true;
}

/// Once the preview window is open and its page has loaded, saves a picture of it to
/// file and closes it. done(saved) runs at the end, also when no preview appears.
void capturePreview(const QString &file, const std::function<void(bool)> &done)
{
    auto *poll = new QTimer;
    auto *clock = new QElapsedTimer;
    clock->start();
    auto loadedAt = std::make_shared<qint64>(-1);
    QObject::connect(poll, &QTimer::timeout, [=] {
        QWidget *form = QApplication::activeModalWidget();
        auto *view = form && form->objectName() == QLatin1String("Form1")
                ? form->findChild<QWebEngineView *>(QStringLiteral("WebBrowser1"))
                : nullptr;
        const bool timedOut = clock->elapsed() > 30000;
        if (!view && !timedOut)
            return;
        if (view && *loadedAt < 0 && !timedOut) {
            if (view->page()->isLoading() || view->url().isEmpty() || clock->elapsed() < 1000)
                return;
            *loadedAt = clock->elapsed(); // loaded: give the page a moment to be painted
        }
        if (view && !timedOut && clock->elapsed() - *loadedAt < 800)
            return;
        poll->stop();
        poll->deleteLater();
        delete clock;
        bool saved = false;
        if (view) {
            saved = form->grab().save(file, "PNG");
            form->close();
        } else {
            qCritical("no preview window appeared");
        }
        done(saved);
    });
    poll->start(50);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("orvantel-demo"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Shows the work-orders control on a demo plant database."));
    parser.addHelpOption();
    const QCommandLineOption dataDirOption(QStringLiteral("data-dir"),
                                           QStringLiteral("Folder for the demo database and settings file."),
                                           QStringLiteral("dir"));
    const QCommandLineOption screenshotOption(
            QStringLiteral("screenshot"),
            QStringLiteral("Render the window (with --preview: the preview window) to a PNG file and quit."),
            QStringLiteral("file"));
    const QCommandLineOption viewOption(QStringLiteral("view"),
                                        QStringLiteral("Show view N: 0 open, 1 PMs, 2 history, 3 linked files."),
                                        QStringLiteral("N"));
    const QCommandLineOption sortOption(QStringLiteral("sort"),
                                        QStringLiteral("Click the header of work-order column N (repeatable)."),
                                        QStringLiteral("N"));
    const QCommandLineOption previewOption(
            QStringLiteral("preview"),
            QStringLiteral("Open the linked file of row N of the linked-files view (0 is the first row)."),
            QStringLiteral("N"));
    const QCommandLineOption menuOption(
            QStringLiteral("menu"),
            QStringLiteral("Select the first three work orders and open the grid's context menu (for --screenshot)."));
    parser.addOption(menuOption);
    parser.addOption(dataDirOption);
    parser.addOption(screenshotOption);
    parser.addOption(viewOption);
    parser.addOption(sortOption);
    parser.addOption(previewOption);
    parser.process(app);

    const QString dataDir = QDir(parser.isSet(dataDirOption) ? parser.value(dataDirOption)
                                                             : QDir::currentPath() + QStringLiteral("/demo-data"))
                                    .absolutePath();
    if (!QDir().mkpath(dataDir)) {
        qCritical("cannot create %s", qPrintable(dataDir));
        return 1;
    }
    const QString databaseFile = QStringLiteral("orvantel-demo.db");
    const QString filesFolder = dataDir + QStringLiteral("/ItemImages");
    try {
        // Dated around today, so the open work orders are recent and the PMs upcoming.
        Orvantel::DemoData::Options plant;
        plant.today = QDate::currentDate();
        Orvantel::DemoData::createSqliteFile(dataDir + u'/' + databaseFile, plant);
        Orvantel::DemoData::writeLinkedFiles(filesFolder);
    } catch (const std::exception &e) {
        qCritical("cannot create the demo database: %s", e.what());
        return 1;
    }
    if (!writeSettings(dataDir, databaseFile)) {
        qCritical("cannot write the settings file in %s", qPrintable(dataDir));
        return 1;
    }
    qputenv("ORVANTEL_CONFIG_DIR", QFile::encodeName(dataDir));

    // The control opens linked files at the address it was built with; publish them there.
    const QUrl filesBase(QStringLiteral(ORVANTEL_PREVIEW_BASE_URL));
    LinkedFileServer server(filesFolder);
    QString serverError;
    const bool serving = server.listen(filesBase, &serverError);
    if (!serving)
        qWarning("linked files are not served: %s", qPrintable(serverError));

    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Orvantel Work Orders — demo host"));
    auto *central = new QWidget(&window);
    auto *layout = new QHBoxLayout(central);
    auto *grid = new WorkOrdersGrid(central);
    auto *panel = new HostPanel(grid, central);
    panel->setFixedWidth(330);
    layout->addWidget(grid, 1);
    layout->addWidget(panel);
    window.setCentralWidget(central);
    window.statusBar()->addWidget(new QLabel(
            serving ? QStringLiteral("Linked files published at %1 from %2").arg(filesBase.toString(), filesFolder)
                    : QStringLiteral("Linked files are not published: %1").arg(serverError)));
    // The control at its designed width to start with; it follows the window from there.
    const QMargins margins = layout->contentsMargins();
    window.resize(margins.left() + grid->sizeHint().width() + layout->spacing() + panel->width() + margins.right(),
                  560);

    window.show(); // the control reads its settings and loads
    if (parser.isSet(viewOption))
        grid->setProperty("ViewChoice", QVariant::fromValue(qint16(parser.value(viewOption).toShort())));
    if (auto *workOrders = grid->findChild<QTableView *>(QStringLiteral("grdWorkOrders"))) {
        for (const QString &column : parser.values(sortOption)) {
            QHeaderView *header = workOrders->horizontalHeader();
            const int index = column.toInt();
            const QPoint at(header->sectionViewportPosition(index) + header->sectionSize(index) / 2,
                            header->height() / 2);
            clickAt(header->viewport(), at);
        }
    }

    const bool screenshot = parser.isSet(screenshotOption);
    const QString shotFile = parser.value(screenshotOption);
    if (parser.isSet(previewOption)) {
        const int row = parser.value(previewOption).toInt();
        if (screenshot) {
            capturePreview(shotFile, [&](bool saved) {
                if (!saved)
                    qCritical("cannot write %s", qPrintable(shotFile));
                // Quit once the preview's modal loop has ended.
                QTimer::singleShot(0, &app, [saved] { QApplication::exit(saved ? 0 : 1); });
            });
        }
        QTimer::singleShot(300, &app, [grid, row, screenshot] {
            if (!openLinkedFile(grid, row)) {
                qCritical("the linked files have no row %d", row);
                if (screenshot)
                    QApplication::exit(1);
            }
        });
        return QApplication::exec();
    }

    QPointer<QMenu> menu;
    if (parser.isSet(menuOption)) {
        QTimer::singleShot(300, &app, [&] {
            auto *workOrders = grid->findChild<QTableView *>(QStringLiteral("grdWorkOrders"));
            if (!workOrders || workOrders->model()->rowCount() < 3)
                return;
            workOrders->setFocus();
            clickAt(workOrders->viewport(), workOrders->visualRect(workOrders->model()->index(0, 1)).center());
            const QRect third = workOrders->visualRect(workOrders->model()->index(2, 1));
            QMouseEvent press(QEvent::MouseButtonPress, QPointF(third.center()),
                              workOrders->viewport()->mapToGlobal(QPointF(third.center())), Qt::LeftButton,
                              Qt::LeftButton, Qt::ShiftModifier);
            QCoreApplication::sendEvent(workOrders->viewport(), &press);
            QContextMenuEvent request(QContextMenuEvent::Mouse, third.center(),
                                      workOrders->viewport()->mapToGlobal(third.center()));
            QCoreApplication::sendEvent(workOrders->viewport(), &request);
            menu = workOrders->findChild<QMenu *>();
        });
    }

    if (screenshot) {
        QTimer::singleShot(500, &app, [&] {
            QPixmap picture = window.grab();
            if (menu && menu->isVisible()) {
                // The menu is a window of its own: drawn onto the picture where it opened.
                QPainter painter(&picture);
                painter.drawPixmap(window.mapFromGlobal(menu->pos()), menu->grab());
            }
            const bool saved = picture.save(shotFile, "PNG");
            if (!saved)
                qCritical("cannot write %s", qPrintable(shotFile));
            QApplication::exit(saved ? 0 : 1);
        });
    }
    return QApplication::exec();
}

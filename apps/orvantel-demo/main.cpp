// A host window for the work-orders control, on a demo plant database of its own.

#include "demodata.h"

#include <workordersgrid.h>

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QTableView>
#include <QMouseEvent>
#include <QMainWindow>
#include <QTextStream>
#include <QTimer>
#include <QVBoxLayout>

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
    const QCommandLineOption screenshotOption(QStringLiteral("screenshot"),
                                              QStringLiteral("Render the window to a PNG file and quit."),
                                              QStringLiteral("file"));
    const QCommandLineOption viewOption(QStringLiteral("view"),
                                        QStringLiteral("Show view N: 0 open, 1 PMs, 2 history, 3 linked files."),
                                        QStringLiteral("N"));
    const QCommandLineOption sortOption(QStringLiteral("sort"),
                                        QStringLiteral("Click the header of work-order column N (repeatable)."),
                                        QStringLiteral("N"));
    parser.addOption(dataDirOption);
    parser.addOption(screenshotOption);
    parser.addOption(viewOption);
    parser.addOption(sortOption);
    parser.process(app);

    const QString dataDir = QDir(parser.isSet(dataDirOption) ? parser.value(dataDirOption)
                                                             : QDir::currentPath() + QStringLiteral("/demo-data"))
                                .absolutePath();
    if (!QDir().mkpath(dataDir)) {
        qCritical("cannot create %s", qPrintable(dataDir));
        return 1;
    }
    const QString databaseFile = QStringLiteral("orvantel-demo.db");
    try {
        Orvantel::DemoData::createSqliteFile(dataDir + u'/' + databaseFile);
        Orvantel::DemoData::writeLinkedFiles(dataDir + QStringLiteral("/ItemImages"));
    } catch (const std::exception &e) {
        qCritical("cannot create the demo database: %s", e.what());
        return 1;
    }
    if (!writeSettings(dataDir, databaseFile)) {
        qCritical("cannot write the settings file in %s", qPrintable(dataDir));
        return 1;
    }
    qputenv("ORVANTEL_CONFIG_DIR", QFile::encodeName(dataDir));

    QMainWindow window;
    window.setWindowTitle(QStringLiteral("Orvantel Work Orders — demo host"));
    auto *central = new QWidget(&window);
    auto *layout = new QVBoxLayout(central);
    auto *grid = new WorkOrdersGrid(central);
    layout->addWidget(grid);
    window.setCentralWidget(central);
    window.resize(900, 420);

    // The control configures itself from the settings file once it is shown.
    window.show();  // the control reads its settings and loads
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

    if (parser.isSet(screenshotOption)) {
        const QString file = parser.value(screenshotOption);
        QTimer::singleShot(500, &app, [&] {
            const bool saved = window.grab().save(file, "PNG");
            if (!saved)
                qCritical("cannot write %s", qPrintable(file));
            QApplication::exit(saved ? 0 : 1);
        });
        return QApplication::exec();
    }
    return QApplication::exec();
}

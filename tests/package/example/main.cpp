// The application of the README ("Using the control in an application"), made to end by
// itself: it has no settings file and names no server, so start-up connects to nothing and
// opens no box, and it quits after that first turn of the event loop. It also creates the
// control from a form, as Qt Designer does, through the Designer plugin of the unpacked root
// (argv[1]), which must sit where this Qt looks for plugins.
#include <workordersgrid.h>

#include <QApplication>
#include <QLibraryInfo>
#include <QMainWindow>
#include <QTimer>
#include <QUiLoader>

#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QMainWindow window;
    auto *grid = new WorkOrdersGrid(&window); // reads OrvantelWO.ini
    grid->setProperty("AssetList", QStringLiteral("P-101,P-102"));
    grid->setProperty("ViewChoice", 1); // the upcoming PMs
    window.setCentralWidget(grid);
    window.show();

    QCoreApplication::addLibraryPath(QString::fromLocal8Bit(argv[1]) + QLibraryInfo::path(QLibraryInfo::PluginsPath));
    QWidget *fromForm = QUiLoader().createWidget(QStringLiteral("WorkOrdersGrid"), &window);
    if (!qobject_cast<WorkOrdersGrid *>(fromForm)) {
        std::fprintf(stderr, "the Designer plugin did not create a WorkOrdersGrid\n");
        return 1;
    }
    // Queued after the controls' start-up; were start-up showing a box, this would run inside
    // the box's loop.
    QTimer::singleShot(0, &app, [&app] {
        if (QWidget *box = QApplication::activeModalWidget()) {
            std::fprintf(stderr, "a box is open after start-up: %s\n", qPrintable(box->windowTitle()));
            app.exit(1);
            return;
        }
        app.quit();
    });
    return app.exec(); // connects and loads at the first turn
}

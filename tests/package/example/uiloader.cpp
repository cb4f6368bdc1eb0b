// Loads the Designer plugin as Qt Designer and QUiLoader do: from the "designer" folder of a
// plugin path. Prints Qt's own plugin folder, where Qt Designer looks, for the test to
// compare with the plugin's place in its package.
#include <QApplication>
#include <QLibraryInfo>
#include <QUiLoader>
#include <QWidget>

#include <cstdio>
#include <memory>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    std::printf("%s\n", qPrintable(QLibraryInfo::path(QLibraryInfo::PluginsPath)));

    QUiLoader loader;
    if (!loader.availableWidgets().contains(QStringLiteral("WorkOrdersGrid"))) {
        std::fprintf(stderr, "QUiLoader does not offer WorkOrdersGrid; it searches %s\n",
                     qPrintable(loader.pluginPaths().join(QLatin1Char(':'))));
        return 1;
    }
    const std::unique_ptr<QWidget> grid(loader.createWidget(QStringLiteral("WorkOrdersGrid")));
    if (!grid || qstrcmp(grid->metaObject()->className(), "WorkOrdersGrid") != 0) {
        std::fprintf(stderr, "QUiLoader did not create a WorkOrdersGrid\n");
        return 1;
    }
    return 0;
}

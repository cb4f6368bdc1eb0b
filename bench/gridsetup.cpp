#include "gridsetup.h"

#include "messagebox.h"
#include "workordersgrid.h"
#include "workordersgrid_p.h"
#include "recordset.h"
#include "datagrid.h"

#include <QApplication>
#include <QFileInfo>
#include <QMessageBox>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>

namespace Bench {

namespace {

QStringList s_messages;

void closeOpenBoxes()
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        if (auto *box = qobject_cast<QMessageBox *>(widget); box && box->isVisible())
            box->done(QMessageBox::Ok);
    }
}

void watchMessage(const QString &text, const QString &title, Orvantel::MessageStyle)
{
    s_messages << title + QStringLiteral(": ") + text;
    // Runs inside the box's own event loop, once exec() has started it.
    QTimer::singleShot(0, qApp, closeOpenBoxes);
}

/// An empty folder for ORVANTEL_CONFIG_DIR, so that start-up finds no settings file.
QString emptySettingsFolder()
{
    static QTemporaryDir folder;
    return folder.path();
}

} // namespace

Server Server::sqlite(const QString &path)
{
    return {QStringLiteral("sqlite:") + QFileInfo(path).absoluteFilePath(), {}, {}, {}};
}

Server Server::postgresql(const PgSettings &settings)
{
    return {QStringLiteral("postgresql://%1:%2").arg(settings.host).arg(settings.port), settings.dbname, settings.user,
            settings.password};
}

void installMessageWatcher()
{
    Orvantel::setMessageObserver(watchMessage);
}

QString takeMessages()
{
    const QString text = s_messages.join(u'\n');
    s_messages.clear();
    return text;
}

std::unique_ptr<WorkOrdersGrid> connectedGrid(const Server &server)
{
    qputenv("ORVANTEL_CONFIG_DIR", QFile::encodeName(emptySettingsFolder()));
    auto grid = std::make_unique<WorkOrdersGrid>();
    grid->resize(grid->sizeHint());
    grid->show();
    QApplication::processEvents();

    takeMessages();
    grid->setDBServerName(server.name);
    grid->setDBDatabaseName(server.database);
    grid->setDBUserID(server.user);
    grid->setDBPassword(server.password);
    if (!grid->ConnectToServer())
        throw Failure(QStringLiteral("the control cannot connect to %1: %2").arg(server.name, takeMessages()));
    WorkOrdersGridPrivate::get(grid.get())->optView[3]->setChecked(true);
    QApplication::processEvents();
    return grid;
}

void refreshOrThrow(WorkOrdersGrid &grid)
{
    if (!grid.RefreshData())
        throw Failure(QStringLiteral("RefreshData failed: ") + takeMessages());
}

qint64 currentWorkOrder(WorkOrdersGrid &grid)
{
    Orvantel::DataGrid *view = WorkOrdersGridPrivate::get(&grid)->grdWorkOrders;
    const int row = view->currentRowIndex();
    Orvantel::Recordset *rs = view->recordset();
    if (row < 0 || !rs)
        return -1;
    return rs->value(row, rs->fieldIndex(QStringLiteral("WO_Nbr"))).toLongLong();
}

} // namespace Bench

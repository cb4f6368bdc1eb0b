#include "workordersgrid_p.h"

#include "datagrid.h"
#include "gridexport.h"
#include "hourglass.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QProgressDialog>
#include <QRadioButton>
#include <QStandardPaths>

#include <memory>

using namespace Orvantel;

void WorkOrdersGridPrivate::setUpCopyAndExport()
{
    // Two linked-file rows of one file name are selected together again after a reload.
    grdWorkOrders->setSelectionKey(QStringLiteral("WO_Nbr"));
    TDBGrid1->setSelectionKey(QStringLiteral("FileName"));
    for (DataGrid *grid : {grdWorkOrders, TDBGrid1}) {
        QObject::connect(grid, &DataGrid::ExportRequested, q,
                         [this, grid] { entry(QStringLiteral("Export Error"), [&] { exportGrid(grid); }); });
    }
}

void WorkOrdersGridPrivate::exportGrid(DataGrid *grid)
{
    // Offered under the view's caption: "Open WOs.csv", "Linked Files.csv".
    const View view = grid == TDBGrid1 ? LinkedFilesView : selectedWorkOrderView();
    // A folder that exists: else the dialog opens wherever a file dialog of the process, or
    // of an earlier run, was last.
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (!QFileInfo(folder).isDir())
        folder = QDir::homePath();
    auto dialog = std::make_unique<QFileDialog>(nullptr, QStringLiteral("Export"),
                                                QDir(folder).filePath(optView[size_t(view)]->text() + u".csv"),
                                                QStringLiteral("CSV files (*.csv);;All files (*)"));
    dialog->setObjectName(QStringLiteral("exportFileDialog"));
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setDefaultSuffix(QStringLiteral("csv"));
    // Qt's own dialog on every platform: the same for every host, and one that closes as by
    // Cancel when the host destroys the control meanwhile.
    dialog->setOption(QFileDialog::DontUseNativeDialog);
    showDialog(dialog.get(), [&] { dialog->exec(); });
    if (dialog->result() != QDialog::Accepted || dialog->selectedFiles().isEmpty())
        return;
    const QString fileName = dialog->selectedFiles().constFirst();
    dialog.reset();

    const int rows = grid->rowCount();
    if (rows <= GridExport::BackgroundRows) {
        const Hourglass hourglass;
        QString error;
        if (!grid->exportCsv(fileName, &error))
            throw ControlError(ControlError::FileAccess, error);
        return;
    }

    GridExport job(grid, fileName);
    auto progress = std::make_unique<QProgressDialog>(
            QStringLiteral("Exporting %1 rows to %2").arg(rows).arg(QFileInfo(fileName).fileName()),
            QStringLiteral("Cancel"), 0, rows);
    QProgressDialog *bar = progress.get();
    bar->setObjectName(QStringLiteral("exportProgress"));
    bar->setWindowTitle(QStringLiteral("Export"));
    bar->setMinimumDuration(0);
    bar->setAutoReset(false);
    bar->setAutoClose(false);
    // Queued: a modal progress dialog runs the event loop inside setValue(), which must not
    // happen inside a slice of the export.
    QObject::connect(
            &job, &GridExport::progress, bar,
            [bar](int read, int total) {
                bar->setMaximum(total);
                bar->setValue(read);
            },
            Qt::QueuedConnection);
    // Cancel (or Esc, or the close box) ends the dialog unfinished: the job then discards the file.
    QObject::connect(&job, &GridExport::finished, bar, [bar] { bar->done(QDialog::Accepted); });
    job.start();
    if (!job.isFinished())
        showDialog(bar, [&] { bar->exec(); });
    if (!job.isFinished())
        return;
    if (!job.errorString().isEmpty())
        throw ControlError(ControlError::FileAccess, job.errorString());
}

DataGrid *WorkOrdersGridPrivate::shownGrid() const
{
    return TDBGrid1->isHidden() ? grdWorkOrders : TDBGrid1;
}

void WorkOrdersGrid::copyRows()
{
    d->shownGrid()->copySelection();
}

void WorkOrdersGrid::exportRows()
{
    d->entry(QStringLiteral("Export Error"), [this] { d->exportGrid(d->shownGrid()); });
}

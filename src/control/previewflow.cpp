#include "messagebox.h"
#include "workordersgrid_p.h"
#include "datagrid.h"
#include "form1.h"
#include "gridcolumns.h"
#include "previewaddress.h"

using namespace Orvantel;

void WorkOrdersGridPrivate::TDBGrid1_ButtonClick(int)
{
    // The column clicked does not matter: the file is always the current row's.
    if (TDBGrid1->currentRowIndex() < 0)
        return;
    const QVariant value = TDBGrid1->column(LfFileNameColumn)->value();
    const QString fileName = value.isValid() ? value.toString() : QString();
    if (namesAFolder(fileName))
        return; // no file to show; the server would list the folder
    if (leavesBaseFolder(fileName)) {
        modal([&] {
            showMessage(refusedFileNameText(fileName), QStringLiteral("Preview"), MessageStyle::Exclamation, q);
        });
        return;
    }
    modal([&] { openPreview(q, previewAddress(previewBaseUrl(), fileName)); });
}

void WorkOrdersGridPrivate::TDBGrid1_DblClick()
{
    TDBGrid1_ButtonClick(LfFileNameColumn);
}

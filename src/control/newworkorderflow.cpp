#include "workordersgrid_p.h"

#include "frmnewwo.h"
#include "limitedtextedit.h"

#include "messagebox.h"
#include "lookups.h"
#include "recordset.h"
#include "datagrid.h"

#include <QComboBox>

#include <memory>

using namespace Orvantel;

namespace {

/// The AssetCode of the grid's current row; invalid when the value is NULL or missing.
QVariant currentAssetCode(const DataGrid *grid)
{
    return grid->column(QStringLiteral("AssetCode"))->value();
}

} // namespace

void WorkOrdersGridPrivate::cmdNewWO_Click()
{
    // The form is unloaded on every way out, errors included.
    auto form = std::make_unique<frmNewWO>();

    form->cboAssetCode->clear();
    if (!trimSpaces(AssetList).isEmpty()) {
        form->cboAssetCode->addItems(assetListItems(AssetList));
        form->cboAssetCode->setCurrentIndex(-1);
    } else {
        LoadComboBox(form->cboAssetCode, QStringLiteral("GS_Assets"), QStringLiteral("AssetCode"), false,
                     QStringLiteral("Descr"));
    }
    LoadComboBox(form->cboRequestedBy, QStringLiteral("vw_WORequestedUsers"), QStringLiteral("UserID"), true,
                 QStringLiteral("Name"));
    form->cboRequestedBy->setEditText(RequestedBy);

    if (grdWorkOrders->rowCount() > 0) {
        const QVariant asset = currentAssetCode(grdWorkOrders);
        if (!asset.isValid() || asset.isNull())
            throw ControlError(ControlError::TypeMismatch,
                               QStringLiteral("The current work order has no asset code to offer"));
        form->cboAssetCode->setEditText(asset.toString());
    }

    showDialog(form.get(), [&] { form->exec(); });

    const QString assetCode = ComboItemCode(form->cboAssetCode->currentText());
    if (assetCode.isEmpty())
        return;

    if (!ValidateAsset(assetCode)) {
        modal([&] {
            showMessage(QStringLiteral("Asset Code ") + assetCode
                                + QStringLiteral(" not found.  Work Order not created."),
                        QStringLiteral("Invalid Asset"), MessageStyle::Exclamation, q);
        });
        return;
    }

    const qint16 priority = workOrderPriority(form->cboPriority->currentText());
    const QString workRequest = form->txtWorkRequest->toPlainText();
    const QString requester = workOrderRequester(form->cboRequestedBy->currentText());
    if (CreateWorkOrder(assetCode, priority, workRequest, requester)) {
        modal([&] {
            showMessage(QStringLiteral("Work order for asset ") + assetCode + QStringLiteral(" successfully created."),
                        QStringLiteral("Work Order Created"), MessageStyle::Information, q);
        });
    }
}

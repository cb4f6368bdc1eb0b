#include "workordersgrid_p.h"

#include "frmconfig.h"

#include "lookups.h"

#include <QCheckBox>
#include <QComboBox>

#include <memory>

using namespace Orvantel;

void WorkOrdersGridPrivate::cmdConfig_Click()
{
    // The form is unloaded on every way out, errors included.
    std::unique_ptr<frmConfig> form;
    handleErrors(QStringLiteral("Config Click Error"), [&] {
        form = std::make_unique<frmConfig>();
        LoadComboBox(form->cboDivision, QStringLiteral("GS_Divisions"), QStringLiteral("DivisionID"), true, QString());
        LoadComboBox(form->cboDepartment, QStringLiteral("GS_Departments"), QStringLiteral("DepartmentID"), true,
                     QString());

        form->sDBServerName = DBServerName;
        form->sDBDatabaseName = DBDatabaseName;
        form->sDBUserID = DBUserID;
        form->sDBPassword = DBPassword;
        form->iRefreshInterval = RefreshInterval;
        form->sAssetList = AssetList;
        form->chkIncludePMWOs->setChecked(IncludePMWOs);
        form->cboDivision->setEditText(Division);
        form->cboDepartment->setEditText(Department);

        showDialog(form.get(), [&] { form->ShowModal(); });
        // Nothing to apply after Cancel.
        if (form->sDBServerName.isEmpty())
            return;

        DBServerName = form->sDBServerName;
        DBDatabaseName = form->sDBDatabaseName;
        DBUserID = form->sDBUserID;
        DBPassword = form->sDBPassword;
        RefreshInterval = form->iRefreshInterval;
        AssetList = form->sAssetList;
        IncludePMWOs = form->chkIncludePMWOs->checkState() != Qt::Unchecked;
        Division = trimSpaces(form->cboDivision->currentText());
        Department = trimSpaces(form->cboDepartment->currentText());

        // A non-positive interval applies the values but neither reconnects nor touches the timer.
        if (RefreshInterval > 0)
            connectAndLoad(Fill::Always);
    });
}

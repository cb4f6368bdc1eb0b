#include "workordersgrid_p.h"

#include "frmconfig.h"
#include "lookupcalls_p.h"

#include "hourglass.h"
#include "lookups.h"

#include <QCheckBox>
#include <QComboBox>
#include <QTimer>

#include <memory>
#include <optional>

using namespace Orvantel;

void WorkOrdersGridPrivate::cmdConfig_Click()
{
    // The form is unloaded on every way out, errors included.
    std::unique_ptr<frmConfig> form;
    std::optional<Hourglass> hourglass;
    try {
        form = std::make_unique<frmConfig>();
        modal([&] {
            LookupCalls::LoadComboBox(q, m_sConnectString, form->cboDivision, QStringLiteral("GS_Divisions"),
                                      QStringLiteral("DivisionID"), true, QString());
        });
        modal([&] {
            LookupCalls::LoadComboBox(q, m_sConnectString, form->cboDepartment, QStringLiteral("GS_Departments"),
                                      QStringLiteral("DepartmentID"), true, QString());
        });

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

        if (RefreshInterval > 0) {
            hourglass.emplace();
            Timer1->setInterval(int(RefreshInterval) * 1000);
            connectToServer();
            refreshData();
            RefreshLinkedFiles();
            Timer1->start();
            hourglass.reset();
        }
    } catch (const ControlDestroyed &) {
        throw;
    } catch (...) {
        hourglass.reset();
        reportError(currentControlError(), QStringLiteral("Config Click Error"));
    }
}

#include "lookupcalls_p.h"

#include "messagebox.h"
#include "lookups.h"

#include <QComboBox>

namespace Orvantel::LookupCalls {

namespace {

void report(QWidget *control, const ControlError &error, const QString &title)
{
    showMessage(error.messageText(), title, MessageStyle::Exclamation, control);
}

} // namespace

void LoadComboBox(QWidget *control, const QString &connectString, QComboBox *combo, const QString &table,
                  const QString &keyColumn, bool addEmptyFirst, const QString &descriptionColumn)
{
    const ComboList list = Orvantel::LoadComboBox(connectString, table, keyColumn, addEmptyFirst, descriptionColumn);
    combo->clear();
    combo->addItems(list.items);
    // Adding items leaves the typed text alone: it stays empty after the clear.
    combo->setCurrentIndex(-1);
    if (list.error)
        report(control, *list.error, QStringLiteral("LoadComboBox Error"));
}

bool ValidateAsset(QWidget *control, const QString &connectString, const QString &assetCode)
{
    const AssetCheck check = Orvantel::ValidateAsset(connectString, assetCode);
    if (check.error)
        report(control, *check.error, QStringLiteral("ValidateAsset Error"));
    return check.exists;
}

bool CreateWorkOrder(QWidget *control, const QString &connectString, const QString &assetCode, qint16 priority,
                     const QString &workRequest, const QString &requestedBy)
{
    const std::optional<ControlError> error
            = Orvantel::CreateWorkOrder(connectString, assetCode, priority, workRequest, requestedBy);
    if (error)
        report(control, *error, QStringLiteral("CreateWorkOrder Error"));
    return !error;
}

} // namespace Orvantel::LookupCalls

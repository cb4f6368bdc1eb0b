#include "workordersgrid_p.h"

#include "lookups.h"

#include <QComboBox>

using namespace Orvantel;

void WorkOrdersGridPrivate::LoadComboBox(QComboBox *combo, const QString &table, const QString &keyColumn,
                                         bool addEmptyFirst, const QString &descriptionColumn)
{
    const ComboList list = Orvantel::LoadComboBox(m_sConnectString, table, keyColumn, addEmptyFirst, descriptionColumn);
    combo->clear();
    combo->addItems(list.items);
    // Adding items leaves the typed text alone: it stays empty after the clear.
    combo->setCurrentIndex(-1);
    if (list.error)
        reportError(*list.error, QStringLiteral("LoadComboBox Error"));
}

bool WorkOrdersGridPrivate::ValidateAsset(const QString &assetCode)
{
    const AssetCheck check = Orvantel::ValidateAsset(m_sConnectString, assetCode);
    if (check.error)
        reportError(*check.error, QStringLiteral("ValidateAsset Error"));
    return check.exists;
}

bool WorkOrdersGridPrivate::CreateWorkOrder(const QString &assetCode, qint16 priority, const QString &workRequest,
                                            const QString &requestedBy)
{
    const std::optional<ControlError> error
            = Orvantel::CreateWorkOrder(m_sConnectString, assetCode, priority, workRequest, requestedBy);
    if (error)
        reportError(*error, QStringLiteral("CreateWorkOrder Error"));
    return !error;
}

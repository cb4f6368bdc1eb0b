#pragma once

#include <QString>

class QComboBox;
class QWidget;

// The lookups of data/lookups.h as the dialog flows use them: each failure is shown in
// a message box titled after the lookup, parented to the control.
namespace Orvantel::LookupCalls {

/// Replaces the combo box's items; after a failure ("LoadComboBox Error") the items read
/// before it stay, the empty first item included.
void LoadComboBox(QWidget *control, const QString &connectString, QComboBox *combo, const QString &table,
                  const QString &keyColumn, bool addEmptyFirst, const QString &descriptionColumn);

/// True when the asset exists; a failed lookup ("ValidateAsset Error") counts as not found.
bool ValidateAsset(QWidget *control, const QString &connectString, const QString &assetCode);

/// True when the work order was created; otherwise the "CreateWorkOrder Error" box was shown.
bool CreateWorkOrder(QWidget *control, const QString &connectString, const QString &assetCode, qint16 priority,
                     const QString &workRequest, const QString &requestedBy);

} // namespace Orvantel::LookupCalls

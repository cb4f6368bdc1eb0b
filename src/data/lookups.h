#pragma once

#include "controlerror.h"
#include "sqldialect.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace Orvantel {

/// The text without leading and trailing spaces (only spaces: tabs and line breaks stay).
QString trimSpaces(const QString &text);

/// The asset items a configured asset list offers: each comma-separated piece trimmed of
/// spaces, empty pieces between commas kept, an empty last piece only when something
/// (blanks) follows the last comma. "A1, B2 ,C3" gives A1, B2, C3; "A1,,B2" gives A1, "", B2;
/// "A1," gives A1; "A1, " gives A1, "".
QStringList assetListItems(const QString &assetList);

/// "SELECT key[, <null fallback>(descr,key) AS descr] FROM table WHERE key IS NOT NULL
/// ORDER BY key". Names are inserted as given; a NULL description falls back to the code.
QString comboListStatement(const SqlDialect &dialect, const QString &table, const QString &keyColumn,
                           const QString &descriptionColumn);

/// "SELECT * FROM GS_Assets WHERE AssetCode = ?", the code bound as typed.
Statement assetLookupStatement(const SqlDialect &dialect, const QString &assetCode);

/// The call of sp_QX_CreateWorkOrder with asset, request, priority and requester bound as
/// typed (texts as text, the priority as an integer).
Statement createWorkOrderStatement(const SqlDialect &dialect, const QString &assetCode, qint16 priority,
                                   const QString &workRequest, const QString &requestedBy);

/// The items of a lookup combo box, and why loading stopped early.
struct ComboList
{
    /// What was read before any failure, the empty first item included.
    QStringList items;
    std::optional<ControlError> error;
};

/// The items for a combo box from a lookup table or view: an empty first item when asked
/// for, then "code - description" (or the code alone when descriptionColumn is empty),
/// ordered by code, rows with a NULL code left out. Opens and closes a connection of its
/// own from connectionString.
ComboList LoadComboBox(const QString &connectionString, const QString &table, const QString &keyColumn,
                       bool addEmptyFirst, const QString &descriptionColumn);

/// The code part of a combo item: the text before the first " - " (or the whole text),
/// trimmed of spaces. "P-100 - Feed pump" gives "P-100"; "A - B - C" gives "A".
QString ComboItemCode(const QString &itemText);

/// Whether an asset exists, and why the lookup failed when it did (then exists is what
/// was found before the failure: false when no row was read).
struct AssetCheck
{
    bool exists = false;
    std::optional<ControlError> error;
};

/// Looks the asset code up in GS_Assets, exactly as given (quotes included), through a
/// connection of its own.
AssetCheck ValidateAsset(const QString &connectionString, const QString &assetCode);

/// Runs the work-order creation procedure through a connection of its own. Returns the
/// error when the work order was not created, nothing when it was.
std::optional<ControlError> CreateWorkOrder(const QString &connectionString, const QString &assetCode, qint16 priority,
                                            const QString &workRequest, const QString &requestedBy);

} // namespace Orvantel

#pragma once

#include "orvantelworkorders_export.h"

#include <QString>

namespace Orvantel {

/// The About box's five lines joined by CR LF: the control's name, the notice line, an
/// empty line, then "Orvantel Server:  " and "Orvantel Database:  " with the names
/// (an empty name leaves the label alone on its line).
ORVANTELWORKORDERS_EXPORT QString aboutText(const QString &serverName, const QString &databaseName);

} // namespace Orvantel

#pragma once

#include <QString>

namespace Orvantel {

/// The About box's five lines joined by CR LF: the control's name, the notice line, an
/// empty line, then "Orvantel Server:  " and "Orvantel Database:  " with the names
/// (an empty name leaves the label alone on its line).
QString aboutText(const QString &serverName, const QString &databaseName);

} // namespace Orvantel

#pragma once

#include <QString>

namespace Orvantel {

/// The system settings folder: $ORVANTEL_CONFIG_DIR when set and not empty, else /etc.
QString configDirectory();

} // namespace Orvantel

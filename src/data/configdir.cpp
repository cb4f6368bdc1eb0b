#include "configdir.h"

namespace Orvantel {

QString configDirectory()
{
    const QString dir = qEnvironmentVariable("ORVANTEL_CONFIG_DIR");
    return dir.isEmpty() ? QStringLiteral("/etc") : dir;
}

} // namespace Orvantel

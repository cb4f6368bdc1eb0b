#include "logging.h"

namespace Orvantel {

Q_LOGGING_CATEGORY(lcDatabase, "orvantel.database", QtWarningMsg)
Q_LOGGING_CATEGORY(lcRefresh, "orvantel.refresh", QtWarningMsg)
Q_LOGGING_CATEGORY(lcNotify, "orvantel.notify", QtWarningMsg)

} // namespace Orvantel

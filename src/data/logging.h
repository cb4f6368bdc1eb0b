#pragma once

#include <QLoggingCategory>

namespace Orvantel {

// Silent by default (only warnings pass, and none are logged). A site turns them on with
// QT_LOGGING_RULES="orvantel.*=true", or per category, e.g. "orvantel.database.info=true".

/// Connections: statements abandoned after the server fell silent, reconnects.
Q_DECLARE_LOGGING_CATEGORY(lcDatabase)
/// The grids' loads: timed loads in the background, their failures, error boxes closed
/// once a load succeeded again.
Q_DECLARE_LOGGING_CATEGORY(lcRefresh)
/// Change notifications: listening, notifications received, merges.
Q_DECLARE_LOGGING_CATEGORY(lcNotify)

} // namespace Orvantel

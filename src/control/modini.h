#pragma once

#include "orvantelworkorders_export.h"

#include <QByteArray>
#include <QString>

/// The settings file reader. Settings live in "OrvantelWO.ini", section [Orvantel], in the
/// system settings folder ($ORVANTEL_CONFIG_DIR when set, else /etc). The file is only read.
namespace modINI {

/// "OrvantelWO.ini" in the system settings folder.
ORVANTELWORKORDERS_EXPORT QString settingsFilePath();

/// The value of sKey in section "Orvantel" of the settings file, trimmed of blanks;
/// sDefault (trimmed) when the file, the section or the key is missing. A key present
/// with an empty value reads as empty.
ORVANTELWORKORDERS_EXPORT QString ReadINI(const QString &sKey, const QString &sDefault);

/// The same lookup on a file's contents (UTF-8). Section and key names match without
/// regard to case and surrounding blanks; the first matching section and the first
/// matching key in it count; lines starting with ';' or '#' are comments. The value is
/// trimmed, then quotes that wholly enclose it (single or double) are dropped and the
/// rest trimmed again. Values are read whole, whatever their length.
ORVANTELWORKORDERS_EXPORT QString readProfileString(const QByteArray &contents, const QString &section,
                                                    const QString &key, const QString &defaultValue);

} // namespace modINI

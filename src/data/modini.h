#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

/// The settings file reader. Settings live in "OrvantelWO.ini", section [Orvantel], in the
/// system settings folder ($ORVANTEL_CONFIG_DIR when set, else /etc). The file is only read.
namespace modINI {

/// "OrvantelWO.ini" in the system settings folder.
QString settingsFilePath();

/// The largest settings file that is read (1 MiB); a real one is a few hundred bytes.
constexpr qint64 MaxSettingsFileSize = 1024 * 1024;

/// One section of a settings file, read once. Section and key names match without regard
/// to case and surrounding blanks; the first matching section and the first matching key
/// in it count; lines starting with ';' or '#' are comments. Lines end at LF, CR LF or a
/// lone CR, and a NUL ends a line's text. The contents are UTF-8, or UTF-16 when they start
/// with its byte-order mark (a UTF-8 byte-order mark is skipped).
class Profile
{
public:
    /// The section of the given file contents.
    Profile(const QByteArray &contents, const QString &section);

    /// Reads section "Orvantel" of the settings file. A missing file reads as an empty
    /// profile (every key takes its default). Throws ControlError (UnreadableSettings) for
    /// a file that is not a regular file (a folder, a FIFO, a device), is larger than
    /// MaxSettingsFileSize or cannot be read; such a file is never waited on.
    static Profile load();

    /// The value of sKey, trimmed of blanks, then without quotes that wholly enclose it
    /// (single or double) and trimmed again; sDefault (trimmed) when the key is missing. A
    /// key present with an empty value reads as empty. Values are read whole.
    QString ReadINI(const QString &sKey, const QString &sDefault) const;

private:
    QList<QPair<QString, QString>> m_values;
};

/// Profile(contents, section).ReadINI(key, defaultValue).
QString readProfileString(const QByteArray &contents, const QString &section, const QString &key,
                          const QString &defaultValue);

} // namespace modINI

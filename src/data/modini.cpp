#include "modini.h"

#include "configdir.h"
#include "controlerror.h"

#include <QFile>
#include <QStringDecoder>
#include <QStringView>

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace modINI {

namespace {

QString unquoted(const QString &value)
{
    if (value.size() >= 2) {
        const QChar first = value.front();
        if ((first == u'"' || first == u'\'') && value.back() == first)
            return value.mid(1, value.size() - 2).trimmed();
    }
    return value;
}

QString decode(const QByteArray &contents)
{
    if (contents.startsWith("\xFF\xFE"))
        return QStringDecoder(QStringConverter::Utf16LE, QStringConverter::Flag::Stateless)(contents.mid(2));
    if (contents.startsWith("\xFE\xFF"))
        return QStringDecoder(QStringConverter::Utf16BE, QStringConverter::Flag::Stateless)(contents.mid(2));
    if (contents.startsWith("\xEF\xBB\xBF"))
        return QString::fromUtf8(contents.mid(3));
    return QString::fromUtf8(contents);
}

Orvantel::ControlError unreadable(const QString &path, const QString &why)
{
    return {Orvantel::ControlError::UnreadableSettings,
            QStringLiteral("The settings file %1 was not read: %2").arg(path, why)};
}

/// Closes a file descriptor on every way out.
struct Descriptor
{
    int fd;
    ~Descriptor()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

} // namespace

QString settingsFilePath()
{
    return Orvantel::configDirectory() + QStringLiteral("/OrvantelWO.ini");
}

Profile::Profile(const QByteArray &contents, const QString &section)
{
    const QString text = decode(contents);
    bool inside = false;
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = start;
        while (end < text.size() && text.at(end) != u'\n' && text.at(end) != u'\r')
            ++end;
        QStringView line = QStringView(text).mid(start, end - start);
        start = end + (end + 1 < text.size() && text.at(end) == u'\r' && text.at(end + 1) == u'\n' ? 2 : 1);

        const qsizetype nul = line.indexOf(QChar(0));
        if (nul >= 0)
            line = line.left(nul);
        line = line.trimmed();
        if (line.isEmpty() || line.front() == u';' || line.front() == u'#')
            continue;
        if (line.front() == u'[') {
            if (inside)
                break;
            const qsizetype close = line.indexOf(u']');
            inside = line.mid(1, close < 0 ? -1 : close - 1).trimmed().compare(section, Qt::CaseInsensitive) == 0;
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (!inside || equals < 0)
            continue;
        m_values.append({line.left(equals).trimmed().toString(), unquoted(line.mid(equals + 1).trimmed().toString())});
    }
}

Profile Profile::load()
{
    const QString path = settingsFilePath();
    const QByteArray name = QFile::encodeName(path);
    // Non-blocking: a FIFO put in the file's place must not hang the host.
    Descriptor file {::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY)};
    if (file.fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR)
            return Profile(QByteArray(), QString());
        throw unreadable(path, QString::fromLocal8Bit(std::strerror(errno)));
    }
    struct stat info;
    if (::fstat(file.fd, &info) != 0)
        throw unreadable(path, QString::fromLocal8Bit(std::strerror(errno)));
    if (!S_ISREG(info.st_mode))
        throw unreadable(path, QStringLiteral("it is not a regular file"));
    if (info.st_size > MaxSettingsFileSize)
        throw unreadable(path, QStringLiteral("it is larger than %1 bytes").arg(MaxSettingsFileSize));

    // The file may still grow while it is read: read one byte beyond the limit to notice.
    QByteArray contents(MaxSettingsFileSize + 1, Qt::Uninitialized);
    qsizetype size = 0;
    while (size < contents.size()) {
        const ssize_t n = ::read(file.fd, contents.data() + size, std::size_t(contents.size() - size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw unreadable(path, QString::fromLocal8Bit(std::strerror(errno)));
        if (n == 0)
            break;
        size += n;
    }
    if (size > MaxSettingsFileSize)
        throw unreadable(path, QStringLiteral("it is larger than %1 bytes").arg(MaxSettingsFileSize));
    contents.truncate(size);
    return Profile(contents, QStringLiteral("Orvantel"));
}

QString Profile::ReadINI(const QString &sKey, const QString &sDefault) const
{
    const QString key = sKey.trimmed();
    for (const auto &[name, value] : m_values) {
        if (name.compare(key, Qt::CaseInsensitive) == 0)
            return value;
    }
    return sDefault.trimmed();
}

QString readProfileString(const QByteArray &contents, const QString &section, const QString &key,
                          const QString &defaultValue)
{
    return Profile(contents, section).ReadINI(key, defaultValue);
}

} // namespace modINI

#include "modini.h"

#include "data/configdir.h"

#include <QFile>
#include <QStringView>

namespace modINI {

namespace {

QString trimBlanks(QStringView text)
{
    return text.trimmed().toString();
}

QString unquoted(const QString &value)
{
    if (value.size() >= 2) {
        const QChar first = value.front();
        if ((first == u'"' || first == u'\'') && value.back() == first)
            return value.mid(1, value.size() - 2).trimmed();
    }
    return value;
}

} // namespace

QString settingsFilePath()
{
    return Orvantel::configDirectory() + QStringLiteral("/OrvantelWO.ini");
}

QString readProfileString(const QByteArray &contents, const QString &section, const QString &key,
                          const QString &defaultValue)
{
    QString text = QString::fromUtf8(contents);
    if (text.startsWith(QChar(0xFEFF)))  // a byte-order mark some editors write
        text.remove(0, 1);
    enum { Before, Inside, After } state = Before;
    qsizetype start = 0;
    while (start <= text.size() && state != After) {
        qsizetype end = text.indexOf(u'\n', start);
        if (end < 0)
            end = text.size();
        const QStringView line = QStringView(text).mid(start, end - start).trimmed();
        start = end + 1;
        if (line.isEmpty() || line.front() == u';' || line.front() == u'#')
            continue;
        if (line.front() == u'[') {
            const qsizetype close = line.indexOf(u']');
            const QStringView name = line.mid(1, close < 0 ? -1 : close - 1).trimmed();
            if (state == Inside)
                state = After;
            else if (name.compare(section, Qt::CaseInsensitive) == 0)
                state = Inside;
            continue;
        }
        if (state != Inside)
            continue;
        const qsizetype equals = line.indexOf(u'=');
        if (equals < 0)
            continue;
        if (line.left(equals).trimmed().compare(key, Qt::CaseInsensitive) == 0)
            return unquoted(trimBlanks(line.mid(equals + 1)));
    }
    return trimBlanks(defaultValue);
}

QString ReadINI(const QString &sKey, const QString &sDefault)
{
    QFile file(settingsFilePath());
    if (!file.open(QIODevice::ReadOnly))
        return trimBlanks(sDefault);
    return readProfileString(file.readAll(), QStringLiteral("Orvantel"), sKey, sDefault);
}

} // namespace modINI

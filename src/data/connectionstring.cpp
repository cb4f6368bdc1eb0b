#include "connectionstring.h"

namespace Orvantel {
namespace ConnectionString {

QString build(const ConnectionSettings &settings)
{
    return QStringLiteral("Provider=SQLOLEDB.1;Data Source=") + quoteValue(settings.server)
            + QStringLiteral(";Initial Catalog=") + quoteValue(settings.database) + QStringLiteral(";User ID=")
            + quoteValue(settings.userId) + QStringLiteral(";Password=") + quoteValue(settings.password)
            + QStringLiteral(";Persist Security Info=False");
}

QString quoteValue(const QString &value)
{
    const bool needsQuotes = value.contains(QLatin1Char(';')) || value.contains(QLatin1Char('='))
            || value.startsWith(QLatin1Char('"')) || value.startsWith(QLatin1Char('\''));
    if (!needsQuotes)
        return value;

    const bool hasDouble = value.contains(QLatin1Char('"'));
    if (!hasDouble)
        return QLatin1Char('"') + value + QLatin1Char('"');
    if (!value.contains(QLatin1Char('\'')))
        return QLatin1Char('\'') + value + QLatin1Char('\'');
    QString escaped = value;
    escaped.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + escaped + QLatin1Char('"');
}

Reader::Reader(const QString &connectionString)
{
    const QString &s = connectionString;
    const qsizetype n = s.size();
    qsizetype i = 0;
    while (i < n) {
        const qsizetype equals = s.indexOf(QLatin1Char('='), i);
        const qsizetype semicolon = s.indexOf(QLatin1Char(';'), i);
        if (equals < 0)
            break;
        if (semicolon >= 0 && semicolon < equals) {
            // A segment without '=' carries no setting.
            i = semicolon + 1;
            continue;
        }
        const QString key = s.mid(i, equals - i).trimmed();
        i = equals + 1;

        QString value;
        if (i < n && (s.at(i) == QLatin1Char('"') || s.at(i) == QLatin1Char('\''))) {
            const QChar quote = s.at(i++);
            while (i < n) {
                if (s.at(i) == quote) {
                    if (i + 1 < n && s.at(i + 1) == quote) {
                        value += quote;
                        i += 2;
                        continue;
                    }
                    ++i;
                    break;
                }
                value += s.at(i++);
            }
            // Anything between the closing quote and the next ';' is not part of the value.
            const qsizetype end = s.indexOf(QLatin1Char(';'), i);
            i = end < 0 ? n : end + 1;
        } else {
            const qsizetype end = s.indexOf(QLatin1Char(';'), i);
            value = s.mid(i, (end < 0 ? n : end) - i);
            i = end < 0 ? n : end + 1;
        }
        if (!key.isEmpty())
            m_pairs.append({key, value});
    }
}

QString Reader::value(const QString &key) const
{
    const QString wanted = key.trimmed();
    for (auto it = m_pairs.crbegin(); it != m_pairs.crend(); ++it) {
        if (it->first.compare(wanted, Qt::CaseInsensitive) == 0)
            return it->second;
    }
    return QString();
}

ConnectionSettings Reader::settings() const
{
    return {value(QStringLiteral("Data Source")), value(QStringLiteral("Initial Catalog")),
            value(QStringLiteral("User ID")), value(QStringLiteral("Password"))};
}

} // namespace ConnectionString
} // namespace Orvantel

#pragma once

#include <QList>
#include <QPair>
#include <QString>

namespace Orvantel {

/// The four connection settings a control holds.
struct ConnectionSettings
{
    QString server;
    QString database;
    QString userId;
    QString password;

    bool operator==(const ConnectionSettings &o) const
    {
        return server == o.server && database == o.database && userId == o.userId && password == o.password;
    }
};

namespace ConnectionString {

/// "Provider=SQLOLEDB.1;Data Source=…;Initial Catalog=…;User ID=…;Password=…;Persist Security Info=False".
/// Values are inserted as typed, except that a value containing ';' or '=' or starting with
/// a quote is quoted (double quotes, or single quotes when it holds a double quote, inner
/// quotes doubled when it holds both), so one setting can never add another key.
QString build(const ConnectionSettings &settings);

/// Quotes one value by the rule above, or returns it unchanged.
QString quoteValue(const QString &value);

/// Reads a connection string back: keys without regard to case and surrounding blanks;
/// quoted values unquoted; unquoted values kept exactly (blanks included). The last
/// occurrence of a key wins. A key not present reads as empty.
class Reader
{
public:
    explicit Reader(const QString &connectionString);
    QString value(const QString &key) const;
    ConnectionSettings settings() const;

private:
    QList<QPair<QString, QString>> m_pairs;
};

} // namespace ConnectionString
} // namespace Orvantel

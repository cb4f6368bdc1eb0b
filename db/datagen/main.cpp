// orvantel-datagen: creates a maintenance database filled with demo or benchmark data.

#include "demodata.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSqlError>

#include <cstdio>
#include <optional>

namespace {

using namespace Orvantel::DemoData;

void print(FILE *stream, const QString &text)
{
    std::fputs(qPrintable(text + QLatin1Char('\n')), stream);
}

// Reads a libpq-style "key=value key='quoted value'" string.
std::optional<QList<QPair<QString, QString>>> parseConnInfo(const QString &text)
{
    QList<QPair<QString, QString>> pairs;
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (true) {
        while (i < n && text.at(i).isSpace())
            ++i;
        if (i == n)
            return pairs;
        const qsizetype eq = text.indexOf(QLatin1Char('='), i);
        if (eq < 0)
            return std::nullopt;
        const QString key = text.mid(i, eq - i).trimmed();
        i = eq + 1;
        while (i < n && text.at(i).isSpace())
            ++i;
        QString value;
        if (i < n && text.at(i) == QLatin1Char('\'')) {
            ++i;
            while (i < n && text.at(i) != QLatin1Char('\'')) {
                if (text.at(i) == QLatin1Char('\\') && i + 1 < n)
                    ++i;
                value += text.at(i++);
            }
            if (i == n)
                return std::nullopt;
            ++i;
        } else {
            while (i < n && !text.at(i).isSpace())
                value += text.at(i++);
        }
        if (key.isEmpty())
            return std::nullopt;
        pairs.append({key, value});
    }
}

QSqlDatabase openPostgreSql(const QString &connInfo, const QString &connection)
{
    const auto pairs = parseConnInfo(connInfo);
    if (!pairs)
        throw Error("Cannot read the connection string: " + connInfo.toStdString());
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connection);
    QStringList options;
    for (const auto &[key, value] : *pairs) {
        if (key == QLatin1String("host") || key == QLatin1String("hostaddr"))
            db.setHostName(value);
        else if (key == QLatin1String("port"))
            db.setPort(value.toInt());
        else if (key == QLatin1String("dbname"))
            db.setDatabaseName(value);
        else if (key == QLatin1String("user"))
            db.setUserName(value);
        else if (key == QLatin1String("password"))
            db.setPassword(value);
        else
            options.append(key + QLatin1Char('=') + value);
    }
    db.setConnectOptions(options.join(QLatin1Char(';')));
    if (!db.open())
        throw Error("Cannot connect to PostgreSQL: " + db.lastError().text().toStdString());
    return db;
}

std::optional<int> count(const QCommandLineParser &parser, const QString &name, int fallback)
{
    if (!parser.isSet(name))
        return fallback;
    bool ok = false;
    const int value = parser.value(name).toInt(&ok);
    if (!ok || value < 0)
        return std::nullopt;
    return value;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("orvantel-datagen"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
            "Creates a maintenance database (schema and generated data) and the files its linked-file rows name.\n"
            "The PostgreSQL database must exist and be empty."));
    parser.addHelpOption();
    parser.addOptions({
            {QStringLiteral("sqlite"), QStringLiteral("Create the SQLite database <file> (replaced if it exists)."),
             QStringLiteral("file")},
            {QStringLiteral("postgresql"),
             QStringLiteral("Fill the empty PostgreSQL database named by <conninfo>, "
                            "e.g. \"host=127.0.0.1 port=5432 dbname=maint user=me password=secret\"."),
             QStringLiteral("conninfo")},
            {QStringLiteral("work-orders"),
             QStringLiteral("Generate <n> work orders (default: the demo plant's 1,500)."), QStringLiteral("n")},
            {QStringLiteral("linked-files"), QStringLiteral("Generate <n> linked files (default: 200)."),
             QStringLiteral("n")},
            {QStringLiteral("seed"), QStringLiteral("Seed of the generator (default: the fixed demo seed)."),
             QStringLiteral("n")},
            {QStringLiteral("today"),
             QStringLiteral("Date the plant as seen on <day> (YYYY-MM-DD): open work orders in the weeks before "
                            "it, upcoming PMs in the weeks after it (default: %1).")
                     .arg(DefaultToday.toString(Qt::ISODate)),
             QStringLiteral("day")},
            {QStringLiteral("no-change-notifications"),
             QStringLiteral("On PostgreSQL, leave out the change notifications (postgresql/notify.sql).")},
            {QStringLiteral("files"), QStringLiteral("Write the linked files into <dir>."), QStringLiteral("dir")},
    });
    parser.process(app);

    Options options;
    const auto workOrders = count(parser, QStringLiteral("work-orders"), options.workOrders);
    const auto linkedFiles = count(parser, QStringLiteral("linked-files"), options.linkedFiles);
    bool seedOk = true;
    if (parser.isSet(QStringLiteral("seed")))
        options.seed = parser.value(QStringLiteral("seed")).toUInt(&seedOk);
    if (!workOrders || !linkedFiles || !seedOk) {
        print(stderr, QStringLiteral("orvantel-datagen: counts and the seed must be non-negative whole numbers"));
        return 2;
    }
    options.workOrders = *workOrders;
    options.linkedFiles = *linkedFiles;
    if (parser.isSet(QStringLiteral("today"))) {
        const QString text = parser.value(QStringLiteral("today"));
        options.today = QDate::fromString(text, QStringLiteral("yyyy-MM-dd"));
        if (!options.today.isValid()) {
            print(stderr, QStringLiteral("orvantel-datagen: --today takes a date as YYYY-MM-DD, not ") + text);
            return 2;
        }
    }
    options.changeNotifications = !parser.isSet(QStringLiteral("no-change-notifications"));

    const bool sqlite = parser.isSet(QStringLiteral("sqlite"));
    const bool postgresql = parser.isSet(QStringLiteral("postgresql"));
    const bool files = parser.isSet(QStringLiteral("files"));
    if ((sqlite && postgresql) || (!sqlite && !postgresql && !files)) {
        print(stderr, QStringLiteral("orvantel-datagen: give one of --sqlite or --postgresql, and/or --files"));
        return 2;
    }

    try {
        QElapsedTimer timer;
        timer.start();
        const QString what = QStringLiteral("%1 work orders, %2 linked files")
                                     .arg(options.workOrders ? options.workOrders : DemoWorkOrderCount)
                                     .arg(options.linkedFiles);
        if (sqlite) {
            const QString path = parser.value(QStringLiteral("sqlite"));
            createSqliteFile(path, options);
            print(stdout, QStringLiteral("%1: %2 in %3 s").arg(path, what).arg(timer.elapsed() / 1000.0, 0, 'f', 2));
        } else if (postgresql) {
            const QString connection = QStringLiteral("orvantel-datagen");
            {
                QSqlDatabase db = openPostgreSql(parser.value(QStringLiteral("postgresql")), connection);
                createSchema(db, options);
                populate(db, options);
                print(stdout,
                      QStringLiteral("%1: %2 in %3 s")
                              .arg(db.databaseName(), what)
                              .arg(timer.elapsed() / 1000.0, 0, 'f', 2));
                db.close();
            }
            QSqlDatabase::removeDatabase(connection);
        }
        if (files) {
            const QString dir = parser.value(QStringLiteral("files"));
            writeLinkedFiles(dir, options);
            print(stdout, QStringLiteral("%1: %2 linked files").arg(dir).arg(options.linkedFiles));
        }
    } catch (const Error &e) {
        print(stderr, QStringLiteral("orvantel-datagen: ") + QString::fromUtf8(e.what()));
        return 1;
    }
    return 0;
}

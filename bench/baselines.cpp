#include "baselines.h"

#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QSqlError>
#include <QSqlRecord>

#include <sqlite3.h>

#include <limits>

namespace Bench {

std::optional<PgSettings> PgSettings::parse(const QString &conninfo)
{
    PgSettings settings;
    qsizetype i = 0;
    const qsizetype n = conninfo.size();
    while (true) {
        while (i < n && conninfo.at(i).isSpace())
            ++i;
        if (i == n)
            return settings;
        const qsizetype equals = conninfo.indexOf(u'=', i);
        if (equals < 0)
            return std::nullopt;
        const QString key = conninfo.mid(i, equals - i).trimmed();
        i = equals + 1;
        while (i < n && conninfo.at(i).isSpace())
            ++i;
        QString value;
        if (i < n && conninfo.at(i) == u'\'') {
            ++i;
            while (i < n && conninfo.at(i) != u'\'') {
                if (conninfo.at(i) == u'\\' && i + 1 < n)
                    ++i;
                value += conninfo.at(i++);
            }
            if (i == n)
                return std::nullopt;
            ++i;
        } else {
            while (i < n && !conninfo.at(i).isSpace())
                value += conninfo.at(i++);
        }
        if (key == QLatin1String("host") || key == QLatin1String("hostaddr")) {
            settings.host = value;
        } else if (key == QLatin1String("port")) {
            bool ok = false;
            settings.port = value.toInt(&ok);
            if (!ok || settings.port <= 0 || settings.port > 65535)
                return std::nullopt;
        } else if (key == QLatin1String("dbname")) {
            settings.dbname = value;
        } else if (key == QLatin1String("user")) {
            settings.user = value;
        } else if (key == QLatin1String("password")) {
            settings.password = value;
        } else {
            return std::nullopt;
        }
    }
}

RawSqlite::RawSqlite(const QString &path)
    : m_path(path)
{
    const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &m_db,
                                   SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        const QString error = QString::fromUtf8(m_db ? sqlite3_errmsg(m_db) : sqlite3_errstr(rc));
        sqlite3_close(m_db);
        m_db = nullptr;
        throw Failure(QStringLiteral("cannot open %1: %2").arg(path, error));
    }
}

RawSqlite::~RawSqlite()
{
    sqlite3_close(m_db);
}

template<typename Row>
void RawSqlite::forEachRow(const QString &sql, Row &&row)
{
    const QByteArray text = sql.toUtf8();
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v2(m_db, text.constData(), int(text.size()), &statement, nullptr) != SQLITE_OK)
        throw Failure(QStringLiteral("%1: %2").arg(m_path, QString::fromUtf8(sqlite3_errmsg(m_db))));
    int rc;
    while ((rc = sqlite3_step(statement)) == SQLITE_ROW)
        row(statement);
    sqlite3_finalize(statement);
    if (rc != SQLITE_DONE)
        throw Failure(QStringLiteral("%1: %2").arg(m_path, QString::fromUtf8(sqlite3_errmsg(m_db))));
}

RawPass RawSqlite::readAll(const QString &sql)
{
    RawPass pass;
    forEachRow(sql, [&pass](sqlite3_stmt *statement) {
        const int columns = sqlite3_column_count(statement);
        for (int c = 0; c < columns; ++c) {
            switch (sqlite3_column_type(statement, c)) {
            case SQLITE_INTEGER:
                pass.checksum += std::uint64_t(sqlite3_column_int64(statement, c));
                break;
            case SQLITE_FLOAT:
                pass.checksum += std::uint64_t(sqlite3_column_double(statement, c));
                break;
            case SQLITE_NULL:
                break;
            default: {
                const unsigned char *text = sqlite3_column_text(statement, c);
                const int bytes = sqlite3_column_bytes(statement, c);
                pass.checksum += std::uint64_t(bytes) + (bytes > 0 ? text[0] : 0u);
                break;
            }
            }
        }
        ++pass.rows;
    });
    return pass;
}

std::int64_t RawSqlite::textBytes(const QString &sql)
{
    std::int64_t total = 0;
    forEachRow(sql, [&total](sqlite3_stmt *statement) {
        const int columns = sqlite3_column_count(statement);
        for (int c = 0; c < columns; ++c) {
            if (sqlite3_column_type(statement, c) == SQLITE_NULL)
                continue;
            sqlite3_column_text(statement, c); // converts numbers to their text first
            total += sqlite3_column_bytes(statement, c);
        }
    });
    return total;
}

int RawSqlite::columnIndex(const QString &sql, const QString &field)
{
    const QByteArray text = sql.toUtf8();
    sqlite3_stmt *statement = nullptr;
    if (sqlite3_prepare_v2(m_db, text.constData(), int(text.size()), &statement, nullptr) != SQLITE_OK)
        throw Failure(QStringLiteral("%1: %2").arg(m_path, QString::fromUtf8(sqlite3_errmsg(m_db))));
    int found = -1;
    for (int c = 0; c < sqlite3_column_count(statement) && found < 0; ++c) {
        if (QString::fromUtf8(sqlite3_column_name(statement, c)).compare(field, Qt::CaseInsensitive) == 0)
            found = c;
    }
    sqlite3_finalize(statement);
    if (found < 0)
        throw Failure(QStringLiteral("the result has no column %1").arg(field));
    return found;
}

std::vector<std::string> RawSqlite::textColumn(const QString &sql, const QString &field)
{
    const int column = columnIndex(sql, field);
    std::vector<std::string> values;
    forEachRow(sql, [&](sqlite3_stmt *statement) {
        const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(statement, column));
        values.emplace_back(text ? text : "", std::size_t(sqlite3_column_bytes(statement, column)));
    });
    return values;
}

std::vector<std::int64_t> RawSqlite::integerColumn(const QString &sql, const QString &field)
{
    const int column = columnIndex(sql, field);
    std::vector<std::int64_t> values;
    forEachRow(sql, [&](sqlite3_stmt *statement) {
        values.push_back(sqlite3_column_type(statement, column) == SQLITE_NULL
                                 ? std::numeric_limits<std::int64_t>::min()
                                 : sqlite3_column_int64(statement, column));
    });
    return values;
}

SqlConnection::SqlConnection(const QString &name, const QString &path)
    : m_name(name)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
    db.setDatabaseName(path);
    db.setConnectOptions(QStringLiteral("QSQLITE_OPEN_READONLY"));
    open();
}

SqlConnection::SqlConnection(const QString &name, const PgSettings &settings)
    : m_name(name)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
    db.setHostName(settings.host);
    db.setPort(settings.port);
    db.setDatabaseName(settings.dbname);
    db.setUserName(settings.user);
    db.setPassword(settings.password);
    open();
}

void SqlConnection::open()
{
    QSqlDatabase db = database();
    if (!db.open()) {
        const QString error = db.lastError().text();
        db = QSqlDatabase();
        QSqlDatabase::removeDatabase(m_name);
        throw Failure(QStringLiteral("cannot open %1: %2").arg(m_name, error));
    }
}

SqlConnection::~SqlConnection()
{
    database().close();
    QSqlDatabase::removeDatabase(m_name);
}

NaivePeer::NaivePeer()
{
    m_proxy.setSourceModel(&m_model);
}

void NaivePeer::load(const QString &sql, const QSqlDatabase &db)
{
    m_model.setQuery(sql, db);
    while (m_model.canFetchMore())
        m_model.fetchMore();
    if (m_model.lastError().isValid())
        throw Failure(QStringLiteral("QSqlQueryModel: ") + m_model.lastError().text());
}

int NaivePeer::column(const QString &field) const
{
    const int column = m_model.record().indexOf(field);
    if (column < 0)
        throw Failure(QStringLiteral("the result has no column %1").arg(field));
    return column;
}

double psqlCopy(const QString &psql, const PgSettings &settings, const QString &sql)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("PGPASSWORD"), settings.password);
    environment.insert(QStringLiteral("PGCONNECT_TIMEOUT"), QStringLiteral("10"));
    process.setProcessEnvironment(environment);
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardInputFile(QProcess::nullDevice());
    QStringList arguments = {
            QStringLiteral("-X"),
            QStringLiteral("-q"),
            QStringLiteral("-w"),
            QStringLiteral("-v"),
            QStringLiteral("ON_ERROR_STOP=1"),
            QStringLiteral("-h"),
            settings.host,
            QStringLiteral("-p"),
            QString::number(settings.port),
    };
    if (!settings.user.isEmpty())
        arguments << QStringLiteral("-U") << settings.user;
    if (!settings.dbname.isEmpty())
        arguments << QStringLiteral("-d") << settings.dbname;
    arguments << QStringLiteral("-c") << QStringLiteral("COPY (") + sql + QStringLiteral(") TO STDOUT");

    QElapsedTimer timer;
    timer.start();
    process.start(psql, arguments);
    if (!process.waitForStarted(30000))
        throw Failure(QStringLiteral("cannot run %1: %2").arg(psql, process.errorString()));
    process.waitForFinished(-1);
    const double ms = double(timer.nsecsElapsed()) / 1e6;
    if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        throw Failure(QStringLiteral("psql failed (exit code %1): %2")
                              .arg(process.exitCode())
                              .arg(QString::fromLocal8Bit(process.readAllStandardError()).trimmed()));
    }
    return ms;
}

} // namespace Bench

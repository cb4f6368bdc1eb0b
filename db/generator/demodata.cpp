#include "demodata.h"

#include "documentfiles_p.h"
#include "plant_p.h"
#include "sqlscript_p.h"

#include <QAtomicInt>
#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QSqlError>
#include <QSqlQuery>

namespace Orvantel::DemoData {

namespace {

enum class Engine { SQLite, PostgreSQL };

Engine engineOf(const QSqlDatabase &db)
{
    if (db.driverName() == QLatin1String("QSQLITE"))
        return Engine::SQLite;
    if (db.driverName() == QLatin1String("QPSQL"))
        return Engine::PostgreSQL;
    throw Error("The demo data generator supports QSQLITE and QPSQL, not " + db.driverName().toStdString());
}

[[noreturn]] void fail(const QString &what, const QSqlError &error)
{
    throw Error(QString(what + QStringLiteral(": ") + error.text()).toStdString());
}

QString firstLine(const QString &statement)
{
    for (const QString &line : statement.split(QLatin1Char('\n'))) {
        const QString trimmed = line.trimmed();
        if (!trimmed.isEmpty() && !trimmed.startsWith(QLatin1String("--")))
            return trimmed;
    }
    return statement.left(60);
}

void exec(QSqlQuery &query, const QString &statement)
{
    if (!query.exec(statement))
        fail(QStringLiteral("Statement \"%1 ...\" failed").arg(firstLine(statement)), query.lastError());
}

// Writes the rows of one table as multi-row INSERT statements with quoted literals:
// one statement per batch is far faster on both engines than binding each row.
class TableWriter
{
public:
    TableWriter(QSqlDatabase db, const QString &table, const QStringList &columns)
        : m_query(db)
        , m_columns(int(columns.size()))
    {
        m_query.setForwardOnly(true);
        m_head = QStringLiteral("INSERT INTO ") + table + QStringLiteral(" (") + columns.join(QStringLiteral(", "))
                + QStringLiteral(") VALUES ");
        m_batch = m_head;
    }

    TableWriter &operator<<(const QString &value)
    {
        separate();
        if (value.isNull()) {
            m_batch += QLatin1String("NULL");
        } else {
            m_batch += QLatin1Char('\'');
            if (value.contains(QLatin1Char('\'')))
                m_batch += QString(value).replace(QLatin1Char('\''), QLatin1String("''"));
            else
                m_batch += value;
            m_batch += QLatin1Char('\'');
        }
        return next();
    }

    /// Writes NULL when hasValue is false.
    TableWriter &integer(int value, bool hasValue = true)
    {
        separate();
        if (hasValue)
            m_batch += QString::number(value);
        else
            m_batch += QLatin1String("NULL");
        return next();
    }

    TableWriter &operator<<(int value) { return integer(value); }

    void finish()
    {
        if (m_rows > 0)
            flush();
    }

private:
    void separate()
    {
        if (m_index > 0)
            m_batch += QLatin1Char(',');
        else
            m_batch += m_rows > 0 ? QLatin1String(",(") : QLatin1String("(");
    }

    TableWriter &next()
    {
        if (++m_index < m_columns)
            return *this;
        m_index = 0;
        m_batch += QLatin1Char(')');
        if (++m_rows == BatchRows)
            flush();
        return *this;
    }

    void flush()
    {
        if (!m_query.exec(m_batch))
            fail(QStringLiteral("Statement \"%1...\" failed").arg(m_head), m_query.lastError());
        m_batch.truncate(m_head.size()); // keeps the allocation for the next batch
        m_rows = 0;
    }

    static constexpr int BatchRows = 500;
    QSqlQuery m_query;
    int m_columns;
    int m_index = 0;
    int m_rows = 0;
    QString m_head;
    QString m_batch;
};

QString script(const QString &name)
{
    const QString path = QStringLiteral(":/orvantel/db/") + name;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw Error("Cannot read the schema resource " + path.toStdString());
    return QString::fromUtf8(file.readAll());
}

QStringList schemaStatements(Engine engine, const Options &options)
{
    if (engine == Engine::SQLite)
        return splitSqlScript(script(QStringLiteral("sqlite/schema.sql")), ScriptDialect::SQLite);
    QStringList statements = splitSqlScript(script(QStringLiteral("postgresql/schema.sql")), ScriptDialect::PostgreSQL);
    if (options.changeNotifications)
        statements += splitSqlScript(script(QStringLiteral("postgresql/notify.sql")), ScriptDialect::PostgreSQL);
    return statements;
}

// Runs statements in one transaction: all or nothing.
void runScript(QSqlDatabase db, const QStringList &statements)
{
    if (!db.isOpen())
        throw Error("The database is not open");
    if (!db.transaction())
        fail(QStringLiteral("BEGIN"), db.lastError());
    try {
        QSqlQuery query(db);
        // "DROP ... IF EXISTS" of a fresh install would print a notice per trigger.
        if (engineOf(db) == Engine::PostgreSQL)
            exec(query, QStringLiteral("SET LOCAL client_min_messages = warning"));
        for (const QString &statement : statements)
            exec(query, statement);
    } catch (...) {
        db.rollback();
        throw;
    }
    if (!db.commit())
        fail(QStringLiteral("COMMIT"), db.lastError());
}

void populateTables(QSqlDatabase db, const Options &options)
{
    const Plant &plant = Plant::instance();

    TableWriter divisions(db, QStringLiteral("GS_Divisions"), {QStringLiteral("DivisionID"), QStringLiteral("Descr")});
    for (const Division &d : plant.divisions)
        divisions << d.id << d.descr;
    divisions.finish();

    TableWriter departments(db, QStringLiteral("GS_Departments"),
                            {QStringLiteral("DepartmentID"), QStringLiteral("DivisionID"), QStringLiteral("Descr")});
    for (const Department &d : plant.departments)
        departments << d.id << d.divisionId << d.descr;
    departments.finish();

    TableWriter assets(db, QStringLiteral("GS_Assets"),
                       {QStringLiteral("AssetCode"), QStringLiteral("Descr"), QStringLiteral("AssetType"),
                        QStringLiteral("Location"), QStringLiteral("DivisionID"), QStringLiteral("DepartmentID")});
    for (const Asset &a : plant.assets)
        assets << a.code << a.descr << a.type << a.location << a.divisionId << a.departmentId;
    assets.finish();

    TableWriter users(db, QStringLiteral("GS_Users"),
                      {QStringLiteral("UserID"), QStringLiteral("Name"), QStringLiteral("CanRequestWork")});
    for (const User &u : plant.users)
        users << u.id << u.name << (u.canRequestWork ? 1 : 0);
    users.finish();

    TableWriter files(db, QStringLiteral("GS_LinkedFiles"),
                      {QStringLiteral("FileID"), QStringLiteral("AssetCode"), QStringLiteral("DocType"),
                       QStringLiteral("DocDescr"), QStringLiteral("FileName")});
    for (const LinkedFile &f : linkedFiles(options))
        files << f.id << plant.assets.at(f.asset).code << f.docType << f.docDescr << f.fileName;
    files.finish();

    TableWriter workOrders(db, QStringLiteral("WO_WorkOrders"),
                           {QStringLiteral("WO_Nbr"), QStringLiteral("AssetCode"), QStringLiteral("Status"),
                            QStringLiteral("Priority"), QStringLiteral("DateLoaded"), QStringLiteral("RequestedBy"),
                            QStringLiteral("AssignedTo"), QStringLiteral("WorkRequest"), QStringLiteral("IsPM"),
                            QStringLiteral("DivisionID"), QStringLiteral("DepartmentID")});
    const QString noUser;
    for (WorkOrderStream stream(options); !stream.atEnd();) {
        const WorkOrder wo = stream.next();
        const Asset &asset = plant.assets.at(wo.asset);
        workOrders << wo.number << asset.code << wo.status;
        workOrders.integer(wo.priority, wo.priority != 0);
        workOrders << wo.dateLoaded << (wo.requestedBy < 0 ? noUser : plant.users.at(wo.requestedBy).id)
                   << (wo.assignedTo < 0 ? noUser : plant.users.at(wo.assignedTo).id) << wo.workRequest
                   << (wo.isPM ? 1 : 0) << asset.divisionId << asset.departmentId;
    }
    workOrders.finish();
}

// A small plant-room picture: sky, floor and a machine whose colour depends on variant.
Picture machinePicture(int variant)
{
    static const Rgb bodies[] = {{34, 110, 180}, {200, 60, 40}, {40, 150, 80}, {230, 180, 30}};
    const Rgb body = bodies[variant % 4];
    return [body](double x, double y) -> Rgb {
        if (y > 0.72)
            return {90, 90, 96}; // floor
        const double dx = x - 0.62, dy = y - 0.45;
        if (dx * dx + dy * dy < 0.03)
            return {60, 60, 66}; // motor
        if (x > 0.18 && x < 0.82 && y > 0.3)
            return body;
        const quint8 shade = quint8(200 + 40 * y);
        return {shade, shade, 255};
    };
}

QByteArray fileContent(const LinkedFile &file, const Asset &asset)
{
    const QString title = asset.code + QStringLiteral(" - ") + (file.docDescr.isNull() ? file.docType : file.docDescr);
    const QString assetName = asset.descr.isNull() ? asset.type : asset.descr;
    switch (file.kind) {
    case FileKind::Jpeg:
        return jpegImage(160, 120, machinePicture(file.variant));
    case FileKind::Png:
        return pngImage(96, 72, machinePicture(file.variant));
    case FileKind::Pdf:
        return pdfDocument(title,
                           {QStringLiteral("Asset: ") + asset.code + QStringLiteral(" ") + assetName,
                            QStringLiteral("Location: ") + asset.location,
                            QStringLiteral("Document type: ") + file.docType, QString(),
                            QStringLiteral("Keep this document with the asset file."),
                            QStringLiteral("Check the revision before use.")});
    case FileKind::Text:
        return QString(title + QStringLiteral("\n\nAsset: ") + asset.code + QStringLiteral(" (") + assetName
                       + QStringLiteral(")\nLocation: ") + asset.location
                       + QStringLiteral("\n\n1. Tell the area supervisor and the operator.\n"
                                        "2. Stop the machine from the control panel.\n"
                                        "3. Isolate and lock out every energy source; fit your own lock and tag.\n"
                                        "4. Try to start it to prove the isolation.\n"
                                        "5. Release stored energy (air, hydraulic pressure, springs).\n"
                                        "6. After the work: remove tools, refit guards, remove locks, test run.\n"))
                .toUtf8();
    case FileKind::Html:
        return QString(QStringLiteral("<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n<title>")
                       + title.toHtmlEscaped() + QStringLiteral("</title>\n</head>\n<body>\n<h1>")
                       + title.toHtmlEscaped() + QStringLiteral("</h1>\n<table>\n<tr><th>Asset</th><td>")
                       + asset.code.toHtmlEscaped() + QStringLiteral("</td></tr>\n<tr><th>Description</th><td>")
                       + assetName.toHtmlEscaped() + QStringLiteral("</td></tr>\n<tr><th>Location</th><td>")
                       + asset.location.toHtmlEscaped()
                       + QStringLiteral("</td></tr>\n</table>\n<p>Spare parts and service are available from the "
                                        "supplier's service desk.</p>\n</body>\n</html>\n"))
                .toUtf8();
    }
    return QByteArray();
}

QAtomicInt connectionCounter;

} // namespace

void createSchema(QSqlDatabase db, const Options &options)
{
    runScript(db, schemaStatements(engineOf(db), options));
}

void installChangeNotifications(QSqlDatabase db)
{
    if (engineOf(db) != Engine::PostgreSQL)
        throw Error("Change notifications need PostgreSQL, not " + db.driverName().toStdString());
    runScript(db, splitSqlScript(script(QStringLiteral("postgresql/notify.sql")), ScriptDialect::PostgreSQL));
}

void populate(QSqlDatabase db, const Options &options)
{
    engineOf(db); // throws for other drivers
    if (!db.isOpen())
        throw Error("The database is not open");
    if (!db.transaction())
        fail(QStringLiteral("BEGIN"), db.lastError());
    try {
        populateTables(db, options);
    } catch (...) {
        db.rollback();
        throw;
    }
    if (!db.commit())
        fail(QStringLiteral("COMMIT"), db.lastError());
}

void createSqliteFile(const QString &path, const Options &options)
{
    for (const QString &suffix :
         {QString(), QStringLiteral("-journal"), QStringLiteral("-wal"), QStringLiteral("-shm")}) {
        if (QFile::exists(path + suffix) && !QFile::remove(path + suffix))
            throw Error("Cannot replace " + QString(path + suffix).toStdString());
    }
    const QString connection = QStringLiteral("orvantel-demodata-%1").arg(connectionCounter.fetchAndAddRelaxed(1));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        db.setDatabaseName(path);
        try {
            if (!db.open())
                fail(QStringLiteral("Cannot create ") + path, db.lastError());
            // A new file that is deleted on failure: no need to wait for the disk, and
            // the indexes are built faster with a larger page cache.
            QSqlQuery(db).exec(QStringLiteral("PRAGMA synchronous = OFF"));
            QSqlQuery(db).exec(QStringLiteral("PRAGMA cache_size = -65536"));
            createSchema(db, options);
            populate(db, options);
            db.close();
        } catch (...) {
            db.close();
            db = QSqlDatabase();
            QSqlDatabase::removeDatabase(connection);
            QFile::remove(path);
            throw;
        }
    }
    QSqlDatabase::removeDatabase(connection);
}

void writeLinkedFiles(const QString &folder, const Options &options)
{
    if (!QDir().mkpath(folder))
        throw Error("Cannot create the folder " + folder.toStdString());
    const QDir dir(folder);
    const Plant &plant = Plant::instance();
    for (const LinkedFile &file : linkedFiles(options)) {
        QSaveFile out(dir.filePath(file.fileName));
        if (!out.open(QIODevice::WriteOnly) || out.write(fileContent(file, plant.assets.at(file.asset))) < 0
            || !out.commit()) {
            throw Error("Cannot write " + dir.filePath(file.fileName).toStdString() + ": "
                        + out.errorString().toStdString());
        }
    }
}

} // namespace Orvantel::DemoData

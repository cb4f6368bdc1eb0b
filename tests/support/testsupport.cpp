#include "testsupport.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QUuid>

namespace TestSupport {

namespace {

QString uniqueName(const QString &prefix)
{
    return prefix + QUuid::createUuid().toString(QUuid::Id128).left(12);
}

/// A connection named name to database on the test server (not yet open).
QSqlDatabase addPgConnection(const QString &name, const QString &database)
{
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
    db.setHostName(PgServer::host());
    db.setPort(PgServer::port());
    db.setUserName(PgServer::user());
    db.setPassword(PgServer::password());
    db.setDatabaseName(database);
    return db;
}

/// Runs f on a connection of its own to database; false (with the error) when it cannot open.
bool withConnection(const QString &database, const std::function<bool(QSqlDatabase &)> &f, QString *error)
{
    const QString name = uniqueName(QStringLiteral("testsupport-"));
    bool ok = false;
    {
        QSqlDatabase db = addPgConnection(name, database);
        if (db.open())
            ok = f(db);
        else if (error)
            *error = db.lastError().text();
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

/// Runs sql on db, keeping its first value (true when there is none) or the error.
bool run(QSqlDatabase &db, const QString &sql, QVariant *first, QString *error)
{
    QSqlQuery q(db);
    if (!q.exec(sql)) {
        if (error)
            *error = q.lastError().text();
        return false;
    }
    if (first)
        *first = q.next() ? q.value(0) : QVariant(true);
    return true;
}

} // namespace

void writeSettings(const QString &folder, const QByteArray &keys)
{
    QFile file(folder + QStringLiteral("/OrvantelWO.ini"));
    QVERIFY2(file.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(file.fileName()));
    file.write("[Orvantel]\n" + keys);
}

void HostedControl::show()
{
    host = std::make_unique<QWidget>();
    grid = new WorkOrdersGrid(host.get());
    grid->resize(grid->sizeHint());
    host->show();
    QVERIFY(QTest::qWaitForWindowExposed(host.get()));
    letStartUpFinish();
}

MessageBoxRecorder::MessageBoxRecorder(QObject *parent)
    : QObject(parent)
{
    auto *timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, &MessageBoxRecorder::poll);
    timer->start(10);
}

QStringList MessageBoxRecorder::titles() const
{
    QStringList result;
    for (const ShownMessage &m : messages)
        result << m.title;
    return result;
}

void MessageBoxRecorder::poll()
{
    mostOpenAtOnce = std::max(mostOpenAtOnce, Orvantel::openMessageCount());
    // A box with a parent is still a window, so it is among the top-level widgets.
    for (QWidget *w : QApplication::topLevelWidgets()) {
        auto *box = qobject_cast<QMessageBox *>(w);
        if (!box || !box->isVisible())
            continue;
        if (!m_seen.contains(box)) {
            m_seen << box;
            messages << ShownMessage {box->windowTitle(), box->text(), box->icon()};
            connect(box, &QObject::destroyed, this, [this, box] { m_seen.removeAll(box); });
        }
        if (answer && box->button(QMessageBox::Ok))
            box->button(QMessageBox::Ok)->click();
        else if (answer)
            box->accept();
    }
}

void whenModal(const std::function<void(QWidget *)> &callback, int timeoutMs)
{
    auto *timer = new QTimer;
    QElapsedTimer clock;
    clock.start();
    QObject::connect(timer, &QTimer::timeout, [=] {
        QWidget *modal = QApplication::activeModalWidget();
        const bool found = modal && !qobject_cast<QMessageBox *>(modal);
        if (!found && clock.elapsed() <= timeoutMs)
            return;
        timer->stop();
        timer->deleteLater();
        if (found)
            callback(modal);
        else
            QTest::qFail("no modal dialog appeared", __FILE__, __LINE__);
    });
    timer->start(10);
}

void execSqlite(const QString &path, const QStringList &statements)
{
    const QString name = QStringLiteral("testsupport-sqlite");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        QVERIFY2(db.open(), qPrintable(db.lastError().text()));
        QSqlQuery q(db);
        for (const QString &sql : statements)
            QVERIFY_SQL(q, exec(sql));
    }
    QSqlDatabase::removeDatabase(name);
}

bool PgServer::adminExec(const QString &sql, QString *error)
{
    return withConnection(
            QStringLiteral("postgres"), [&](QSqlDatabase &db) { return run(db, sql, nullptr, error); }, error);
}

QVariant PgServer::exec(const QString &database, const QString &sql)
{
    QVariant first;
    QString error;
    if (!withConnection(
                database, [&](QSqlDatabase &db) { return run(db, sql, &first, &error); }, &error))
        qWarning("%s: %s", qPrintable(sql), qPrintable(error));
    return first;
}

QString PgServer::createDatabase(const QString &prefix, const Orvantel::DemoData::Options *options)
{
    const QString name = uniqueName(prefix.toLower() + u'_');
    QString error;
    if (!adminExec(QStringLiteral("CREATE DATABASE ") + name, &error))
        qFatal("cannot create test database %s: %s", qPrintable(name), qPrintable(error));
    const auto fill = [&](QSqlDatabase &db) {
        Orvantel::DemoData::createSchema(db);
        Orvantel::DemoData::populate(db, *options);
        return true;
    };
    if (options && !withConnection(name, fill, &error))
        qFatal("cannot fill test database %s: %s", qPrintable(name), qPrintable(error));
    return name;
}

void PgServer::dropDatabase(const QString &name)
{
    adminExec(QStringLiteral("DROP DATABASE IF EXISTS ") + name + QStringLiteral(" WITH (FORCE)"));
}

TestPlant::TestPlant(Backend backend, bool changeNotifications)
    : m_backend(backend)
    , m_connection(uniqueName(QStringLiteral("testplant-")))
{
    qputenv("ORVANTEL_CONFIG_DIR", QFile::encodeName(m_dir.path()));
    QSqlDatabase db;
    if (backend == Sqlite) {
        db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
        db.setDatabaseName(sqliteFile());
    } else {
        m_pgDatabase = PgServer::createDatabase(QStringLiteral("testplant"));
        db = addPgConnection(m_connection, m_pgDatabase);
    }
    if (!db.open())
        qFatal("test plant: %s", qPrintable(db.lastError().text()));
    Orvantel::DemoData::Options schema;
    schema.changeNotifications = changeNotifications;
    Orvantel::DemoData::createSchema(db, schema);
    exec({
            QStringLiteral("INSERT INTO GS_Divisions (DivisionID) VALUES ('D1'), ('D2')"),
            QStringLiteral("INSERT INTO GS_Departments (DepartmentID, DivisionID) VALUES ('M1', 'D1'), ('M2', 'D2')"),
            QStringLiteral(
                    "INSERT INTO GS_Assets (AssetCode, Descr, DivisionID, DepartmentID) VALUES "
                    "('A1', 'Pump', 'D1', 'M1'), ('A2', 'Fan', 'D1', 'M1'), ('O''Q', 'Quoted', 'D1', 'M1'), "
                    "('B1', 'Boiler', 'D2', 'M2'), ('C3', NULL, 'D2', 'M2'), ('P-100', 'Feed pump', 'D2', 'M2')"),
            QStringLiteral("INSERT INTO GS_Users (UserID, Name, CanRequestWork) VALUES ('U1', 'Ann', 1), "
                           "('U2', 'Bob', 1), ('U3', NULL, 1), ('T9', 'Tech', 0)"),
            QStringLiteral("INSERT INTO WO_WorkOrders (WO_Nbr, AssetCode, Status, IsPM, Priority, DateLoaded, "
                           "RequestedBy, WorkRequest, DivisionID, DepartmentID) VALUES "
                           "(101, 'A1', 0, 0, 1, '2026-01-01 08:00:00', 'U1', 'Seal leaks', 'D1', 'M1'), "
                           "(102, 'A2', 1, 0, 2, '2026-01-02 08:00:00', 'U2', 'Belt slipping', 'D1', 'M1'), "
                           "(103, 'B1', 2, 0, 3, '2026-01-03 08:00:00', 'U1', 'Burner check', 'D2', 'M2'), "
                           "(104, 'A1', 0, 1, 3, '2026-01-04 08:00:00', 'U1', 'Monthly pump PM', 'D1', 'M1'), "
                           "(105, 'B1', 3, 0, 4, '2026-01-05 08:00:00', 'U2', 'Replaced roller', 'D2', 'M2'), "
                           "(106, 'A2', 4, 0, 5, '2026-01-06 08:00:00', 'U1', 'Fan closed', 'D1', 'M1'), "
                           "(107, 'P-100', 0, 0, NULL, '2026-01-07 08:00:00', 'U2', 'Noise', 'D2', 'M2'), "
                           "(108, 'O''Q', 1, 0, 2, '2026-01-08 08:00:00', 'U1', 'Quoted request', 'D1', 'M1')"),
            QStringLiteral("INSERT INTO GS_LinkedFiles (FileID, AssetCode, DocType, DocDescr, FileName) VALUES "
                           "(1, 'A1', 'Photo', 'Pump front', 'a1.png'), "
                           "(2, 'B1', 'Manual', 'Boiler manual', 'b1 manual.pdf')"),
    });
}

TestPlant::~TestPlant()
{
    QSqlDatabase::database(m_connection, false).close();
    QSqlDatabase::removeDatabase(m_connection);
    if (!m_pgDatabase.isEmpty())
        PgServer::dropDatabase(m_pgDatabase);
}

void TestPlant::writeSettings(const QByteArray &moreKeys) const
{
    TestSupport::writeSettings(folder(),
                               "DBServerName=" + serverName().toUtf8() + "\nDBDatabaseName=" + databaseName().toUtf8()
                                       + "\nDBUserID=" + userId().toUtf8() + "\nDBPassword=" + password().toUtf8()
                                       + '\n' + moreKeys);
}

void TestPlant::exec(const QStringList &statements) const
{
    QSqlDatabase db = QSqlDatabase::database(m_connection, false);
    for (const QString &sql : statements) {
        QString error;
        bool ok = run(db, sql, nullptr, &error);
        if (!ok && m_backend == Postgres) { // the server may have restarted under the plant: connect again, once
            db.close();
            ok = db.open() && run(db, sql, nullptr, &error);
        }
        if (!ok)
            qFatal("test plant: %s: %s", qPrintable(sql), qPrintable(error));
    }
}

QVariant TestPlant::scalar(const QString &sql) const
{
    QSqlQuery q(QSqlDatabase::database(m_connection, false));
    if (q.exec(sql) && q.next())
        return q.value(0);
    qWarning("test plant: %s: %s", qPrintable(sql), qPrintable(q.lastError().text()));
    return {};
}

void addBackendRows()
{
    QTest::addColumn<QString>("backend");
    QTest::newRow("sqlite") << QStringLiteral("sqlite");
    QTest::newRow("postgresql") << QStringLiteral("postgresql");
}

} // namespace TestSupport

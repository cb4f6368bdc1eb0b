#include "testsupport.h"

#include "messagebox.h"
#include "workordersgrid.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QTimer>
#include <QUuid>

namespace TestSupport {

bool runningInCi()
{
    return !qEnvironmentVariableIsEmpty("CI");
}

void letStartUpFinish()
{
    QCoreApplication::processEvents();
}

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

void HostedControl::reset()
{
    host.reset();
    grid = nullptr;
}

MessageBoxRecorder::MessageBoxRecorder(QObject *parent)
    : QObject(parent)
{
    auto *timer = new QTimer(this);
    timer->setInterval(10);
    connect(timer, &QTimer::timeout, this, &MessageBoxRecorder::poll);
    timer->start();
}

MessageBoxRecorder::~MessageBoxRecorder() = default;

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
        if (answer) {
            if (QAbstractButton *ok = box->button(QMessageBox::Ok))
                ok->click();
            else
                box->accept();
        }
    }
}

int ticksWhileErrorBoxIsOpen(const std::function<void()> &tick, MessageBoxRecorder &boxes)
{
    boxes.answer = false;
    QTimer::singleShot(0, &boxes, tick);
    QTimer ticks;
    int tickCount = 0;
    int shownWhileOpen = -1;
    QObject::connect(&ticks, &QTimer::timeout, &boxes, [&] {
        if (++tickCount == 8) {
            shownWhileOpen = int(boxes.messages.size());
            ticks.stop();
            boxes.answer = true;
            return;
        }
        tick();
    });
    ticks.start(20);
    if (!QTest::qWaitFor([&] { return shownWhileOpen >= 0; }, 60000))
        return -1;
    if (!QTest::qWaitFor([] { return Orvantel::openMessageCount() == 0; }, 10000))
        return -1;
    return shownWhileOpen;
}

void whenModal(const std::function<void(QWidget *)> &callback, int timeoutMs)
{
    auto *timer = new QTimer;
    auto *clock = new QElapsedTimer;
    clock->start();
    QObject::connect(timer, &QTimer::timeout, [=] {
        QWidget *modal = QApplication::activeModalWidget();
        if (modal && !qobject_cast<QMessageBox *>(modal)) {
            timer->stop();
            timer->deleteLater();
            delete clock;
            callback(modal);
            return;
        }
        if (clock->elapsed() > timeoutMs) {
            timer->stop();
            timer->deleteLater();
            delete clock;
            QTest::qFail("no modal dialog appeared", __FILE__, __LINE__);
        }
    });
    timer->start(10);
}

QString createSqliteDatabase(const QString &dir, const QString &name, const Orvantel::DemoData::Options &options)
{
    const QString path = dir + u'/' + name;
    Orvantel::DemoData::createSqliteFile(path, options);
    return path;
}

void createSqliteSchema(const QString &path)
{
    const QString name = QStringLiteral("testsupport-schema");
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(path);
        QVERIFY2(db.open(), qPrintable(db.lastError().text()));
        Orvantel::DemoData::createSchema(db);
    }
    QSqlDatabase::removeDatabase(name);
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

bool PgServer::configured()
{
    return !qEnvironmentVariableIsEmpty("ORVANTEL_TEST_PGPORT") && !qEnvironmentVariableIsEmpty("ORVANTEL_TEST_PGUSER");
}

QString PgServer::host()
{
    const QString h = qEnvironmentVariable("ORVANTEL_TEST_PGHOST");
    return h.isEmpty() ? QStringLiteral("127.0.0.1") : h;
}

int PgServer::port()
{
    return qEnvironmentVariableIntValue("ORVANTEL_TEST_PGPORT");
}

QString PgServer::user()
{
    return qEnvironmentVariable("ORVANTEL_TEST_PGUSER");
}

QString PgServer::password()
{
    return qEnvironmentVariable("ORVANTEL_TEST_PGPASSWORD");
}

QString PgServer::serverName()
{
    return QStringLiteral("postgresql://%1:%2").arg(host()).arg(port());
}

QString PgServer::controlScript()
{
    return qEnvironmentVariable("ORVANTEL_TEST_PGCTL");
}

namespace {

template<typename F>
bool withConnection(const QString &database, F &&f, QString *error)
{
    const QString name = QStringLiteral("testsupport-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
    bool ok = false;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
        db.setHostName(PgServer::host());
        db.setPort(PgServer::port());
        db.setUserName(PgServer::user());
        db.setPassword(PgServer::password());
        db.setDatabaseName(database);
        if (!db.open()) {
            if (error)
                *error = db.lastError().text();
        } else {
            ok = f(db);
            db.close();
        }
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

} // namespace

bool PgServer::adminExec(const QString &sql, QString *error)
{
    return withConnection(
            QStringLiteral("postgres"),
            [&](QSqlDatabase &db) {
                QSqlQuery q(db);
                if (q.exec(sql))
                    return true;
                if (error)
                    *error = q.lastError().text();
                return false;
            },
            error);
}

QVariant PgServer::exec(const QString &database, const QString &sql)
{
    QVariant first;
    QString error;
    const bool ok = withConnection(
            database,
            [&](QSqlDatabase &db) {
                QSqlQuery q(db);
                if (!q.exec(sql)) {
                    error = q.lastError().text();
                    return false;
                }
                first = q.next() ? q.value(0) : QVariant(true);
                return true;
            },
            &error);
    if (!ok)
        qWarning("%s: %s", qPrintable(sql), qPrintable(error));
    return first;
}

QString PgServer::createDatabase(const QString &prefix, const Orvantel::DemoData::Options *options)
{
    const QString name = prefix.toLower() + u'_' + QUuid::createUuid().toString(QUuid::Id128).left(12);
    QString error;
    if (!adminExec(QStringLiteral("CREATE DATABASE ") + name, &error))
        qFatal("cannot create test database %s: %s", qPrintable(name), qPrintable(error));
    if (options) {
        const bool filled = withConnection(
                name,
                [&](QSqlDatabase &db) {
                    Orvantel::DemoData::createSchema(db);
                    Orvantel::DemoData::populate(db, *options);
                    return true;
                },
                &error);
        if (!filled)
            qFatal("cannot fill test database %s: %s", qPrintable(name), qPrintable(error));
    }
    return name;
}

void PgServer::dropDatabase(const QString &name)
{
    adminExec(QStringLiteral("DROP DATABASE IF EXISTS ") + name + QStringLiteral(" WITH (FORCE)"));
}

} // namespace TestSupport

namespace TestSupport {

struct TestPlant::Private
{
    Backend backend;
    QTemporaryDir dir;
    QString pgDatabase;
    QString connection = QStringLiteral("testplant-") + QUuid::createUuid().toString(QUuid::WithoutBraces);
};

TestPlant::TestPlant(Backend backend, bool changeNotifications)
    : d(std::make_unique<Private>())
{
    d->backend = backend;
    qputenv("ORVANTEL_CONFIG_DIR", QFile::encodeName(d->dir.path()));
    QSqlDatabase db;
    if (backend == Sqlite) {
        db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), d->connection);
        db.setDatabaseName(sqliteFile());
    } else {
        d->pgDatabase = PgServer::createDatabase(QStringLiteral("testplant"));
        db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), d->connection);
        db.setHostName(PgServer::host());
        db.setPort(PgServer::port());
        db.setUserName(PgServer::user());
        db.setPassword(PgServer::password());
        db.setDatabaseName(d->pgDatabase);
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
    QSqlDatabase::database(d->connection, false).close();
    QSqlDatabase::removeDatabase(d->connection);
    if (!d->pgDatabase.isEmpty())
        PgServer::dropDatabase(d->pgDatabase);
}

QString TestPlant::serverName() const
{
    return d->backend == Sqlite ? QStringLiteral("sqlite:plant.db") : PgServer::serverName();
}

QString TestPlant::databaseName() const
{
    return d->backend == Sqlite ? QStringLiteral("Maintenance") : d->pgDatabase;
}

QString TestPlant::userId() const
{
    return d->backend == Sqlite ? QString() : PgServer::user();
}

QString TestPlant::password() const
{
    return d->backend == Sqlite ? QString() : PgServer::password();
}

void TestPlant::writeSettings(const QByteArray &moreKeys) const
{
    TestSupport::writeSettings(folder(),
                               "DBServerName=" + serverName().toUtf8() + "\nDBDatabaseName=" + databaseName().toUtf8()
                                       + "\nDBUserID=" + userId().toUtf8() + "\nDBPassword=" + password().toUtf8()
                                       + '\n' + moreKeys);
}

QString TestPlant::folder() const
{
    return d->dir.path();
}

QString TestPlant::sqliteFile() const
{
    return d->backend == Sqlite ? d->dir.filePath(QStringLiteral("plant.db")) : QString();
}

void TestPlant::exec(const QStringList &statements) const
{
    QSqlDatabase db = QSqlDatabase::database(d->connection, false);
    QSqlQuery q(db);
    for (const QString &sql : statements) {
        if (!q.exec(sql) && d->backend != Sqlite) {
            // The server may have restarted under the plant: connect again, once.
            db.close();
            db.open();
            q = QSqlQuery(db);
            q.exec(sql);
        }
        if (q.lastError().isValid())
            qFatal("test plant: %s: %s", qPrintable(sql), qPrintable(q.lastError().text()));
    }
}

QVariant TestPlant::scalar(const QString &sql) const
{
    QSqlQuery q(QSqlDatabase::database(d->connection, false));
    if (!q.exec(sql) || !q.next()) {
        qWarning("test plant: %s: %s", qPrintable(sql), qPrintable(q.lastError().text()));
        return {};
    }
    return q.value(0);
}

void addBackendRows()
{
    QTest::addColumn<QString>("backend");
    QTest::newRow("sqlite") << QStringLiteral("sqlite");
    QTest::newRow("postgresql") << QStringLiteral("postgresql");
}

} // namespace TestSupport

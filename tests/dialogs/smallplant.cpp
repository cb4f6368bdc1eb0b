#include "smallplant.h"

#include <QFile>
#include <QSqlQuery>
#include <QUuid>

using namespace Orvantel;

template<typename F>
bool SmallPlant::withDatabase(F &&f)
{
    const QString name = QStringLiteral("smallplant-") + QUuid::createUuid().toString(QUuid::Id128);
    bool ok = false;
    {
        QSqlDatabase db;
        if (m_backend == QLatin1String("sqlite")) {
            db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
            db.setDatabaseName(m_dir.filePath(QStringLiteral("plant.db")));
        } else {
            db = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), name);
            db.setHostName(TestSupport::PgServer::host());
            db.setPort(TestSupport::PgServer::port());
            db.setUserName(TestSupport::PgServer::user());
            db.setPassword(TestSupport::PgServer::password());
            db.setDatabaseName(m_pgDatabase);
        }
        if (db.open())
            ok = f(db);
        else
            qWarning("smallplant: %s", qPrintable(db.lastError().text()));
    }
    QSqlDatabase::removeDatabase(name);
    return ok;
}

std::unique_ptr<SmallPlant> SmallPlant::create(const QString &backend)
{
    std::unique_ptr<SmallPlant> plant(new SmallPlant);
    plant->m_backend = backend;
    if (backend == QLatin1String("sqlite")) {
        plant->settings = {QStringLiteral("sqlite:plant.db"), QStringLiteral("Maintenance"), QString(), QString()};
    } else {
        plant->m_pgDatabase = TestSupport::PgServer::createDatabase(QStringLiteral("tst_dialogs"));
        plant->settings = {TestSupport::PgServer::serverName(), plant->m_pgDatabase, TestSupport::PgServer::user(),
                           TestSupport::PgServer::password()};
    }
    qputenv("ORVANTEL_CONFIG_DIR", QFile::encodeName(plant->m_dir.path()));
    const bool made = plant->withDatabase([](QSqlDatabase &db) {
        DemoData::createSchema(db);
        return true;
    });
    if (!made)
        return nullptr;
    plant->exec({
            QStringLiteral("INSERT INTO GS_Divisions (DivisionID) VALUES ('D1'), ('D2')"),
            QStringLiteral("INSERT INTO GS_Departments (DepartmentID, DivisionID) VALUES ('M1', 'D1'), ('M2', 'D2')"),
            QStringLiteral("INSERT INTO GS_Assets (AssetCode, Descr, DivisionID, DepartmentID) VALUES "
                           "('P-100', 'Feed pump', 'D2', 'M2'), ('B2', 'Fan', 'D1', 'M1'), ('A1', 'Pump', 'D1', 'M1'), "
                           "('C3', NULL, 'D2', 'M2'), ('O''Q', 'Quoted', 'D1', 'M1')"),
            QStringLiteral("INSERT INTO GS_Users (UserID, Name, CanRequestWork) VALUES "
                           "('U2', 'Bob', 1), ('T9', 'Tech', 0), ('U1', 'Ann', 1), ('U3', NULL, 1)"),
            QStringLiteral("INSERT INTO WO_WorkOrders (WO_Nbr, AssetCode, Status, Priority, DateLoaded, RequestedBy, "
                           "WorkRequest, DivisionID, DepartmentID) VALUES "
                           "(101, 'B2', 0, 2, '2026-03-01 08:00:00', 'U1', 'Belt worn', 'D1', 'M1'), "
                           "(102, 'A1', 0, 3, '2026-03-02 08:00:00', 'U2', 'Seal leaks', 'D1', 'M1')"),
    });
    return plant;
}

SmallPlant::~SmallPlant()
{
    if (!m_pgDatabase.isEmpty())
        TestSupport::PgServer::dropDatabase(m_pgDatabase);
}

void SmallPlant::exec(const QStringList &statements)
{
    QString error;
    const bool ok = withDatabase([&](QSqlDatabase &db) {
        QSqlQuery q(db);
        for (const QString &sql : statements) {
            if (!q.exec(sql)) {
                error = sql + QStringLiteral(": ") + q.lastError().text();
                return false;
            }
        }
        return true;
    });
    QVERIFY2(ok, qPrintable(error));
}

QVariant SmallPlant::scalar(const QString &sql)
{
    QVariant value;
    withDatabase([&](QSqlDatabase &db) {
        QSqlQuery q(db);
        if (q.exec(sql) && q.next())
            value = q.value(0);
        return true;
    });
    return value;
}

void SmallPlant::writeSettingsFile(qint16 refreshInterval, const QString &assetList)
{
    QFile file(m_dir.filePath(QStringLiteral("OrvantelWO.ini")));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    const QString text = QStringLiteral("[Orvantel]\nDBServerName=%1\nDBDatabaseName=%2\nDBUserID=%3\nDBPassword=%4\n"
                                        "RefreshInterval=%5\nAssetList=%6\nIncludePMWOs=0\n")
                                 .arg(settings.server, settings.database, settings.userId, settings.password)
                                 .arg(refreshInterval)
                                 .arg(assetList);
    file.write(text.toUtf8());
}

void addBackendRows()
{
    QTest::addColumn<QString>("backend");
    QTest::newRow("sqlite") << QStringLiteral("sqlite");
    QTest::newRow("postgresql") << QStringLiteral("postgresql");
}

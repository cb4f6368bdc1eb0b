#pragma once

#include "testsupport.h"

#include "data/connectionstring.h"

#include <QTemporaryDir>
#include <QVariant>

#include <memory>

/// A maintenance database with a handful of rows every test knows, on SQLite or on the
/// PostgreSQL test server, and a settings folder ($ORVANTEL_CONFIG_DIR) for a control.
///   assets      A1 Pump, B2 Fan, C3 (no description), O'Q Quoted, P-100 Feed pump
///   requesters  U1 Ann, U2 Bob, U3 (no name); T9 may not request work
///   work orders 101 B2, 102 A1 (open)
class SmallPlant
{
public:
    /// "sqlite" or "postgresql"; null (after a skip or failure) when it cannot be made.
    static std::unique_ptr<SmallPlant> create(const QString &backend);
    ~SmallPlant();

    Orvantel::ConnectionSettings settings;
    QString connectString() const { return Orvantel::ConnectionString::build(settings); }

    /// Runs statements on the database; a failure fails the test.
    void exec(const QStringList &statements);
    /// The first value of the first row; invalid when the query fails.
    QVariant scalar(const QString &sql);
    int workOrderCount() { return scalar(QStringLiteral("SELECT COUNT(*) FROM WO_WorkOrders")).toInt(); }

    /// Writes OrvantelWO.ini for this database into the settings folder.
    void writeSettingsFile(qint16 refreshInterval, const QString &assetList = QString());
    QString folder() const { return m_dir.path(); }

private:
    SmallPlant() = default;
    template<typename F>
    bool withDatabase(F &&f);

    QTemporaryDir m_dir;
    QString m_backend;
    QString m_pgDatabase;
};

/// Rows "sqlite" and "postgresql" of a data-driven test's "backend" column.
void addBackendRows();

/// The plant for the current row's backend; skips the row when PostgreSQL is not set up.
#define CREATE_PLANT(var, backend) \
    if ((backend) == QLatin1String("postgresql")) \
        REQUIRE_POSTGRES(); \
    const std::unique_ptr<SmallPlant> var = SmallPlant::create(backend); \
    QVERIFY(var)

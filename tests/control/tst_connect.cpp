#include "testsupport.h"

#include "workordersgrid.h"
#include "workordersgrid_p.h"
#include "connectionstring.h"
#include "recordset.h"
#include "datagrid.h"

#include <QApplication>
#include <QFile>
#include <QMetaProperty>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QUiLoader>

using namespace Orvantel;
using namespace TestSupport;

/// The control object, its interface by name, and its connection to a real database.
class ConnectTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void cleanupTestCase();

    void interfaceMembersInSlotOrder();
    void onlyAccessorPropertiesNotify_data();
    void onlyAccessorPropertiesNotify();
    void childrenCarryTheirNames();
    void pluginCreatesControlByClassName();
    void connectBindsBothGridsWithoutRows_data();
    void connectBindsBothGridsWithoutRows();
    void connectFailureIsReported_data();
    void connectFailureIsReported();
    void connectedStaysTrueAfterLaterFailure();
    void connectRefusesSettingsTheDriverCannotTake_data();
    void connectRefusesSettingsTheDriverCannotTake();

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_sqlitePath;
    QString m_pgDatabase;
};

void ConnectTest::initTestCase()
{
    QLocale::setDefault(QLocale::c());
    if (PgServer::configured()) {
        Orvantel::DemoData::Options small;
        small.workOrders = 50;
        small.linkedFiles = 10;
        m_pgDatabase = PgServer::createDatabase(QStringLiteral("tst_connect"), &small);
    }
}

void ConnectTest::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    QVERIFY(m_dir->isValid());
    qputenv("ORVANTEL_CONFIG_DIR", QFile::encodeName(m_dir->path()));
    Orvantel::DemoData::Options small;
    small.workOrders = 50;
    small.linkedFiles = 10;
    m_sqlitePath = createSqliteDatabase(m_dir->path(), QStringLiteral("maint.db"), small);
}

void ConnectTest::cleanup()
{
    QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
    m_dir.reset();
}

void ConnectTest::cleanupTestCase()
{
    if (!m_pgDatabase.isEmpty())
        PgServer::dropDatabase(m_pgDatabase);
}

void ConnectTest::interfaceMembersInSlotOrder()
{
    const QMetaObject &mo = WorkOrdersGrid::staticMetaObject;
    const QList<QPair<const char *, QMetaType>> expected = {
        {"DBServerName", QMetaType::fromType<QString>()},  {"DBDatabaseName", QMetaType::fromType<QString>()},
        {"DBUserID", QMetaType::fromType<QString>()},      {"DBPassword", QMetaType::fromType<QString>()},
        {"RefreshInterval", QMetaType::fromType<qint16>()}, {"AssetList", QMetaType::fromType<QString>()},
        {"IncludePMWOs", QMetaType::fromType<bool>()},     {"Division", QMetaType::fromType<QString>()},
        {"Department", QMetaType::fromType<QString>()},    {"RequestedBy", QMetaType::fromType<QString>()},
        {"ConnectedToDB", QMetaType::fromType<bool>()},    {"RefreshNow", QMetaType::fromType<qint16>()},
        {"ViewMode", QMetaType::fromType<QString>()},      {"HideViewWorkOrders", QMetaType::fromType<bool>()},
        {"HideViewLinkedFiles", QMetaType::fromType<bool>()}, {"HideNewWO", QMetaType::fromType<bool>()},
        {"ViewChoice", QMetaType::fromType<qint16>()},
    };
    QCOMPARE(mo.propertyCount() - mo.propertyOffset(), expected.size());
    WorkOrdersGrid fresh(nullptr, WorkOrdersGrid::NoStartUp); // every member empty, 0 or false
    for (int i = 0; i < expected.size(); ++i) {
        const QMetaProperty p = mo.property(mo.propertyOffset() + i);
        QCOMPARE(p.name(), expected[i].first);
        QCOMPARE(p.metaType(), expected[i].second);
        QCOMPARE(p.read(&fresh), QVariant(p.metaType()));
        QVERIFY(p.isReadable() && p.isWritable());
        QCOMPARE(p.hasNotifySignal(), i >= 11);
    }
    for (const char *method : {"ConnectToServer()", "RefreshData()"}) {
        const int index = mo.indexOfMethod(method);
        QVERIFY2(index >= 0, method);
        QCOMPARE(mo.method(index).returnMetaType(), QMetaType::fromType<bool>());
        QCOMPARE(mo.method(index).methodType(), QMetaMethod::Method);
    }
    QVERIFY(mo.indexOfSignal("exception(int,QString,QString)") >= 0);
    QVERIFY(mo.indexOfSignal("propertyChanged(QString)") >= 0);
}

void ConnectTest::onlyAccessorPropertiesNotify_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<bool>("notifies");
    QTest::addRow("DBServerName") << "DBServerName" << QVariant(QStringLiteral("srv")) << false;
    QTest::addRow("RefreshInterval") << "RefreshInterval" << QVariant::fromValue<qint16>(30) << false;
    QTest::addRow("AssetList") << "AssetList" << QVariant(QStringLiteral("P-101")) << false;
    QTest::addRow("IncludePMWOs") << "IncludePMWOs" << QVariant(true) << false;
    QTest::addRow("ConnectedToDB") << "ConnectedToDB" << QVariant(true) << false;
    QTest::addRow("HideNewWO") << "HideNewWO" << QVariant(true) << true;
    QTest::addRow("ViewChoice") << "ViewChoice" << QVariant::fromValue<qint16>(2) << true;
    QTest::addRow("ViewMode") << "ViewMode" << QVariant(QStringLiteral("anything")) << true;
}

void ConnectTest::onlyAccessorPropertiesNotify()
{
    QFETCH(QString, name);
    QFETCH(QVariant, value);
    QFETCH(bool, notifies);
    WorkOrdersGrid grid;
    letStartUpFinish();
    QSignalSpy changed(&grid, &WorkOrdersGrid::propertyChanged);
    QVERIFY(grid.setProperty(name.toLatin1().constData(), value));
    QCOMPARE(grid.property(name.toLatin1().constData()), value);
    if (notifies) {
        QCOMPARE(changed.size(), 1);
        QCOMPARE(changed.at(0).at(0).toString(), name);
    } else {
        QCOMPARE(changed.size(), 0);
    }
}

void ConnectTest::childrenCarryTheirNames()
{
    WorkOrdersGrid grid;
    letStartUpFinish();
    for (const char *name : {"Image1", "lblTitle", "optView_0", "optView_1", "optView_2", "optView_3", "cmdNewWO",
                             "cmdConfig", "cmdAbout", "grdWorkOrders", "TDBGrid1", "Adodc1", "Adodc2", "Timer1"})
        QVERIFY2(grid.findChild<QObject *>(QLatin1String(name)), name);
    auto *wo = grid.findChild<DataGrid *>(QStringLiteral("grdWorkOrders"));
    auto *lf = grid.findChild<DataGrid *>(QStringLiteral("TDBGrid1"));
    QCOMPARE(wo->columnCount(), 9);
    QCOMPARE(lf->columnCount(), 4);
    QVERIFY(!wo->isHidden());
    QVERIFY(lf->isHidden());
    QCOMPARE(wo->column(QStringLiteral("WO_Nbr"))->index(), 0);
    QCOMPARE(wo->column(QStringLiteral("status"))->index(), 3);
    QCOMPARE(wo->column(QStringLiteral("Notes"))->index(), 8);
}

void ConnectTest::pluginCreatesControlByClassName()
{
    QUiLoader loader;
    loader.clearPluginPaths();
    loader.addPluginPath(QStringLiteral(ORVANTEL_PLUGIN_DIR));
    QVERIFY2(loader.availableWidgets().contains(QStringLiteral("WorkOrdersGrid")),
             qPrintable(loader.errorString()));
    std::unique_ptr<QWidget> widget(loader.createWidget(QStringLiteral("WorkOrdersGrid")));
    QVERIFY(widget);
    QCOMPARE(widget->metaObject()->className(), "WorkOrdersGrid");
    QVERIFY(widget->setProperty("AssetList", QStringLiteral("P-101")));
    QCOMPARE(widget->property("AssetList").toString(), QStringLiteral("P-101"));
    QCOMPARE(widget->property("ConnectedToDB").toBool(), false);
}

void ConnectTest::connectBindsBothGridsWithoutRows_data()
{
    QTest::addColumn<bool>("postgres");
    QTest::addRow("sqlite") << false;
    QTest::addRow("postgresql") << true;
}

void ConnectTest::connectBindsBothGridsWithoutRows()
{
    QFETCH(bool, postgres);
    WorkOrdersGrid grid;
    letStartUpFinish();
    if (postgres) {
        REQUIRE_POSTGRES();
        grid.setDBServerName(PgServer::serverName());
        grid.setDBDatabaseName(m_pgDatabase);
        grid.setDBUserID(PgServer::user());
        grid.setDBPassword(PgServer::password());
    } else {
        grid.setDBServerName(QStringLiteral("sqlite:maint.db"));  // relative to the settings folder
    }
    grid.setRefreshInterval(30);
    MessageBoxRecorder boxes;
    QVERIFY(grid.ConnectToServer());
    QVERIFY(boxes.messages.isEmpty());
    QVERIFY(grid.ConnectedToDB());
    QCOMPARE(grid.RefreshInterval(), qint16(30));

    for (const char *name : {"grdWorkOrders", "TDBGrid1"}) {
        auto *g = grid.findChild<DataGrid *>(QLatin1String(name));
        QCOMPARE(g->rowCount(), 0);
        QVERIFY(g->recordset()->fieldCount() > 0);
        for (int c = 0; c < g->columnCount(); ++c) {
            if (!g->column(c)->dataField().isEmpty())
                QVERIFY2(g->fieldOfColumn(c) >= 0, qPrintable(g->column(c)->dataField()));
        }
    }
    auto *wp = WorkOrdersGridPrivate::get(&grid);
    QCOMPARE(wp->m_sConnectString,
             ConnectionString::build({grid.DBServerName(), grid.DBDatabaseName(), grid.DBUserID(), grid.DBPassword()}));
}

void ConnectTest::connectFailureIsReported_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("database");
    QTest::addColumn<bool>("postgres");
    QTest::addColumn<QString>("expectedText");  // empty: only the form is checked
    QTest::addRow("missing sqlite file")
        << "sqlite:nowhere.db" << "" << false << "Error 3000\r\nDatabase file not found: %1/nowhere.db";
    QTest::addRow("every setting empty") << "" << "" << false << "";
    QTest::addRow("unreachable sql server") << "127.0.0.1,1" << "Maintenance" << false << "";
    QTest::addRow("refused postgresql login") << "" << "" << true << "";
}

void ConnectTest::connectFailureIsReported()
{
    QFETCH(QString, server);
    QFETCH(QString, database);
    QFETCH(bool, postgres);
    QFETCH(QString, expectedText);
    WorkOrdersGrid grid;
    letStartUpFinish();
    grid.setDBServerName(server);
    grid.setDBDatabaseName(database);
    if (postgres) {
        REQUIRE_POSTGRES();
        grid.setDBServerName(PgServer::serverName());
        grid.setDBDatabaseName(m_pgDatabase);
        grid.setDBUserID(PgServer::user());
        grid.setDBPassword(QStringLiteral("not the password"));
    }
    grid.setRefreshInterval(30);
    MessageBoxRecorder boxes;
    QVERIFY(!grid.ConnectToServer());
    QCOMPARE(boxes.messages.size(), 1);
    const ShownMessage box = boxes.messages.first();
    QCOMPARE(box.title, QStringLiteral("ConnectToServer Error"));
    QCOMPARE(box.icon, QMessageBox::Warning);
    QVERIFY2(QRegularExpression(QStringLiteral("^Error -?\\d+\\r\\n\\S")).match(box.text).hasMatch(),
             qPrintable(box.text));
    if (!expectedText.isEmpty())
        QCOMPARE(box.text, expectedText.arg(m_dir->path()));
    if (postgres)
        QVERIFY2(box.text.contains(QStringLiteral("password")), qPrintable(box.text));
    QCOMPARE(grid.RefreshInterval(), qint16(0));
    QVERIFY(!grid.ConnectedToDB());
    QVERIFY(!QFile::exists(m_dir->path() + QStringLiteral("/nowhere.db")));
}

void ConnectTest::connectedStaysTrueAfterLaterFailure()
{
    WorkOrdersGrid grid;
    letStartUpFinish();
    grid.setDBServerName(QStringLiteral("sqlite:") + m_sqlitePath);
    MessageBoxRecorder boxes;
    QVERIFY(grid.ConnectToServer());
    QVERIFY(grid.ConnectedToDB());
    grid.setDBServerName(QStringLiteral("sqlite:") + m_dir->path() + QStringLiteral("/gone.db"));
    grid.setRefreshInterval(10);
    QVERIFY(!grid.ConnectToServer());
    QCOMPARE(boxes.titles(), QStringList{QStringLiteral("ConnectToServer Error")});
    QVERIFY(grid.ConnectedToDB());
    QCOMPARE(grid.RefreshInterval(), qint16(0));
}

void ConnectTest::connectRefusesSettingsTheDriverCannotTake_data()
{
    // The SQL Server path through FreeTDS, the default driver: nothing is sent anywhere.
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<QString>("expectedText");
    QTest::addRow("password with a brace")
        << "sa" << "s3cret};PORT=5999"
        << "Error 3000\r\nThe password contains '}', which the FreeTDS ODBC driver cannot take; the connection was "
           "not attempted.";
    QTest::addRow("user naming a file DSN")
        << "maint.dsn" << "s3cret"
        << "Error 3000\r\nThe user ID contains \".dsn\", which would make the connection read a file DSN instead; "
           "the connection was not attempted.";
}

void ConnectTest::connectRefusesSettingsTheDriverCannotTake()
{
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(QString, expectedText);
    qunsetenv("ORVANTEL_ODBC_DRIVER");
    WorkOrdersGrid grid;
    grid.setDBServerName(QStringLiteral("127.0.0.1,1"));
    grid.setDBDatabaseName(QStringLiteral("Maintenance"));
    grid.setDBUserID(user);
    grid.setDBPassword(password);
    grid.setRefreshInterval(30);
    MessageBoxRecorder boxes;
    QVERIFY(!grid.ConnectToServer());
    QCOMPARE(boxes.titles(), QStringList{QStringLiteral("ConnectToServer Error")});
    QCOMPARE(boxes.messages.first().icon, QMessageBox::Warning);
    QCOMPARE(boxes.messages.first().text, expectedText);
    QVERIFY(!boxes.messages.first().text.contains(password));
    QVERIFY(!grid.ConnectedToDB());
    QCOMPARE(grid.RefreshInterval(), qint16(0));
}

QTEST_MAIN(ConnectTest)
#include "tst_connect.moc"

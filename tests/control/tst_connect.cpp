#include "testsupport.h"

#include "datagrid.h"
#include "workordersgrid.h"

#include <QApplication>
#include <QFile>
#include <QMetaProperty>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QUiLoader>

using namespace Orvantel;
using namespace TestSupport;

/// The control object, its interface by name, and its connection to a real database.
class ConnectTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanup() { QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty()); }

    void interfaceMembersInDeclarationOrder();
    void pluginCreatesControlByClassName();
    void connectOpensBothGridsWithoutRows_data() { addBackendRows(); }
    void connectOpensBothGridsWithoutRows();
    void connectFailureIsReported_data();
    void connectFailureIsReported();
};

void ConnectTest::initTestCase()
{
    QLocale::setDefault(QLocale::c());
    qunsetenv("ORVANTEL_ODBC_DRIVER"); // FreeTDS, the default driver
}

void ConnectTest::interfaceMembersInDeclarationOrder()
{
    const QMetaType text = QMetaType::fromType<QString>();
    const QMetaType number = QMetaType::fromType<qint16>();
    const QMetaType flag = QMetaType::fromType<bool>();
    // Hosts may address the members by position: their order is part of the interface.
    const QList<QPair<const char *, QMetaType>> members
            = {{"DBServerName", text}, {"DBDatabaseName", text},     {"DBUserID", text},
               {"DBPassword", text},   {"RefreshInterval", number},  {"AssetList", text},
               {"IncludePMWOs", flag}, {"Division", text},           {"Department", text},
               {"RequestedBy", text},  {"ConnectedToDB", flag},      {"RefreshNow", number},
               {"ViewMode", text},     {"HideViewWorkOrders", flag}, {"HideViewLinkedFiles", flag},
               {"HideNewWO", flag},    {"ViewChoice", number}};
    const QMetaObject &mo = WorkOrdersGrid::staticMetaObject;
    QCOMPARE(mo.propertyCount() - mo.propertyOffset(), members.size());
    WorkOrdersGrid fresh(nullptr, WorkOrdersGrid::NoStartUp);
    QSignalSpy changed(&fresh, &WorkOrdersGrid::propertyChanged);
    for (int i = 0; i < members.size(); ++i) {
        const QMetaProperty p = mo.property(mo.propertyOffset() + i);
        QCOMPARE(p.name(), members[i].first);
        QCOMPARE(p.metaType(), members[i].second);
        QCOMPARE(p.read(&fresh), QVariant(p.metaType())); // empty, 0 or false
        QVERIFY(p.isWritable());
        // The first eleven are plain settings: a write stores the value and notifies nothing.
        QCOMPARE(p.hasNotifySignal(), i >= 11);
        if (i < 11)
            QVERIFY(p.write(&fresh, QVariant(p.metaType())));
    }
    QCOMPARE(changed.size(), 0);
    for (const char *method : {"ConnectToServer()", "RefreshData()"}) {
        const QMetaMethod m = mo.method(mo.indexOfMethod(method));
        QVERIFY2(m.methodType() == QMetaMethod::Method && m.returnMetaType() == flag, method);
    }
    QVERIFY(mo.indexOfSignal("exception(int,QString,QString)") >= 0);
    QVERIFY(mo.indexOfSignal("propertyChanged(QString)") >= 0);
    for (const char *name : {"Image1", "lblTitle", "optView_0", "optView_1", "optView_2", "optView_3", "cmdNewWO",
                             "cmdConfig", "cmdAbout", "grdWorkOrders", "TDBGrid1", "Adodc1", "Adodc2", "Timer1"})
        QVERIFY2(fresh.findChild<QObject *>(QLatin1String(name)), name); // children hosts find by name
}

void ConnectTest::pluginCreatesControlByClassName()
{
    QUiLoader loader;
    loader.clearPluginPaths();
    loader.addPluginPath(QStringLiteral(ORVANTEL_PLUGIN_DIR));
    std::unique_ptr<QWidget> widget(loader.createWidget(QStringLiteral("WorkOrdersGrid")));
    QVERIFY2(widget, qPrintable(loader.errorString()));
    QCOMPARE(widget->metaObject()->className(), "WorkOrdersGrid");
    QCOMPARE(widget->property("ConnectedToDB"), QVariant(false)); // found by name
}

void ConnectTest::connectOpensBothGridsWithoutRows()
{
    QFETCH(QString, backend);
    if (backend == u"postgresql")
        REQUIRE_POSTGRES();
    TestPlant plant(backend);
    WorkOrdersGrid grid; // no settings file: start-up connects nothing
    letStartUpFinish();
    grid.setDBServerName(plant.serverName()); // "sqlite:plant.db": relative to the settings folder
    grid.setDBDatabaseName(plant.databaseName());
    grid.setDBUserID(plant.userId());
    grid.setDBPassword(plant.password());
    grid.setRefreshInterval(30);
    MessageBoxRecorder boxes;
    const bool connected = grid.ConnectToServer();
    QCOMPARE(boxes.messages.value(0).text, QString());
    QVERIFY(connected && grid.ConnectedToDB());
    QCOMPARE(grid.RefreshInterval(), qint16(30));
    for (const char *name : {"grdWorkOrders", "TDBGrid1"}) {
        auto *g = grid.findChild<DataGrid *>(QLatin1String(name));
        QCOMPARE(g->rowCount(), 0);
        for (int c = 0; c < g->columnCount(); ++c) // every bound column finds its field
            QVERIFY2(g->column(c)->dataField().isEmpty() || g->fieldOfColumn(c) >= 0,
                     qPrintable(g->column(c)->dataField()));
    }
}

void ConnectTest::connectFailureIsReported_data()
{
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("database");
    QTest::addColumn<QString>("user");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("connectedBefore"); // to the plant, first
    QTest::addColumn<QString>("expected"); // in the box's text (%1: the settings folder)
    auto row = [](const char *name, const QString &server, const char *database, const QString &user,
                  const char *password, bool connectedBefore, const char *expected) {
        QTest::newRow(name) << server << QString::fromUtf8(database) << user << QString::fromUtf8(password)
                            << connectedBefore << QString::fromUtf8(expected);
    };
    const QString sqlServer = QStringLiteral("127.0.0.1,1");
    row("missing sqlite file", u"sqlite:nowhere.db"_qs, "", {}, "", false,
        "Error 3000\r\nDatabase file not found: %1/nowhere.db");
    row("every setting empty", {}, "", {}, "", false, "");
    row("closed sql server port", sqlServer, "Maintenance", u"sa"_qs, "pw", false, "");
    row("closed postgresql port", u"postgresql://127.0.0.1:1"_qs, "Maintenance", u"sa"_qs, "pw", false, "");
    row("refused postgresql login", PgServer::serverName(), "postgres", PgServer::user(), "not the password", false,
        "password");
    // Values FreeTDS cannot read back exactly: nothing is sent anywhere.
    row("freetds: brace in the password", sqlServer, "Maintenance", u"sa"_qs, "s3cret};PORT=5999", false,
        "Error 3000\r\nThe password contains '}', which the FreeTDS ODBC driver cannot take; the connection was not "
        "attempted.");
    row("freetds: user naming a file DSN", sqlServer, "Maintenance", u"maint.dsn"_qs, "s3cret", false,
        "Error 3000\r\nThe user ID contains \".dsn\", which would make the connection read a file DSN instead; the "
        "connection was not attempted.");
    row("ConnectedToDB stays true after a later failure", u"sqlite:gone.db"_qs, "", {}, "", true,
        "Error 3000\r\nDatabase file not found: %1/gone.db");
}

void ConnectTest::connectFailureIsReported()
{
    QFETCH(QString, server);
    QFETCH(QString, database);
    QFETCH(QString, user);
    QFETCH(QString, password);
    QFETCH(bool, connectedBefore);
    QFETCH(QString, expected);
    if (server == PgServer::serverName())
        REQUIRE_POSTGRES();
    TestPlant plant;
    WorkOrdersGrid grid;
    letStartUpFinish();
    MessageBoxRecorder boxes;
    if (connectedBefore) {
        grid.setDBServerName(plant.serverName());
        QVERIFY(grid.ConnectToServer());
    }
    grid.setDBServerName(server);
    grid.setDBDatabaseName(database);
    grid.setDBUserID(user);
    grid.setDBPassword(password);
    grid.setRefreshInterval(30);
    QVERIFY(!grid.ConnectToServer());
    QCOMPARE(boxes.titles(), QStringList {QStringLiteral("ConnectToServer Error")});
    const ShownMessage box = boxes.messages.first();
    QCOMPARE(box.icon, QMessageBox::Warning);
    const bool shaped = QRegularExpression(QStringLiteral("^Error -?\\d+\\r\\n\\S")).match(box.text).hasMatch();
    QVERIFY2(shaped && box.text.contains(expected.replace(QLatin1String("%1"), plant.folder()))
                     && (password.isEmpty() || !box.text.contains(password)),
             qPrintable(box.text));
    QCOMPARE(grid.ConnectedToDB(), connectedBefore); // true once a connection succeeded
    QCOMPARE(grid.RefreshInterval(), qint16(0)); // a failed connection stops the timed refreshes
    if (server.startsWith(u"sqlite:"))
        QVERIFY(!QFile::exists(plant.folder() + u'/' + server.mid(7))); // looked for, never made
}

QTEST_MAIN(ConnectTest)
#include "tst_connect.moc"

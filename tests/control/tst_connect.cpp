#include "testsupport.h"

#include "datagrid.h"
#include "workordersgrid.h"

#include <QApplication>
#include <QFile>
#include <QMetaProperty>
#include <QRegularExpression>
#include <QSignalSpy>

using namespace Orvantel;
using namespace TestSupport;

/// The control's interface by name and its connection to a real database.
class ConnectTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        QLocale::setDefault(QLocale::c());
        qunsetenv("ORVANTEL_ODBC_DRIVER"); // FreeTDS, the default driver
    }
    void cleanup() { QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty()); }
    void interfaceMembersInDeclarationOrder();
    void connectToServer_data();
    void connectToServer();
};

void ConnectTest::interfaceMembersInDeclarationOrder()
{
    // Hosts may address the members by position: their order is part of the interface ("short": 16 bits). The first
    // eleven are plain settings (a write stores the value and notifies nothing), the rest notify.
    const QMetaObject &mo = WorkOrdersGrid::staticMetaObject;
    WorkOrdersGrid fresh(nullptr, WorkOrdersGrid::NoStartUp);
    QSignalSpy changed(&fresh, &WorkOrdersGrid::propertyChanged);
    QStringList members;
    for (int i = mo.propertyOffset(); i < mo.propertyCount(); ++i) {
        const QMetaProperty p = mo.property(i);
        members << u"%1 %2%3"_qs.arg(QLatin1String(p.name()), QLatin1String(p.typeName()),
                                     p.hasNotifySignal() ? u" notifies"_qs : QString());
        QCOMPARE(p.read(&fresh), QVariant(p.metaType())); // empty, 0 or false
        QVERIFY(p.isWritable() && (p.hasNotifySignal() || p.write(&fresh, QVariant(p.metaType()))));
    }
    QCOMPARE(members.join(u", "_qs),
             u"DBServerName QString, DBDatabaseName QString, DBUserID QString, DBPassword QString, "
             "RefreshInterval short, AssetList QString, IncludePMWOs bool, Division QString, Department QString, "
             "RequestedBy QString, ConnectedToDB bool, RefreshNow short notifies, ViewMode QString notifies, "
             "HideViewWorkOrders bool notifies, HideViewLinkedFiles bool notifies, HideNewWO bool notifies, "
             "ViewChoice short notifies"_qs);
    QCOMPARE(changed.size(), 0);
    for (const char *method : {"ConnectToServer()", "RefreshData()"}) {
        const QMetaMethod m = mo.method(mo.indexOfMethod(method));
        QVERIFY2(m.methodType() == QMetaMethod::Method && m.returnMetaType() == QMetaType::fromType<bool>(), method);
    }
    QVERIFY(mo.indexOfSignal("exception(int,QString,QString)") >= 0
            && mo.indexOfSignal("propertyChanged(QString)") >= 0);
    for (const char *name : {"Image1", "lblTitle", "optView_0", "optView_1", "optView_2", "optView_3", "cmdNewWO",
                             "cmdConfig", "cmdAbout", "grdWorkOrders", "TDBGrid1", "Adodc1", "Adodc2", "Timer1"})
        QVERIFY2(fresh.findChild<QObject *>(QLatin1String(name)), name); // children hosts find by name
}

void ConnectTest::connectToServer_data()
{
    // The plant's engine; "server|database|user|password" ("PLANT": the plant's, "+" first: connected to the
    // plant before); "connects", or what the box says (%1: the settings folder).
    QTest::addColumn<QString>("backend");
    QTest::addColumn<QString>("settings");
    QTest::addColumn<QString>("expected");
    const QString notFound = u"Error 3000\r\nDatabase file not found: %1/"_qs;
    const auto row
            = [](const char *name, const QString &settings, const QString &expected,
                 const QString &backend = u"sqlite"_qs) { QTest::newRow(name) << backend << settings << expected; };
    row("sqlite", u"PLANT"_qs, u"connects"_qs);
    row("postgresql", u"PLANT"_qs, u"connects"_qs, u"postgresql"_qs);
    row("missing sqlite file", u"sqlite:nowhere.db|||"_qs, notFound + u"nowhere.db"_qs);
    row("every setting empty", u"|||"_qs, QString());
    row("closed sql server port", u"127.0.0.1,1|Maintenance|sa|pw"_qs, QString());
    row("closed postgresql port", u"postgresql://127.0.0.1:1|Maintenance|sa|pw"_qs, QString());
    row("refused postgresql login", PgServer::serverName() + u"|postgres|"_qs + PgServer::user() + u"|not the pw"_qs,
        u"password"_qs);
    // Values FreeTDS cannot read back exactly: nothing is sent anywhere.
    row("freetds: brace in the password", u"127.0.0.1,1|Maintenance|sa|s3cret};PORT=5999"_qs,
        u"Error 3000\r\nThe password contains '}', which the FreeTDS ODBC driver cannot take; the connection was not "
        "attempted."_qs);
    row("freetds: user naming a file DSN", u"127.0.0.1,1|Maintenance|maint.dsn|s3cret"_qs,
        u"Error 3000\r\nThe user ID contains \".dsn\", which would make the connection read a file DSN instead; the "
        "connection was not attempted."_qs);
    row("ConnectedToDB stays true after a later failure", u"+sqlite:gone.db|||"_qs, notFound + u"gone.db"_qs);
}

void ConnectTest::connectToServer()
{
    QFETCH(QString, backend);
    QFETCH(QString, settings);
    QFETCH(QString, expected);
    if (backend == u"postgresql" || settings.startsWith(PgServer::serverName()))
        REQUIRE_POSTGRES();
    TestPlant plant(backend);
    const bool connectedBefore = settings.startsWith(u'+');
    const QStringList s
            = settings.mid(connectedBefore ? 1 : 0)
                      .replace(u"PLANT"_qs,
                               QStringList {plant.serverName(), plant.databaseName(), plant.userId(), plant.password()}
                                       .join(u'|'))
                      .split(u'|');
    WorkOrdersGrid grid; // no settings file: start-up connects nothing
    letStartUpFinish();
    MessageBoxRecorder boxes;
    if (connectedBefore) {
        grid.setDBServerName(plant.serverName());
        QVERIFY(grid.ConnectToServer());
    }
    grid.setDBServerName(s[0]); // "sqlite:plant.db": relative to the settings folder
    grid.setDBDatabaseName(s[1]);
    grid.setDBUserID(s[2]);
    grid.setDBPassword(s[3]);
    grid.setRefreshInterval(30);
    const bool connected = grid.ConnectToServer();
    if (expected == u"connects"_qs) {
        QCOMPARE(boxes.messages.value(0).text, QString());
        QVERIFY(connected && grid.ConnectedToDB());
        QCOMPARE(grid.RefreshInterval(), qint16(30));
        for (const char *name : {"grdWorkOrders", "TDBGrid1"}) {
            auto *g = grid.findChild<DataGrid *>(QLatin1String(name));
            QCOMPARE(g->rowCount(), 0);
            for (int c = 0; c < g->columnCount(); ++c) // every bound column finds its field on either engine
                QVERIFY2(g->column(c)->dataField().isEmpty() || g->fieldOfColumn(c) >= 0,
                         qPrintable(g->column(c)->dataField()));
        }
        return;
    }
    QVERIFY(!connected);
    QCOMPARE(boxes.titles(), QStringList {u"ConnectToServer Error"_qs});
    const ShownMessage box = boxes.messages.first();
    QCOMPARE(box.icon, QMessageBox::Warning);
    const bool shaped = QRegularExpression(u"^Error -?\\d+\\r\\n\\S"_qs).match(box.text).hasMatch();
    QVERIFY2(shaped && box.text.contains(expected.replace(u"%1"_qs, plant.folder()))
                     && (s[3].isEmpty() || !box.text.contains(s[3])),
             qPrintable(box.text));
    QCOMPARE(grid.ConnectedToDB(), connectedBefore); // true once a connection succeeded
    QCOMPARE(grid.RefreshInterval(), qint16(0)); // a failed connection stops the timed refreshes
    if (s[0].startsWith(u"sqlite:"))
        QVERIFY(!QFile::exists(plant.folder() + u'/' + s[0].mid(7))); // looked for, never made
}

QTEST_MAIN(ConnectTest)
#include "tst_connect.moc"

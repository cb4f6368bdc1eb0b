#include "testsupport.h"

#include "workordersgrid.h"
#include "workordersgrid_p.h"
#include "connectionstring.h"
#include "database.h"
#include "datasource.h"
#include "lookups.h"
#include "recordset.h"
#include "frmconfig.h"
#include "frmnewwo.h"
#include "limitedtextedit.h"
#include "datagrid.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QRadioButton>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QTextCursor>
#include <QTimer>

using namespace Orvantel;
using namespace TestSupport;

namespace {

/// A maintenance database with a handful of rows every test knows, on SQLite or on the
/// PostgreSQL test server, and a settings folder ($ORVANTEL_CONFIG_DIR) for a control.
///   assets      A1 Pump, B2 Fan, C3 (no description), O'Q Quoted, P-100 Feed pump
///   requesters  U1 Ann, U2 Bob, U3 (no name); T9 may not request work
///   work orders 101 B2, 102 A1 (open)
class SmallPlant
{
public:
    explicit SmallPlant(const QString &backend)
    {
        qputenv("ORVANTEL_CONFIG_DIR", QFile::encodeName(m_dir.path()));
        if (backend == QLatin1String("sqlite")) {
            settings = {u"sqlite:plant.db"_qs, u"Maintenance"_qs, QString(), QString()};
            execSqlite(m_dir.filePath(u"plant.db"_qs), {}); // an empty file
        } else {
            m_pgDatabase = PgServer::createDatabase(u"tst_dialogs"_qs);
            settings = {PgServer::serverName(), m_pgDatabase, PgServer::user(), PgServer::password()};
        }
        m_db = std::make_unique<Database>(connectString(), m_dir.path());
        m_db->open();
        DemoData::createSchema(m_db->database());
        exec({
                u"INSERT INTO GS_Divisions (DivisionID) VALUES ('D1'), ('D2')"_qs,
                u"INSERT INTO GS_Departments (DepartmentID, DivisionID) VALUES ('M1', 'D1'), ('M2', 'D2')"_qs,
                u"INSERT INTO GS_Assets (AssetCode, Descr, DivisionID, DepartmentID) VALUES ('P-100', 'Feed pump', "
                "'D2', 'M2'), ('B2', 'Fan', 'D1', 'M1'), ('A1', 'Pump', 'D1', 'M1'), ('C3', NULL, 'D2', 'M2'), "
                "('O''Q', 'Quoted', 'D1', 'M1')"_qs,
                u"INSERT INTO GS_Users (UserID, Name, CanRequestWork) VALUES ('U2', 'Bob', 1), ('T9', 'Tech', 0), "
                "('U1', 'Ann', 1), ('U3', NULL, 1)"_qs,
                u"INSERT INTO WO_WorkOrders (WO_Nbr, AssetCode, Status, Priority, DateLoaded, RequestedBy, "
                "WorkRequest, DivisionID, DepartmentID) VALUES "
                "(101, 'B2', 0, 2, '2026-03-01 08:00:00', 'U1', 'Belt worn', 'D1', 'M1'), "
                "(102, 'A1', 0, 3, '2026-03-02 08:00:00', 'U2', 'Seal leaks', 'D1', 'M1')"_qs,
        });
    }

    ~SmallPlant()
    {
        m_db.reset();
        if (!m_pgDatabase.isEmpty())
            PgServer::dropDatabase(m_pgDatabase);
    }

    QString connectString() const { return ConnectionString::build(settings); }
    QString folder() const { return m_dir.path(); }
    /// Throws ControlError when a statement fails.
    void exec(const QStringList &statements)
    {
        for (const QString &sql : statements)
            m_db->execute(sql);
    }
    QVariant scalar(const QString &sql)
    {
        QSqlQuery q(m_db->database());
        return q.exec(sql) && q.next() ? q.value(0) : QVariant();
    }
    int workOrderCount() { return scalar(u"SELECT COUNT(*) FROM WO_WorkOrders"_qs).toInt(); }

    ConnectionSettings settings;

private:
    QTemporaryDir m_dir;
    QString m_pgDatabase;
    std::unique_ptr<Database> m_db;
};

/// The asset combo box's items for the whole table, in code order.
const QStringList AssetItems
        = {u"A1 - Pump"_qs, u"B2 - Fan"_qs, u"C3 - C3"_qs, u"O'Q - Quoted"_qs, u"P-100 - Feed pump"_qs};

/// Replaces what a box holds by typing, as an operator does.
void typeInto(QWidget *box, const QString &text)
{
    if (auto *combo = qobject_cast<QComboBox *>(box))
        box = combo->lineEdit();
    box->setFocus();
    QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(box, Qt::Key_Delete);
    QTest::keyClicks(box, text);
}

void pick(QComboBox *combo, const QString &item)
{
    const int index = combo->findText(item);
    QVERIFY2(index >= 0, qPrintable(item));
    combo->setCurrentIndex(index);
}

QStringList items(const QComboBox *combo)
{
    QStringList result;
    for (int i = 0; i < combo->count(); ++i)
        result << combo->itemText(i);
    return result;
}

/// Leaves a dialog the way the ending names: "ok", "cancel", "esc" or "close" (its close box).
template<typename Form>
void leave(Form *form, const QString &ending)
{
    if (ending == QLatin1String("ok"))
        QTest::mouseClick(form->cmdOK, Qt::LeftButton);
    else if (ending == QLatin1String("cancel"))
        QTest::mouseClick(form->cmdCancel, Qt::LeftButton);
    else if (ending == QLatin1String("esc"))
        QTest::keyClick(form->focusWidget() ? form->focusWidget() : form, Qt::Key_Escape);
    else
        form->close();
}

} // namespace

/// The lookups behind the dialogs, and the New WO and Configure flows run through their
/// real modal dialogs.
class DialogsTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void cleanup();

    void comboItemCode_data();
    void comboItemCode();
    void newWorkOrderListsAndPresets_data();
    void newWorkOrderListsAndPresets();
    void newWorkOrderOutcome_data();
    void newWorkOrderOutcome();
    void newWorkOrderAppearsAtNextRefresh_data() { addBackendRows(); }
    void newWorkOrderAppearsAtNextRefresh();
    void newWorkOrderFromRowWithoutAssetCode();
    void newWorkOrderEnterKey_data();
    void newWorkOrderEnterKey();
    void multiLineBoxesLimitWhatIsTyped();
    void configureOutcome_data();
    void configureOutcome();
    void configureFailureIsReportedAndCleanedUp();

private:
    void startControl(const QString &backend, qint16 refreshInterval, const QString &assetList);
    template<typename Form>
    void runDialog(QPushButton *button, const std::function<void(Form *)> &fill);
    QStringList titles() const { return m_boxes->titles(); }
    QString gridText(int row, const QString &field) const;

    std::unique_ptr<SmallPlant> m_plant;
    HostedControl m_control;
    WorkOrdersGrid *m_grid = nullptr;
    WorkOrdersGridPrivate *d = nullptr;
    std::unique_ptr<MessageBoxRecorder> m_boxes;
};

void DialogsTest::initTestCase()
{
    // Every lookup closes and removes its own connection.
    QTest::failOnWarning(QRegularExpression(u"still in use"_qs));
}

void DialogsTest::cleanup()
{
    m_control.reset();
    m_boxes.reset();
    QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
    QVERIFY(!QGuiApplication::overrideCursor());
    m_plant.reset();
}

void DialogsTest::startControl(const QString &backend, qint16 refreshInterval, const QString &assetList)
{
    m_plant = std::make_unique<SmallPlant>(backend);
    const ConnectionSettings &s = m_plant->settings;
    writeSettings(m_plant->folder(),
                  u"DBServerName=%1\nDBDatabaseName=%2\nDBUserID=%3\nDBPassword=%4\nRefreshInterval=%5\n"
                  "AssetList=%6\nIncludePMWOs=0\n"_qs
                          .arg(s.server, s.database, s.userId, s.password, QString::number(refreshInterval), assetList)
                          .toUtf8());
    m_boxes = std::make_unique<MessageBoxRecorder>();
    m_control.show();
    m_grid = m_control.grid;
    d = m_control.d;
    QVERIFY2(titles().isEmpty(), qPrintable(titles().join(u", ")));
}

template<typename Form>
void DialogsTest::runDialog(QPushButton *button, const std::function<void(Form *)> &fill)
{
    whenModal([fill](QWidget *modal) {
        auto *form = qobject_cast<Form *>(modal);
        if (form)
            fill(form);
        // A failed check must not leave the flow waiting on its dialog.
        if (modal->isVisible() && (!form || QTest::currentTestFailed()))
            modal->close();
        QVERIFY(form);
    });
    button->click();
}

QString DialogsTest::gridText(int row, const QString &field) const
{
    Recordset *rs = d->grdWorkOrders->recordset();
    return rs->rowCount() > row ? rs->text(row, rs->fieldIndex(field)) : QString();
}

void DialogsTest::comboItemCode_data()
{
    QTest::addColumn<QString>("item");
    QTest::addColumn<QString>("code");
    QTest::newRow("code and description") << u" P-100 - Feed pump"_qs << u"P-100"_qs;
    QTest::newRow("two separators") << u"A - B - C"_qs << u"A"_qs;
    QTest::newRow("hyphen without blanks") << u"A -B "_qs << u"A -B"_qs;
    QTest::newRow("only spaces trimmed") << u"\tX "_qs << u"\tX"_qs;
    QTest::newRow("the empty first item") << u" - "_qs << QString();
}

void DialogsTest::comboItemCode()
{
    QFETCH(QString, item);
    QFETCH(QString, code);
    QCOMPARE(ComboItemCode(item), code);
}

void DialogsTest::newWorkOrderListsAndPresets_data()
{
    QTest::addColumn<QString>("assetList");
    QTest::addColumn<bool>("linkedFilesView");
    QTest::addColumn<QStringList>("assetItems");
    QTest::addColumn<QString>("assetText");
    // The grid shows work orders newest first: 102 (A1), then 101 (B2); the second row is made current.
    QTest::newRow("whole table, current row's asset") << QString() << false << AssetItems << u"B2"_qs;
    QTest::newRow("blanks only load the table") << u"   "_qs << false << AssetItems << u"B2"_qs;
    QTest::newRow("linked files on display") << QString() << true << AssetItems << u"B2"_qs;
    QTest::newRow("pieces trimmed, in list order")
            << u"B2 , A1,C3"_qs << false << QStringList {u"B2"_qs, u"A1"_qs, u"C3"_qs} << u"B2"_qs;
    QTest::newRow("empty piece kept") << u"A1,,B2"_qs << false << QStringList {u"A1"_qs, QString(), u"B2"_qs}
                                      << u"B2"_qs;
    QTest::newRow("trailing comma") << u"A1,B2,"_qs << false << QStringList {u"A1"_qs, u"B2"_qs} << u"B2"_qs;
    QTest::newRow("blank after the last comma")
            << u"A1,B2, "_qs << false << QStringList {u"A1"_qs, u"B2"_qs, QString()} << u"B2"_qs;
    QTest::newRow("empty grid, empty asset") << u"ZZ"_qs << false << QStringList {u"ZZ"_qs} << QString();
}

void DialogsTest::newWorkOrderListsAndPresets()
{
    QFETCH(QString, assetList);
    QFETCH(bool, linkedFilesView);
    QFETCH(QStringList, assetItems);
    QFETCH(QString, assetText);
    startControl(u"sqlite"_qs, 30, QString());
    m_grid->setAssetList(assetList);
    m_grid->RefreshData();
    m_grid->setRequestedBy(u"Someone else"_qs);
    d->grdWorkOrders->setCurrentRowIndex(1);
    if (linkedFilesView)
        QTest::mouseClick(d->optView[3], Qt::LeftButton);

    runDialog<frmNewWO>(d->cmdNewWO, [&](frmNewWO *form) {
        QCOMPARE(items(form->cboAssetCode), assetItems);
        QCOMPARE(form->cboAssetCode->currentText(), assetText);
        QCOMPARE(form->cboRequestedBy->currentText(), u"Someone else"_qs);
        QCOMPARE(items(form->cboPriority), QStringList({u"1"_qs, u"2"_qs, u"3"_qs}));
        QCOMPARE(form->cboPriority->currentText(), u"3"_qs);
        QVERIFY(form->txtWorkRequest->toPlainText().isEmpty());
        leave(form, u"cancel"_qs);
    });
    QCOMPARE(titles(), QStringList());
    QCOMPARE(m_plant->workOrderCount(), 2);
}

void DialogsTest::newWorkOrderOutcome_data()
{
    QTest::addColumn<QString>("asset"); // typed; " - " in it: picked from the list
    QTest::addColumn<QString>("priority"); // typed; null: left at "3"
    QTest::addColumn<QString>("requester"); // typed; null: the preset "U2 - Bob" left as it is
    QTest::addColumn<QString>("request");
    QTest::addColumn<QString>("ending");
    QTest::addColumn<QString>("title"); // of the one box shown; null: none
    QTest::addColumn<int>("storedPriority"); // 0: nothing created
    QTest::addColumn<QString>("storedRequester");

    const QString created = u"Work Order Created"_qs;
    const QString refused = u"CreateWorkOrder Error"_qs;
    const QString invalid = u"Invalid Asset"_qs;
    const QString none;
    QTest::newRow("cancel") << u"A1"_qs << none << none << u"x"_qs << u"cancel"_qs << none << 0 << none;
    QTest::newRow("esc") << u"A1"_qs << none << none << u"x"_qs << u"esc"_qs << none << 0 << none;
    QTest::newRow("close box") << u"A1"_qs << none << none << u"x"_qs << u"close"_qs << none << 0 << none;
    QTest::newRow("ok, empty asset") << u""_qs << none << none << u"x"_qs << u"ok"_qs << none << 0 << none;
    QTest::newRow("unknown asset") << u"ZZ-9"_qs << none << none << u"x"_qs << u"ok"_qs << invalid << 0 << none;
    QTest::newRow("quote cannot widen the lookup")
            << u"ZZ' OR '1'='1"_qs << none << none << u"x"_qs << u"ok"_qs << invalid << 0 << none;
    QTest::newRow("picked item, preset requester")
            << u"P-100 - Feed pump"_qs << none << none << u"x"_qs << u"ok"_qs << created << 3 << u"U2"_qs;
    QTest::newRow("quotes kept") << u"O'Q"_qs << u"2"_qs << u"O'Brien"_qs << u"Fix the pump's seal"_qs << u"ok"_qs
                                 << created << 2 << u"O'Brien"_qs;
    QTest::newRow("no requester: System")
            << u"A1"_qs << u"1"_qs << u""_qs << u""_qs << u"ok"_qs << created << 1 << u"System"_qs;
    QTest::newRow("empty first item: System")
            << u"A1"_qs << u"1"_qs << u" - "_qs << u"x"_qs << u"ok"_qs << created << 1 << u"System"_qs;
    QTest::newRow("typed requester trimmed")
            << u" A1 "_qs << u"2"_qs << u" U1 "_qs << u"x"_qs << u"ok"_qs << created << 2 << u"U1"_qs;
    const std::pair<const char *, int> priorities[] = {{"2.5", 2}, {"3.5", 4}, {"x", 3}, {"", 3}, {"0", 3}};
    for (const auto &[text, value] : priorities)
        QTest::addRow("priority '%s'", text)
                << u"A1"_qs << QString::fromLatin1(text) << none << u"x"_qs << u"ok"_qs << created << value << u"U2"_qs;
    // The table takes priorities 1 to 5 only: the database refuses, and no confirmation follows.
    for (const char *text : {"12abc", "-1"})
        QTest::addRow("priority '%s' refused", text)
                << u"A1"_qs << QString::fromLatin1(text) << none << u"x"_qs << u"ok"_qs << refused << 0 << none;
    QTest::newRow("priority beyond 16 bits")
            << u"A1"_qs << u"99999"_qs << none << u"x"_qs << u"ok"_qs << u"New WO Error"_qs << 0 << none;
}

void DialogsTest::newWorkOrderOutcome()
{
    QFETCH(QString, asset);
    QFETCH(QString, priority);
    QFETCH(QString, requester);
    QFETCH(QString, request);
    QFETCH(QString, ending);
    QFETCH(QString, title);
    QFETCH(int, storedPriority);
    QFETCH(QString, storedRequester);
    startControl(u"sqlite"_qs, 30, QString());
    m_grid->setRequestedBy(u"U2 - Bob"_qs);

    runDialog<frmNewWO>(d->cmdNewWO, [&](frmNewWO *form) {
        if (asset.contains(u" - "_qs))
            pick(form->cboAssetCode, asset);
        else
            typeInto(form->cboAssetCode, asset);
        if (!priority.isNull())
            typeInto(form->cboPriority, priority);
        if (requester == u" - "_qs)
            pick(form->cboRequestedBy, QString());
        else if (!requester.isNull())
            typeInto(form->cboRequestedBy, requester);
        typeInto(form->txtWorkRequest, request);
        leave(form, ending);
    });

    QCOMPARE(titles(), title.isNull() ? QStringList() : QStringList {title});
    const QString code = ComboItemCode(asset);
    if (title == QLatin1String("Invalid Asset")) {
        QCOMPARE(m_boxes->messages.first().text, u"Asset Code "_qs + code + u" not found.  Work Order not created."_qs);
        QCOMPARE(m_boxes->messages.first().icon, QMessageBox::Warning);
    }
    QCOMPARE(m_plant->workOrderCount(), storedPriority ? 3 : 2);
    if (!storedPriority)
        return;
    QCOMPARE(m_boxes->messages.first().text, u"Work order for asset "_qs + code + u" successfully created."_qs);
    QCOMPARE(m_boxes->messages.first().icon, QMessageBox::Information);
    QCOMPARE(m_plant->scalar(u"SELECT AssetCode || '|' || Priority || '|' || RequestedBy || '|' || WorkRequest "
                             "FROM WO_WorkOrders WHERE WO_Nbr = 103"_qs)
                     .toString(),
             QStringList({code, QString::number(storedPriority), storedRequester, request}).join(u'|'));
}

void DialogsTest::newWorkOrderAppearsAtNextRefresh()
{
    QFETCH(QString, backend);
    if (backend == QLatin1String("postgresql"))
        REQUIRE_POSTGRES();
    startControl(backend, 30, QString());
    // Quotes, line breaks and what looks like SQL reach the database as typed.
    const QString request = u"Guard rail's bolt loose'); DELETE FROM WO_WorkOrders; --\nsecond line"_qs;
    runDialog<frmNewWO>(d->cmdNewWO, [&](frmNewWO *form) {
        QCOMPARE(items(form->cboAssetCode), AssetItems);
        QCOMPARE(items(form->cboRequestedBy), QStringList({QString(), u"U1 - Ann"_qs, u"U2 - Bob"_qs, u"U3 - U3"_qs}));
        pick(form->cboAssetCode, u"O'Q - Quoted"_qs);
        pick(form->cboRequestedBy, u"U1 - Ann"_qs);
        typeInto(form->txtWorkRequest, request.section(u'\n', 0, 0));
        QTest::keyClick(form->txtWorkRequest, Qt::Key_Return); // a new line, not OK
        QTest::keyClicks(form->txtWorkRequest, request.section(u'\n', 1));
        leave(form, u"ok"_qs);
    });
    QCOMPARE(titles(), QStringList {u"Work Order Created"_qs});
    QCOMPARE(d->grdWorkOrders->rowCount(), 2);

    d->timerTick();
    QCOMPARE(d->grdWorkOrders->rowCount(), 3);
    QCOMPARE(gridText(0, u"AssetCode"_qs), u"O'Q"_qs);
    QCOMPARE(gridText(0, u"Notes"_qs), request);
    QCOMPARE(gridText(0, u"RequestedByName"_qs), u"Ann"_qs);
}

void DialogsTest::newWorkOrderFromRowWithoutAssetCode()
{
    startControl(u"sqlite"_qs, 30, QString());
    d->Adodc1->setRecordSource(u"SELECT 7 AS WO_Nbr, NULL AS AssetCode"_qs);
    d->Adodc1->refresh();
    d->grdWorkOrders->setCurrentRowIndex(0);
    QTest::mouseClick(d->cmdNewWO, Qt::LeftButton);
    QCOMPARE(titles(), QStringList {u"New WO Error"_qs});
    QVERIFY(!QApplication::activeModalWidget());
    QCOMPARE(m_plant->workOrderCount(), 2);
}

void DialogsTest::newWorkOrderEnterKey_data()
{
    QTest::addColumn<QString>("target"); // object name; "/edit": the combo box's line edit
    QTest::addColumn<QString>("request"); // the request text after the key; null: the dialog closed
    QTest::addColumn<bool>("created");
    for (const char *combo : {"cboAssetCode", "cboPriority", "cboRequestedBy"}) {
        QTest::addRow("%s", combo) << QString::fromLatin1(combo) << u"Belt"_qs << false;
        QTest::addRow("%s line edit", combo) << QString::fromLatin1(combo) + u"/edit"_qs << u"Belt"_qs << false;
    }
    QTest::newRow("request box: a new line") << u"txtWorkRequest"_qs << u"Belt\n"_qs << false;
    QTest::newRow("focused OK") << u"cmdOK"_qs << QString() << true;
    QTest::newRow("focused Cancel") << u"cmdCancel"_qs << QString() << false;
}

void DialogsTest::newWorkOrderEnterKey()
{
    QFETCH(QString, target);
    QFETCH(QString, request);
    QFETCH(bool, created);
    startControl(u"sqlite"_qs, 30, QString());
    QString requestAfterEnter;
    runDialog<frmNewWO>(d->cmdNewWO, [&](frmNewWO *form) {
        pick(form->cboAssetCode, u"A1 - Pump"_qs); // complete enough for OK to create it
        typeInto(form->txtWorkRequest, u"Belt"_qs);
        QWidget *widget = form->findChild<QWidget *>(target.section(u'/', 0, 0));
        QVERIFY(widget);
        if (target.endsWith(u"/edit"_qs))
            widget = qobject_cast<QComboBox *>(widget)->lineEdit();
        widget->setFocus();
        QTest::keyClick(widget, Qt::Key_Return);
        if (form->isVisible()) {
            requestAfterEnter = form->txtWorkRequest->toPlainText();
            leave(form, u"cancel"_qs);
        }
    });
    QCOMPARE(requestAfterEnter, request);
    QCOMPARE(titles(), created ? QStringList {u"Work Order Created"_qs} : QStringList());
    QCOMPARE(m_plant->workOrderCount(), created ? 3 : 2);
}

void DialogsTest::multiLineBoxesLimitWhatIsTyped()
{
    LimitedTextEdit box(10);
    QTest::keyClicks(&box, u"0123456789abc"_qs);
    QCOMPARE(box.toPlainText(), u"0123456789"_qs);
    // Pasting in the middle keeps what fits of the pasted text and all that was there.
    box.setText(u"01234567"_qs);
    QTextCursor cursor = box.textCursor();
    cursor.setPosition(4);
    box.setTextCursor(cursor);
    box.insertPlainText(u"XYZ"_qs);
    QCOMPARE(box.toPlainText(), u"0123XY4567"_qs);
    // A value set from code is kept whole.
    box.setText(u"0123456789abcdef"_qs);
    QCOMPARE(box.toPlainText().size(), 16);
}

void DialogsTest::configureOutcome_data()
{
    QTest::addColumn<qint16>("startInterval");
    QTest::addColumn<QString>("ending"); // "ok", "cancel", "close", "esc, enter"; "ok-no-server": without a server name
    QTest::addColumn<QString>("intervalText");
    QTest::addColumn<QString>("division"); // typed; " - ": the empty first item picked
    QTest::addColumn<bool>("applied");
    QTest::addColumn<qint16>("interval");
    QTest::addColumn<QString>("storedDivision");

    const QString none;
    QTest::newRow("cancel") << qint16(30) << u"cancel"_qs << u"5"_qs << u"D1"_qs << false << qint16(30) << none;
    QTest::newRow("close box") << qint16(30) << u"close"_qs << u"5"_qs << u"D1"_qs << false << qint16(30) << none;
    QTest::newRow("no server name") << qint16(30) << u"ok-no-server"_qs << u"5"_qs << u"D1"_qs << false << qint16(30)
                                    << none;
    QTest::newRow("esc ignored, enter is OK")
            << qint16(30) << u"esc, enter"_qs << u"5"_qs << u"D1"_qs << true << qint16(5) << u"D1"_qs;
    QTest::newRow("0: applied, no requery")
            << qint16(30) << u"ok"_qs << u"0"_qs << u"D1"_qs << true << qint16(0) << u"D1"_qs;
    QTest::newRow("-5: applied, no requery")
            << qint16(30) << u"ok"_qs << u"-5"_qs << u"D1"_qs << true << qint16(-5) << u"D1"_qs;
    const std::pair<const char *, qint16> intervals[] = {{"abc", 30}, {"1x", 30}, {"", 30},   {"9e9", 30}, {"2.5", 2},
                                                         {"3.5", 4},  {" 7", 7},  {"32", 32}, {"33", 33}};
    for (const auto &[text, value] : intervals)
        QTest::addRow("interval '%s'", text)
                << qint16(30) << u"ok"_qs << QString::fromLatin1(text) << u"  D1 "_qs << true << value << u"D1"_qs;
    QTest::newRow("timer switched on") << qint16(0) << u"ok"_qs << u"5"_qs << u"D1"_qs << true << qint16(5) << u"D1"_qs;
    QTest::newRow("empty first item") << qint16(30) << u"ok"_qs << u"5"_qs << u" - "_qs << true << qint16(5) << none;
    QTest::newRow("blanks only") << qint16(30) << u"ok"_qs << u"5"_qs << u"   "_qs << true << qint16(5) << none;
}

void DialogsTest::configureOutcome()
{
    QFETCH(qint16, startInterval);
    QFETCH(QString, ending);
    QFETCH(QString, intervalText);
    QFETCH(QString, division);
    QFETCH(bool, applied);
    QFETCH(qint16, interval);
    QFETCH(QString, storedDivision);
    // A positive interval that is applied restarts the timer with it and requeries.
    const bool requeried = applied && interval > 0;
    const int timerMs = 1000 * (requeried ? interval : startInterval);
    startControl(u"sqlite"_qs, startInterval, u"A1"_qs);
    QCOMPARE(gridText(0, u"AssetCode"_qs), startInterval > 0 ? u"A1"_qs : QString());
    const bool pmBefore = startInterval == 0; // the check box is tried both ways
    m_grid->setIncludePMWOs(pmBefore);
    // Longer than the boxes take from the keyboard: shown, and handed back, whole.
    const QString server = ending == QLatin1String("ok-no-server")
            ? QString()
            : u"sqlite:"_qs + u"./"_qs.repeated(30) + u"plant.db"_qs;
    const QString password = u"p'a;s=s*"_qs;
    m_grid->setDBServerName(server);
    m_grid->setDBPassword(password);

    runDialog<frmConfig>(d->cmdConfig, [&](frmConfig *form) {
        QCOMPARE(form->txtDBServerName->text(), server);
        QCOMPARE(form->txtDBPassword->text(), password);
        QCOMPARE(form->txtDBPassword->displayText(), u"*"_qs.repeated(password.size()));
        QVERIFY(!form->txtDBServerName->isEnabled() && !form->txtDBPassword->isEnabled());
        QCOMPARE(form->txtDBDatabaseName->text(), u"Maintenance"_qs);
        QCOMPARE(form->txtRefreshInterval->text(), QString::number(startInterval));
        QCOMPARE(form->txtAssetList->toPlainText(), u"A1"_qs);
        QCOMPARE(items(form->cboDivision), QStringList({QString(), u"D1"_qs, u"D2"_qs}));
        QCOMPARE(items(form->cboDepartment), QStringList({QString(), u"M1"_qs, u"M2"_qs}));
        QCOMPARE(form->chkIncludePMWOs->isChecked(), pmBefore);
        typeInto(form->txtRefreshInterval, intervalText);
        typeInto(form->txtAssetList, u"B2"_qs);
        if (division == u" - "_qs)
            pick(form->cboDivision, QString());
        else
            typeInto(form->cboDivision, division);
        QTest::mouseClick(form->chkIncludePMWOs, Qt::LeftButton);
        if (ending == QLatin1String("esc, enter")) {
            // Esc is bound to no button here; Enter in the asset list presses OK.
            QTest::keyClick(form->txtAssetList, Qt::Key_Escape);
            QTest::keyClick(form->txtAssetList, Qt::Key_Return);
        } else {
            leave(form, ending == QLatin1String("ok-no-server") ? u"ok"_qs : ending);
        }
    });

    QCOMPARE(titles(), QStringList());
    QCOMPARE(m_grid->DBServerName(), server);
    QCOMPARE(m_grid->DBPassword(), password);
    QCOMPARE(m_grid->AssetList(), applied ? u"B2"_qs : u"A1"_qs);
    QCOMPARE(m_grid->RefreshInterval(), interval);
    QCOMPARE(m_grid->IncludePMWOs(), applied ? !pmBefore : pmBefore);
    QCOMPARE(m_grid->Division(), storedDivision);
    QCOMPARE(d->Timer1->isActive() ? d->Timer1->interval() : 0, timerMs);
    QCOMPARE(gridText(0, u"AssetCode"_qs), requeried ? u"B2"_qs : startInterval > 0 ? u"A1"_qs : QString());
}

void DialogsTest::configureFailureIsReportedAndCleanedUp()
{
    startControl(u"sqlite"_qs, 30, QString());
    m_plant->exec({u"DROP VIEW vw_LinkedFiles"_qs});
    runDialog<frmConfig>(d->cmdConfig, [&](frmConfig *form) {
        typeInto(form->txtRefreshInterval, u"5"_qs);
        leave(form, u"ok"_qs);
    });
    // The reconnection reports its own failure; loading the linked files ends the flow.
    QCOMPARE(titles(), QStringList({u"ConnectToServer Error"_qs, u"Config Click Error"_qs}));
    QVERIFY(m_boxes->messages.last().text.startsWith(u"Error "_qs));
}

QTEST_MAIN(DialogsTest)
#include "tst_dialogs.moc"

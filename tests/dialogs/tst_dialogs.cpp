#include "testsupport.h"

#include "datagrid.h"
#include "gridcolumns.h"
#include "limitedtextedit.h"
#include "workordersgrid.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTimer>

using namespace Orvantel;
using namespace TestSupport;

namespace {

const QString AllAssets = u"A1 - Pump|A2 - Fan|B1 - Boiler|C3 - C3|O'Q - Quoted|P-100 - Feed pump"_qs;
/// Longer than the box takes from the keyboard.
const QString LongServer = u"sqlite:"_qs + u"./"_qs.repeated(30) + u"plant.db"_qs;

/// What a box shows: a combo box's text, a text box's (masked for a password), a check box's state.
QString shown(const QWidget *box)
{
    for (const char *property : {"currentText", "plainText", "checked", "displayText"}) {
        if (const QVariant value = box->property(property); value.isValid())
            return value.toString();
    }
    return QString();
}

/// Acts on an open dialog as an operator, step by step. "name=text" types text into the
/// named box in place of what it holds ("name+text" after it); "name:item" picks a combo
/// box's item; "name" clicks it; "Return@name" and "Escape@name" press the key there
/// ("name/edit": a combo box's line edit); "close" uses the close box; "name?text" checks
/// what the box shows, "name#a|b" a combo box's items; "sql=statement" changes the plant.
void act(QWidget *form, const QStringList &steps, const TestPlant &plant)
{
    for (const QString &step : steps) {
        QVERIFY2(form->isVisible(), qPrintable(u"closed before "_qs + step));
        const qsizetype at = step.indexOf(QRegularExpression(u"[^\\w/]"_qs));
        const QString name = step.left(at), arg = at < 0 ? QString() : step.mid(at + 1);
        const QChar op = at < 0 ? QChar() : step.at(at);
        if (name == u"sql"_qs || name == u"close"_qs) {
            name == u"sql"_qs ? plant.exec({arg}) : void(form->close());
            continue;
        }
        QWidget *box = form->findChild<QWidget *>((op == u'@' ? arg : name).section(u'/', 0, 0));
        QVERIFY2(box, qPrintable(step));
        auto *combo = qobject_cast<QComboBox *>(box);
        if (combo && (op == u'=' || op == u'+' || (op == u'@' && arg.endsWith(u"/edit"_qs))))
            box = combo->lineEdit();
        QStringList items;
        for (int i = 0; combo && i < combo->count(); ++i)
            items << combo->itemText(i);
        box->setFocus();
        if (op == u'@') {
            QTest::keyClick(box, name == u"Return"_qs ? Qt::Key_Return : Qt::Key_Escape);
        } else if (op == u'=' || op == u'+') {
            if (op == u'=') {
                QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
                QTest::keyClick(box, Qt::Key_Delete);
            }
            QTest::keyClicks(box, arg);
        } else if (op == u':') {
            QVERIFY2(items.contains(arg), qPrintable(step));
            combo->setCurrentIndex(int(items.indexOf(arg)));
        } else if (op == u'?') {
            QCOMPARE(shown(box), arg);
        } else if (op == u'#') {
            QCOMPARE(items.join(u'|'), arg);
        } else {
            QTest::mouseClick(box, Qt::LeftButton);
        }
        if (QTest::currentTestFailed())
            return;
    }
}

} // namespace

/// The New WO and Configure flows through their real modal dialogs, on the test plant.
class DialogsTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanup();
    void newWorkOrder_data();
    void newWorkOrder();
    void configure_data();
    void configure();
    void bothDialogsOnEachBackend_data() { addBackendRows(); }
    void bothDialogsOnEachBackend();
    void multiLineBoxesLimitWhatIsTyped();

private:
    /// Starts a control on the plant, then does what setup says ("; " between the steps) as the
    /// host and the operator: "ini:Key=value" goes to the settings file, "sql=statement" to the
    /// plant; "row=N" clicks a work order, "click=N" a view button; "refresh" calls RefreshData;
    /// "Name=value" writes a property.
    void start(const QString &setup, const QString &backend = u"sqlite"_qs);
    /// "{setup} steps": starts the control with setup unless it runs already, clicks the
    /// button and acts on the dialog it opens (none when there are no steps). A dialog the
    /// steps leave open is closed, so that a failed check never leaves it waiting.
    void run(const QString &button, const QString &given);
    /// What given led to: "given => boxes => result", the boxes by title (with their text
    /// where the story names it that way) and left out when none was shown.
    QString told(const QString &given, const QString &result, const QString &story) const;
    QString topRow(int column, int role = Qt::DisplayRole) const
    {
        return m_orders->model()->index(0, column).data(role).toString();
    }

    std::unique_ptr<TestPlant> m_plant;
    std::unique_ptr<MessageBoxRecorder> m_boxes;
    HostedControl m_control;
    WorkOrdersGrid *m_grid = nullptr;
    DataGrid *m_orders = nullptr;
};

void DialogsTest::cleanup()
{
    m_grid = nullptr;
    m_control.reset();
    m_boxes.reset();
    QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
    QVERIFY(!QGuiApplication::overrideCursor());
    m_plant.reset();
}

void DialogsTest::start(const QString &setup, const QString &backend)
{
    QLocale::setDefault(QLocale::c());
    m_plant = std::make_unique<TestPlant>(backend);
    const QStringList entries = setup.split(u"; "_qs, Qt::SkipEmptyParts);
    QByteArray keys = "RefreshInterval=30\n";
    for (const QString &entry : entries.filter(QRegularExpression(u"^ini:"_qs)))
        keys += entry.mid(4).toUtf8() + '\n';
    m_plant->writeSettings(keys);
    m_boxes = std::make_unique<MessageBoxRecorder>();
    m_control.show();
    m_grid = m_control.grid;
    m_orders = m_grid->findChild<DataGrid *>(u"grdWorkOrders"_qs);
    m_grid->setRequestedBy(u"U2 - Bob"_qs);
    for (const QString &entry : entries) {
        const QString name = entry.section(u'=', 0, 0), value = entry.section(u'=', 1);
        if (name == u"sql"_qs)
            m_plant->exec({value});
        else if (name == u"row"_qs)
            QTest::mouseClick(m_orders->viewport(), Qt::LeftButton, {},
                              m_orders->visualRect(m_orders->model()->index(value.toInt(), 0)).center());
        else if (name == u"click"_qs)
            QTest::mouseClick(m_grid->findChild<QRadioButton *>(u"optView_"_qs + value), Qt::LeftButton);
        else if (name == u"refresh"_qs)
            QVERIFY(m_grid->RefreshData());
        else if (!name.startsWith(u"ini:"_qs))
            QVERIFY(m_grid->setProperty(qPrintable(name), value));
    }
}

void DialogsTest::run(const QString &button, const QString &given)
{
    const qsizetype setupEnd = given.startsWith(u'{') ? given.indexOf(u'}') : -1;
    const QString steps = given.mid(setupEnd + 1).trimmed();
    if (!m_grid)
        start(setupEnd < 0 ? QString() : given.mid(1, setupEnd - 1));
    bool opened = false;
    QTimer answer;
    connect(&answer, &QTimer::timeout, this, [&] {
        QWidget *form = QApplication::activeModalWidget();
        if (!form || qobject_cast<QMessageBox *>(form))
            return;
        answer.stop();
        opened = true;
        act(form, steps.split(u"; "_qs, Qt::SkipEmptyParts), *m_plant);
        if (form->isVisible())
            form->close();
    });
    answer.start(10);
    m_grid->findChild<QPushButton *>(button)->click();
    QCOMPARE(opened, !steps.isEmpty());
}

QString DialogsTest::told(const QString &given, const QString &result, const QString &story) const
{
    QStringList boxes;
    for (const ShownMessage &box : std::as_const(m_boxes->messages))
        boxes << (story.contains(box.title + u": "_qs) ? box.title + u": "_qs + box.text : box.title);
    return given + u" => "_qs + (boxes.isEmpty() ? QString() : boxes.join(u", "_qs) + u" => "_qs) + result;
}

void DialogsTest::newWorkOrder_data()
{
    // "{setup} steps => boxes => stored": the setup after RequestedBy "U2 - Bob", the dialog's steps, the boxes shown
    // ("title" or "title: text") and what work order 109 then holds (asset|priority|requester|request).
    QTest::addColumn<QString>("story");
    const QString lists = u"cboAssetCode#"_qs + AllAssets + u"; cboRequestedBy#|U1 - Ann|U2 - Bob|U3 - U3; "_qs;
    // The open work orders, newest first: 108 O'Q, 107 P-100, 103 B1, 102 A2, 101 A1.
    QTest::addRow("presets") << u"{RequestedBy=Someone else; row=1} "_qs + lists
                    + u"cboPriority#1|2|3; cboPriority?3; txtWorkRequest?; cboAssetCode?P-100; "
                      "cboRequestedBy?Someone else; cmdCancel => none"_qs;
    QTest::addRow("blank asset list") << u"{AssetList=   ; refresh; row=1} "_qs + lists
                    + u"cboAssetCode?P-100; cmdCancel => none"_qs;
    QTest::addRow("files shown") << "{row=1; click=3} cboAssetCode?P-100; cmdCancel => none";
    QTest::addRow("asset list") << "{AssetList=A2 , A1,C3; refresh; row=1} cboAssetCode#A2|A1|C3; cboAssetCode?A1; "
                                   "cmdCancel => none";
    QTest::addRow("empty piece") << "{AssetList=A1,,B1; refresh} cboAssetCode#A1||B1; cmdCancel => none";
    QTest::addRow("trailing comma") << "{AssetList=A1,B1,; refresh} cboAssetCode#A1|B1; cmdCancel => none";
    QTest::addRow("blank at the end") << "{AssetList=A1,B1, ; refresh} cboAssetCode#A1|B1|; cmdCancel => none";
    QTest::addRow("empty grid") << "{AssetList=ZZ; refresh} cboAssetCode#ZZ; cboAssetCode?; cmdCancel => none";
    QTest::addRow("cancel") << "cboAssetCode=A1; cmdCancel => none";
    QTest::addRow("esc") << "cboAssetCode=A1; Escape@txtWorkRequest => none";
    QTest::addRow("close box") << "cboAssetCode=A1; close => none";
    QTest::addRow("OK, no asset") << "cboAssetCode=; cmdOK => none";
    QTest::addRow("unknown asset")
            << "cboAssetCode=ZZ-9; cmdOK => Invalid Asset: Asset Code ZZ-9 not found.  Work Order not created. => none";
    QTest::addRow("a quote cannot widen the lookup") << "cboAssetCode=ZZ' OR '1'='1; cmdOK => Invalid Asset => none";
    QTest::addRow("picked item, preset requester")
            << "cboAssetCode:P-100 - Feed pump; txtWorkRequest=x; cmdOK => Work Order Created: Work order for asset "
               "P-100 successfully created. => P-100|3|U2|x";
    QTest::addRow("quotes kept") << "cboAssetCode=O'Q; cboPriority=2; cboRequestedBy=O'Brien; txtWorkRequest=Fix the "
                                    "pump's seal; cmdOK => Work Order Created => O'Q|2|O'Brien|Fix the pump's seal";
    QTest::addRow("no requester") << "cboAssetCode=A1; cboRequestedBy=; cmdOK => Work Order Created => A1|3|System|";
    QTest::addRow("empty first item")
            << "cboAssetCode=A1; cboRequestedBy:; cmdOK => Work Order Created => A1|3|System|";
    QTest::addRow("codes trimmed, up to the first separator")
            << "cboAssetCode= A1 ; cboRequestedBy= U1 - Ann - x; cmdOK => Work Order Created => A1|3|U1|";
    // The table takes priorities 1 to 5 only; 99999 is beyond 16 bits.
    for (const char *outcome :
         {"2.5; cmdOK => Work Order Created => A1|2|U2|", "3.5; cmdOK => Work Order Created => A1|4|U2|",
          "x; cmdOK => Work Order Created => A1|3|U2|", "0; cmdOK => Work Order Created => A1|3|U2|",
          "12abc; cmdOK => CreateWorkOrder Error => none", "-1; cmdOK => CreateWorkOrder Error => none",
          "99999; cmdOK => New WO Error => none"})
        QTest::addRow("priority %s", outcome) << u"cboAssetCode=A1; cboPriority="_qs + QLatin1String(outcome);
    // Enter confirms nothing half filled: it presses a focused button, and starts a new line in the request.
    for (const char *target : {"cboAssetCode", "cboAssetCode/edit", "cboPriority/edit", "cboRequestedBy/edit"})
        QTest::addRow("Enter in %s", target)
                << u"cboAssetCode=A1; txtWorkRequest=Belt; Return@%1; txtWorkRequest?Belt; cmdCancel => none"_qs.arg(
                           QLatin1String(target));
    QTest::addRow("Enter in the request")
            << "cboAssetCode=A1; txtWorkRequest=Belt; Return@txtWorkRequest; txtWorkRequest?Belt\n; cmdCancel => none";
    QTest::addRow("Enter on OK") << "cboAssetCode=A1; txtWorkRequest=Belt; Return@cmdOK => Work Order Created => "
                                    "A1|3|U2|Belt";
    QTest::addRow("Enter on Cancel") << "cboAssetCode=A1; Return@cmdCancel => none";
    QTest::addRow("requesters cannot be listed") << "{sql=DROP VIEW vw_WORequestedUsers} cboRequestedBy#; "
                                                    "cboAssetCode=A1; cmdOK => LoadComboBox Error, Work Order Created "
                                                    "=> A1|3|U2|";
    QTest::addRow("assets gone while open")
            << "cboAssetCode=A1; sql=DROP TABLE GS_Assets; cmdOK => ValidateAsset Error, Invalid Asset => none";
    QTest::addRow("no asset code in the current row: no dialog")
            << "{sql=DROP VIEW vw_QX_WorkOrdersGrid; sql=CREATE VIEW vw_QX_WorkOrdersGrid AS SELECT WO_Nbr, NULL AS "
               "AssetCode, Status, IsPM FROM WO_WorkOrders; refresh} => New WO Error => none";
}

void DialogsTest::newWorkOrder()
{
    QFETCH(QString, story);
    const QString given = story.section(u" => "_qs, 0, 0);
    run(u"cmdNewWO"_qs, given);
    const QString stored = m_plant->scalar(u"SELECT COALESCE(MAX(AssetCode || '|' || Priority || '|' || RequestedBy || "
                                           "'|' || WorkRequest), 'none') FROM WO_WorkOrders WHERE WO_Nbr > 108"_qs)
                                   .toString();
    QCOMPARE(told(given, stored, story), story);
}

void DialogsTest::configure_data()
{
    // "{setup} steps => boxes => state": the setup after DBServerName LongServer and DBPassword "p'a;s=s*", the
    // dialog's steps, the boxes shown, then AssetList, RefreshInterval, IncludePMWOs, Division, Timer1's interval
    // (0: stopped) and the asset of the top work order.
    QTest::addColumn<QString>("story");
    QTest::addRow("presets, OK applies") << u"txtDBServerName?"_qs + LongServer
                    + u"; txtDBPassword?********; txtDBDatabaseName?Maintenance; txtRefreshInterval?30; "
                      "txtAssetList?A1; cboDivision#|D1|D2; cboDepartment#|M1|M2; chkIncludePMWOs?false; "
                      "txtRefreshInterval=5; txtAssetList=A2; cboDivision=  D1 ; chkIncludePMWOs; cmdOK => "
                      "A2, 5, true, D1, 5000, A2"_qs;
    QTest::addRow("cancel") << "txtRefreshInterval=5; txtAssetList=A2; cmdCancel => A1, 30, false, , 30000, A1";
    QTest::addRow("close box") << "txtRefreshInterval=5; txtAssetList=A2; close => A1, 30, false, , 30000, A1";
    QTest::addRow("no server name")
            << "{DBServerName=} txtRefreshInterval=5; txtAssetList=A2; cmdOK => A1, 30, false, , 30000, A1";
    QTest::addRow("Esc ignored, Enter is OK") << "txtRefreshInterval=5; txtAssetList=A2; Escape@txtAssetList; "
                                                 "Return@txtAssetList => A2, 5, false, , 5000, A2";
    QTest::addRow("blank division") << "txtRefreshInterval=5; cboDivision=   ; cmdOK => A1, 5, false, , 5000, A1";
    QTest::addRow("timer switched on") << "{ini:RefreshInterval=0; IncludePMWOs=1} txtRefreshInterval=5; "
                                          "chkIncludePMWOs; cmdOK => A1, 5, false, , 5000, A1";
    // A non-positive interval is applied, without reconnecting or touching the timer.
    QTest::addRow("interval 0") << "txtRefreshInterval=0; txtAssetList=A2; cmdOK => A2, 0, false, , 30000, A1";
    QTest::addRow("interval -5") << "txtRefreshInterval=-5; txtAssetList=A2; cmdOK => A2, -5, false, , 30000, A1";
    for (const char *outcome : {"abc; cmdOK => A1, 30, false, , 30000, A1", "1x; cmdOK => A1, 30, false, , 30000, A1",
                                "9e9; cmdOK => A1, 30, false, , 30000, A1", "2.5; cmdOK => A1, 2, false, , 2000, A1",
                                "3.5; cmdOK => A1, 4, false, , 4000, A1", " 7; cmdOK => A1, 7, false, , 7000, A1",
                                "33; cmdOK => A1, 33, false, , 33000, A1"})
        QTest::addRow("interval %s", outcome) << u"txtRefreshInterval="_qs + QLatin1String(outcome);
    QTest::addRow("reconnection fails") << "{sql=DROP VIEW vw_LinkedFiles} txtRefreshInterval=5; cmdOK => "
                                           "ConnectToServer Error, Config Click Error => A1, 0, false, , 30000, A1";
}

void DialogsTest::configure()
{
    QFETCH(QString, story);
    const QString given = story.section(u" => "_qs, 0, 0);
    run(u"cmdConfig"_qs,
        u"{ini:AssetList=A1; ini:IncludePMWOs=0; DBServerName="_qs + LongServer + u"; DBPassword=p'a;s=s*"_qs
                + (given.startsWith(u'{') ? u"; "_qs + given.mid(1) : u"} "_qs + given));
    auto *timer = m_grid->findChild<QTimer *>(u"Timer1"_qs);
    const QString state = u"%1, %2, %3, %4, %5, %6"_qs.arg(
            m_grid->AssetList(), QString::number(m_grid->RefreshInterval()),
            m_grid->property("IncludePMWOs").toString(), m_grid->Division(),
            QString::number(timer->isActive() ? timer->interval() : 0), topRow(WoAssetCodeColumn));
    QCOMPARE(told(given, state, story), story);
    if (!given.contains(u"{DBServerName="_qs))
        QCOMPARE(m_grid->DBServerName(), LongServer); // shown, and handed back, whole
    QCOMPARE(m_grid->DBPassword(), u"p'a;s=s*"_qs);
}

void DialogsTest::bothDialogsOnEachBackend()
{
    QFETCH(QString, backend);
    if (backend == u"postgresql"_qs)
        REQUIRE_POSTGRES();
    start(QString(), backend);
    run(u"cmdConfig"_qs, u"cboDivision#|D1|D2; cboDepartment#|M1|M2; cboDivision=D1; txtRefreshInterval=5; cmdOK"_qs);
    QCOMPARE(m_orders->model()->rowCount(), 3); // 108, 102 and 101 in D1
    // Quotes, line breaks and what looks like SQL reach the database as typed.
    const QString request = u"Guard rail's bolt loose');DELETE FROM WO_WorkOrders;--\nsecond line"_qs;
    run(u"cmdNewWO"_qs,
        u"cboAssetCode#%1; cboRequestedBy#|U1 - Ann|U2 - Bob|U3 - U3; cboAssetCode:O'Q - Quoted; "
        "cboRequestedBy:U1 - Ann; txtWorkRequest=%2; Return@txtWorkRequest; txtWorkRequest+%3; cmdOK"_qs.arg(
                AllAssets, request.section(u'\n', 0, 0), request.section(u'\n', 1)));
    QCOMPARE(m_boxes->titles(), QStringList {u"Work Order Created"_qs});
    // At the next tick of the refresh timer.
    auto *timer = m_grid->findChild<QTimer *>(u"Timer1"_qs);
    timer->start(10); // the tick loads in the background, then the rows are swapped in
    QTRY_COMPARE(m_orders->model()->rowCount(), 4);
    timer->stop();
    QCOMPARE(QStringList({topRow(WoNumberColumn), topRow(WoAssetCodeColumn), topRow(WoRequestedByColumn)}),
             QStringList({u"109"_qs, u"O'Q"_qs, u"Ann"_qs}));
    QCOMPARE(topRow(WoNotesColumn, Qt::EditRole), request);
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
    box.setText(u"0123456789abcdef"_qs); // a value set from code is kept whole
    QCOMPARE(box.toPlainText().size(), 16);
}

QTEST_MAIN(DialogsTest)
#include "tst_dialogs.moc"

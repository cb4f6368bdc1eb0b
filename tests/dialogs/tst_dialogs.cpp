#include "smallplant.h"

#include "control/workordersgrid.h"
#include "control/workordersgrid_p.h"
#include "data/datasource.h"
#include "data/lookups.h"
#include "data/recordset.h"
#include "dialogs/frmconfig.h"
#include "dialogs/frmnewwo.h"
#include "dialogs/limitedtextedit.h"
#include "views/datagrid.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTextCursor>
#include <QTimer>

using namespace Orvantel;
using namespace TestSupport;

namespace {

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

/// The New WO and Configure flows, run through their real modal dialogs.
class DialogsTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanup();

    void newWorkOrderListsAndPresets_data();
    void newWorkOrderListsAndPresets();
    void newWorkOrderOutcome_data();
    void newWorkOrderOutcome();
    void newWorkOrderAppearsAtNextRefresh_data() { addBackendRows(); }
    void newWorkOrderAppearsAtNextRefresh();
    void newWorkOrderWhenLookupsFail();
    void newWorkOrderFromRowWithoutAssetCode();
    void multiLineBoxesLimitWhatIsTyped();
    void keysAndFocusOrder();
    void configureOutcome_data();
    void configureOutcome();
    void configurePassesConnectionUnchanged();
    void configureFailureIsReportedAndCleanedUp();

private:
    void startControl(const QString &backend, qint16 refreshInterval, const QString &assetList);
    template<typename Form>
    void runDialog(QPushButton *button, const std::function<void(Form *)> &fill);
    QStringList titles() const { return m_boxes->titles(); }
    QString gridAsset(int row) const;

    std::unique_ptr<SmallPlant> m_plant;
    std::unique_ptr<QWidget> m_host;
    WorkOrdersGrid *m_grid = nullptr;
    WorkOrdersGridPrivate *d = nullptr;
    std::unique_ptr<MessageBoxRecorder> m_boxes;
};

void DialogsTest::cleanup()
{
    m_host.reset();
    m_boxes.reset();
    QTRY_VERIFY(QApplication::topLevelWidgets().isEmpty());
    QVERIFY(!QGuiApplication::overrideCursor());
    m_plant.reset();
}

void DialogsTest::startControl(const QString &backend, qint16 refreshInterval, const QString &assetList)
{
    m_plant = SmallPlant::create(backend);
    QVERIFY(m_plant);
    m_plant->writeSettingsFile(refreshInterval, assetList);
    m_boxes = std::make_unique<MessageBoxRecorder>();
    m_host = std::make_unique<QWidget>();
    m_grid = new WorkOrdersGrid(m_host.get());
    m_grid->resize(m_grid->sizeHint());
    d = WorkOrdersGridPrivate::get(m_grid);
    m_host->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_host.get()));
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

QString DialogsTest::gridAsset(int row) const
{
    Recordset *rs = d->grdWorkOrders->recordset();
    return rs->text(row, rs->fieldIndex(QStringLiteral("AssetCode")));
}

void DialogsTest::newWorkOrderListsAndPresets_data()
{
    QTest::addColumn<QString>("assetList");
    QTest::addColumn<bool>("linkedFilesView");
    QTest::addColumn<QStringList>("assetItems");
    QTest::addColumn<QString>("assetText");
    QTest::addColumn<int>("currentRow"); // -1: none, as after a reload
    const QStringList table {u"A1 - Pump"_qs, u"B2 - Fan"_qs, u"C3 - C3"_qs, u"O'Q - Quoted"_qs,
                             u"P-100 - Feed pump"_qs};
    // The grid shows work orders newest first: 102 (A1), then 101 (B2); the second row is current.
    QTest::newRow("whole table, current row's asset") << QString() << false << table << u"B2"_qs << 1;
    QTest::newRow("blanks only load the table") << u"   "_qs << false << table << u"B2"_qs << 1;
    QTest::newRow("linked files on display") << QString() << true << table << u"B2"_qs << 1;
    QTest::newRow("pieces trimmed, in list order")
            << u"B2 , A1,C3"_qs << false << QStringList {u"B2"_qs, u"A1"_qs, u"C3"_qs} << u"B2"_qs << 1;
    QTest::newRow("empty piece kept") << u"A1,,B2"_qs << false << QStringList {u"A1"_qs, QString(), u"B2"_qs}
                                      << u"B2"_qs << 1;
    QTest::newRow("trailing comma") << u"A1,B2,"_qs << false << QStringList {u"A1"_qs, u"B2"_qs} << u"B2"_qs << 1;
    QTest::newRow("blank after the last comma")
            << u"A1,B2, "_qs << false << QStringList {u"A1"_qs, u"B2"_qs, QString()} << u"B2"_qs << 1;
    QTest::newRow("empty grid, empty asset") << u"ZZ"_qs << false << QStringList {u"ZZ"_qs} << QString() << -1;
}

void DialogsTest::newWorkOrderListsAndPresets()
{
    QFETCH(QString, assetList);
    QFETCH(bool, linkedFilesView);
    QFETCH(QStringList, assetItems);
    QFETCH(QString, assetText);
    QFETCH(int, currentRow);
    startControl(u"sqlite"_qs, 30, QString());
    m_grid->setAssetList(assetList);
    m_grid->RefreshData();
    m_grid->setRequestedBy(u"Someone else"_qs);
    d->grdWorkOrders->setCurrentRowIndex(currentRow);
    QCOMPARE(d->grdWorkOrders->currentRowIndex(), currentRow);
    if (linkedFilesView)
        QTest::mouseClick(d->optView[3], Qt::LeftButton);

    runDialog<frmNewWO>(d->cmdNewWO, [&](frmNewWO *form) {
        QCOMPARE(items(form->cboAssetCode), assetItems);
        QCOMPARE(form->cboAssetCode->currentText(), assetText);
        QCOMPARE(items(form->cboRequestedBy), QStringList({QString(), u"U1 - Ann"_qs, u"U2 - Bob"_qs, u"U3 - U3"_qs}));
        QCOMPARE(form->cboRequestedBy->currentText(), u"Someone else"_qs);
        QCOMPARE(form->cboPriority->currentText(), u"3"_qs);
        QCOMPARE(items(form->cboPriority), QStringList({u"1"_qs, u"2"_qs, u"3"_qs}));
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
    QTest::addColumn<QStringList>("titles");
    QTest::addColumn<int>("storedPriority"); // 0: nothing created
    QTest::addColumn<QString>("storedRequester");

    const QStringList created {u"Work Order Created"_qs};
    const QStringList refused {u"CreateWorkOrder Error"_qs};
    const QStringList invalid {u"Invalid Asset"_qs};
    const QString none;
    QTest::newRow("cancel") << u"A1"_qs << none << none << u"x"_qs << u"cancel"_qs << QStringList() << 0 << none;
    QTest::newRow("esc") << u"A1"_qs << none << none << u"x"_qs << u"esc"_qs << QStringList() << 0 << none;
    QTest::newRow("close box") << u"A1"_qs << none << none << u"x"_qs << u"close"_qs << QStringList() << 0 << none;
    QTest::newRow("ok, empty asset") << u""_qs << none << none << u"x"_qs << u"ok"_qs << QStringList() << 0 << none;
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
    const std::pair<const char *, int> priorities[] = {{"2.5", 2}, {"3.5", 4}, {"x", 3}, {"", 3}, {"0", 3}, {" 5", 5}};
    for (const auto &[text, value] : priorities)
        QTest::addRow("priority '%s'", text)
                << u"A1"_qs << QString::fromLatin1(text) << none << u"x"_qs << u"ok"_qs << created << value << u"U2"_qs;
    // The table takes priorities 1 to 5 only: the database refuses, and no confirmation follows.
    QTest::newRow("priority '12abc' refused")
            << u"A1"_qs << u"12abc"_qs << none << u"x"_qs << u"ok"_qs << refused << 0 << none;
    QTest::newRow("priority '-1' refused")
            << u"A1"_qs << u"-1"_qs << none << u"x"_qs << u"ok"_qs << refused << 0 << none;
    QTest::newRow("priority beyond 16 bits")
            << u"A1"_qs << u"99999"_qs << none << u"x"_qs << u"ok"_qs << QStringList {u"New WO Error"_qs} << 0 << none;
}

void DialogsTest::newWorkOrderOutcome()
{
    QFETCH(QString, asset);
    QFETCH(QString, priority);
    QFETCH(QString, requester);
    QFETCH(QString, request);
    QFETCH(QString, ending);
    QFETCH(QStringList, titles);
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

    QCOMPARE(this->titles(), titles);
    const QString code = ComboItemCode(asset);
    if (titles == QStringList {u"Invalid Asset"_qs}) {
        QCOMPARE(m_boxes->messages.first().text, u"Asset Code "_qs + code + u" not found.  Work Order not created."_qs);
        QCOMPARE(m_boxes->messages.first().icon, QMessageBox::Warning);
    }
    QCOMPARE(m_plant->workOrderCount(), storedPriority ? 3 : 2);
    if (!storedPriority)
        return;
    QCOMPARE(m_boxes->messages.first().text, u"Work order for asset "_qs + code + u" successfully created."_qs);
    QCOMPARE(m_boxes->messages.first().icon, QMessageBox::Information);
    const QString row = u" FROM WO_WorkOrders WHERE WO_Nbr = 103"_qs;
    QCOMPARE(m_plant->scalar(u"SELECT AssetCode"_qs + row).toString(), code);
    QCOMPARE(m_plant->scalar(u"SELECT Priority"_qs + row).toInt(), storedPriority);
    QCOMPARE(m_plant->scalar(u"SELECT RequestedBy"_qs + row).toString(), storedRequester);
    QCOMPARE(m_plant->scalar(u"SELECT WorkRequest"_qs + row).toString(), request);
}

void DialogsTest::newWorkOrderAppearsAtNextRefresh()
{
    QFETCH(QString, backend);
    if (backend == QLatin1String("postgresql"))
        REQUIRE_POSTGRES();
    startControl(backend, 30, QString());
    QCOMPARE(d->grdWorkOrders->rowCount(), 2);
    const QString request = u"Guard rail's bolt loose"_qs;
    runDialog<frmNewWO>(d->cmdNewWO, [&](frmNewWO *form) {
        QCOMPARE(form->cboAssetCode->count(), 5);
        QCOMPARE(form->cboRequestedBy->itemText(1), u"U1 - Ann"_qs);
        pick(form->cboAssetCode, u"C3 - C3"_qs);
        pick(form->cboRequestedBy, u"U1 - Ann"_qs);
        typeInto(form->txtWorkRequest, request);
        leave(form, u"ok"_qs);
    });
    QCOMPARE(titles(), QStringList {u"Work Order Created"_qs});
    QCOMPARE(d->grdWorkOrders->rowCount(), 2);

    d->timerTick();
    QCOMPARE(d->grdWorkOrders->rowCount(), 3);
    Recordset *rs = d->grdWorkOrders->recordset();
    QCOMPARE(gridAsset(0), u"C3"_qs);
    QCOMPARE(rs->text(0, rs->fieldIndex(u"Notes"_qs)), request);
    QCOMPARE(rs->text(0, rs->fieldIndex(u"RequestedByName"_qs)), u"Ann"_qs);
}

void DialogsTest::newWorkOrderWhenLookupsFail()
{
    startControl(u"sqlite"_qs, 30, QString());
    QVERIFY(QDir(m_plant->folder()).rename(u"plant.db"_qs, u"moved.db"_qs));
    runDialog<frmNewWO>(d->cmdNewWO, [&](frmNewWO *form) {
        QCOMPARE(items(form->cboAssetCode), QStringList());
        QCOMPARE(items(form->cboRequestedBy), QStringList {QString()});
        typeInto(form->cboAssetCode, u"A1"_qs);
        leave(form, u"ok"_qs);
    });
    // A lookup that failed counts as an asset not found.
    QCOMPARE(titles(),
             QStringList({u"LoadComboBox Error"_qs, u"LoadComboBox Error"_qs, u"ValidateAsset Error"_qs,
                          u"Invalid Asset"_qs}));
    QVERIFY(m_boxes->messages.first().text.startsWith(u"Error "_qs));
}

void DialogsTest::newWorkOrderFromRowWithoutAssetCode()
{
    startControl(u"sqlite"_qs, 30, QString());
    d->Adodc1->setRecordSource(u"SELECT 7 AS WO_Nbr, NULL AS AssetCode"_qs);
    d->Adodc1->refresh();
    d->grdWorkOrders->setCurrentRowIndex(0);
    QTest::mouseClick(d->cmdNewWO, Qt::LeftButton);
    QCOMPARE(titles(), QStringList {u"New WO Error"_qs});
    for (QWidget *w : QApplication::topLevelWidgets())
        QVERIFY(!qobject_cast<frmNewWO *>(w));
    QCOMPARE(m_plant->workOrderCount(), 2);
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

void DialogsTest::keysAndFocusOrder()
{
    startControl(u"sqlite"_qs, 30, QString());
    auto focusOrder = [](QWidget *form, int steps) {
        QStringList names {form->focusWidget()->objectName()};
        for (int i = 1; i < steps; ++i) {
            QTest::keyClick(form->focusWidget(), Qt::Key_Tab);
            QWidget *w = form->focusWidget();
            // The line edit inside an editable combo box stands for its combo box.
            names << (w->parentWidget() != form && qobject_cast<QComboBox *>(w->parentWidget())
                              ? w->parentWidget()->objectName()
                              : w->objectName());
        }
        return names;
    };
    runDialog<frmNewWO>(d->cmdNewWO, [&](frmNewWO *form) {
        QCOMPARE(focusOrder(form, 7),
                 QStringList({u"cmdCancel"_qs, u"cboAssetCode"_qs, u"cboPriority"_qs, u"txtWorkRequest"_qs, u"cmdOK"_qs,
                              u"cboRequestedBy"_qs, u"cmdCancel"_qs}));
        // Enter in the request starts a new line; the dialog stays.
        typeInto(form->cboAssetCode, u"A1"_qs);
        form->txtWorkRequest->setFocus();
        QTest::keyClick(form->txtWorkRequest, Qt::Key_Return);
        QCOMPARE(form->txtWorkRequest->toPlainText(), u"\n"_qs);
        QVERIFY(form->isVisible());
        leave(form, u"esc"_qs);
    });
    runDialog<frmConfig>(d->cmdConfig, [&](frmConfig *form) {
        QCOMPARE(focusOrder(form, 8),
                 QStringList({u"txtAssetList"_qs, u"txtRefreshInterval"_qs, u"cmdOK"_qs, u"cmdCancel"_qs,
                              u"chkIncludePMWOs"_qs, u"cboDivision"_qs, u"cboDepartment"_qs, u"txtAssetList"_qs}));
        // Esc is bound to no button; Enter in the asset list presses OK.
        QTest::keyClick(form->txtAssetList, Qt::Key_Escape);
        QVERIFY(form->isVisible());
        typeInto(form->txtAssetList, u"B2"_qs);
        QTest::keyClick(form->txtAssetList, Qt::Key_Return);
    });
    QCOMPARE(m_grid->AssetList(), u"B2"_qs);
    QCOMPARE(gridAsset(0), u"B2"_qs);
    QCOMPARE(titles(), QStringList());
    QCOMPARE(m_plant->workOrderCount(), 2);
}

void DialogsTest::configureOutcome_data()
{
    QTest::addColumn<qint16>("startInterval");
    QTest::addColumn<QString>("ending"); // "ok", "cancel", "close"; "ok-no-server": OK without a server name
    QTest::addColumn<QString>("intervalText");
    QTest::addColumn<QString>("division"); // typed; " - ": the empty first item picked
    QTest::addColumn<bool>("applied");
    QTest::addColumn<qint16>("interval");
    QTest::addColumn<bool>("requeried");
    QTest::addColumn<int>("timerMs"); // 0: timer off
    QTest::addColumn<QString>("storedDivision");

    QTest::newRow("cancel") << qint16(30) << u"cancel"_qs << u"5"_qs << u"D1"_qs << false << qint16(30) << false
                            << 30000 << QString();
    QTest::newRow("close box") << qint16(30) << u"close"_qs << u"5"_qs << u"D1"_qs << false << qint16(30) << false
                               << 30000 << QString();
    QTest::newRow("no server name") << qint16(30) << u"ok-no-server"_qs << u"5"_qs << u"D1"_qs << false << qint16(30)
                                    << false << 30000 << QString();
    QTest::newRow("0: applied, no requery")
            << qint16(30) << u"ok"_qs << u"0"_qs << u"D1"_qs << true << qint16(0) << false << 30000 << u"D1"_qs;
    QTest::newRow("-5: applied, no requery")
            << qint16(30) << u"ok"_qs << u"-5"_qs << u"D1"_qs << true << qint16(-5) << false << 30000 << u"D1"_qs;
    const std::pair<const char *, qint16> intervals[] = {{"abc", 30}, {"1x", 30}, {"", 30},   {"9e9", 30}, {"2.5", 2},
                                                         {"3.5", 4},  {" 7", 7},  {"32", 32}, {"33", 33}};
    for (const auto &[text, value] : intervals)
        QTest::addRow("interval '%s'", text) << qint16(30) << u"ok"_qs << QString::fromLatin1(text) << u"  D1 "_qs
                                             << true << value << true << value * 1000 << u"D1"_qs;
    QTest::newRow("timer switched on") << qint16(0) << u"ok"_qs << u"5"_qs << u"D1"_qs << true << qint16(5) << true
                                       << 5000 << u"D1"_qs;
    QTest::newRow("empty first item") << qint16(30) << u"ok"_qs << u"5"_qs << u" - "_qs << true << qint16(5) << true
                                      << 5000 << QString();
    QTest::newRow("blanks only") << qint16(30) << u"ok"_qs << u"5"_qs << u"   "_qs << true << qint16(5) << true << 5000
                                 << QString();
}

void DialogsTest::configureOutcome()
{
    QFETCH(qint16, startInterval);
    QFETCH(QString, ending);
    QFETCH(QString, intervalText);
    QFETCH(QString, division);
    QFETCH(bool, applied);
    QFETCH(qint16, interval);
    QFETCH(bool, requeried);
    QFETCH(int, timerMs);
    QFETCH(QString, storedDivision);
    startControl(u"sqlite"_qs, startInterval, u"A1"_qs);
    if (startInterval > 0)
        QCOMPARE(gridAsset(0), u"A1"_qs);
    QCOMPARE(d->Timer1->isActive(), startInterval > 0);
    const bool pmBefore = m_grid->IncludePMWOs();
    if (ending == QLatin1String("ok-no-server"))
        m_grid->setDBServerName(QString());

    runDialog<frmConfig>(d->cmdConfig, [&](frmConfig *form) {
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
        leave(form, ending == QLatin1String("ok-no-server") ? u"ok"_qs : ending);
    });

    QCOMPARE(titles(), QStringList());
    QCOMPARE(m_grid->AssetList(), applied ? u"B2"_qs : u"A1"_qs);
    QCOMPARE(m_grid->RefreshInterval(), interval);
    QCOMPARE(m_grid->IncludePMWOs(), applied ? !pmBefore : pmBefore);
    QCOMPARE(m_grid->Division(), storedDivision);
    QCOMPARE(d->Timer1->isActive(), timerMs > 0);
    if (timerMs > 0)
        QCOMPARE(d->Timer1->interval(), timerMs);
    QCOMPARE(d->grdWorkOrders->rowCount() > 0 ? gridAsset(0) : QString(),
             requeried                   ? u"B2"_qs
                     : startInterval > 0 ? u"A1"_qs
                                         : QString());
}

void DialogsTest::configurePassesConnectionUnchanged()
{
    startControl(u"sqlite"_qs, 30, QString());
    // Longer than the boxes take from the keyboard: shown, and handed back, whole.
    const QString server = u"sqlite:"_qs + u"./"_qs.repeated(30) + u"plant.db"_qs;
    const QString password = u"p'a;s=s*"_qs;
    m_grid->setDBServerName(server);
    m_grid->setDBPassword(password);
    runDialog<frmConfig>(d->cmdConfig, [&](frmConfig *form) {
        QCOMPARE(form->txtDBServerName->text(), server);
        QVERIFY(!form->txtDBServerName->isEnabled());
        QCOMPARE(form->txtDBPassword->text(), password);
        QCOMPARE(form->txtDBPassword->displayText(), u"*"_qs.repeated(password.size()));
        QVERIFY(!form->txtDBPassword->isEnabled());
        QCOMPARE(form->txtDBDatabaseName->text(), u"Maintenance"_qs);
        typeInto(form->txtRefreshInterval, u"5"_qs);
        leave(form, u"ok"_qs);
    });
    QCOMPARE(titles(), QStringList());
    QCOMPARE(m_grid->DBServerName(), server);
    QCOMPARE(m_grid->DBPassword(), password);
    QCOMPARE(m_grid->DBDatabaseName(), u"Maintenance"_qs);
    QVERIFY(m_grid->ConnectedToDB());
    QCOMPARE(d->Timer1->interval(), 5000);
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
    QVERIFY(!QGuiApplication::overrideCursor());
}

QTEST_MAIN(DialogsTest)
#include "tst_dialogs.moc"

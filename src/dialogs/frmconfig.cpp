#include "frmconfig.h"

#include "formcontrols_p.h"
#include "limitedtextedit.h"

#include "layout.h"
#include "textconv.h"
#include "controlerror.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

using namespace Orvantel;

namespace {

constexpr int ServerNameLength = 50;
constexpr int ConnectionValueLength = 30;
constexpr int RefreshIntervalLength = 3;

/// A value set from code is shown whole; the box's limit holds only for what is typed.
void showWhole(QLineEdit *box, int designMaxLength, const QString &value)
{
    box->setMaxLength(std::max(designMaxLength, int(value.size())));
    box->setText(value);
}

bool isEnterKey(const QKeyEvent *event)
{
    const auto key = event->key();
    const auto modifiers = event->modifiers() & ~Qt::KeypadModifier;
    return (key == Qt::Key_Return || key == Qt::Key_Enter) && modifiers == Qt::NoModifier;
}

} // namespace

namespace Orvantel {

qint16 refreshIntervalFromText(const QString &text, qint16 current)
{
    if (!isNumericText(text))
        return current;
    try {
        return textToInt16(text);
    } catch (const ControlError &) {
        // A number beyond 16 bits ('9e9') is no interval either.
        return current;
    }
}

} // namespace Orvantel

frmConfig::frmConfig(QWidget *parent)
    : QDialog(parent)
{
    using namespace FormControls;
    setUpForm(this, QStringLiteral("frmConfig"), QStringLiteral("Orvantel Configurations"), 7320, 5910);

    txtAssetList = new LimitedTextEdit(3000, this);
    txtAssetList->setObjectName(QStringLiteral("txtAssetList"));
    txtAssetList->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txtAssetList->setTabChangesFocus(true);
    placeTwips(txtAssetList, 120, 3960, 7095, 645);

    frameServer = new QGroupBox(QStringLiteral("Orvantel Server"), this);
    frameServer->setObjectName(QStringLiteral("frameServer"));
    placeTwips(frameServer, 120, 120, 7095, 2055);

    txtDBServerName = lineEdit(frameServer, QStringLiteral("txtDBServerName"), ServerNameLength, 1680, 480, 2535, 285);
    txtDBDatabaseName
            = lineEdit(frameServer, QStringLiteral("txtDBDatabaseName"), ConnectionValueLength, 1680, 840, 2535, 285);
    txtDBUserID = lineEdit(frameServer, QStringLiteral("txtDBUserID"), ConnectionValueLength, 1680, 1200, 2535, 285);
    txtDBPassword
            = lineEdit(frameServer, QStringLiteral("txtDBPassword"), ConnectionValueLength, 1680, 1560, 2535, 285);
    txtDBPassword->setEchoMode(QLineEdit::Password);
    txtDBPassword->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 42; }"));
    // The connection is shown, not edited, here.
    for (QLineEdit *box : {txtDBServerName, txtDBDatabaseName, txtDBUserID, txtDBPassword})
        box->setEnabled(false);

    txtRefreshInterval
            = lineEdit(this, QStringLiteral("txtRefreshInterval"), RefreshIntervalLength, 1800, 2400, 735, 285);
    label(this, QStringLiteral("Label1_4"), QStringLiteral("Refresh Interval"), 360, 2400, 1335, 255);
    cmdOK = button(this, QStringLiteral("cmdOK"), QStringLiteral("OK"), 2520, 4920, 1215, 495);
    cmdOK->setDefault(true);
    cmdCancel = button(this, QStringLiteral("cmdCancel"), QStringLiteral("Cancel"), 3960, 4920, 1215, 495);
    label(frameServer, QStringLiteral("Label1_3"), QStringLiteral("Password"), 240, 1560, 1335, 255);
    label(frameServer, QStringLiteral("Label1_2"), QStringLiteral("User ID"), 240, 1200, 1335, 255);
    label(frameServer, QStringLiteral("Label1_1"), QStringLiteral("Database"), 240, 840, 1335, 255);
    label(frameServer, QStringLiteral("Label1_0"), QStringLiteral("Orvantel Server"), 240, 480, 1335, 255);
    label(this, QStringLiteral("Label1_5"),
          QStringLiteral("Asset List (list asset codes, objects, machines, or tags separated by commas)"), 120, 3720,
          5775, 255);
    chkIncludePMWOs = new QCheckBox(QStringLiteral("Include PM Work Orders"), this);
    chkIncludePMWOs->setObjectName(QStringLiteral("chkIncludePMWOs"));
    placeTwips(chkIncludePMWOs, 3240, 2400, 2295, 255);
    cboDivision = editableCombo(this, QStringLiteral("cboDivision"), 1200, 3000, 1575, 315);
    label(this, QStringLiteral("Label1_6"), QStringLiteral("Division"), 360, 3000, 735, 255);
    cboDepartment = editableCombo(this, QStringLiteral("cboDepartment"), 4200, 3000, 1575, 315);
    label(this, QStringLiteral("Label1_7"), QStringLiteral("Department"), 3000, 3000, 975, 255);

    // Screen readers: the fields by their labels' texts.
    describe(txtAssetList, QStringLiteral("Asset List"),
             QStringLiteral("Asset codes, objects, machines or tags separated by commas"));
    describe(txtDBServerName, QStringLiteral("Orvantel Server"));
    describe(txtDBDatabaseName, QStringLiteral("Database"));
    describe(txtDBUserID, QStringLiteral("User ID"));
    describe(txtDBPassword, QStringLiteral("Password"));
    describe(txtRefreshInterval, QStringLiteral("Refresh Interval"),
             QStringLiteral("Seconds between refreshes; 0 turns them off"));
    describe(cboDivision, QStringLiteral("Division"));
    describe(cboDepartment, QStringLiteral("Department"));

    QWidget *order[]
            = {txtAssetList, txtDBServerName, txtDBDatabaseName, txtDBUserID, txtDBPassword, txtRefreshInterval,
               cmdOK,        cmdCancel,       chkIncludePMWOs,   cboDivision, cboDepartment};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
    txtAssetList->setFocus();

    // A list has no lines: Enter in it presses OK, as everywhere else in the form.
    txtAssetList->installEventFilter(this);

    connect(cmdOK, &QPushButton::clicked, this, &frmConfig::cmdOK_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmConfig::cmdCancel_Click);
}

frmConfig::~frmConfig() = default;

void frmConfig::ShowModal()
{
    showWhole(txtDBServerName, ServerNameLength, sDBServerName);
    showWhole(txtDBDatabaseName, ConnectionValueLength, sDBDatabaseName);
    showWhole(txtDBUserID, ConnectionValueLength, sDBUserID);
    showWhole(txtDBPassword, ConnectionValueLength, sDBPassword);
    txtAssetList->setText(sAssetList);
    showWhole(txtRefreshInterval, RefreshIntervalLength, QString::number(iRefreshInterval));
    exec();
}

void frmConfig::reject()
{
    cmdCancel_Click();
}

void frmConfig::keyPressEvent(QKeyEvent *event)
{
    // Esc is bound to no button here.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool frmConfig::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == txtAssetList && event->type() == QEvent::KeyPress && isEnterKey(static_cast<QKeyEvent *>(event))) {
        cmdOK->click();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void frmConfig::cmdOK_Click()
{
    sDBServerName = txtDBServerName->text();
    sDBDatabaseName = txtDBDatabaseName->text();
    sDBUserID = txtDBUserID->text();
    sDBPassword = txtDBPassword->text();
    iRefreshInterval = refreshIntervalFromText(txtRefreshInterval->text(), iRefreshInterval);
    sAssetList = txtAssetList->toPlainText();
    QDialog::accept();
}

void frmConfig::cmdCancel_Click()
{
    sDBServerName.clear();
    sDBDatabaseName.clear();
    sDBUserID.clear();
    sDBPassword.clear();
    QDialog::reject();
}

#include "frmnewwo.h"

#include "formcontrols_p.h"
#include "limitedtextedit.h"

#include "layout.h"
#include "textconv.h"
#include "lookups.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>

using namespace Orvantel;

namespace Orvantel {

qint16 workOrderPriority(const QString &text)
{
    const qint16 priority = textToInt16(text);
    return priority == 0 ? qint16(3) : priority;
}

QString workOrderRequester(const QString &requestedByText)
{
    const QString code = ComboItemCode(requestedByText);
    return code.isEmpty() ? QStringLiteral("System") : code;
}

} // namespace Orvantel

frmNewWO::frmNewWO(QWidget *parent)
    : QDialog(parent)
{
    using namespace FormControls;
    setUpForm(this, QStringLiteral("frmNewWO"), QStringLiteral("Orvantel Work Request"), 10185, 4080);

    cmdCancel = button(this, QStringLiteral("cmdCancel"), QStringLiteral("Cancel"), 8760, 3480, 1335, 495);
    cboAssetCode = editableCombo(this, QStringLiteral("cboAssetCode"), 1800, 240, 4695, 315);
    label(this, QStringLiteral("Label1_0"), QStringLiteral("Asset Code"), 120, 240, 1335, 255);
    cboPriority = editableCombo(this, QStringLiteral("cboPriority"), 1800, 720, 735, 315);
    cboPriority->addItems({QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3")});
    cboPriority->setCurrentIndex(2);
    label(this, QStringLiteral("Label1_1"), QStringLiteral("Priority"), 120, 720, 1335, 255);
    label(this, QStringLiteral("Label1_2"), QStringLiteral("Work Requested"), 120, 1800, 1335, 255);
    txtWorkRequest = new LimitedTextEdit(255, this);
    txtWorkRequest->setObjectName(QStringLiteral("txtWorkRequest"));
    txtWorkRequest->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    txtWorkRequest->setTabChangesFocus(true);
    placeTwips(txtWorkRequest, 120, 2160, 9975, 1215);
    cmdOK = button(this, QStringLiteral("cmdOK"), QStringLiteral("OK"), 7320, 3480, 1335, 495);
    cboRequestedBy = editableCombo(this, QStringLiteral("cboRequestedBy"), 1800, 1200, 3135, 315);
    label(this, QStringLiteral("RequestedBy"), QStringLiteral("Requested By"), 120, 1200, 1335, 255);

    // No default button: Enter in a combo box must not confirm a half-filled request, and
    // Enter in the request box starts a new line. Enter on a focused button presses it.
    for (QPushButton *b : {cmdOK, cmdCancel}) {
        b->setAutoDefault(false);
        b->setDefault(false);
    }

    // Screen readers: the fields by their labels' texts (the labels are not their buddies:
    // they carry no mnemonics).
    describe(cboAssetCode, QStringLiteral("Asset Code"), QStringLiteral("The asset the work is for"));
    describe(cboPriority, QStringLiteral("Priority"), QStringLiteral("1 is the most urgent; empty means 3"));
    describe(txtWorkRequest, QStringLiteral("Work Requested"),
             QStringLiteral("What is to be done, at most 255 characters"));
    describe(cboRequestedBy, QStringLiteral("Requested By"));
    cmdOK->setAccessibleDescription(QStringLiteral("Raises the work request"));

    QWidget *order[] = {cmdCancel, cboAssetCode, cboPriority, txtWorkRequest, cmdOK, cboRequestedBy};
    for (size_t i = 1; i < std::size(order); ++i)
        setTabOrder(order[i - 1], order[i]);
    cmdCancel->setFocus();

    connect(cmdOK, &QPushButton::clicked, this, &frmNewWO::cmdOK_Click);
    connect(cmdCancel, &QPushButton::clicked, this, &frmNewWO::cmdCancel_Click);
}

frmNewWO::~frmNewWO() = default;

void frmNewWO::reject()
{
    cmdCancel_Click();
}

void frmNewWO::keyPressEvent(QKeyEvent *event)
{
    // A button that is not auto-default ignores Enter and passes it here.
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    auto *button = qobject_cast<QPushButton *>(focusWidget());
    if (enter && button && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        button->click();
        return;
    }
    QDialog::keyPressEvent(event);
}

void frmNewWO::cmdOK_Click()
{
    QDialog::accept();
}

void frmNewWO::cmdCancel_Click()
{
    cboAssetCode->setEditText(QString());
    QDialog::reject();
}

#pragma once

#include <QDialog>
#include <QStringList>

class QComboBox;
class QKeyEvent;
class QPushButton;

namespace Orvantel {

class LimitedTextEdit;

/// The priority a work request is raised with: the number at the start of text rounded
/// half to even ("2.5" 2, "3.5" 4, "12abc" 12); no number or 0 gives 3, other values
/// (negative ones included) pass unchanged. Throws ControlError 6 outside -32768..32767.
qint16 workOrderPriority(const QString &text);

/// The requester a work request is raised for: the code part of the requested-by text,
/// or "System" when that is empty.
QString workOrderRequester(const QString &requestedByText);

} // namespace Orvantel

/// The "Orvantel Work Request" dialog: asset, priority, requester and the request text.
/// OK hides it; Cancel, Esc and the window's close box empty the asset text and hide it,
/// which is how the caller knows nothing is to be created.
class frmNewWO : public QDialog
{
    Q_OBJECT
public:
    explicit frmNewWO(QWidget *parent = nullptr);
    ~frmNewWO() override;

    /// Esc and the close box act as Cancel.
    void reject() override;

    QPushButton *cmdCancel = nullptr;
    QComboBox *cboAssetCode = nullptr;
    QComboBox *cboPriority = nullptr;
    Orvantel::LimitedTextEdit *txtWorkRequest = nullptr;
    QPushButton *cmdOK = nullptr;
    QComboBox *cboRequestedBy = nullptr;

protected:
    /// No button is a default button; Enter presses the focused button, as Space does.
    void keyPressEvent(QKeyEvent *event) override;

private:
    void cmdOK_Click();
    void cmdCancel_Click();
};

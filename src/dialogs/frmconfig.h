#pragma once

#include <QDialog>
#include <QString>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QPushButton;

namespace Orvantel {

class LimitedTextEdit;

/// The refresh interval OK takes from its text box: the text's value (rounded half to
/// even: "2.5" 2, " 7" 7) when the text is one number within -32768..32767, else current.
qint16 refreshIntervalFromText(const QString &text, qint16 current);

} // namespace Orvantel

/// The "Orvantel Configurations" dialog. Values pass in and out through the public
/// fields; the check box and the two combo boxes are read and set by the caller. Cancel
/// and the window's close box empty the four connection fields: an empty sDBServerName
/// after ShowModal() means there is nothing to apply.
class frmConfig : public QDialog
{
    Q_OBJECT
public:
    explicit frmConfig(QWidget *parent = nullptr);
    ~frmConfig() override;

    /// Shows the fields in the text boxes, then the form modally; returns once it is hidden.
    void ShowModal();

    /// The close box acts as Cancel.
    void reject() override;

    QString sDBServerName;
    QString sDBDatabaseName;
    QString sDBUserID;
    QString sDBPassword;
    qint16 iRefreshInterval = 0;
    QString sAssetList;

    Orvantel::LimitedTextEdit *txtAssetList = nullptr;
    QLineEdit *txtDBServerName = nullptr;
    QLineEdit *txtDBDatabaseName = nullptr;
    QLineEdit *txtDBUserID = nullptr;
    QLineEdit *txtDBPassword = nullptr;
    QLineEdit *txtRefreshInterval = nullptr;
    QPushButton *cmdOK = nullptr;
    QPushButton *cmdCancel = nullptr;
    QGroupBox *frameServer = nullptr;
    QCheckBox *chkIncludePMWOs = nullptr;
    QComboBox *cboDivision = nullptr;
    QComboBox *cboDepartment = nullptr;

protected:
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void cmdOK_Click();
    void cmdCancel_Click();
};

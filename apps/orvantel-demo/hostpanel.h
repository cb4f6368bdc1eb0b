#pragma once

#include <QWidget>

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class WorkOrdersGrid;

/// The host's side of the window: drives the control through its properties and methods
/// by name, as any host would, and lists what the control reports back.
class HostPanel : public QWidget
{
    Q_OBJECT
public:
    explicit HostPanel(WorkOrdersGrid *control, QWidget *parent = nullptr);

    /// Adds a line to the event list.
    void log(const QString &line);
    /// Reads the control's acting properties back into the panel.
    void readBack();

private:
    void write(const char *property, const QVariant &value);
    void clickHidden(const QString &buttonName);

    WorkOrdersGrid *m_control;
    QComboBox *m_viewChoice;
    QLineEdit *m_viewMode;
    QCheckBox *m_hideWorkOrders;
    QCheckBox *m_hideLinkedFiles;
    QCheckBox *m_hideNewWO;
    QLabel *m_state;
    QPlainTextEdit *m_events;
};

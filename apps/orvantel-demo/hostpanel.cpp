#include "hostpanel.h"

#include <workordersgrid.h>

#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QTime>
#include <QTimer>
#include <QVBoxLayout>

HostPanel::HostPanel(WorkOrdersGrid *control, QWidget *parent)
    : QWidget(parent)
    , m_control(control)
    , m_viewChoice(new QComboBox)
    , m_viewMode(new QLineEdit)
    , m_hideWorkOrders(new QCheckBox(QStringLiteral("HideViewWorkOrders")))
    , m_hideLinkedFiles(new QCheckBox(QStringLiteral("HideViewLinkedFiles")))
    , m_hideNewWO(new QCheckBox(QStringLiteral("HideNewWO")))
    , m_state(new QLabel)
    , m_events(new QPlainTextEdit)
{
    auto *view = new QGroupBox(QStringLiteral("View"));
    m_viewChoice->addItems({QStringLiteral("0 - Open WOs"), QStringLiteral("1 - Upcoming PMs"),
                            QStringLiteral("2 - History"), QStringLiteral("3 - Linked Files")});
    m_viewMode->setPlaceholderText(QStringLiteral("e.g. Linked Files"));
    auto *setMode = new QPushButton(QStringLiteral("Set"));
    auto *modeRow = new QHBoxLayout;
    modeRow->addWidget(m_viewMode, 1);
    modeRow->addWidget(setMode);
    auto *viewForm = new QFormLayout(view);
    viewForm->addRow(QStringLiteral("ViewChoice"), m_viewChoice);
    viewForm->addRow(QStringLiteral("ViewMode"), modeRow);
    viewForm->addRow(m_state);
    m_state->setWordWrap(true);

    auto *hide = new QGroupBox(QStringLiteral("Hide"));
    auto *hideLayout = new QVBoxLayout(hide);
    for (QCheckBox *box : {m_hideWorkOrders, m_hideLinkedFiles, m_hideNewWO})
        hideLayout->addWidget(box);

    auto *actions = new QGroupBox(QStringLiteral("Methods and dialogs"));
    auto *refresh = new QPushButton(QStringLiteral("RefreshNow"));
    auto *connectButton = new QPushButton(QStringLiteral("ConnectToServer"));
    auto *configure = new QPushButton(QStringLiteral("Configure..."));
    auto *about = new QPushButton(QStringLiteral("About..."));
    auto *copy = new QPushButton(QStringLiteral("Copy"));
    copy->setToolTip(QStringLiteral("copyRows(): the selected rows of the grid shown, to the clipboard"));
    auto *exportRows = new QPushButton(QStringLiteral("Export..."));
    exportRows->setToolTip(QStringLiteral("exportRows(): every row of the grid shown, to a CSV file"));
    auto *actionLayout = new QGridLayout(actions);
    actionLayout->addWidget(refresh, 0, 0);
    actionLayout->addWidget(connectButton, 0, 1);
    actionLayout->addWidget(configure, 1, 0);
    actionLayout->addWidget(about, 1, 1);
    actionLayout->addWidget(copy, 2, 0);
    actionLayout->addWidget(exportRows, 2, 1);

    auto *events = new QGroupBox(QStringLiteral("Events"));
    m_events->setReadOnly(true);
    m_events->setMaximumBlockCount(200);
    m_events->setPlaceholderText(QStringLiteral("propertyChanged and exception signals appear here"));
    auto *eventLayout = new QVBoxLayout(events);
    eventLayout->addWidget(m_events);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(view);
    layout->addWidget(hide);
    layout->addWidget(actions);
    layout->addWidget(events, 1);

    connect(m_viewChoice, &QComboBox::activated, this,
            [this](int index) { write("ViewChoice", QVariant::fromValue(qint16(index))); });
    auto applyMode = [this] { write("ViewMode", m_viewMode->text()); };
    connect(setMode, &QPushButton::clicked, this, applyMode);
    connect(m_viewMode, &QLineEdit::returnPressed, this, applyMode);
    connect(m_hideWorkOrders, &QCheckBox::clicked, this, [this](bool on) { write("HideViewWorkOrders", on); });
    connect(m_hideLinkedFiles, &QCheckBox::clicked, this, [this](bool on) { write("HideViewLinkedFiles", on); });
    connect(m_hideNewWO, &QCheckBox::clicked, this, [this](bool on) { write("HideNewWO", on); });
    connect(refresh, &QPushButton::clicked, this, [this] { write("RefreshNow", QVariant::fromValue(qint16(1))); });
    connect(connectButton, &QPushButton::clicked, this, [this] {
        bool result = false;
        QMetaObject::invokeMethod(m_control, "ConnectToServer", Q_RETURN_ARG(bool, result));
        log(QStringLiteral("ConnectToServer() - ConnectedToDB is %1")
                    .arg(m_control->property("ConnectedToDB").toBool() ? QStringLiteral("true")
                                                                       : QStringLiteral("false")));
        readBack();
    });
    // The control keeps these two buttons hidden; a host reaches them by name.
    connect(configure, &QPushButton::clicked, this, [this] { clickHidden(QStringLiteral("cmdConfig")); });
    connect(about, &QPushButton::clicked, this, [this] { clickHidden(QStringLiteral("cmdAbout")); });

    connect(copy, &QPushButton::clicked, this, [this] {
        m_control->copyRows();
        log(QStringLiteral("copyRows()"));
    });
    connect(exportRows, &QPushButton::clicked, this, [this] {
        // Modal: the control may be gone when it returns (closing the window meanwhile).
        const QPointer<HostPanel> self(this);
        m_control->exportRows();
        if (self)
            log(QStringLiteral("exportRows()"));
    });

    connect(m_control, &WorkOrdersGrid::propertyChanged, this, [this](const QString &name) {
        log(QStringLiteral("propertyChanged(\"%1\") - now %2")
                    .arg(name, m_control->property(name.toLatin1().constData()).toString()));
        readBack();
    });
    connect(m_control, &WorkOrdersGrid::exception, this,
            [this](int code, const QString &source, const QString &description) {
                log(QStringLiteral("exception(%1, \"%2\", \"%3\")").arg(code).arg(source, description));
            });

    // The control's own view buttons change the view without notifying: read back now and then.
    auto *poll = new QTimer(this);
    connect(poll, &QTimer::timeout, this, &HostPanel::readBack);
    poll->start(500);
    readBack();
}

void HostPanel::log(const QString &line)
{
    m_events->appendPlainText(QTime::currentTime().toString(QStringLiteral("HH:mm:ss ")) + line);
}

void HostPanel::readBack()
{
    const int choice = m_control->property("ViewChoice").toInt();
    const QString mode = m_control->property("ViewMode").toString();
    if (!m_viewChoice->view()->isVisible())
        m_viewChoice->setCurrentIndex(choice);
    m_hideWorkOrders->setChecked(m_control->property("HideViewWorkOrders").toBool());
    m_hideLinkedFiles->setChecked(m_control->property("HideViewLinkedFiles").toBool());
    m_hideNewWO->setChecked(m_control->property("HideNewWO").toBool());
    m_state->setText(QStringLiteral("Reads: ViewChoice %1, ViewMode \"%2\"").arg(choice).arg(mode));
}

void HostPanel::write(const char *property, const QVariant &value)
{
    if (!m_control->setProperty(property, value))
        log(QStringLiteral("cannot write %1").arg(QLatin1String(property)));
    readBack();
}

void HostPanel::clickHidden(const QString &buttonName)
{
    if (auto *button = m_control->findChild<QPushButton *>(buttonName))
        button->click();
    else
        log(QStringLiteral("the control has no %1 button").arg(buttonName));
}

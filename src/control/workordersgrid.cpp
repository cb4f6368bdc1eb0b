#include "workordersgrid.h"
#include "workordersgrid_p.h"

#include "hourglass.h"
#include "layout.h"
#include "messagebox.h"
#include "modini.h"
#include "textconv.h"

#include "connectionstring.h"
#include "backgroundloader.h"
#include "changelistener.h"
#include "configdir.h"
#include "datasource.h"
#include "logging.h"
#include "recordset.h"
#include "workorderqueries.h"
#include "datagrid.h"
#include "gridbehaviour.h"
#include "gridcolumns.h"
#include "viewselection.h"

#include <QHeaderView>
#include <QApplication>
#include <QDialog>
#include <QPixmap>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QResizeEvent>
#include <QScrollBar>
#include <QTimer>

#include <cmath>
#include <new>
#include <optional>
#include <utility>

using namespace Orvantel;

namespace {

const QString EmptyWorkOrdersQuery = QStringLiteral("SELECT * FROM vw_QX_WorkOrdersGrid WHERE WO_Nbr IS NULL");
const QString EmptyLinkedFilesQuery = QStringLiteral("SELECT * FROM vw_LinkedFiles WHERE AssetCode IS NULL");

/// The timer's interval for a refresh interval in seconds. Formed in 32 bits: 16 bits
/// would overflow from 33 seconds on.
int refreshTimerInterval(qint16 seconds)
{
    return int(seconds) * 1000;
}

} // namespace

ControlError currentControlError()
{
    try {
        throw;
    } catch (const ControlError &e) {
        return e;
    } catch (const std::bad_alloc &) {
        return {ControlError::OutOfMemory, QStringLiteral("Out of memory")};
    } catch (const std::exception &e) {
        return {ControlError::InternalError, QString::fromLocal8Bit(e.what())};
    } catch (...) {
        return {ControlError::InternalError, QStringLiteral("Internal error")};
    }
}

WorkOrdersGridPrivate::WorkOrdersGridPrivate(WorkOrdersGrid *q)
    : q(q)
{}

void WorkOrdersGridPrivate::createChildren()
{
    // A white surface; the header children carry the system window colour.
    const QColor windowColour = QGuiApplication::palette().color(QPalette::Window);
    QPalette surface = q->palette();
    surface.setColor(QPalette::Window, Qt::white);
    q->setPalette(surface);
    q->setAutoFillBackground(true);
    QPalette header = surface;
    header.setColor(QPalette::Window, windowColour);
    q->setFont(designFont());

    lblTitle = new QLabel(QStringLiteral("Maintenance Activity"), q);
    lblTitle->setObjectName(QStringLiteral("lblTitle"));
    lblTitle->setFont(designFont(14.25));
    QPalette titlePalette = header;
    titlePalette.setColor(QPalette::WindowText, QColor(0, 0, 128));
    lblTitle->setPalette(titlePalette);
    lblTitle->setAutoFillBackground(true);
    lblTitle->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    lblTitle->setMargin(twipsToPixels(60));
    placeTwips(lblTitle, 0, 0, 11355, 3135);

    Image1 = new QLabel(q);
    Image1->setObjectName(QStringLiteral("Image1"));
    // The logo comes at 186 x 34 and twice that for high-density screens.
    const bool dense = qApp->devicePixelRatio() > 1.0;
    QPixmap logo(dense ? QStringLiteral(":/orvantel/logo@2x.png") : QStringLiteral(":/orvantel/logo.png"));
    logo.setDevicePixelRatio(dense ? 2.0 : 1.0);
    Image1->setPixmap(logo);
    placeTwips(Image1, 0, 0, 2790, 510);

    static const char *const captions[] = {"Open WOs", "Upcoming PMs", "History", "Linked Files"};
    static const int lefts[] = {120, 1560, 3360, 4560};
    static const int widths[] = {1335, 1695, 1095, 1335};
    for (int i = 0; i < 4; ++i) {
        auto *button = new QRadioButton(QString::fromLatin1(captions[i]), q);
        button->setObjectName(QStringLiteral("optView_%1").arg(i));
        button->setPalette(header);
        button->setAutoFillBackground(true);
        placeTwips(button, lefts[i], 520, widths[i], 195);
        optView[size_t(i)] = button;
    }
    optView[0]->setChecked(true);
    for (int i = 0; i < 4; ++i)
        QObject::connect(optView[size_t(i)], &QRadioButton::toggled, q,
                         [this, i](bool checked) { viewButtonToggled(i, checked); });

    cmdNewWO = new QPushButton(QStringLiteral("New WO"), q);
    cmdNewWO->setObjectName(QStringLiteral("cmdNewWO"));
    placeTwips(cmdNewWO, 7440, 480, 975, 255);
    QObject::connect(cmdNewWO, &QPushButton::clicked, q,
                     [this] { entry(QStringLiteral("New WO Error"), [this] { cmdNewWO_Click(); }); });

    cmdConfig = new QPushButton(QStringLiteral("Configure"), q);
    cmdConfig->setObjectName(QStringLiteral("cmdConfig"));
    placeTwips(cmdConfig, 8520, 0, 975, 375);
    cmdConfig->setVisible(false);
    QObject::connect(cmdConfig, &QPushButton::clicked, q,
                     [this] { entry(QStringLiteral("Config Click Error"), [this] { cmdConfig_Click(); }); });

    cmdAbout = new QPushButton(QStringLiteral("About"), q);
    cmdAbout->setObjectName(QStringLiteral("cmdAbout"));
    placeTwips(cmdAbout, 8520, 360, 975, 375);
    cmdAbout->setVisible(false);
    QObject::connect(cmdAbout, &QPushButton::clicked, q,
                     [this] { entry(QStringLiteral("About Error"), [this] { cmdAbout_Click(); }); });

    Adodc1 = new DataSource(q);
    Adodc1->setObjectName(QStringLiteral("Adodc1"));
    Adodc2 = new DataSource(q);
    Adodc2->setObjectName(QStringLiteral("Adodc2"));
    // Both grids read the same server on the GUI thread: one connection serves them.
    Adodc2->shareConnectionOf(Adodc1);

    grdWorkOrders = new DataGrid(q);
    grdWorkOrders->setObjectName(QStringLiteral("grdWorkOrders"));
    grdWorkOrders->setColumns(workOrderColumns());
    grdWorkOrders->column(WoPriorityColumn)->setFetchStyle(true);
    grdWorkOrders->setDataSource(Adodc1);
    placeTwips(grdWorkOrders, 0, 720, 11295, 2295);
    QObject::connect(grdWorkOrders, &DataGrid::HeadClick, q, [this](int column) {
        entry(QStringLiteral("grdWorkOrders HeadClick"), [&] { grdWorkOrders_HeadClick(column); });
    });
    QObject::connect(grdWorkOrders, &DataGrid::FetchCellStyle, q, [this](int bookmark, int column, CellStyle *style) {
        grdWorkOrders_FetchCellStyle(bookmark, column, style);
    });
    QObject::connect(grdWorkOrders, &DataGrid::DblClick, q,
                     [this] { entry(QStringLiteral("grdWorkOrders DblClick"), [this] { grdWorkOrders_DblClick(); }); });

    TDBGrid1 = new DataGrid(q);
    TDBGrid1->setObjectName(QStringLiteral("TDBGrid1"));
    TDBGrid1->setColumns(linkedFileColumns());
    TDBGrid1->setDataSource(Adodc2);
    placeTwips(TDBGrid1, 0, 720, 11295, 2310);
    TDBGrid1->setVisible(false);
    QObject::connect(TDBGrid1, &DataGrid::ButtonClick, q, [this](int column) {
        entry(QStringLiteral("Preview Error"), [&] { TDBGrid1_ButtonClick(column); });
    });
    QObject::connect(TDBGrid1, &DataGrid::DblClick, q,
                     [this] { entry(QStringLiteral("Preview Error"), [this] { TDBGrid1_DblClick(); }); });

    Timer1 = new QTimer(q);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(5000);

    createBackgroundWork();

    setUpCopyAndExport();
    describeChildren();

    // Tab order as designed: the work-order grid first, the view buttons last.
    QWidget *order[]
            = {grdWorkOrders, cmdAbout, cmdConfig, cmdNewWO, TDBGrid1, optView[0], optView[1], optView[2], optView[3]};
    for (size_t i = 1; i < std::size(order); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);

    lblTitle->lower();
}

void WorkOrdersGridPrivate::optView_Click(int Index)
{
    if (Index < LinkedFilesView)
        setUpWorkOrderColumns(grdWorkOrders, Index);
    if (clickSwapsGrids(m_sViewMode, Index))
        ToggleView();
    m_iViewChoice = qint16(Index);
    if (RefreshInterval > 0 && !loadAfterStartUp(WorkOrdersLoad))
        loadGrids(WorkOrdersLoad);
}

void WorkOrdersGridPrivate::ToggleView()
{
    if (!grdWorkOrders->isHidden()) {
        grdWorkOrders->setVisible(false);
        const std::optional<Failure> failure = attempt([this] {
            if (!loadAfterStartUp(LinkedFilesLoad))
                loadGrids(LinkedFilesLoad);
        });
        if (failure) {
            // Never leave both grids hidden: the work orders stay on screen.
            grdWorkOrders->setVisible(true);
            reportError(failure->error, QStringLiteral("RefreshLinkedFiles Error"));
            throw ReportedError(failure->error);
        }
        TDBGrid1->setVisible(true);
        m_sViewMode = linkedFilesMode();
    } else {
        grdWorkOrders->setVisible(true);
        TDBGrid1->setVisible(false);
        m_sViewMode = workOrdersMode();
    }
}

void WorkOrdersGridPrivate::selectView(int index)
{
    QRadioButton *button = optView[size_t(index)];
    if (button->isChecked())
        return;
    m_selectingFromCode = true;
    button->setChecked(true);
    m_selectingFromCode = false;
    optView_Click(index);
}

void WorkOrdersGridPrivate::viewButtonToggled(int index, bool checked)
{
    if (!checked || m_selectingFromCode)
        return;
    entry(QStringLiteral("optView_Click Error"), [&] { optView_Click(index); });
}

void WorkOrdersGridPrivate::grdWorkOrders_HeadClick(int ColIndex)
{
    if (!m_bDataLoaded)
        return;
    handleErrors(QStringLiteral("grdWorkOrders HeadClick"), [&] {
        GridColumn *column = grdWorkOrders->column(ColIndex);
        const QString direction = nextSortDirection(column->defaultValue());
        const int bookmark = grdWorkOrders->currentBookmark();
        const QString sortOrder = sortOrderText(column->dataField(), direction);
        Adodc1->recordset()->setSort(sortOrder);
        // Kept only once it applied: a sort the results cannot take would fail every refresh.
        m_sSortOrder = sortOrder;
        if (bookmark >= 0)
            grdWorkOrders->setCurrentBookmark(bookmark);
        column->setDefaultValue(sortState(direction));
        grdWorkOrders->horizontalHeader()->setSortIndicator(
                ColIndex, direction.isEmpty() ? Qt::AscendingOrder : Qt::DescendingOrder);
    });
}

void WorkOrdersGridPrivate::grdWorkOrders_FetchCellStyle(int bookmark, int column, CellStyle *style)
{
    // Errors are passed over: a cell whose value cannot be read keeps its style.
    try {
        if (grdWorkOrders->column(column)->dataField() != QLatin1String("Priority"))
            return;
        const QVariant value = grdWorkOrders->column(QStringLiteral("Priority"))->valueAt(bookmark);
        const CellStyle priority = priorityCellStyle(value.isValid() ? value.toString() : QString());
        if (priority.background.isValid())
            *style = priority;
    } catch (...) {
    }
}

void WorkOrdersGridPrivate::grdWorkOrders_DblClick()
{
    // A value that cannot be read stays empty; the box is shown all the same.
    auto text = [this](const QString &name) {
        try {
            const QVariant value = grdWorkOrders->column(name)->value();
            return value.isValid() ? value.toString() : QString();
        } catch (...) {
            return QString();
        }
    };
    // Cut: the box would freeze the screen laying out a multi-megabyte request.
    const QString notes = shownCellText(text(QStringLiteral("Notes")));
    const QString title = requestTitle(text(QStringLiteral("Status")), text(QStringLiteral("WO_Nbr")));
    modal([&] { showMessage(notes, title, MessageStyle::Information, q); });
}

void WorkOrdersGridPrivate::resizeGrid()
{
    // Each measure is applied on its own; one that does not apply leaves the grid as it was.
    const GridResize r = resizeRule(q->width() * TwipsPerPixel, q->height() * TwipsPerPixel,
                                    grdWorkOrders->width() * TwipsPerPixel);
    if (r.gridWidth)
        grdWorkOrders->resize(twipsToPixels(*r.gridWidth), grdWorkOrders->height());
    if (r.gridHeight)
        grdWorkOrders->resize(grdWorkOrders->width(), twipsToPixels(*r.gridHeight));
    if (r.notesWidth)
        grdWorkOrders->column(WoNotesColumn)->setWidth(int(*r.notesWidth));
}

void WorkOrdersGridPrivate::notify(const QString &name, void (WorkOrdersGrid::*signal)())
{
    // A host may destroy the control in its handler of the first signal.
    const QPointer<WorkOrdersGrid> alive(q);
    WorkOrdersGrid *const control = q;
    Q_EMIT(control->*signal)();
    if (alive)
        Q_EMIT control->propertyChanged(name);
}

void WorkOrdersGridPrivate::showDialog(QDialog *form, const std::function<void()> &show)
{
    const QMetaObject::Connection closing = QObject::connect(q, &QObject::destroyed, form, &QDialog::reject);
    modal(show);
    QObject::disconnect(closing);
}

void WorkOrdersGridPrivate::reportError(const ControlError &error, const QString &title)
{
    modal([&] { showMessage(error.messageText(), title, MessageStyle::Exclamation, q); });
}

void WorkOrdersGridPrivate::readSettings()
{
    try {
        m_iRefreshNow = 0;
        ConnectedToDB = false;
        Timer1->stop();

        // Read once; each value is stored as soon as it is converted, so a value that does
        // not convert leaves the ones after it as they were.
        const modINI::Profile settings = modINI::Profile::load();
        DBServerName = settings.ReadINI(QStringLiteral("DBServerName"), QString());
        DBDatabaseName = settings.ReadINI(QStringLiteral("DBDatabaseName"), QString());
        DBUserID = settings.ReadINI(QStringLiteral("DBUserID"), QString());
        DBPassword = settings.ReadINI(QStringLiteral("DBPassword"), QString());
        RefreshInterval = textToInt16(settings.ReadINI(QStringLiteral("RefreshInterval"), QString()));
        AssetList = settings.ReadINI(QStringLiteral("AssetList"), QString());
        IncludePMWOs = textToBool(settings.ReadINI(QStringLiteral("IncludePMWOs"), QStringLiteral("1")));
        Division = settings.ReadINI(QStringLiteral("Division"), QString());
        Department = settings.ReadINI(QStringLiteral("Department"), QString());

        if (RefreshInterval > 0)
            Timer1->setInterval(refreshTimerInterval(RefreshInterval));
        else
            Timer1->stop();

        m_sViewMode = workOrdersMode();
    } catch (...) {
        m_startUpError = currentControlError();
    }
}

bool WorkOrdersGridPrivate::loadAfterStartUp(int loads)
{
    if (!m_startUpPending)
        return false;
    m_loadsAfterStartUp |= loads;
    return true;
}

void WorkOrdersGridPrivate::loadGrids(int loads)
{
    if (loads & WorkOrdersLoad)
        refreshData();
    if (loads & LinkedFilesLoad)
        RefreshLinkedFiles();
}

void WorkOrdersGridPrivate::connectAndLoad(Fill fill, int asked)
{
    const Hourglass hourglass;
    connectToServer();
    if (fill == Fill::Always || (ConnectedToDB && RefreshInterval > 0))
        loadGrids(BothGrids);
    else if (ConnectedToDB)
        loadGrids(asked);
    applyRefreshTimer();
}

void WorkOrdersGridPrivate::applyRefreshTimer()
{
    if (RefreshInterval > 0) {
        Timer1->setInterval(refreshTimerInterval(RefreshInterval));
        Timer1->start();
    } else {
        Timer1->stop();
    }
}

void WorkOrdersGridPrivate::postStartUp()
{
    QMetaObject::invokeMethod(
            q, [this] { entry(QStringLiteral("User Control Init Error"), [this] { finishStartUp(); }); },
            Qt::QueuedConnection);
}

void WorkOrdersGridPrivate::finishStartUp()
{
    if (m_nestedLoops > 0) {
        m_startUpPostponed = true;
        return;
    }
    m_startUpPending = false;
    const int asked = std::exchange(m_loadsAfterStartUp, 0);
    handleErrors(QStringLiteral("User Control Init Error"), [&] {
        if (m_startUpError)
            throw *std::exchange(m_startUpError, std::nullopt);
        // Without a server name nothing connects and the timer stays off.
        if (!DBServerName.isEmpty())
            connectAndLoad(Fill::WhenConnected, asked);
    });
    if (RefreshInterval == 0)
        Timer1->stop();
}

Statement WorkOrdersGridPrivate::workOrdersStatement() const
{
    return WorkOrderQueries::workOrdersStatement(Adodc1->dialect(), AssetList, selectedWorkOrderView(), Division,
                                                 Department);
}

WorkOrdersGridPrivate::RememberedRow WorkOrdersGridPrivate::rememberRow() const
{
    RememberedRow row;
    if (grdWorkOrders->rowCount() > 0)
        row.index = std::max(0, grdWorkOrders->currentRowIndex());
    row.scroll = grdWorkOrders->verticalScrollBar()->value();
    return row;
}

void WorkOrdersGridPrivate::restoreRow(const RememberedRow &row)
{
    // Index 0 is never restored: the grid stays where the load left it, on its first row.
    if (grdWorkOrders->rowCount() > row.index && row.index > 0) {
        grdWorkOrders->setCurrentRowIndex(row.index);
        // Keep the rows where the operator was looking, not where scrollTo() put them.
        grdWorkOrders->verticalScrollBar()->setValue(row.scroll);
    }
}

View WorkOrdersGridPrivate::selectedWorkOrderView() const
{
    for (const View view : {OpenWorkOrdersView, UpcomingPMsView, HistoryView}) {
        if (optView[size_t(view)]->isChecked())
            return view;
    }
    return LinkedFilesView;
}

void WorkOrdersGridPrivate::RefreshLinkedFiles()
{
    m_linkedFilesLoaded = true;
    // A load of the host's or the operator's supersedes one in the background.
    if (m_inFlight == BackgroundFiles)
        m_backgroundTicket = 0;
    Adodc2->setRecordSource(WorkOrderQueries::linkedFilesStatement(Adodc2->dialect(), AssetList));
    Adodc2->refresh();
}

WorkOrdersGrid::WorkOrdersGrid(QWidget *parent)
    : WorkOrdersGrid(parent, StartUpFromSettings)
{}

static void initResources()
{
    // Also in the static build the tests link, where nothing else would pull the logo in.
    Q_INIT_RESOURCE(control);
}

WorkOrdersGrid::WorkOrdersGrid(QWidget *parent, StartUp startUp)
    : QWidget(parent)
    , d(new WorkOrdersGridPrivate(this))
{
    initResources();
    d->createChildren();
    connect(d->Timer1, &QTimer::timeout, this,
            [this] { d->entry(QStringLiteral("RefreshData Error"), [this] { d->timerTick(); }); });
    if (startUp == NoStartUp)
        return;
    d->readSettings();
    d->m_startUpPending = true;
    d->postStartUp();
}

WorkOrdersGrid::~WorkOrdersGrid() = default;

QString WorkOrdersGrid::DBServerName() const
{
    return d->DBServerName;
}
void WorkOrdersGrid::setDBServerName(const QString &value)
{
    d->DBServerName = value;
}
QString WorkOrdersGrid::DBDatabaseName() const
{
    return d->DBDatabaseName;
}
void WorkOrdersGrid::setDBDatabaseName(const QString &value)
{
    d->DBDatabaseName = value;
}
QString WorkOrdersGrid::DBUserID() const
{
    return d->DBUserID;
}
void WorkOrdersGrid::setDBUserID(const QString &value)
{
    d->DBUserID = value;
}
QString WorkOrdersGrid::DBPassword() const
{
    return d->DBPassword;
}
void WorkOrdersGrid::setDBPassword(const QString &value)
{
    d->DBPassword = value;
}
qint16 WorkOrdersGrid::RefreshInterval() const
{
    return d->RefreshInterval;
}
void WorkOrdersGrid::setRefreshInterval(qint16 value)
{
    d->RefreshInterval = value;
}
QString WorkOrdersGrid::AssetList() const
{
    return d->AssetList;
}
void WorkOrdersGrid::setAssetList(const QString &value)
{
    d->AssetList = value;
}
bool WorkOrdersGrid::IncludePMWOs() const
{
    return d->IncludePMWOs;
}
void WorkOrdersGrid::setIncludePMWOs(bool value)
{
    d->IncludePMWOs = value;
}
QString WorkOrdersGrid::Division() const
{
    return d->Division;
}
void WorkOrdersGrid::setDivision(const QString &value)
{
    d->Division = value;
}
QString WorkOrdersGrid::Department() const
{
    return d->Department;
}
void WorkOrdersGrid::setDepartment(const QString &value)
{
    d->Department = value;
}
QString WorkOrdersGrid::RequestedBy() const
{
    return d->RequestedBy;
}
void WorkOrdersGrid::setRequestedBy(const QString &value)
{
    d->RequestedBy = value;
}
bool WorkOrdersGrid::ConnectedToDB() const
{
    return d->ConnectedToDB;
}
void WorkOrdersGrid::setConnectedToDB(bool value)
{
    d->ConnectedToDB = value;
}

qint16 WorkOrdersGrid::RefreshNow() const
{
    return d->m_iRefreshNow;
}

void WorkOrdersGrid::setRefreshNow(qint16)
{
    d->hostCall(QStringLiteral("RefreshNow"), [this] {
        // Both grids, without connecting: neither load asks whether the control is connected.
        if (!d->loadAfterStartUp(WorkOrdersGridPrivate::BothGrids))
            d->loadGrids(WorkOrdersGridPrivate::BothGrids);
        d->notify(QStringLiteral("RefreshNow"), &WorkOrdersGrid::RefreshNowChanged);
    });
}

QString WorkOrdersGrid::ViewMode() const
{
    return d->m_sViewMode;
}

void WorkOrdersGrid::setViewMode(const QString &sViewMode)
{
    d->hostCall(QStringLiteral("ViewMode"), [&] {
        d->m_sViewMode = sViewMode;
        const bool files = viewModeMeansLinkedFiles(sViewMode);
        const bool workOrdersShown = !d->grdWorkOrders->isHidden();
        if (files == workOrdersShown)
            d->ToggleView();
        d->notify(QStringLiteral("ViewMode"), &WorkOrdersGrid::ViewModeChanged);
    });
}

bool WorkOrdersGrid::HideViewWorkOrders() const
{
    return d->m_bHideViewWorkOrders;
}

void WorkOrdersGrid::setHideViewWorkOrders(bool bHide)
{
    d->hostCall(QStringLiteral("HideViewWorkOrders"), [&] {
        d->m_bHideViewWorkOrders = bHide;
        for (int i = 0; i < 3; ++i)
            d->optView[size_t(i)]->setVisible(!bHide);
        if (bHide) {
            d->selectView(LinkedFilesView);
            d->grdWorkOrders->setVisible(false);
        }
        d->notify(QStringLiteral("HideViewWorkOrders"), &WorkOrdersGrid::HideViewWorkOrdersChanged);
    });
}

bool WorkOrdersGrid::HideViewLinkedFiles() const
{
    return d->m_bHideViewLinkedFiles;
}

void WorkOrdersGrid::setHideViewLinkedFiles(bool bHide)
{
    d->hostCall(QStringLiteral("HideViewLinkedFiles"), [&] {
        d->m_bHideViewLinkedFiles = bHide;
        d->optView[LinkedFilesView]->setVisible(!bHide);
        if (bHide) {
            d->selectView(OpenWorkOrdersView);
            d->grdWorkOrders->setVisible(true);
        }
        d->notify(QStringLiteral("HideViewLinkedFiles"), &WorkOrdersGrid::HideViewLinkedFilesChanged);
    });
}

bool WorkOrdersGrid::HideNewWO() const
{
    return d->m_bHideNewWO;
}

void WorkOrdersGrid::setHideNewWO(bool bHide)
{
    d->hostCall(QStringLiteral("HideNewWO"), [&] {
        d->m_bHideNewWO = bHide;
        d->cmdNewWO->setVisible(!bHide);
        d->notify(QStringLiteral("HideNewWO"), &WorkOrdersGrid::HideNewWOChanged);
    });
}

qint16 WorkOrdersGrid::ViewChoice() const
{
    return d->m_iViewChoice;
}

void WorkOrdersGrid::setViewChoice(qint16 iChoice)
{
    d->hostCall(QStringLiteral("ViewChoice"), [&] {
        d->m_iViewChoice = clampViewChoice(iChoice);
        d->selectView(d->m_iViewChoice);
        d->optView_Click(d->m_iViewChoice);
        d->notify(QStringLiteral("ViewChoice"), &WorkOrdersGrid::ViewChoiceChanged);
    });
}

bool WorkOrdersGrid::ConnectToServer()
{
    try {
        return d->connectToServer();
    } catch (const ControlDestroyed &) {
        return false;
    }
}

bool WorkOrdersGridPrivate::connectToServer()
{
    const bool connected = handleErrors(QStringLiteral("ConnectToServer Error"), [this] {
        m_sConnectString = ConnectionString::build({DBServerName, DBDatabaseName, DBUserID, DBPassword});
        Adodc1->setConnectionString(m_sConnectString);
        Adodc2->setConnectionString(m_sConnectString);
        Adodc1->setRecordSource(Statement(EmptyWorkOrdersQuery));
        Adodc1->refresh();
        Adodc2->setRecordSource(Statement(EmptyLinkedFilesQuery));
        Adodc2->refresh();
        ConnectedToDB = true;
    });
    // A failed connection stops the timed refreshes (callers read RefreshInterval).
    if (!connected) {
        RefreshInterval = 0;
        m_listener->stop();
    } else {
        m_listener->listen(m_sConnectString, configDirectory());
    }
    return connected;
}

bool WorkOrdersGrid::RefreshData()
{
    try {
        return d->refreshData();
    } catch (const ControlDestroyed &) {
        return false;
    }
}

bool WorkOrdersGridPrivate::refreshData()
{
    m_bDataLoaded = true;
    // A load of the host's or the operator's supersedes a work-order load in the background,
    // and covers the changes notified so far.
    if (m_inFlight == BackgroundFull || m_inFlight == BackgroundCatchUp || m_inFlight == BackgroundDelta)
        m_backgroundTicket = 0;
    m_fullPending = false;
    m_pendingNumbers.clear();
    const std::optional<Failure> failure = attempt([this] {
        const Statement statement = workOrdersStatement();
        const RememberedRow row = rememberRow();
        Adodc1->setRecordSource(statement, WorkOrderQueries::WorkOrdersOrder);
        Adodc1->refresh();
        if (!m_sSortOrder.isEmpty())
            Adodc1->recordset()->setSort(m_sSortOrder);
        restoreRow(row);
    });
    if (!failure)
        return true;
    // Counted, not flagged: a second failure inside this box must not end the count early.
    ++m_refreshErrorsOpen;
    reportError(failure->error, QStringLiteral("RefreshData Error"));
    --m_refreshErrorsOpen;
    return false;
}

QSize WorkOrdersGrid::sizeHint() const
{
    return {twipsToPixels(11370), twipsToPixels(3210)};
}

void WorkOrdersGrid::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    // The resize rule passes over what it cannot apply; nothing of it reaches the event loop.
    try {
        d->resizeGrid();
    } catch (...) {
    }
}

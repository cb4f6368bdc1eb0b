#pragma once

#include "workordersgrid.h"

#include "controlerror.h"
#include "workorderqueries.h"

#include <QPointer>
#include <QString>

#include <array>
#include <functional>
#include <optional>
#include <utility>

class QComboBox;
class QDialog;
class QLabel;
class QPushButton;
class QRadioButton;
class QTimer;

namespace Orvantel {
class BackgroundLoader;
class ChangeListener;
class DataGrid;
class DataSource;
struct CellStyle;

/// An error that has already been shown to the operator; a host still hears of it.
struct ReportedError : ControlError
{
    explicit ReportedError(const ControlError &error)
        : ControlError(error)
    {}
};

/// The host destroyed the control inside a nested event loop (a message box, a dialog,
/// the preview window). Thrown right after that loop returns and caught at the outermost
/// frame of the control's own code, which then returns without touching the control.
struct ControlDestroyed
{};

/// Why a step of the control failed.
struct Failure
{
    ControlError error;
    bool shown = false; ///< already reported to the operator (a ReportedError)
};
} // namespace Orvantel

/// The control's state and children, and its procedures. The host reaches them through
/// WorkOrdersGrid; the operator through the children's signals, each connected through
/// entry().
class WorkOrdersGridPrivate
{
public:
    explicit WorkOrdersGridPrivate(WorkOrdersGrid *q);

    static WorkOrdersGridPrivate *get(WorkOrdersGrid *grid) { return grid->d.get(); }

    void createChildren();

    // --- Errors ---------------------------------------------------------------------
    // One path for every failure: attempt() turns whatever a step threw into a Failure;
    // handleErrors() is a procedure's error handler (a box titled after the procedure, then
    // the procedure ends); entry() and hostCall() are the outermost frames, where nothing may
    // pass to Qt's event loop or to the host. ControlDestroyed passes through the first two
    // and ends quietly in the last two.

    /// Runs body; returns how it failed, or nothing when it succeeded.
    template<typename Body>
    std::optional<Orvantel::Failure> attempt(Body &&body);
    /// Runs body; a failure is shown under title (unless already shown). Returns success.
    template<typename Body>
    bool handleErrors(const QString &title, Body &&body);
    /// A child's signal or an event of the event loop: handleErrors() that ends a
    /// ControlDestroyed quietly.
    template<typename Body>
    void entry(const QString &title, Body &&body);
    /// A host's property write: a failure ends it and goes to the host through the
    /// exception signal. Returns success.
    template<typename Body>
    bool hostCall(const QString &source, Body &&body);

    /// Shows an error in the style every failure uses. Throws ControlDestroyed.
    void reportError(const Orvantel::ControlError &error, const QString &title);

    /// Runs a call that may spin a nested event loop (a message box, a dialog, the preview
    /// window). Throws ControlDestroyed when the host destroyed the control meanwhile, so
    /// that no caller goes on with freed state.
    template<typename Call>
    void modal(Call &&call);
    /// Shows one of the control's dialogs modally through show; the dialog closes as by
    /// Cancel when the host destroys the control meanwhile. Throws ControlDestroyed.
    void showDialog(QDialog *form, const std::function<void()> &show);

    /// Emits the property's NOTIFY signal and propertyChanged(name).
    void notify(const QString &name, void (WorkOrdersGrid::*signal)());

    // --- Start-up, connecting and loading --------------------------------------------

    /// The first steps of start-up, run by the constructor: reads the settings file into
    /// the settings and sets up the timer. A failure is kept for finishStartUp() to report.
    void readSettings();
    /// The rest of start-up, at the first turn of the event loop after construction:
    /// reports a failure of readSettings() under "User Control Init Error", or connects,
    /// fills both grids once and starts the refresh timer with the settings of that moment.
    void finishStartUp();
    /// Runs finishStartUp() at the next turn of the event loop.
    void postStartUp();

    enum Load { WorkOrdersLoad = 1, LinkedFilesLoad = 2, BothGrids = WorkOrdersLoad | LinkedFilesLoad };
    /// A grid load a host call asks for while start-up has yet to connect: it is left to
    /// finishStartUp(), which fills the grids with the settings of that moment. Returns
    /// whether the load was left (false: load now).
    bool loadAfterStartUp(int loads);
    /// Loads the grids named by loads (Load flags): RefreshData, then RefreshLinkedFiles.
    void loadGrids(int loads);

    /// Whether connectAndLoad() fills the grids whatever the connection's outcome
    /// (Configure) or only once connected with a positive refresh interval (start-up).
    enum class Fill { Always, WhenConnected };
    /// Under the hourglass: connects with the settings of this moment, fills both grids
    /// as fill says (else the loads in asked), then starts or stops the refresh timer.
    void connectAndLoad(Fill fill, int asked = 0);
    /// The timer runs every RefreshInterval seconds while that is positive, else stops.
    void applyRefreshTimer();

    /// RefreshData and ConnectToServer as the control calls them itself: failures are
    /// reported in a box and give false; ControlDestroyed goes on to the caller.
    bool refreshData();
    bool connectToServer();
    /// Loads the linked files of the configured assets; throws ControlError.
    void RefreshLinkedFiles();
    // --- Loads in the background (backgroundflow.cpp) ---------------------------------
    // One worker thread loads at a time. Its jobs: a full load of the work orders (a tick,
    // or a notification of "everything"), a delta of the notified work orders (merged into
    // the rows shown), the linked files, and on SQLite a probe whether another connection
    // committed. Work that comes while the worker is busy waits in the flags below (a tick
    // does not: it starts nothing).

    enum BackgroundKind {
        BackgroundNone,
        BackgroundFull, ///< a tick: the current row by its index, as RefreshData keeps it
        BackgroundCatchUp, ///< everything may have changed elsewhere: the same work orders in view
        BackgroundDelta,
        BackgroundFiles,
        BackgroundProbe,
    };
    /// Makes the worker, the change listener and the timer that coalesces notifications.
    void createBackgroundWork();
    /// The refresh timer's tick: while connected, loads the work orders in the background
    /// (unless the worker is busy); the GUI thread never waits on the database for it.
    void timerTick();
    /// Starts the most urgent waiting job, if the worker is free.
    void startWaitingWork();
    void startBackground(BackgroundKind kind, const QList<qint64> &numbers = {});
    /// A job finished: a full load's rows swapped in (an open refresh error box closed, since
    /// what it reported is over), a delta merged, the linked files replaced, or a failure
    /// shown (one box at a time). A job superseded meanwhile by a host's load is dropped.
    void backgroundLoadFinished();
    /// A notification (or SQLite's file watch) said that something changed.
    void workOrdersNotified(const QList<qint64> &numbers);
    void everythingNotified();
    void linkedFilesNotified();
    void databaseFileChanged();

    /// The work-order statement of this moment (assets, view, division, department).
    Orvantel::Statement workOrdersStatement() const;
    /// The current row to restore after a load (RefreshData's rule), and where the view was.
    struct RememberedRow
    {
        int index = 0;
        int scroll = 0;
    };
    RememberedRow rememberRow() const;
    void restoreRow(const RememberedRow &row);

    // --- Views and grids -----------------------------------------------------------

    /// The view whose filter RefreshData applies: the first selected of buttons 0 to 2,
    /// else the linked files (no view condition).
    Orvantel::View selectedWorkOrderView() const;
    /// A view button's click: the work-order grid's columns, the grid swap, the view
    /// choice, and a reload while RefreshInterval is positive. Throws what ToggleView throws.
    void optView_Click(int Index);
    /// Swaps the two grids, deciding by whether the work-order grid is visible. When the
    /// linked files cannot be loaded the work-order grid stays shown, the failure is shown
    /// under "RefreshLinkedFiles Error" and thrown on as a ReportedError.
    void ToggleView();
    /// Selects a view button from code; the click handler runs when the selection changes.
    void selectView(int index);
    /// The user's click on a view button (through the button group).
    void viewButtonToggled(int index, bool checked);

    void grdWorkOrders_HeadClick(int ColIndex);
    void grdWorkOrders_FetchCellStyle(int bookmark, int column, Orvantel::CellStyle *style);
    void grdWorkOrders_DblClick();

    /// Applies the resize rule to the work-order grid.
    void resizeGrid();

    // The lookups of the two dialogs, each through a connection of its own (lookupflow.cpp).
    // A failure is shown under "LoadComboBox Error", "ValidateAsset Error" or "CreateWorkOrder
    // Error"; each throws ControlDestroyed when the host destroyed the control in that box.

    /// Replaces the combo box's items; after a failure the items read before it stay, the
    /// empty first item included.
    void LoadComboBox(QComboBox *combo, const QString &table, const QString &keyColumn, bool addEmptyFirst,
                      const QString &descriptionColumn);
    /// True when the asset exists; a failed lookup counts as not found.
    bool ValidateAsset(const QString &assetCode);
    /// True when the work order was created.
    bool CreateWorkOrder(const QString &assetCode, qint16 priority, const QString &workRequest,
                         const QString &requestedBy);

    // Click handlers of the command buttons and the linked-files grid, each in the file of
    // its flow (newworkorderflow.cpp, configflow.cpp, previewflow.cpp, aboutflow.cpp).
    void cmdNewWO_Click();
    void cmdConfig_Click();
    void cmdAbout_Click();
    void TDBGrid1_ButtonClick(int ColIndex);
    void TDBGrid1_DblClick();

    // Copy and export (copyexportflow.cpp), accessible names (accessiblenames.cpp).

    /// Keeps each grid's selection by its rows' keys and connects its "Export..." action.
    void setUpCopyAndExport();
    /// A grid's "Export...": a file dialog, then the rows written to the file chosen; more
    /// than GridExport::BackgroundRows rows in the background under a progress dialog that
    /// can cancel (then no file). Throws ControlError (FileAccess) when the file cannot be
    /// written, and ControlDestroyed.
    void exportGrid(Orvantel::DataGrid *grid);
    /// The grid the view buttons show: the linked files or the work orders.
    Orvantel::DataGrid *shownGrid() const;
    /// Names and describes the children for screen readers.
    void describeChildren();

    WorkOrdersGrid *q;

    // Settings the host reads and writes.
    QString DBServerName;
    QString DBDatabaseName;
    QString DBUserID;
    QString DBPassword;
    qint16 RefreshInterval = 0;
    QString AssetList;
    bool IncludePMWOs = false;
    QString Division;
    QString Department;
    QString RequestedBy;
    bool ConnectedToDB = false;

    // Private state.
    QString m_sConnectString;
    bool m_bDataLoaded = false;
    QString m_sSortOrder;
    qint16 m_iRefreshNow = 0;
    QString m_sViewMode;
    bool m_bHideViewWorkOrders = false;
    bool m_bHideViewLinkedFiles = false;
    bool m_bHideNewWO = false;
    qint16 m_iViewChoice = 0;

    std::optional<Orvantel::ControlError> m_startUpError; // reported by finishStartUp()
    int m_refreshErrorsOpen = 0; // refresh error boxes on screen
    bool m_startUpPending = false; // created, not yet connected by finishStartUp()
    int m_loadsAfterStartUp = 0; // Load flags
    // Start-up waits while a loop of the control's own runs (a host call's error box, say),
    // so that it never runs inside one of the control's calls.
    int m_nestedLoops = 0;
    bool m_startUpPostponed = false;
    bool m_selectingFromCode = false; // selectView() runs the click handler itself

    // Children.
    QLabel *lblTitle = nullptr;
    QLabel *Image1 = nullptr;
    std::array<QRadioButton *, 4> optView {};
    QPushButton *cmdNewWO = nullptr;
    QPushButton *cmdConfig = nullptr;
    QPushButton *cmdAbout = nullptr;
    Orvantel::DataGrid *grdWorkOrders = nullptr;
    Orvantel::DataGrid *TDBGrid1 = nullptr;
    Orvantel::DataSource *Adodc1 = nullptr;
    Orvantel::DataSource *Adodc2 = nullptr;
    QTimer *Timer1 = nullptr;
    /// Timed refreshes and notified changes, on a thread of their own.
    Orvantel::BackgroundLoader *m_loader = nullptr;
    Orvantel::ChangeListener *m_listener = nullptr;
    QTimer *m_coalesce = nullptr; // notifications within a few tens of ms go as one delta
    /// The background job whose result may still be shown (0: none; a host call's load
    /// supersedes it), and what it is.
    quint64 m_backgroundTicket = 0;
    BackgroundKind m_inFlight = BackgroundNone;
    // Waiting work.
    bool m_fullPending = false;
    bool m_filesPending = false;
    bool m_probePending = false;
    QList<qint64> m_pendingNumbers;
    bool m_linkedFilesLoaded = false; // RefreshLinkedFiles ran (notifications change only a loaded grid)
};

/// The error the exception being handled stands for (call inside a catch block).
Orvantel::ControlError currentControlError();

template<typename Body>
std::optional<Orvantel::Failure> WorkOrdersGridPrivate::attempt(Body &&body)
{
    try {
        body();
        return std::nullopt;
    } catch (const Orvantel::ControlDestroyed &) {
        throw;
    } catch (const Orvantel::ReportedError &error) {
        return Orvantel::Failure {error, true};
    } catch (...) {
        return Orvantel::Failure {currentControlError(), false};
    }
}

template<typename Body>
bool WorkOrdersGridPrivate::handleErrors(const QString &title, Body &&body)
{
    const std::optional<Orvantel::Failure> failure = attempt(std::forward<Body>(body));
    if (failure && !failure->shown)
        reportError(failure->error, title);
    return !failure;
}

template<typename Body>
void WorkOrdersGridPrivate::entry(const QString &title, Body &&body)
{
    try {
        handleErrors(title, std::forward<Body>(body));
    } catch (const Orvantel::ControlDestroyed &) {
    }
}

template<typename Body>
bool WorkOrdersGridPrivate::hostCall(const QString &source, Body &&body)
{
    WorkOrdersGrid *const control = q;
    std::optional<Orvantel::Failure> failure;
    try {
        failure = attempt(std::forward<Body>(body));
    } catch (const Orvantel::ControlDestroyed &) {
        return false;
    }
    if (failure)
        Q_EMIT control->exception(failure->error.number, source, failure->error.description);
    return !failure;
}

template<typename Call>
void WorkOrdersGridPrivate::modal(Call &&call)
{
    const QPointer<WorkOrdersGrid> alive(q);
    ++m_nestedLoops;
    call();
    if (!alive)
        throw Orvantel::ControlDestroyed();
    if (--m_nestedLoops == 0 && std::exchange(m_startUpPostponed, false))
        postStartUp();
}

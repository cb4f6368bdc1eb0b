#pragma once

#include "workordersgrid.h"

#include "controlerror.h"

#include <QPointer>
#include <QString>

#include <array>
#include <functional>
#include <optional>
#include <utility>

class QDialog;
class QLabel;
class QPushButton;
class QRadioButton;
class QTimer;

namespace Orvantel {
class DataGrid;
class DataSource;
struct CellStyle;

/// An error that has already been shown to the operator; a host still hears of it.
struct ReportedError : ControlError
{
    explicit ReportedError(const ControlError &error) : ControlError(error) {}
};

/// The host destroyed the control inside a nested event loop (a message box, a dialog,
/// the preview window). Thrown right after that loop returns and caught at the outermost
/// frame of the control's own code, which then returns without touching the control.
struct ControlDestroyed
{
};
} // namespace Orvantel

/// The control's state and children. Tests reach it through get().
class WorkOrdersGridPrivate
{
public:
    explicit WorkOrdersGridPrivate(WorkOrdersGrid *q);

    static WorkOrdersGridPrivate *get(WorkOrdersGrid *grid) { return grid->d.get(); }

    void createChildren();

    /// Emits the property's NOTIFY signal and propertyChanged(name).
    void notify(const QString &name, void (WorkOrdersGrid::*signal)());

    /// Runs a host call's body; a ControlError (or any other exception) ends it and is
    /// delivered through the exception signal. Returns false when it failed.
    template <typename Body>
    bool hostCall(const QString &source, Body &&body);

    /// Runs a call that may spin a nested event loop (a message box, a dialog, the preview
    /// window). Throws ControlDestroyed when the host destroyed the control meanwhile, so
    /// that no caller goes on with freed state.
    template <typename Call>
    void modal(Call &&call);

    /// Shows one of the control's dialogs modally through show; the dialog closes as by
    /// Cancel when the host destroys the control meanwhile. Throws ControlDestroyed.
    void showDialog(QDialog *form, const std::function<void()> &show);

    /// Shows an error in the style every failure uses. Throws ControlDestroyed.
    void reportError(const Orvantel::ControlError &error, const QString &title);

    /// The first steps of start-up, run by the constructor: reads the settings file into
    /// the settings and sets up the timer. A failure is kept for finishStartUp() to report.
    void readSettings();
    /// The rest of start-up, at the first turn of the event loop after construction:
    /// reports a failure of readSettings() under "User Control Init Error", or connects,
    /// fills both grids once and starts the refresh timer with the settings of that moment.
    void finishStartUp();
    /// Runs finishStartUp() at the next turn of the event loop.
    void postStartUp();
    /// A grid load a host call asks for while start-up has yet to connect: it is left to
    /// finishStartUp(), which fills the grids with the settings of that moment. Returns
    /// whether the load was left (false: load now).
    enum Load { WorkOrdersLoad = 1, LinkedFilesLoad = 2 };
    bool loadAfterStartUp(Load load);
    /// The refresh timer's tick: refreshes the work orders while connected, unless the
    /// error box of an earlier refresh is still open.
    void timerTick();

    /// RefreshData and ConnectToServer as the control calls them itself: failures are
    /// reported in a box and give false; ControlDestroyed goes on to the caller.
    bool refreshData();
    bool connectToServer();
    /// Loads the linked files of the configured assets; throws ControlError.
    void RefreshLinkedFiles();
    /// The view whose filter RefreshData applies: the first selected of buttons 0 to 2.
    int selectedWorkOrderView() const;

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

    // Click handlers of the command buttons and the linked-files grid. Each is defined
    // beside the window it opens (dialogs/, views/).
    void cmdNewWO_Click();
    void cmdConfig_Click();
    void cmdAbout_Click();
    void TDBGrid1_ButtonClick(int ColIndex);
    void TDBGrid1_DblClick();

    /// Runs an event handler so that nothing it throws reaches the event loop: an error
    /// already shown is dropped, any other is shown under title.
    template <typename Handler>
    void guarded(const QString &title, Handler &&handler);

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
    // Start-up waits while a loop of the control's own runs (a host call's error box, say),
    // so that it never runs inside one of the control's calls.
    int m_nestedLoops = 0;
    bool m_startUpPostponed = false;
    int m_loadsAfterStartUp = 0; // Load flags
    bool m_selectingFromCode = false; // selectView() runs the click handler itself

    // Children.
    QLabel *lblTitle = nullptr;
    QLabel *Image1 = nullptr;
    std::array<QRadioButton *, 4> optView{};
    QPushButton *cmdNewWO = nullptr;
    QPushButton *cmdConfig = nullptr;
    QPushButton *cmdAbout = nullptr;
    Orvantel::DataGrid *grdWorkOrders = nullptr;
    Orvantel::DataGrid *TDBGrid1 = nullptr;
    Orvantel::DataSource *Adodc1 = nullptr;
    Orvantel::DataSource *Adodc2 = nullptr;
    QTimer *Timer1 = nullptr;
};

/// The error the exception being handled stands for (call inside a catch block).
Orvantel::ControlError currentControlError();

template <typename Handler>
void WorkOrdersGridPrivate::guarded(const QString &title, Handler &&handler)
{
    std::optional<Orvantel::ControlError> error;
    try {
        handler();
        return;
    } catch (const Orvantel::ControlDestroyed &) {
        return;
    } catch (const Orvantel::ReportedError &) {
        return;
    } catch (...) {
        error = currentControlError();
    }
    try {
        reportError(*error, title);
    } catch (const Orvantel::ControlDestroyed &) {
    }
}

template <typename Body>
bool WorkOrdersGridPrivate::hostCall(const QString &source, Body &&body)
{
    WorkOrdersGrid *const control = q;
    std::optional<Orvantel::ControlError> error;
    try {
        body();
        return true;
    } catch (const Orvantel::ControlDestroyed &) {
        return false;
    } catch (...) {
        error = currentControlError();
    }
    Q_EMIT control->exception(error->number, source, error->description);
    return false;
}

template <typename Call>
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

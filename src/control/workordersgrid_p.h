#pragma once

#include "workordersgrid.h"

#include "data/controlerror.h"

#include <QString>

#include <array>

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

    /// Shows an error in the style every failure uses.
    void reportError(const Orvantel::ControlError &error, const QString &title);

    /// Reads the settings file, connects, fills both grids once and starts the refresh
    /// timer. Runs once, when the control is first shown; a failure is reported under
    /// "User Control Init Error".
    void startUp();
    /// The refresh timer's tick: refreshes the work orders while connected, unless the
    /// error box of an earlier refresh is still open.
    void timerTick();
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

    bool m_startUpDone = false;
    bool m_refreshErrorOpen = false;  // a refresh's error box is on screen
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
    try {
        handler();
    } catch (const Orvantel::ReportedError &) {
    } catch (...) {
        reportError(currentControlError(), title);
    }
}

template <typename Body>
bool WorkOrdersGridPrivate::hostCall(const QString &source, Body &&body)
{
    try {
        body();
        return true;
    } catch (...) {
        const Orvantel::ControlError error = currentControlError();
        Q_EMIT q->exception(error.number, source, error.description);
        return false;
    }
}

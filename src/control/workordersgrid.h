#pragma once

#include "orvantelworkorders_export.h"

#include <QWidget>

#include <memory>

class WorkOrdersGridPrivate;

/// An embeddable control that shows maintenance work orders, upcoming preventive-
/// maintenance work orders, work order history and the linked files of a configured set
/// of assets, straight from a maintenance database.
///
/// Hosts drive it by name: the properties below (in this order) and the two invokable
/// methods. The first eleven properties are plain settings: a write stores the value and
/// nothing else happens until the next connection, refresh or dialog reads it. The last
/// six act at once and announce each write through their NOTIFY signal and
/// propertyChanged() with the property's exact name. A failure inside a host call is
/// delivered through exception().
class ORVANTELWORKORDERS_EXPORT WorkOrdersGrid : public QWidget
{
    Q_OBJECT
    Q_PROPERTY(QString DBServerName READ DBServerName WRITE setDBServerName)
    Q_PROPERTY(QString DBDatabaseName READ DBDatabaseName WRITE setDBDatabaseName)
    Q_PROPERTY(QString DBUserID READ DBUserID WRITE setDBUserID)
    Q_PROPERTY(QString DBPassword READ DBPassword WRITE setDBPassword)
    Q_PROPERTY(qint16 RefreshInterval READ RefreshInterval WRITE setRefreshInterval)
    Q_PROPERTY(QString AssetList READ AssetList WRITE setAssetList)
    Q_PROPERTY(bool IncludePMWOs READ IncludePMWOs WRITE setIncludePMWOs)
    Q_PROPERTY(QString Division READ Division WRITE setDivision)
    Q_PROPERTY(QString Department READ Department WRITE setDepartment)
    Q_PROPERTY(QString RequestedBy READ RequestedBy WRITE setRequestedBy)
    Q_PROPERTY(bool ConnectedToDB READ ConnectedToDB WRITE setConnectedToDB)
    Q_PROPERTY(qint16 RefreshNow READ RefreshNow WRITE setRefreshNow NOTIFY RefreshNowChanged)
    Q_PROPERTY(QString ViewMode READ ViewMode WRITE setViewMode NOTIFY ViewModeChanged)
    Q_PROPERTY(bool HideViewWorkOrders READ HideViewWorkOrders WRITE setHideViewWorkOrders NOTIFY
                       HideViewWorkOrdersChanged)
    Q_PROPERTY(bool HideViewLinkedFiles READ HideViewLinkedFiles WRITE setHideViewLinkedFiles NOTIFY
                       HideViewLinkedFilesChanged)
    Q_PROPERTY(bool HideNewWO READ HideNewWO WRITE setHideNewWO NOTIFY HideNewWOChanged)
    Q_PROPERTY(qint16 ViewChoice READ ViewChoice WRITE setViewChoice NOTIFY ViewChoiceChanged)

public:
    /// Whether a new control configures itself from the settings file.
    enum StartUp {
        StartUpFromSettings, ///< the default: a control as a host creates it
        NoStartUp, ///< only drawn (a form editor): no settings read, never connects
    };

    /// Creates the control and reads the settings file into its settings, so that whatever
    /// the host writes from here on counts. Connecting and the first load follow at the
    /// first turn of the event loop, with the settings of that moment: creating the control
    /// never waits on the network or on a message box.
    explicit WorkOrdersGrid(QWidget *parent = nullptr);
    WorkOrdersGrid(QWidget *parent, StartUp startUp);
    ~WorkOrdersGrid() override;

    /// Server name: "sqlite:PATH", "postgresql://HOST[:PORT]", or a SQL Server name
    /// (HOST, HOST\INSTANCE, HOST,PORT). Empty: start-up does not connect.
    QString DBServerName() const;
    void setDBServerName(const QString &value);
    QString DBDatabaseName() const;
    void setDBDatabaseName(const QString &value);
    QString DBUserID() const;
    void setDBUserID(const QString &value);
    QString DBPassword() const;
    void setDBPassword(const QString &value);
    /// Seconds between refreshes of the work orders; 0 or less: no timed refresh.
    qint16 RefreshInterval() const;
    void setRefreshInterval(qint16 value);
    /// Comma-separated asset codes that limit both grids; empty: every asset.
    QString AssetList() const;
    void setAssetList(const QString &value);
    bool IncludePMWOs() const;
    void setIncludePMWOs(bool value);
    /// Division and department filters of the work orders; empty: no filter.
    QString Division() const;
    void setDivision(const QString &value);
    QString Department() const;
    void setDepartment(const QString &value);
    /// The requester proposed by the New Work Order dialog.
    QString RequestedBy() const;
    void setRequestedBy(const QString &value);
    /// True once a connection succeeded; stays true after a later failure.
    bool ConnectedToDB() const;
    void setConnectedToDB(bool value);

    /// Always reads 0; any write refreshes both grids.
    qint16 RefreshNow() const;
    void setRefreshNow(qint16 lRefreshNow);
    /// "Work Orders" or "Linked Files" after a grid swap; a write of "files",
    /// "linkedfiles" or "linked files" (any case) shows the linked files, any other
    /// text the work orders.
    QString ViewMode() const;
    void setViewMode(const QString &sViewMode);
    bool HideViewWorkOrders() const;
    void setHideViewWorkOrders(bool bHide);
    bool HideViewLinkedFiles() const;
    void setHideViewLinkedFiles(bool bHide);
    bool HideNewWO() const;
    void setHideNewWO(bool bHide);
    /// 0 "Open WOs", 1 "Upcoming PMs", 2 "History", 3 "Linked Files"; a write is
    /// clamped (negative gives 0, 4 gives 3, above 4 gives 0).
    qint16 ViewChoice() const;
    void setViewChoice(qint16 iChoice);

    /// Builds the connection string from the four connection settings and opens both
    /// grids on their empty results. Returns true when both opened; a failure is shown
    /// in a message box and sets RefreshInterval to 0.
    Q_INVOKABLE bool ConnectToServer();
    /// Loads the work orders of the selected view. Returns true when they were loaded;
    /// a failure is shown in a message box.
    Q_INVOKABLE bool RefreshData();

    /// Copies the selected rows of the grid shown (its current row when no other is
    /// selected) to the clipboard, as tab-separated text and as an HTML table; the grid's
    /// "actCopy" action and the platform's copy key do the same.
    void copyRows();
    /// Asks for a file in a dialog and writes every row of the grid shown to it as CSV, as
    /// the grid's "actExport" action does. A failure is shown in a message box.
    void exportRows();

    QSize sizeHint() const override;

Q_SIGNALS:
    void RefreshNowChanged();
    void ViewModeChanged();
    void HideViewWorkOrdersChanged();
    void HideViewLinkedFilesChanged();
    void HideNewWOChanged();
    void ViewChoiceChanged();
    /// Emitted after each write of an acting property, with its exact name.
    void propertyChanged(const QString &name);
    /// A host call that failed: the error's number, the member's name and the description.
    void exception(int code, const QString &source, const QString &description);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    friend class WorkOrdersGridPrivate;
    std::unique_ptr<WorkOrdersGridPrivate> d;
};

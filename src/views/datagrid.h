#pragma once

#include <QColor>
#include <QTableView>
#include <QVariant>

#include <memory>
#include <vector>

namespace Orvantel {

class DataGrid;
class DataSource;
class Recordset;

/// The colours a cell is drawn with; invalid colours keep the grid's normal style.
struct CellStyle
{
    QColor foreground;
    QColor background;
};

/// The design of a grid column: what it is made of when the grid is set up.
struct ColumnDesign
{
    QString caption;
    QString dataField; ///< empty for an unbound column (a button column)
    int widthTwips = 0; ///< 15 twips are one logical pixel
    bool button = false; ///< shows a push button "..." in every row
    /// For a date-time column: how a value such as "2026-03-05 14:30:00" is shown
    /// (QDateTime format, e.g. "yyyy-MM-dd"); the tooltip and sorting keep the full value.
    QString dateFormat = {};
};

/// One column of a DataGrid. Widths are in twips.
class GridColumn
{
public:
    int index() const { return m_index; }
    QString caption() const;
    void setCaption(const QString &caption);
    int width() const { return m_widthTwips; }
    void setWidth(int twips);
    bool isVisible() const;
    void setVisible(bool visible);
    QString dataField() const { return m_design.dataField; }
    /// A text the control keeps on the column (the header-click sort direction).
    QString defaultValue() const { return m_defaultValue; }
    void setDefaultValue(const QString &value) { m_defaultValue = value; }
    bool isButton() const { return m_design.button; }
    QString dateFormat() const { return m_design.dateFormat; }
    /// Whether FetchCellStyle is raised for this column's cells.
    bool fetchStyle() const { return m_fetchStyle; }
    void setFetchStyle(bool on);

    /// The value in the current row; invalid when there is no current row or no field.
    QVariant value() const;
    /// The value in the row holding bookmark; invalid when there is none.
    QVariant valueAt(int bookmark) const;

private:
    friend class DataGrid;
    GridColumn(DataGrid *grid, int index, const ColumnDesign &design);

    DataGrid *m_grid;
    int m_index;
    ColumnDesign m_design;
    int m_widthTwips;
    QString m_defaultValue;
    bool m_fetchStyle = false;
};

/// A read-only grid of named columns over a DataSource's recordset: columns by index or
/// by name (caption or data field, without regard to case), a record selector, a
/// current row addressed by index or bookmark, at most MaxRows rows, and the events a
/// control handles (HeadClick, FetchCellStyle, DblClick, ButtonClick). Sorting is the
/// control's business: a header click only raises HeadClick.
class DataGrid : public QTableView
{
    Q_OBJECT
public:
    /// The most rows a grid holds: the recordset it shows stops there.
    static constexpr int MaxRows = 250000;

    enum Role {
        /// A cell's whole CellStyle (worked out once per request), in the grid's model; invalid
        /// for a column without fetchStyle(). Qt::BackgroundRole and Qt::ForegroundRole
        /// answer one colour each. (Recordset::BookmarkRole gives a row's bookmark.)
        CellStyleRole = Qt::UserRole + 2,
    };

    explicit DataGrid(QWidget *parent = nullptr);
    ~DataGrid() override;

    /// Replaces the columns.
    void setColumns(const std::vector<ColumnDesign> &columns);
    int columnCount() const;
    /// The column at index; throws ControlError for an index out of range.
    GridColumn *column(int index) const;
    /// The column whose caption or data field equals name (case-insensitive);
    /// throws ControlError when there is none.
    GridColumn *column(const QString &name) const;
    /// Like column(name) but returns null instead of throwing.
    GridColumn *findColumn(const QString &name) const;

    /// Shows the rows of source's recordset (the grid follows its refreshes, sorts and
    /// merges) and limits it to MaxRows rows.
    void setDataSource(DataSource *source);
    Recordset *recordset() const;

    /// Rows shown (the recordset's rows, at most MaxRows).
    int rowCount() const;
    /// The current row's index, -1 when there is none.
    int currentRowIndex() const;
    /// Makes row current and scrolls to it; out-of-range rows are ignored.
    void setCurrentRowIndex(int row);
    /// The current row's bookmark, -1 when there is none.
    int currentBookmark() const;
    void setCurrentBookmark(int bookmark);

    /// The field index in the recordset a column is bound to, -1 when unbound.
    int fieldOfColumn(int column) const;

Q_SIGNALS:
    void HeadClick(int column);
    /// Raised while a cell of a column with fetchStyle() is drawn; handlers fill style.
    void FetchCellStyle(int bookmark, int column, Orvantel::CellStyle *style);
    void DblClick();
    void ButtonClick(int column);

private:
    friend class GridColumn;
    class ColumnModel;
    void applyColumnWidth(int index);

    ColumnModel *m_model;
    std::vector<std::unique_ptr<GridColumn>> m_columns;
};

} // namespace Orvantel

#pragma once

#include "tableformat.h"

#include <QColor>
#include <QSet>
#include <QTableView>
#include <QVariant>

#include <memory>
#include <vector>

class QMenu;
class QMimeData;

namespace Orvantel {

class DataGrid;
class DataSource;
class Recordset;

/// The colours a cell is drawn with; invalid colours keep the grid's normal style.
struct CellStyle
{
    QColor foreground;
    QColor background;
    /// What the colours say, for a screen reader ("urgent"): added to the cell's accessible
    /// text. Empty when they say nothing beyond the text.
    QString meaning = {};
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
///
/// As in any desktop list, rows are selected with Shift and Ctrl; Enter raises DblClick
/// for the current row, Home and End go to the first and last row. Two actions, found by
/// object name and offered by the grid's context menu, act on the rows: "actCopy"
/// (the platform's copy key: copySelection()) and "actExport" (ExportRequested).
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

    /// The field whose value names a row for the selection (empty, the default: none). A
    /// selection of several rows, or of rows other than the current one, is kept across a
    /// reload by it: the rows whose value was selected are selected again (a selection of
    /// the current row alone moves with the current row). Sorts and merges keep the
    /// selection on its rows without it.
    void setSelectionKey(const QString &field);

    /// The columns whose texts copies and exports hold: the visible ones, in their order,
    /// without button columns.
    QList<int> dataColumns() const;
    /// The whole text of a cell as the grid shows it: a date in the column's format, any
    /// other value whole (not shortened, line breaks kept); empty for an unbound column.
    QString cellText(int row, int column) const;
    /// The captions of dataColumns(), then the cellText()s of those columns in each of rows.
    TextTable textTable(const QList<int> &rows) const;
    /// The selected rows in displayed order; the current row when none is selected.
    QList<int> copiedRows() const;
    /// The copiedRows() as tab-separated text and as an HTML table (see textTable(),
    /// tabSeparatedText() and htmlTable()); null when there is no row to copy.
    QMimeData *selectionMimeData() const;
    /// Puts selectionMimeData() on the clipboard; does nothing when there is no row.
    void copySelection() const;
    /// Writes every row, in displayed order, to a CSV file (see csvRecord()) on this
    /// thread: the captions, then textTable()'s texts. The file appears only when complete.
    /// Returns false with the reason in error when it cannot be written.
    bool exportCsv(const QString &fileName, QString *error = nullptr) const;

Q_SIGNALS:
    void HeadClick(int column);
    /// Raised while a cell of a column with fetchStyle() is drawn; handlers fill style.
    void FetchCellStyle(int bookmark, int column, Orvantel::CellStyle *style);
    void DblClick();
    void ButtonClick(int column);
    /// "actExport" was triggered: the owner asks for a file and writes the rows there.
    /// Raised from the event loop, never inside the menu or the action's trigger().
    void ExportRequested();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    QModelIndex moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers) override;

private:
    friend class GridColumn;
    class ColumnModel;
    void applyColumnWidth(int index);
    /// Whether the selection is empty or only the current row: then it moves with it.
    bool selectionFollowsCurrentRow() const;
    void rememberSelection();
    void restoreSelection();

    ColumnModel *m_model;
    std::vector<std::unique_ptr<GridColumn>> m_columns;
    QMenu *m_menu;
    QString m_selectionKey;
    QSet<QString> m_keptKeys;
    bool m_keepingSelection = false;
};

} // namespace Orvantel

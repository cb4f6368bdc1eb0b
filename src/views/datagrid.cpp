#include "datagrid.h"

#include "buttondelegate.h"
#include "cellstyledelegate.h"
#include "gridbehaviour.h"
#include "recordselector.h"

#include "controlerror.h"
#include "datasource.h"
#include "layout.h"
#include "recordset.h"

#include "csvfile.h"

#include <QAction>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QDateTime>
#include <QGuiApplication>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QMenu>
#include <QMimeData>
#include <QPersistentModelIndex>

#include <algorithm>
#include <array>
#include <numeric>
#include <optional>

namespace Orvantel {

static_assert(int(DataGrid::CellStyleRole) != int(Recordset::BookmarkRole));

/// The grid's columns over the fields of the recordset it shows: a column proxy in the
/// manner of KDE's KRearrangeColumnsProxyModel. Rows are the recordset's rows, and their
/// inserts, removals, moves and persistent indexes (the current row, the selection) are
/// left to QIdentityProxyModel: the recordset keeps them on their records through sorts
/// and merges already, so nothing is remapped here.
class DataGrid::ColumnModel : public QIdentityProxyModel
{
public:
    explicit ColumnModel(DataGrid *grid)
        : QIdentityProxyModel(grid)
        , m_grid(grid)
    {}

    void setRecordset(Recordset *recordset)
    {
        for (const auto &c : std::as_const(m_connections))
            disconnect(c);
        m_connections.clear();
        m_recordset = recordset;
        remap(); // before the base class's reset ends
        if (recordset) {
            // Ahead of the base class's own connection, so that a new result's fields are
            // mapped before views hear of the reset. A recordset changes its fields only so.
            m_connections << connect(recordset, &QAbstractItemModel::modelReset, this, [this] { remap(); });
        }
        setSourceModel(recordset);
        if (recordset) {
            // The base class would announce a change of source columns as a change of the
            // columns with the same numbers here.
            disconnect(recordset, &QAbstractItemModel::dataChanged, this, nullptr);
            disconnect(recordset, &QAbstractItemModel::headerDataChanged, this, nullptr);
            m_connections << connect(recordset, &QAbstractItemModel::dataChanged, this, &ColumnModel::rowsChanged);
        }
    }

    void columnsReplaced()
    {
        beginResetModel();
        remap();
        endResetModel();
    }

    void captionChanged(int column) { Q_EMIT headerDataChanged(Qt::Horizontal, column, column); }

    Recordset *recordset() const { return m_recordset; }
    int field(int column) const { return column >= 0 && column < int(m_fields.size()) ? m_fields[size_t(column)] : -1; }

    int columnCount(const QModelIndex &parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : int(m_grid->m_columns.size());
    }

    QModelIndex index(int row, int column, const QModelIndex &parent = QModelIndex()) const override
    {
        return hasIndex(row, column, parent) ? createIndex(row, column) : QModelIndex();
    }

    QModelIndex parent(const QModelIndex &) const override { return {}; }

    QModelIndex sibling(int row, int column, const QModelIndex &index) const override
    {
        return index.isValid() ? this->index(row, column) : QModelIndex();
    }

    QModelIndex mapToSource(const QModelIndex &proxyIndex) const override
    {
        if (!proxyIndex.isValid() || !m_recordset || size_t(proxyIndex.column()) >= m_sourceColumns.size())
            return {};
        return m_recordset->index(proxyIndex.row(), m_sourceColumns[size_t(proxyIndex.column())]);
    }

    QModelIndex mapFromSource(const QModelIndex &sourceIndex) const override
    {
        if (!sourceIndex.isValid() || size_t(sourceIndex.column()) >= m_proxyColumns.size())
            return {};
        const int column = m_proxyColumns[size_t(sourceIndex.column())];
        return column < 0 ? QModelIndex() : createIndex(sourceIndex.row(), column);
    }

    /// Sorting is the control's business (Recordset::setSort()); the base class would
    /// pass the column on unmapped.
    void sort(int, Qt::SortOrder) override {}

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation == Qt::Horizontal) {
            if (role == Qt::DisplayRole && section >= 0 && section < int(m_grid->m_columns.size()))
                return m_grid->m_columns[size_t(section)]->caption();
            return {};
        }
        return {}; // the record selector draws no numbers
    }

    QVariant data(const QModelIndex &index, int role) const override
    {
        if (!m_recordset || !checkIndex(index, CheckIndexOption::IndexIsValid))
            return {};
        if (isStyleRole(role))
            return styleData(cellStyle(index), role);
        if (role == Qt::AccessibleTextRole) {
            // What a screen reader says: the text shown, and what its colours mean.
            const QString text = cellData(index, Qt::DisplayRole).toString();
            const QString meaning = cellStyle(index).meaning;
            return meaning.isEmpty() ? text : text + QStringLiteral(", ") + meaning;
        }
        return cellData(index, role);
    }

    /// A cell's whole text, as cellText() describes it.
    QString wholeText(const QModelIndex &index) const
    {
        const int f = field(index.column());
        if (!m_recordset || f < 0)
            return {};
        QString text = m_recordset->text(index.row(), f);
        const QString &dateFormat = m_grid->m_columns[size_t(index.column())]->dateFormat();
        if (!dateFormat.isEmpty() && text.size() > 10) {
            const QDateTime when = QDateTime::fromString(text, Qt::ISODate);
            if (when.isValid())
                return when.toString(dateFormat);
        }
        return text;
    }

    /// A request for several style roles works the style out once.
    void multiData(const QModelIndex &index, QModelRoleDataSpan roleDataSpan) const override
    {
        if (!m_recordset || !checkIndex(index, CheckIndexOption::IndexIsValid)) {
            for (QModelRoleData &roleData : roleDataSpan)
                roleData.clearData();
            return;
        }
        std::optional<CellStyle> style;
        for (QModelRoleData &roleData : roleDataSpan) {
            if (isStyleRole(roleData.role())) {
                if (!style)
                    style = cellStyle(index);
                roleData.setData(styleData(*style, roleData.role()));
            } else {
                roleData.setData(cellData(index, roleData.role()));
            }
        }
    }

    /// The roles this model answers, in one request (the base class would ask the
    /// recordset's cell, which an unbound column does not show).
    QMap<int, QVariant> itemData(const QModelIndex &index) const override
    {
        std::array<QModelRoleData, 6> roles {QModelRoleData(Qt::DisplayRole),    QModelRoleData(Qt::ToolTipRole),
                                             QModelRoleData(Qt::EditRole),       QModelRoleData(Qt::BackgroundRole),
                                             QModelRoleData(Qt::ForegroundRole), QModelRoleData(CellStyleRole)};
        multiData(index, roles);
        QMap<int, QVariant> values;
        for (const QModelRoleData &roleData : roles) {
            if (roleData.data().isValid())
                values.insert(roleData.role(), roleData.data());
        }
        return values;
    }

private:
    static bool isStyleRole(int role)
    {
        return role == CellStyleRole || role == Qt::BackgroundRole || role == Qt::ForegroundRole;
    }

    /// What the grid's handlers make of the cell: one FetchCellStyle, for a column that
    /// asks for it.
    CellStyle cellStyle(const QModelIndex &index) const
    {
        CellStyle style;
        if (m_grid->m_columns[size_t(index.column())]->fetchStyle())
            Q_EMIT m_grid->FetchCellStyle(m_recordset->bookmark(index.row()), index.column(), &style);
        return style;
    }

    QVariant styleData(const CellStyle &style, int role) const
    {
        if (role == CellStyleRole)
            return style.foreground.isValid() || style.background.isValid() ? QVariant::fromValue(style) : QVariant();
        const QColor &c = role == Qt::BackgroundRole ? style.background : style.foreground;
        return c.isValid() ? QVariant(c) : QVariant();
    }

    QVariant cellData(const QModelIndex &index, int role) const
    {
        const int f = field(index.column());
        switch (role) {
        case Qt::DisplayRole: {
            if (f < 0)
                return {};
            // Cut first: this runs on every paint of the cell.
            QString text = shownCellText(wholeText(index));
            // A multi-line request shows on one line; the tooltip shows its lines.
            if (text.contains(u'\n') || text.contains(u'\r')) {
                text.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
                text.replace(u'\n', u' ');
                text.replace(u'\r', u' ');
            }
            return text;
        }
        case Qt::ToolTipRole:
            if (f < 0)
                return {};
            return shownCellText(m_recordset->text(index.row(), f));
        case Qt::EditRole:
            return f < 0 ? QVariant() : m_recordset->value(index.row(), f);
        case Recordset::BookmarkRole:
            return m_recordset->bookmark(index.row());
        default:
            return {};
        }
    }

    /// A change of source cells: the rows' cells in every column, since a style (and an
    /// unbound column's) may follow any field of the row.
    void rowsChanged(const QModelIndex &topLeft, const QModelIndex &bottomRight)
    {
        if (!topLeft.isValid() || !bottomRight.isValid() || columnCount() == 0)
            return;
        Q_EMIT dataChanged(index(topLeft.row(), 0), index(bottomRight.row(), columnCount() - 1));
    }

    /// Each grid column's field, and the source column it maps to.
    ///
    /// An unbound column (a button column, or a data field the result lacks) shows no data,
    /// yet must map to a valid source index of its row: the base class keeps persistent
    /// indexes (the selection's corners, the current cell) on their rows across a sort by
    /// mapping them to source indexes and back. It takes a field no other column shows, so
    /// that the way back leads to it again; where every field is shown, the field of the
    /// nearest bound column on its left (else on its right), so that its indexes stay on
    /// their rows but come back in that column.
    void remap()
    {
        const int columns = int(m_grid->m_columns.size());
        const int fields = m_recordset ? m_recordset->fieldCount() : 0;
        m_fields.assign(size_t(columns), -1);
        std::vector<bool> shown(size_t(fields), false);
        for (int c = 0; c < columns; ++c) {
            const QString name = m_grid->m_columns[size_t(c)]->dataField();
            const int f = m_recordset && !name.isEmpty() ? m_recordset->fieldIndex(name) : -1;
            m_fields[size_t(c)] = f;
            if (f >= 0)
                shown[size_t(f)] = true;
        }
        m_sourceColumns = m_fields;
        int spare = 0;
        for (int c = 0; c < columns; ++c) {
            if (m_fields[size_t(c)] >= 0 || fields == 0)
                continue;
            while (spare < fields && shown[size_t(spare)])
                ++spare;
            if (spare < fields) {
                shown[size_t(spare)] = true;
                m_sourceColumns[size_t(c)] = spare;
                continue;
            }
            int near = -1;
            for (int left = c - 1; left >= 0 && near < 0; --left)
                near = m_fields[size_t(left)];
            for (int right = c + 1; right < columns && near < 0; ++right)
                near = m_fields[size_t(right)];
            m_sourceColumns[size_t(c)] = std::max(near, 0);
        }
        m_proxyColumns.assign(size_t(fields), -1);
        for (int c = columns - 1; c >= 0; --c) {
            if (m_sourceColumns[size_t(c)] >= 0)
                m_proxyColumns[size_t(m_sourceColumns[size_t(c)])] = c;
        }
    }

    DataGrid *m_grid;
    Recordset *m_recordset = nullptr;
    /// Grid column -> field shown, -1 when unbound.
    std::vector<int> m_fields;
    /// Grid column -> source column; -1 only while the result has no fields.
    std::vector<int> m_sourceColumns;
    /// Source column -> the first grid column mapped to it, -1 for none.
    std::vector<int> m_proxyColumns;
    QList<QMetaObject::Connection> m_connections;
};

GridColumn::GridColumn(DataGrid *grid, int index, const ColumnDesign &design)
    : m_grid(grid)
    , m_index(index)
    , m_design(design)
    , m_widthTwips(design.widthTwips)
{}

QString GridColumn::caption() const
{
    return m_design.caption;
}

void GridColumn::setCaption(const QString &caption)
{
    m_design.caption = caption;
    m_grid->m_model->captionChanged(m_index);
}

void GridColumn::setWidth(int twips)
{
    m_widthTwips = twips;
    m_grid->applyColumnWidth(m_index);
}

bool GridColumn::isVisible() const
{
    return !m_grid->isColumnHidden(m_index);
}

void GridColumn::setVisible(bool visible)
{
    m_grid->setColumnHidden(m_index, !visible);
    if (visible)
        m_grid->applyColumnWidth(m_index);
}

void GridColumn::setFetchStyle(bool on)
{
    m_fetchStyle = on;
    m_grid->viewport()->update();
}

QVariant GridColumn::value() const
{
    const int row = m_grid->currentRowIndex();
    const int f = m_grid->fieldOfColumn(m_index);
    if (row < 0 || f < 0)
        return {};
    return m_grid->recordset()->value(row, f);
}

QVariant GridColumn::valueAt(int bookmark) const
{
    const int f = m_grid->fieldOfColumn(m_index);
    Recordset *rs = m_grid->recordset();
    const int row = rs ? rs->rowOfBookmark(bookmark) : -1;
    if (row < 0 || f < 0)
        return {};
    return rs->value(row, f);
}

DataGrid::DataGrid(QWidget *parent)
    : QTableView(parent)
    , m_model(new ColumnModel(this))
    , m_menu(new QMenu(this))
{
    setVerticalHeader(new RecordSelector(this));
    setModel(m_model);
    setItemDelegate(new CellStyleDelegate(this));
    connect(selectionModel(), &QItemSelectionModel::currentRowChanged, verticalHeader()->viewport(),
            qOverload<>(&QWidget::update));
    // A reload replaces every row in one reset, which clears the selection: it is taken
    // down before and put back after, by key.
    connect(m_model, &QAbstractItemModel::modelAboutToBeReset, this, &DataGrid::rememberSelection);
    connect(m_model, &QAbstractItemModel::modelReset, this, &DataGrid::restoreSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::ExtendedSelection);

    auto *copy = new QAction(tr("&Copy"), this);
    copy->setObjectName(QStringLiteral("actCopy"));
    copy->setShortcut(QKeySequence::Copy);
    copy->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(copy, &QAction::triggered, this, &DataGrid::copySelection);
    auto *exportRows = new QAction(tr("&Export..."), this);
    exportRows->setObjectName(QStringLiteral("actExport"));
    // Its handler opens modal windows: from the event loop, not from inside the menu.
    connect(exportRows, &QAction::triggered, this, &DataGrid::ExportRequested, Qt::QueuedConnection);
    addActions({copy, exportRows});
    m_menu->setObjectName(QStringLiteral("gridMenu"));
    m_menu->addActions({copy, exportRows});
    setSortingEnabled(false);
    setWordWrap(false);
    setAlternatingRowColors(false);
    horizontalHeader()->setSectionsMovable(false);
    horizontalHeader()->setSectionsClickable(true);
    horizontalHeader()->setHighlightSections(false);
    horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    horizontalHeader()->setStretchLastSection(false);
    // The control's handlers of these events may open modal windows, in which the host can
    // destroy the control and this grid with it. They therefore run from the event loop once
    // the view's own mouse handling has returned, never inside it: Qt's item views and
    // headers go on using their own state after emitting these signals.
    connect(horizontalHeader(), &QHeaderView::sectionClicked, this, &DataGrid::HeadClick, Qt::QueuedConnection);
    connect(
            this, &QAbstractItemView::doubleClicked, this,
            [this](const QModelIndex &index) {
                if (index.isValid())
                    Q_EMIT DblClick();
            },
            Qt::QueuedConnection);
}

DataGrid::~DataGrid() = default;

void DataGrid::setColumns(const std::vector<ColumnDesign> &columns)
{
    for (int i = 0; i < int(m_columns.size()); ++i)
        setItemDelegateForColumn(i, nullptr);
    m_columns.clear();
    for (const ColumnDesign &design : columns)
        m_columns.push_back(std::unique_ptr<GridColumn>(new GridColumn(this, int(m_columns.size()), design)));
    m_model->columnsReplaced();
    for (int i = 0; i < int(m_columns.size()); ++i) {
        setColumnHidden(i, false);
        applyColumnWidth(i);
        if (m_columns[size_t(i)]->isButton()) {
            auto *delegate = new ButtonDelegate(QStringLiteral("..."), this);
            connect(
                    delegate, &ButtonDelegate::clicked, this,
                    [this](const QPersistentModelIndex &index) {
                        if (!index.isValid())
                            return;
                        setCurrentIndex(index);
                        Q_EMIT ButtonClick(index.column());
                    },
                    Qt::QueuedConnection);
            setItemDelegateForColumn(i, delegate);
        }
    }
}

int DataGrid::columnCount() const
{
    return int(m_columns.size());
}

GridColumn *DataGrid::column(int index) const
{
    if (index < 0 || index >= int(m_columns.size()))
        throw ControlError(ControlError::SubscriptOutOfRange, QStringLiteral("Subscript out of range"));
    return m_columns[size_t(index)].get();
}

GridColumn *DataGrid::findColumn(const QString &name) const
{
    for (const auto &c : m_columns) {
        if (c->caption().compare(name, Qt::CaseInsensitive) == 0
            || (!c->dataField().isEmpty() && c->dataField().compare(name, Qt::CaseInsensitive) == 0))
            return c.get();
    }
    return nullptr;
}

GridColumn *DataGrid::column(const QString &name) const
{
    if (GridColumn *c = findColumn(name))
        return c;
    throw ControlError(ControlError::SubscriptOutOfRange, QStringLiteral("No column named \"%1\"").arg(name));
}

void DataGrid::setDataSource(DataSource *source)
{
    Recordset *recordset = source ? source->recordset() : nullptr;
    if (recordset)
        recordset->setRowLimit(MaxRows);
    m_model->setRecordset(recordset);
}

Recordset *DataGrid::recordset() const
{
    return m_model->recordset();
}

int DataGrid::rowCount() const
{
    return m_model->rowCount();
}

int DataGrid::currentRowIndex() const
{
    const QModelIndex current = currentIndex();
    return current.isValid() ? current.row() : -1;
}

void DataGrid::setCurrentRowIndex(int row)
{
    if (row < 0 || row >= rowCount())
        return;
    int column = currentIndex().isValid() ? currentIndex().column() : 0;
    while (column < columnCount() - 1 && isColumnHidden(column))
        ++column;
    const QModelIndex index = m_model->index(row, column);
    // The operator's selection of other rows stays as it is.
    if (selectionFollowsCurrentRow())
        setCurrentIndex(index);
    else
        selectionModel()->setCurrentIndex(index, QItemSelectionModel::NoUpdate);
    scrollTo(index);
}

int DataGrid::currentBookmark() const
{
    const int row = currentRowIndex();
    return row < 0 || !recordset() ? -1 : recordset()->bookmark(row);
}

void DataGrid::setCurrentBookmark(int bookmark)
{
    if (Recordset *rs = recordset())
        setCurrentRowIndex(rs->rowOfBookmark(bookmark));
}

int DataGrid::fieldOfColumn(int column) const
{
    return m_model->field(column);
}

void DataGrid::applyColumnWidth(int index)
{
    setColumnWidth(index, twipsToPixels(m_columns[size_t(index)]->width()));
}

void DataGrid::setSelectionKey(const QString &field)
{
    m_selectionKey = field;
}

bool DataGrid::selectionFollowsCurrentRow() const
{
    const int current = currentRowIndex();
    const QItemSelection selection = selectionModel()->selection();
    return std::all_of(selection.cbegin(), selection.cend(), [current](const QItemSelectionRange &range) {
        return range.top() == current && range.bottom() == current;
    });
}

void DataGrid::rememberSelection()
{
    m_keptKeys.clear();
    m_keepingSelection = false;
    Recordset *rs = recordset();
    const int field = rs && !m_selectionKey.isEmpty() ? rs->fieldIndex(m_selectionKey) : -1;
    if (field < 0 || selectionFollowsCurrentRow())
        return;
    m_keepingSelection = true;
    const QItemSelection selection = selectionModel()->selection();
    for (const QItemSelectionRange &range : selection) {
        for (int row = range.top(); row <= range.bottom(); ++row)
            m_keptKeys.insert(rs->text(row, field));
    }
}

void DataGrid::restoreSelection()
{
    Recordset *rs = recordset();
    const int field = rs && m_keepingSelection ? rs->fieldIndex(m_selectionKey) : -1;
    if (field >= 0 && !m_keptKeys.isEmpty()) {
        QItemSelection selection;
        const int rows = rowCount();
        const int lastColumn = columnCount() - 1;
        for (int row = 0; row < rows; ++row) {
            if (!m_keptKeys.contains(rs->text(row, field)))
                continue;
            int last = row;
            while (last + 1 < rows && m_keptKeys.contains(rs->text(last + 1, field)))
                ++last;
            selection.select(m_model->index(row, 0), m_model->index(last, lastColumn));
            row = last;
        }
        selectionModel()->select(selection, QItemSelectionModel::Select | QItemSelectionModel::Rows);
    }
    m_keptKeys.clear();
    m_keepingSelection = false;
    // Like any data grid, a filled grid always has a current row: the first after a load.
    if (!currentIndex().isValid() && rowCount() > 0)
        setCurrentRowIndex(0);
}

QList<int> DataGrid::dataColumns() const
{
    QList<int> columns;
    for (const auto &c : m_columns) {
        if (!c->isButton() && c->isVisible())
            columns << c->index();
    }
    return columns;
}

QString DataGrid::cellText(int row, int column) const
{
    return m_model->wholeText(m_model->index(row, column));
}

TextTable DataGrid::textTable(const QList<int> &rows) const
{
    const QList<int> columns = dataColumns();
    TextTable table;
    table.reserve(rows.size() + 1);
    QStringList captions;
    for (int c : columns)
        captions << m_columns[size_t(c)]->caption();
    table << captions;
    for (int row : rows) {
        QStringList cells;
        cells.reserve(columns.size());
        for (int c : columns)
            cells << cellText(row, c);
        table << cells;
    }
    return table;
}

QList<int> DataGrid::copiedRows() const
{
    QList<int> rows;
    const QItemSelection selection = selectionModel()->selection();
    for (const QItemSelectionRange &range : selection) {
        for (int row = range.top(); row <= range.bottom(); ++row)
            rows << row;
    }
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    if (rows.isEmpty() && currentRowIndex() >= 0)
        rows << currentRowIndex();
    return rows;
}

QMimeData *DataGrid::selectionMimeData() const
{
    const QList<int> rows = copiedRows();
    if (rows.isEmpty())
        return nullptr;
    const TextTable table = textTable(rows);
    auto *data = new QMimeData;
    data->setText(tabSeparatedText(table));
    data->setHtml(htmlTable(table));
    return data;
}

void DataGrid::copySelection() const
{
    if (QMimeData *data = selectionMimeData())
        QGuiApplication::clipboard()->setMimeData(data);
}

bool DataGrid::exportCsv(const QString &fileName, QString *error) const
{
    QList<int> rows(rowCount());
    std::iota(rows.begin(), rows.end(), 0);
    CsvFile file(fileName);
    const bool written = file.open() && file.write(textTable(rows)) && file.commit();
    if (!written && error)
        *error = file.errorString();
    return written;
}

void DataGrid::keyPressEvent(QKeyEvent *event)
{
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        // What a double-click on the current row does, from the event loop as a
        // double-click's handler runs.
        if (currentIndex().isValid())
            QMetaObject::invokeMethod(this, &DataGrid::DblClick, Qt::QueuedConnection);
        event->accept();
        return;
    }
    if (event->matches(QKeySequence::Copy)) {
        // Where the copy action's shortcut did not take the key (the window is not active).
        copySelection();
        event->accept();
        return;
    }
    QTableView::keyPressEvent(event);
}

QModelIndex DataGrid::moveCursor(CursorAction cursorAction, Qt::KeyboardModifiers modifiers)
{
    // Home and End go to the first and last row, as in a list; a table's would stay in the
    // row and go to its first or last column.
    if (cursorAction == MoveHome || cursorAction == MoveEnd)
        modifiers |= Qt::ControlModifier;
    return QTableView::moveCursor(cursorAction, modifiers);
}

void DataGrid::contextMenuEvent(QContextMenuEvent *event)
{
    QPoint at = event->globalPos();
    if (event->reason() == QContextMenuEvent::Keyboard && currentIndex().isValid())
        at = viewport()->mapToGlobal(visualRect(currentIndex()).bottomLeft());
    // Not exec(): a menu of its own loop would run inside this event handler, and the
    // host may destroy the grid meanwhile. The menu goes with the grid.
    m_menu->popup(at);
    event->accept();
}

} // namespace Orvantel

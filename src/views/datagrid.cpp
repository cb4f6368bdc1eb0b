#include "datagrid.h"

#include "buttondelegate.h"
#include "cellstyledelegate.h"
#include "gridbehaviour.h"
#include "recordselector.h"

#include "controlerror.h"
#include "datasource.h"
#include "recordset.h"

#include <QDateTime>
#include <QHeaderView>
#include <QPersistentModelIndex>

#include <algorithm>
#include <cmath>

namespace Orvantel {

namespace {
int twipsToPixels(int twips)
{
    return int(std::lround(twips / 15.0));
}
} // namespace

/// Maps the grid's fixed columns onto the fields of the recordset it shows. Rows are the
/// recordset's rows in its current order; a recordset sort moves persistent indexes
/// (the current row among them) with their bookmarks.
class DataGrid::GridModel : public QAbstractTableModel
{
public:
    explicit GridModel(DataGrid *grid) : QAbstractTableModel(grid), m_grid(grid) {}

    void setRecordset(Recordset *recordset)
    {
        beginResetModel();
        for (const auto &c : m_connections)
            disconnect(c);
        m_connections.clear();
        m_recordset = recordset;
        if (recordset) {
            m_connections << connect(recordset, &QAbstractItemModel::modelAboutToBeReset, this,
                                     [this] { beginResetModel(); });
            m_connections << connect(recordset, &QAbstractItemModel::modelReset, this, [this] {
                resolveFields();
                endResetModel();
            });
            m_connections << connect(recordset, &QAbstractItemModel::layoutAboutToBeChanged, this,
                                     [this] { aboutToReorder(); });
            m_connections << connect(recordset, &QAbstractItemModel::layoutChanged, this, [this] { reordered(); });
        }
        resolveFields();
        endResetModel();
    }

    void columnsReplaced()
    {
        beginResetModel();
        resolveFields();
        endResetModel();
    }

    void captionChanged(int column) { Q_EMIT headerDataChanged(Qt::Horizontal, column, column); }

    Recordset *recordset() const { return m_recordset; }
    int field(int column) const
    {
        return column >= 0 && column < int(m_fields.size()) ? m_fields[size_t(column)] : -1;
    }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override
    {
        if (parent.isValid() || !m_recordset)
            return 0;
        return std::min(m_recordset->rowCount(), DataGrid::MaxRows);
    }

    int columnCount(const QModelIndex &parent = QModelIndex()) const override
    {
        return parent.isValid() ? 0 : int(m_grid->m_columns.size());
    }

    QVariant data(const QModelIndex &index, int role) const override
    {
        if (!m_recordset || !index.isValid())
            return {};
        const int f = field(index.column());
        switch (role) {
        case Qt::DisplayRole: {
            if (f < 0)
                return {};
            QString text = m_recordset->text(index.row(), f);
            const QString &dateFormat = m_grid->m_columns[size_t(index.column())]->dateFormat();
            if (!dateFormat.isEmpty() && text.size() > 10) {
                QDateTime when = QDateTime::fromString(text, Qt::ISODate);
                if (when.isValid())
                    return when.toString(dateFormat);
            }
            // Cut first: this runs on every paint of the cell.
            text = shownCellText(text);
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
        case Qt::BackgroundRole:
        case Qt::ForegroundRole: {
            const GridColumn *col = m_grid->m_columns[size_t(index.column())].get();
            if (!col->fetchStyle())
                return {};
            CellStyle style;
            Q_EMIT m_grid->FetchCellStyle(m_recordset->bookmark(index.row()), index.column(), &style);
            const QColor &c = role == Qt::BackgroundRole ? style.background : style.foreground;
            return c.isValid() ? QVariant(c) : QVariant();
        }
        case Recordset::BookmarkRole:
            return m_recordset->bookmark(index.row());
        default:
            return {};
        }
    }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation == Qt::Horizontal) {
            if (role == Qt::DisplayRole && section >= 0 && section < int(m_grid->m_columns.size()))
                return m_grid->m_columns[size_t(section)]->caption();
            return {};
        }
        return {};  // the record selector draws no numbers
    }

    Qt::ItemFlags flags(const QModelIndex &index) const override
    {
        return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
    }

private:
    void resolveFields()
    {
        m_fields.clear();
        for (const auto &c : m_grid->m_columns) {
            const QString name = c->dataField();
            m_fields.push_back(m_recordset && !name.isEmpty() ? m_recordset->fieldIndex(name) : -1);
        }
    }

    void aboutToReorder()
    {
        Q_EMIT layoutAboutToBeChanged();
        m_saved = persistentIndexList();
        m_savedBookmarks.clear();
        for (const QModelIndex &i : std::as_const(m_saved))
            m_savedBookmarks.push_back(i.isValid() ? m_recordset->bookmark(i.row()) : -1);
    }

    void reordered()
    {
        for (int i = 0; i < m_saved.size(); ++i) {
            const int row = m_savedBookmarks[size_t(i)] < 0 ? -1 : m_recordset->rowOfBookmark(m_savedBookmarks[size_t(i)]);
            const QModelIndex from = m_saved.at(i);
            changePersistentIndex(from, row < 0 || row >= rowCount() ? QModelIndex() : index(row, from.column()));
        }
        m_saved.clear();
        m_savedBookmarks.clear();
        Q_EMIT layoutChanged();
    }

    DataGrid *m_grid;
    Recordset *m_recordset = nullptr;
    std::vector<int> m_fields;
    QList<QMetaObject::Connection> m_connections;
    QModelIndexList m_saved;
    std::vector<int> m_savedBookmarks;
};

GridColumn::GridColumn(DataGrid *grid, int index, const ColumnSpec &design)
    : m_grid(grid), m_index(index), m_spec(design), m_widthTwips(design.widthTwips)
{
}

QString GridColumn::caption() const
{
    return m_spec.caption;
}

void GridColumn::setCaption(const QString &caption)
{
    m_spec.caption = caption;
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

DataGrid::DataGrid(QWidget *parent) : QTableView(parent), m_model(new GridModel(this))
{
    setVerticalHeader(new RecordSelector(this));
    setModel(m_model);
    setItemDelegate(new CellStyleDelegate(this));
    connect(selectionModel(), &QItemSelectionModel::currentRowChanged, verticalHeader()->viewport(),
            qOverload<>(&QWidget::update));
    // Like any data grid, a filled grid always has a current row: the first after a load.
    connect(m_model, &QAbstractItemModel::modelReset, this, [this] {
        if (!currentIndex().isValid() && rowCount() > 0)
            setCurrentRowIndex(0);
    });
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
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

void DataGrid::setColumns(const std::vector<ColumnSpec> &columns)
{
    for (int i = 0; i < int(m_columns.size()); ++i)
        setItemDelegateForColumn(i, nullptr);
    m_columns.clear();
    for (const ColumnSpec &design : columns)
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
    m_source = source;
    m_model->setRecordset(source ? source->recordset() : nullptr);
}

DataSource *DataGrid::dataSource() const
{
    return m_source;
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
    setCurrentIndex(index);
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

} // namespace Orvantel

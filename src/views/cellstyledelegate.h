#pragma once

#include <QStyledItemDelegate>

namespace Orvantel {

/// Draws a cell of a DataGrid. The grid's model answers a text and a style for a cell
/// (none of the font, alignment, check state or decoration QStyledItemDelegate would also
/// ask for), so both are asked for in one request and the cell's style is worked out once
/// per paint (DataGrid::CellStyleRole). A cell with a background colour of its own (a
/// priority colour) keeps its colours on a selected row: the selection shows as a frame in
/// the highlight colour inside the cell instead of covering them.
class CellStyleDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;

protected:
    void initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const override;
};

} // namespace Orvantel

#pragma once

#include <QStyledItemDelegate>

namespace Orvantel {

/// Draws a grid cell as usual, except that a cell with a background colour of its own (a
/// priority colour) keeps its colours on a selected row: the selection shows as a frame
/// in the highlight colour inside the cell instead of covering them.
class CellStyleDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};

} // namespace Orvantel

#include "cellstyledelegate.h"

#include <QPainter>

namespace Orvantel {

void CellStyleDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    if (!(option.state & QStyle::State_Selected) || !index.data(Qt::BackgroundRole).isValid()) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    QStyleOptionViewItem unselected(option);
    unselected.state &= ~QStyle::State_Selected;
    QStyledItemDelegate::paint(painter, unselected, index);

    const QPalette::ColorGroup group = !(option.state & QStyle::State_Enabled) ? QPalette::Disabled
            : (option.state & QStyle::State_Active)                            ? QPalette::Active
                                                                               : QPalette::Inactive;
    constexpr int FrameWidth = 2;
    QPen pen(option.palette.brush(group, QPalette::Highlight), FrameWidth);
    pen.setJoinStyle(Qt::MiterJoin);
    painter->save();
    painter->setPen(pen);
    painter->setBrush(Qt::NoBrush);
    painter->drawRect(
            QRectF(option.rect).adjusted(FrameWidth / 2.0, FrameWidth / 2.0, -FrameWidth / 2.0, -FrameWidth / 2.0));
    painter->restore();
}

} // namespace Orvantel

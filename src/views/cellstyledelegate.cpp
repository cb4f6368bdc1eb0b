#include "cellstyledelegate.h"

#include "datagrid.h"

#include <QApplication>
#include <QPainter>

#include <array>

namespace Orvantel {

void CellStyleDelegate::initStyleOption(QStyleOptionViewItem *option, const QModelIndex &index) const
{
    std::array<QModelRoleData, 2> roles {QModelRoleData(Qt::DisplayRole), QModelRoleData(DataGrid::CellStyleRole)};
    index.multiData(roles);
    option->index = index;
    const QVariant &text = roles[0].data();
    if (text.isValid() && !text.isNull()) {
        option->features |= QStyleOptionViewItem::HasDisplay;
        option->text = displayText(text, option->locale);
    }
    const CellStyle style = roles[1].data().value<CellStyle>();
    if (style.foreground.isValid())
        option->palette.setBrush(QPalette::Text, style.foreground);
    option->backgroundBrush = style.background.isValid() ? QBrush(style.background) : QBrush();
    // As QStyledItemDelegate does: no style animations inside item views.
    option->styleObject = nullptr;
}

void CellStyleDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QStyleOptionViewItem cell(option);
    initStyleOption(&cell, index);
    const bool framed = (cell.state & QStyle::State_Selected) && cell.backgroundBrush.style() != Qt::NoBrush;
    if (framed)
        cell.state &= ~QStyle::State_Selected;
    const QWidget *widget = option.widget;
    QStyle *style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &cell, painter, widget);
    if (!framed)
        return;

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

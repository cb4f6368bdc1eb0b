#include "buttondelegate.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QStyle>

namespace Orvantel {

ButtonDelegate::ButtonDelegate(const QString &text, QObject *parent)
    : QStyledItemDelegate(parent)
    , m_text(text)
{}

void ButtonDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    QStyleOptionButton button;
    button.rect = option.rect.adjusted(1, 1, -1, -1);
    button.text = m_text;
    button.state = QStyle::State_Enabled;
    button.state |= (m_pressed.isValid() && m_pressed == index) ? QStyle::State_Sunken : QStyle::State_Raised;
    const QWidget *widget = option.widget;
    QStyle *style = widget ? widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_PushButton, &button, painter, widget);
}

bool ButtonDelegate::editorEvent(QEvent *event, QAbstractItemModel *, const QStyleOptionViewItem &option,
                                 const QModelIndex &index)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick:
        if (static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
            m_pressed = index;
            return true; // a double-click on the button is not a row double-click
        }
        break;
    case QEvent::MouseButtonRelease: {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        const bool click = mouse->button() == Qt::LeftButton && m_pressed == index
                && option.rect.contains(mouse->position().toPoint());
        m_pressed = QPersistentModelIndex();
        if (click)
            Q_EMIT clicked(index);
        return true;
    }
    default:
        break;
    }
    return false;
}

} // namespace Orvantel

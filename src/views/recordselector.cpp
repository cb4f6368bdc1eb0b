#include "recordselector.h"

#include <QAbstractItemView>
#include <QPainter>
#include <QPolygon>

namespace Orvantel {

RecordSelector::RecordSelector(QWidget *parent)
    : QHeaderView(Qt::Vertical, parent)
{
    setSectionResizeMode(QHeaderView::Fixed);
    setDefaultSectionSize(fontMetrics().height() + 4);
    setMinimumSectionSize(fontMetrics().height() + 4);
    setSectionsClickable(false);
    setHighlightSections(false);
}

void RecordSelector::paintSection(QPainter *painter, const QRect &rect, int logicalIndex) const
{
    QHeaderView::paintSection(painter, rect, logicalIndex);
    const auto *view = qobject_cast<const QAbstractItemView *>(parentWidget());
    if (!view || !view->currentIndex().isValid() || view->currentIndex().row() != logicalIndex)
        return;
    const int h = std::min(rect.height(), rect.width()) / 2;
    const QPoint c = rect.center();
    QPolygon triangle;
    triangle << QPoint(c.x() - h / 3, c.y() - h / 2) << QPoint(c.x() + h / 2, c.y())
             << QPoint(c.x() - h / 3, c.y() + h / 2);
    painter->save();
    painter->setRenderHint(QPainter::Antialiasing);
    painter->setPen(Qt::NoPen);
    painter->setBrush(palette().color(QPalette::WindowText));
    painter->drawPolygon(triangle);
    painter->restore();
}

QSize RecordSelector::sizeHint() const
{
    return {15, QHeaderView::sizeHint().height()};
}

} // namespace Orvantel

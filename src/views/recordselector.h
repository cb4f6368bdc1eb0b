#pragma once

#include <QHeaderView>

namespace Orvantel {

/// The narrow column left of the rows that marks the current row with a triangle.
/// Fixed-height rows: sizing never looks at the data.
class RecordSelector : public QHeaderView
{
    Q_OBJECT
public:
    explicit RecordSelector(QWidget *parent = nullptr);

protected:
    void paintSection(QPainter *painter, const QRect &rect, int logicalIndex) const override;
    QSize sizeHint() const override;
};

} // namespace Orvantel

#pragma once

#include <QPersistentModelIndex>
#include <QStyledItemDelegate>

namespace Orvantel {

/// Paints a push button in every cell of a column (no widget per row) and reports a
/// click released over the button that was pressed.
class ButtonDelegate : public QStyledItemDelegate
{
    Q_OBJECT
public:
    explicit ButtonDelegate(const QString &text, QObject *parent = nullptr);

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    bool editorEvent(QEvent *event, QAbstractItemModel *model, const QStyleOptionViewItem &option,
                     const QModelIndex &index) override;

Q_SIGNALS:
    void clicked(const QPersistentModelIndex &index);

private:
    QString m_text;
    QPersistentModelIndex m_pressed;
};

} // namespace Orvantel

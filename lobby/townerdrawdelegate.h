#pragma once

#include <QStyledItemDelegate>

#include <functional>

// Hands the painting of each list row to its owner (the lobby draws its lists itself,
// with icons and colours that depend on the lobby's state) at a fixed row height.
class TOwnerDrawDelegate final : public QStyledItemDelegate
{
    Q_OBJECT
public:
    using Painter =
        std::function<void(QPainter *, const QStyleOptionViewItem &, const QModelIndex &)>;

    TOwnerDrawDelegate(Painter painter, QObject *parent = nullptr);

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;

private:
    Painter m_painter;
};

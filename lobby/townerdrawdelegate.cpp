#include "townerdrawdelegate.h"

#include <QFontMetrics>
#include <QPainter>

TOwnerDrawDelegate::TOwnerDrawDelegate(Painter painter, QObject *parent)
    : QStyledItemDelegate(parent), m_painter(std::move(painter))
{
}

void TOwnerDrawDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                               const QModelIndex &index) const
{
    painter->save();
    m_painter(painter, option, index);
    painter->restore();
}

QSize TOwnerDrawDelegate::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &) const
{
    // Room for the 20-pixel icons and a line of the list's font.
    return {option.rect.width() > 0 ? option.rect.width() : 160,
            qMax(22, QFontMetrics(option.font).height() + 6)};
}

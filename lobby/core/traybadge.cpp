#include "traybadge.h"

#include <QFont>
#include <QPainter>
#include <QPixmap>

namespace traybadge {

namespace {

// The tray pictures are drawn for 32 logical pixels; smaller tray slots scale them down.
constexpr int kLogicalSize = 32;

QPixmap badgedPixmap(const QIcon &picture, qreal ratio, const QString &text)
{
    QPixmap pixmap = picture.pixmap(QSize(kLogicalSize, kLogicalSize), ratio);
    pixmap.setDevicePixelRatio(ratio);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);

    // Logical coordinates from here on: the painter maps them to device pixels. The top
    // right corner leaves the lower right one to the blinking pictures' mail mark.
    const qreal size = kLogicalSize * 0.58;
    const QRectF disc(kLogicalSize - size, 0, size, size);
    painter.setPen(QPen(Qt::white, 1.5));
    painter.setBrush(QColor(204, 36, 36));
    painter.drawEllipse(disc.adjusted(0.75, 0.75, -0.75, -0.75));

    QFont font = painter.font();
    font.setBold(true);
    font.setPixelSize(text.size() > 1 ? 10 : 13);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(disc, Qt::AlignCenter, text);
    painter.end();
    return pixmap;
}

} // namespace

QString badgeText(int count)
{
    return count > 9 ? QStringLiteral("9+") : QString::number(count);
}

QIcon badged(const QIcon &picture, int count)
{
    if (count <= 0)
        return picture;
    const QString text = badgeText(count);
    QIcon icon;
    for (const qreal ratio : {1.0, 2.0})
        icon.addPixmap(badgedPixmap(picture, ratio, text));
    return icon;
}

} // namespace traybadge

#include "tswitch.h"

#include <QPainter>
#include <QPainterPath>

TSwitch::TSwitch(QWidget *parent) : QAbstractButton(parent)
{
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::TabFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void TSwitch::setTag(int tag)
{
    if (tag == m_tag)
        return;
    m_tag = tag;
    setAccessibleDescription(tag == 1 ? QStringLiteral("on") : QStringLiteral("off"));
    repaint();
    emit tagChanged(tag);
}

void TSwitch::setPictures(const QPixmap &off, const QPixmap &on)
{
    m_off = off;
    m_on = on;
    updateGeometry();
    update();
}

QSize TSwitch::sizeHint() const
{
    const QPixmap &p = m_off.isNull() ? m_on : m_off;
    if (!p.isNull())
        return p.deviceIndependentSize().toSize();
    return {40, 22};
}

void TSwitch::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPixmap &picture = m_tag == 1 ? m_on : m_off;
    if (!picture.isNull()) {
        const QSize size =
            picture.deviceIndependentSize().toSize().scaled(this->size(), Qt::KeepAspectRatio);
        const QRect target(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2),
                           size);
        painter.drawPixmap(target, picture);
    } else {
        const QRectF track = QRectF(rect()).adjusted(1, 1, -1, -1);
        const qreal radius = track.height() / 2;
        painter.setPen(Qt::NoPen);
        painter.setBrush(m_tag == 1 ? palette().color(QPalette::Highlight)
                                    : QColor(0xc4, 0xcb, 0xd6));
        painter.drawRoundedRect(track, radius, radius);
        const qreal d = track.height() - 4;
        const qreal x = m_tag == 1 ? track.right() - 2 - d : track.left() + 2;
        painter.setBrush(Qt::white);
        painter.drawEllipse(QRectF(x, track.top() + 2, d, d));
    }
    if (hasFocus()) {
        painter.setPen(QPen(palette().color(QPalette::Highlight), 1, Qt::DotLine));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 4, 4);
    }
}

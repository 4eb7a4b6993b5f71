#include "tpressfilter.h"

#include <QMouseEvent>
#include <QWidget>

TPressFilter::TPressFilter(QWidget *watched, std::function<void(const QPoint &)> onPress)
    : TPressFilter(watched, [onPress = std::move(onPress)](Qt::MouseButton, const QPoint &pos) {
          onPress(pos);
          return false;
      })
{
}

TPressFilter::TPressFilter(QWidget *watched,
                           std::function<bool(Qt::MouseButton, const QPoint &)> onPress)
    : QObject(watched), m_onPress(std::move(onPress))
{
    watched->installEventFilter(this);
}

bool TPressFilter::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonPress) {
        const auto *press = static_cast<QMouseEvent *>(event);
        if (m_onPress(press->button(), press->position().toPoint()))
            return true;
    }
    return QObject::eventFilter(watched, event);
}

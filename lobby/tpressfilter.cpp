#include "tpressfilter.h"

#include <QMouseEvent>
#include <QWidget>

TPressFilter::TPressFilter(QWidget *watched, std::function<void(const QPoint &)> onPress)
    : QObject(watched), m_onPress(std::move(onPress))
{
    watched->installEventFilter(this);
}

bool TPressFilter::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonPress)
        m_onPress(static_cast<QMouseEvent *>(event)->position().toPoint());
    return QObject::eventFilter(watched, event);
}

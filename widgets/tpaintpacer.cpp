#include "tpaintpacer.h"

#include <QCoreApplication>
#include <QEvent>
#include <QWidget>

TPaintPacer::TPaintPacer(QWidget *window) : QObject(window), m_window(window)
{
    m_wait.setSingleShot(true);
    connect(&m_wait, &QTimer::timeout, this, &TPaintPacer::release);
    window->installEventFilter(this);
}

bool TPaintPacer::eventFilter(QObject *watched, QEvent *event)
{
    // The window paints what changed on an update request it posts to itself; until that
    // request is handled it posts no other, so a request held back here holds every
    // change made meanwhile.
    if (watched != m_window || event->type() != QEvent::UpdateRequest)
        return false;
    if (m_wait.isActive())
        return true;
    const qint64 since = m_lastPaint.isValid() ? m_lastPaint.elapsed() : kIntervalMs;
    if (since < kIntervalMs) {
        ++m_heldPaints;
        m_wait.start(static_cast<int>(kIntervalMs - since));
        return true;
    }
    m_lastPaint.restart();
    return false;
}

void TPaintPacer::release()
{
    QCoreApplication::postEvent(m_window, new QEvent(QEvent::UpdateRequest), Qt::LowEventPriority);
}

#include "tpaneldragger.h"

#include <QMouseEvent>
#include <QWidget>

TPanelDragger::TPanelDragger(QWidget *panel, const QList<QWidget *> &handles)
    : QObject(panel), m_panel(panel)
{
    panel->installEventFilter(this);
    for (QWidget *handle : handles)
        handle->installEventFilter(this);
}

QPoint TPanelDragger::keptInside(const QRect &panel, const QSize &area)
{
    constexpr int kMargin = 4;
    int left = std::max(panel.left(), kMargin);
    int top = std::max(panel.top(), kMargin);
    if (left > area.width() - panel.width())
        left = area.width() - panel.width() - kMargin;
    if (top > area.height() - panel.height())
        top = area.height() - panel.height() - kMargin;
    return {left, top};
}

bool TPanelDragger::eventFilter(QObject *watched, QEvent *event)
{
    if (!m_panel)
        return false;
    switch (event->type()) {
    case QEvent::MouseButtonPress: {
        auto *e = static_cast<QMouseEvent *>(event);
        m_pressGlobal = e->globalPosition().toPoint();
        m_pressPanelPos = m_panel->pos();
        m_dragging = true;
        m_panel->raise();
        if (auto *w = qobject_cast<QWidget *>(watched))
            w->grabMouse();
        return true;
    }
    case QEvent::MouseMove: {
        if (!m_dragging)
            return false;
        auto *e = static_cast<QMouseEvent *>(event);
        m_panel->move(m_pressPanelPos + (e->globalPosition().toPoint() - m_pressGlobal));
        return true;
    }
    case QEvent::MouseButtonRelease: {
        if (!m_dragging)
            return false;
        auto *e = static_cast<QMouseEvent *>(event);
        m_dragging = false;
        if (auto *w = qobject_cast<QWidget *>(watched))
            w->releaseMouse();
        m_panel->move(m_pressPanelPos + (e->globalPosition().toPoint() - m_pressGlobal));
        if (QWidget *area = m_panel->parentWidget())
            m_panel->move(keptInside(m_panel->geometry(), area->size()));
        return true;
    }
    default:
        return false;
    }
}

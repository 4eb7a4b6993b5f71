#include "tlabelslot.h"

#include <QLabel>
#include <QResizeEvent>

TLabelSlot::TLabelSlot(QLabel *label, const QString &widest, QWidget *parent)
    : QWidget(parent), m_label(label), m_widest(widest)
{
    m_label->setParent(this);
    // The slot takes the label's place in a layout as the label would: as wide as the
    // layout makes it, as high as one line of the label's text.
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
    // Until the slot is first laid out; a fixed size is what stops a new text from
    // reaching the layout.
    m_label->setFixedSize(m_label->sizeHint());
}

QSize TLabelSlot::sizeHint() const
{
    // Measured with the label's font as the style sheet makes it, when the layout asks.
    m_label->ensurePolished();
    const QMargins margins = m_label->contentsMargins();
    const int indent = m_label->indent() > 0 ? m_label->indent() : 0;
    const int width = m_label->fontMetrics().horizontalAdvance(m_widest) + margins.left() +
                      margins.right() + 2 * m_label->margin() + indent;
    const int height =
        m_label->fontMetrics().height() + margins.top() + margins.bottom() + 2 * m_label->margin();
    return {width, height};
}

QSize TLabelSlot::minimumSizeHint() const
{
    return sizeHint();
}

void TLabelSlot::resizeEvent(QResizeEvent *event)
{
    m_label->setFixedSize(event->size());
    m_label->move(0, 0);
    QWidget::resizeEvent(event);
}

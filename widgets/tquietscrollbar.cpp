#include "tquietscrollbar.h"

#include <QStyle>
#include <QStyleOptionSlider>

TQuietScrollBar::TQuietScrollBar(Qt::Orientation orientation, QWidget *parent)
    : QScrollBar(orientation, parent)
{
}

TQuietScrollBar::Look TQuietScrollBar::look() const
{
    QStyleOptionSlider option;
    initStyleOption(&option);
    Look look;
    look.slider =
        style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, this);
    look.atMinimum = value() == minimum();
    look.atMaximum = value() == maximum();
    look.enabled = isEnabled() && maximum() > minimum();
    return look;
}

void TQuietScrollBar::sliderChange(SliderChange change)
{
    const bool quiet =
        change == SliderRangeChange || change == SliderValueChange || change == SliderStepsChange;
    if (quiet && m_painted && look() == m_drawn)
        return;
    QScrollBar::sliderChange(change);
}

void TQuietScrollBar::paintEvent(QPaintEvent *event)
{
    m_drawn = look();
    m_painted = true;
    QScrollBar::paintEvent(event);
}

#include "tanimatedbutton.h"

TAnimatedButton::TAnimatedButton(QWidget *parent) : QToolButton(parent)
{
    setCursor(Qt::PointingHandCursor);
    setAutoRaise(true);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        if (!m_frames.isEmpty())
            showFrame((m_frame + 1) % m_frames.size());
    });
}

void TAnimatedButton::setFrames(const QList<QPixmap> &frames, int intervalMs)
{
    m_frames = frames;
    m_timer.setInterval(intervalMs);
    if (!m_frames.isEmpty()) {
        setIconSize(m_frames.first().deviceIndependentSize().toSize());
        showFrame(0);
    }
}

void TAnimatedButton::setAnimate(bool on)
{
    if (on) {
        if (!m_timer.isActive())
            m_timer.start();
    } else {
        m_timer.stop();
        showFrame(0);
    }
}

void TAnimatedButton::showFrame(int index)
{
    m_frame = index;
    if (index < m_frames.size())
        setIcon(QIcon(m_frames[index]));
}

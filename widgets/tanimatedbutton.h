#pragma once

#include <QList>
#include <QPixmap>
#include <QTimer>
#include <QToolButton>

// A picture button that can cycle through its frames (the waiting-mail button).
class TAnimatedButton : public QToolButton
{
    Q_OBJECT
public:
    explicit TAnimatedButton(QWidget *parent = nullptr);

    void setFrames(const QList<QPixmap> &frames, int intervalMs);
    bool Animate() const { return m_timer.isActive(); }
    void setAnimate(bool on);

private:
    void showFrame(int index);

    QList<QPixmap> m_frames;
    QTimer m_timer;
    int m_frame = 0;
};

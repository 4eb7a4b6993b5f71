#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

class QWidget;

// Paints a window at most once per interval while changes stream in. A window is painted
// once per pass of the event loop that changed it; when a busy lobby sends presence news
// in a steady stream, that is a paint of the lists, the chat panes and their scroll bars
// for every few players, which costs far more than the changes themselves. A change
// that follows a quiet spell is painted at once; one that follows a paint by less than
// the interval waits for the rest of it, together with every change made meanwhile. The
// interval is kept well below what a user notices as lag (40 ms, 25 paints a second).
class TPaintPacer final : public QObject
{
    Q_OBJECT
public:
    static constexpr int kIntervalMs = 40;

    explicit TPaintPacer(QWidget *window);

    // How many paints were put off so far (a paint put off again counts once).
    int heldPaints() const { return m_heldPaints; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void release();

    QWidget *m_window;
    QElapsedTimer m_lastPaint;
    QTimer m_wait;
    int m_heldPaints = 0;
};

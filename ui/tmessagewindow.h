#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>

#include <exception>

// What the private-message windows share: each is a top-level window of its own (its own
// task-bar entry; it stays on screen when the lobby is minimised), deletes itself when
// closed, never ends the program by closing, and hands the foreground back to the window
// that was in front of it.
class TMessageWindow : public QWidget
{
    Q_OBJECT
public:
    TMessageWindow();

    // Moves the window to `topLeft`, shows it and brings it to the front.
    void showAt(const QPoint &topLeft);
    // The position for a new window from two stored values, which change to 3 when the
    // window would not fit on the primary screen.
    static QPoint placement(int &storedLeft, int &storedTop);

protected:
    // Runs a handler; an exception ends up in the platform's error display instead of
    // crossing the event loop.
    template <typename F> static void guarded(F &&handler)
    {
        try {
            handler();
        } catch (const std::exception &e) {
            showError(QString::fromLocal8Bit(e.what()));
        }
    }
    static void showError(const QString &text);

    // Gives the foreground back to the window that was active when this one was shown,
    // when this one is still the active window.
    void restorePreviousWindow();

private:
    QPointer<QWidget> m_previous;
};

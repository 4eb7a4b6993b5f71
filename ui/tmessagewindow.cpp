#include "tmessagewindow.h"
#include "accessibility.h"

#include "assets.h"
#include "platform.h"
#include "privatemessagetext.h"

#include <QApplication>
#include <QGuiApplication>
#include <QScreen>

TMessageWindow::TMessageWindow() : QWidget(nullptr, Qt::Window)
{
    setAttribute(Qt::WA_DeleteOnClose);
    // Only the lobby window ends the program; closing the last message window while the
    // lobby sits in the tray must not.
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowIcon(assets::appIcon());
    accessibility::closeOnEscape(this);
}

void TMessageWindow::showAt(const QPoint &topLeft)
{
    QWidget *active = QApplication::activeWindow();
    if (active != this)
        m_previous = active;
    move(topLeft);
    show();
    raise();
    activateWindow();
}

QPoint TMessageWindow::placement(int &storedLeft, int &storedTop)
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    const QSize size = screen ? screen->size() : QSize(1024, 768);
    return privatemessagetext::placewindow(storedLeft, storedTop, size);
}

void TMessageWindow::restorePreviousWindow()
{
    // A window closed from the background (or one that just opened another window in
    // front, as a reply does) has no foreground to give.
    if (!isActiveWindow())
        return;
    QWidget *previous = m_previous.data();
    if (!previous || previous == this || !previous->isVisible() || previous->isMinimized())
        return;
    previous->raise();
    previous->activateWindow();
}

void TMessageWindow::showError(const QString &text)
{
    platform::Platform::instance().showError(text);
}

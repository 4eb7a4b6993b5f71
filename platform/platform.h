#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>

#include <functional>

namespace platform {

// The one seam between the program and the outside world that a test must observe or
// answer: message boxes, confirmations, the general error display, opening URLs,
// starting programs, sounds, desktop notifications, the window's urgency hint and the
// game-running probe. The program installs the real implementation at start; tests
// install a recording one.
class Platform
{
public:
    virtual ~Platform();

    // A modal message box with an OK button.
    virtual void messageBox(const QString &text, const QString &caption = QString()) = 0;
    // A modal Yes/No question; true for Yes.
    virtual bool confirm(const QString &text, const QString &caption = QString()) = 0;
    // Where errors no handler took care of end up.
    virtual void showError(const QString &text) = 0;
    virtual bool openUrl(const QUrl &url) = 0;
    virtual bool startProgram(const QString &program, const QStringList &arguments,
                              const QString &workingDirectory = QString()) = 0;
    // One of the wave resources "FRIENDS", "PRIVATE", "TOURNEY"; never fails audibly.
    virtual void playSound(const QString &name) = 0;
    // True while one of our games runs (it holds the game lock).
    virtual bool gameRunning() = 0;
    // A passing desktop notification. Both texts are plain text, never markup: what
    // other players wrote ends up in them. onClick (may be empty) runs when the user
    // clicks the notification.
    virtual void notify(const QString &summary, const QString &body,
                        const std::function<void()> &onClick) = 0;
    // Marks the main window as waiting for the user (the desktop's urgency hint: a task-bar
    // entry that lights up) until it is activated. It is the sign that remains on a desktop
    // without a tray or a notification service. Nothing happens where there is no window.
    virtual void requestAttention() {}

    // The installed implementation; a quiet fallback that writes to standard error
    // when none was installed (tools and early start-up).
    static Platform &instance();
    // Installs p (not owned) and returns the previous one; nullptr restores the fallback.
    static Platform *install(Platform *p);
};

} // namespace platform

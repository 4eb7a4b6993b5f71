#pragma once

#include "platform.h"

#include <QHash>
#include <QMessageBox>
#include <QPointer>
#include <memory>

class QSoundEffect;
class QWidget;

namespace platform {

// The real outside world: Qt message boxes, the desktop's URL handler, detached
// processes, sound effects from the program's resources and the game lock probe.
class DesktopPlatform final : public Platform
{
public:
    DesktopPlatform();
    ~DesktopPlatform() override;

    void messageBox(const QString &text, const QString &caption) override;
    bool confirm(const QString &text, const QString &caption) override;
    void showError(const QString &text) override;
    bool openUrl(const QUrl &url) override;
    bool startProgram(const QString &program, const QStringList &arguments,
                      const QString &workingDirectory) override;
    void playSound(const QString &name) override;
    bool gameRunning() override;

    // Where a running game holds its lock: the per-user runtime folder.
    static QString gameLockPath();

    // The window that boxes belong to when no other visible window of ours asks.
    void setMainWindow(QWidget *window) { m_mainWindow = window; }
    // The parent a box gets now: the modal window on top, else the active window, else
    // the main window; only a visible one (or none).
    QWidget *boxParent() const;

private:
    QMessageBox::StandardButton runBox(QMessageBox::Icon icon, const QString &caption,
                                       const QString &text, QMessageBox::StandardButtons buttons);

    QPointer<QWidget> m_mainWindow;
    QHash<QString, QSoundEffect *> m_sounds;
};

} // namespace platform

#pragma once

#include "platform.h"

#include <QHash>
#include <memory>

class QSoundEffect;

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

private:
    QHash<QString, QSoundEffect *> m_sounds;
};

} // namespace platform

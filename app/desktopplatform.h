#pragma once

#include "platform.h"

#include <QDBusConnection>
#include <QHash>
#include <QMessageBox>
#include <QPointer>
#include <QSystemTrayIcon>

#include <functional>
#include <memory>
#include <optional>

class QSoundEffect;
class QWidget;

namespace platform {

class NotificationSignals;

// The real outside world: Qt message boxes, the desktop's URL handler, detached
// processes, sound effects from the program's resources, desktop notifications and the
// game lock probe.
class DesktopPlatform final : public Platform
{
public:
    // How a notification left: through the desktop's notification service, as the tray
    // icon's balloon, or not at all (no service and no tray icon to fall back on).
    enum class NotifyRoute { Bus, Tray, Dropped };

    DesktopPlatform();
    // Notifications go to the service on `bus` instead of the session bus.
    explicit DesktopPlatform(const QDBusConnection &bus);
    ~DesktopPlatform() override;

    void messageBox(const QString &text, const QString &caption) override;
    bool confirm(const QString &text, const QString &caption) override;
    void showError(const QString &text) override;
    bool openUrl(const QUrl &url) override;
    bool startProgram(const QString &program, const QStringList &arguments,
                      const QString &workingDirectory) override;
    void playSound(const QString &name) override;
    bool gameRunning() override;
    // Asks the notification service on the bus without waiting for it; falls back to
    // the tray icon's balloon when the service is missing or refuses. A click on either
    // runs onClick.
    void notify(const QString &summary, const QString &body,
                const std::function<void()> &onClick) override;
    // Alerts the main window (set with setMainWindow).
    void requestAttention() override;

    // Where a running game holds its lock: the per-user runtime folder.
    static QString gameLockPath();

    // The window that boxes belong to when no other visible window of ours asks.
    void setMainWindow(QWidget *window) { m_mainWindow = window; }
    // The parent a box gets now: the modal window on top, else the active window, else
    // the main window; only a visible one (or none).
    QWidget *boxParent() const;

    // The icon whose balloon shows notifications when the desktop has no service for them.
    void setTrayIcon(QSystemTrayIcon *tray) { m_tray = tray; }
    // Told how each notification left, once that is known.
    std::function<void(NotifyRoute)> onNotified;

    // The body as the service is given it: servers that announce "body-markup" read it
    // as markup, so the characters that would start markup are escaped for them.
    static QString bodyFor(const QString &body, bool serverReadsMarkup);

private:
    QMessageBox::StandardButton runBox(QMessageBox::Icon icon, const QString &caption,
                                       const QString &text, QMessageBox::StandardButtons buttons);

    void sendNotification(const QString &summary, const QString &body,
                          const std::function<void()> &onClick);
    void showInTray(const QString &summary, const QString &body,
                    const std::function<void()> &onClick);
    void notified(NotifyRoute route);
    void listenForClicks();

    QPointer<QWidget> m_mainWindow;
    QHash<QString, QSoundEffect *> m_sounds;
    std::optional<QDBusConnection> m_bus;
    QPointer<QSystemTrayIcon> m_tray;
    // Whether the service reads bodies as markup; unknown until it has told us.
    std::optional<bool> m_serverReadsMarkup;
    // What a click on a notification of the service does, by the service's id for it;
    // forgotten when the service reports the notification closed.
    QHash<uint, std::function<void()>> m_clickActions;
    bool m_listening = false;
    // What a click on the tray's balloon does: the balloon shows one message at a time.
    std::function<void()> m_trayClick;
    QPointer<QSystemTrayIcon> m_trayConnected;
    // Context of the pending bus replies and the bus signals: they end with this object.
    std::unique_ptr<NotificationSignals> m_replies;
};

} // namespace platform

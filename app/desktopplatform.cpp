#include "desktopplatform.h"

#include "assets.h"

#include <QApplication>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDesktopServices>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QSoundEffect>
#include <QStandardPaths>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace platform {

namespace {

QString captionOr(const QString &caption)
{
    return caption.isEmpty() ? QApplication::applicationName() : caption;
}

const QString kNotifyService = QStringLiteral("org.freedesktop.Notifications");
const QString kNotifyPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kNotifyAppName = QStringLiteral("Halvane");
// The installed desktop entry (halvane.desktop) and the program's icon in the icon theme
// share this name: the service shows the icon and groups the notifications under the entry.
const QString kDesktopEntry = QStringLiteral("halvane");
// A service that is registered but hangs must not keep a notification waiting for the
// bus's own (much longer) default.
constexpr int kNotifyReplyMs = 5000;

QDBusMessage notifyCall(const QString &method)
{
    return QDBusMessage::createMethodCall(kNotifyService, kNotifyPath, kNotifyService, method);
}

} // namespace

// The notification service's signals about the notifications it shows: QtDBus hands bus
// signals only to slots.
class NotificationSignals : public QObject
{
    Q_OBJECT
public:
    std::function<void(uint, const QString &)> onAction;
    std::function<void(uint)> onClosed;

public slots:
    void actionInvoked(uint id, const QString &key)
    {
        if (onAction)
            onAction(id, key);
    }
    void notificationClosed(uint id, uint)
    {
        if (onClosed)
            onClosed(id);
    }
};

DesktopPlatform::DesktopPlatform() : m_replies(std::make_unique<NotificationSignals>()) {}

DesktopPlatform::DesktopPlatform(const QDBusConnection &bus)
    : m_bus(bus), m_replies(std::make_unique<NotificationSignals>())
{
}

DesktopPlatform::~DesktopPlatform()
{
    qDeleteAll(m_sounds);
}

QWidget *DesktopPlatform::boxParent() const
{
    for (QWidget *candidate : {QApplication::activeModalWidget(), QApplication::activeWindow(),
                               static_cast<QWidget *>(m_mainWindow.data())}) {
        if (candidate && candidate->isVisible())
            return candidate->window();
    }
    return nullptr;
}

QMessageBox::StandardButton DesktopPlatform::runBox(QMessageBox::Icon icon, const QString &caption,
                                                    const QString &text,
                                                    QMessageBox::StandardButtons buttons)
{
    // Texts here often come from the network (announcements, other players' names and
    // lines): shown as they are, never as rich text with live links.
    QPointer<QMessageBox> box =
        new QMessageBox(icon, captionOr(caption), text, buttons, boxParent());
    box->setTextFormat(Qt::PlainText);
    box->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // Our own pictures, crisp at any scale, instead of the style's fallback bitmaps.
    const assets::BoxPicture picture = icon == QMessageBox::Critical ? assets::BoxPicture::Error
                                       : icon == QMessageBox::Question
                                           ? assets::BoxPicture::Question
                                           : assets::BoxPicture::Information;
    box->setIconPixmap(assets::boxIcon(picture).pixmap(QSize(40, 40), box->devicePixelRatioF()));
    if (auto *label = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_label")))
        label->setOpenExternalLinks(false);
    box->setWindowModality(Qt::ApplicationModal);
    box->show();
    box->raise();
    box->activateWindow();
    const int result = box->exec();
    // The parent may have been closed and deleted while the box was up, taking the box.
    if (!box)
        return QMessageBox::NoButton;
    delete box.data();
    return static_cast<QMessageBox::StandardButton>(result);
}

void DesktopPlatform::messageBox(const QString &text, const QString &caption)
{
    runBox(QMessageBox::Information, caption, text, QMessageBox::Ok);
}

bool DesktopPlatform::confirm(const QString &text, const QString &caption)
{
    return runBox(QMessageBox::Question, caption, text, QMessageBox::Yes | QMessageBox::No) ==
           QMessageBox::Yes;
}

void DesktopPlatform::showError(const QString &text)
{
    runBox(QMessageBox::Critical, QString(), text, QMessageBox::Ok);
}

bool DesktopPlatform::openUrl(const QUrl &url)
{
    return QDesktopServices::openUrl(url);
}

bool DesktopPlatform::startProgram(const QString &program, const QStringList &arguments,
                                   const QString &workingDirectory)
{
    return QProcess::startDetached(program, arguments, workingDirectory);
}

void DesktopPlatform::playSound(const QString &name)
{
    QSoundEffect *effect = m_sounds.value(name);
    if (!effect) {
        effect = new QSoundEffect;
        effect->setSource(QUrl(QStringLiteral("qrc:/sounds/%1.wav").arg(name)));
        m_sounds.insert(name, effect);
    }
    // Without an audio device this stays silent; that is fine.
    effect->play();
}

QString DesktopPlatform::bodyFor(const QString &body, bool serverReadsMarkup)
{
    if (!serverReadsMarkup)
        return body;
    QString escaped;
    escaped.reserve(body.size());
    for (const QChar c : body) {
        if (c == QLatin1Char('&'))
            escaped += QLatin1String("&amp;");
        else if (c == QLatin1Char('<'))
            escaped += QLatin1String("&lt;");
        else if (c == QLatin1Char('>'))
            escaped += QLatin1String("&gt;");
        else
            escaped += c;
    }
    return escaped;
}

void DesktopPlatform::notify(const QString &summary, const QString &body,
                             const std::function<void()> &onClick)
{
    if (!m_bus)
        m_bus = QDBusConnection::sessionBus();
    if (!m_bus->isConnected()) {
        showInTray(summary, body, onClick);
        return;
    }
    listenForClicks();
    if (m_serverReadsMarkup) {
        sendNotification(summary, body, onClick);
        return;
    }
    // The service's capabilities decide how the body is written. Asking also tells
    // whether there is a service at all: without one the bus answers with an error.
    auto *watcher = new QDBusPendingCallWatcher(
        m_bus->asyncCall(notifyCall(QStringLiteral("GetCapabilities")), kNotifyReplyMs),
        m_replies.get());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, m_replies.get(),
                     [this, watcher, summary, body, onClick] {
                         watcher->deleteLater();
                         const QDBusPendingReply<QStringList> reply = *watcher;
                         if (reply.isError()) {
                             showInTray(summary, body, onClick);
                             return;
                         }
                         m_serverReadsMarkup =
                             reply.value().contains(QStringLiteral("body-markup"));
                         sendNotification(summary, body, onClick);
                     });
}

void DesktopPlatform::sendNotification(const QString &summary, const QString &body,
                                       const std::function<void()> &onClick)
{
    // "default" is the action of a click on the notification itself.
    const QStringList actions =
        onClick ? QStringList{QStringLiteral("default"), QStringLiteral("Open")} : QStringList();
    QDBusMessage call = notifyCall(QStringLiteral("Notify"));
    const QVariantMap hints{{QStringLiteral("desktop-entry"), kDesktopEntry}};
    call << kNotifyAppName << 0u << kDesktopEntry << summary
         << bodyFor(body, m_serverReadsMarkup.value_or(true)) << actions << hints << -1;
    auto *watcher =
        new QDBusPendingCallWatcher(m_bus->asyncCall(call, kNotifyReplyMs), m_replies.get());
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, m_replies.get(),
                     [this, watcher, summary, body, onClick] {
                         watcher->deleteLater();
                         const QDBusPendingReply<uint> reply = *watcher;
                         if (reply.isError()) {
                             // The service may have gone or been replaced: ask again next time.
                             m_serverReadsMarkup.reset();
                             showInTray(summary, body, onClick);
                             return;
                         }
                         if (onClick)
                             m_clickActions.insert(reply.value(), onClick);
                         notified(NotifyRoute::Bus);
                     });
}

void DesktopPlatform::listenForClicks()
{
    if (m_listening)
        return;
    m_replies->onAction = [this](uint id, const QString &key) {
        const std::function<void()> action = m_clickActions.value(id);
        if (key == QLatin1String("default") && action)
            action();
    };
    m_replies->onClosed = [this](uint id) { m_clickActions.remove(id); };
    m_listening = true;
    m_bus->connect(kNotifyService, kNotifyPath, kNotifyService, QStringLiteral("ActionInvoked"),
                   m_replies.get(), SLOT(actionInvoked(uint, QString)));
    m_bus->connect(kNotifyService, kNotifyPath, kNotifyService,
                   QStringLiteral("NotificationClosed"), m_replies.get(),
                   SLOT(notificationClosed(uint, uint)));
}

void DesktopPlatform::showInTray(const QString &summary, const QString &body,
                                 const std::function<void()> &onClick)
{
    if (!m_tray) {
        notified(NotifyRoute::Dropped);
        return;
    }
    if (m_trayConnected != m_tray) {
        m_trayConnected = m_tray;
        QObject::connect(m_tray, &QSystemTrayIcon::messageClicked, m_replies.get(), [this] {
            if (m_trayClick)
                m_trayClick();
        });
    }
    m_trayClick = onClick;
    m_tray->showMessage(summary, body, QSystemTrayIcon::Information);
    notified(NotifyRoute::Tray);
}

void DesktopPlatform::notified(NotifyRoute route)
{
    if (onNotified)
        onNotified(route);
}

void DesktopPlatform::requestAttention()
{
    // 0: until the user activates the window, not for a fixed moment.
    if (m_mainWindow)
        QApplication::alert(m_mainWindow, 0);
}

QString DesktopPlatform::gameLockPath()
{
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty())
        dir = QDir::tempPath();
    return dir + QStringLiteral("/ostrel-game.lock");
}

bool DesktopPlatform::gameRunning()
{
    // A running game holds an exclusive flock on the file; the kernel drops it when the
    // game ends or crashes, so nothing stale is left behind.
    const QByteArray path = QFile::encodeName(gameLockPath());
    const int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return false;
    const bool held = ::flock(fd, LOCK_EX | LOCK_NB) != 0;
    if (!held)
        ::flock(fd, LOCK_UN);
    ::close(fd);
    return held;
}

} // namespace platform

#include "desktopplatform.moc"

#include "desktopplatform.h"

#include <QApplication>
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

} // namespace

DesktopPlatform::DesktopPlatform() = default;

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

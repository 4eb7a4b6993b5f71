#include "desktopplatform.h"

#include <QApplication>
#include <QDesktopServices>
#include <QDir>
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

void DesktopPlatform::messageBox(const QString &text, const QString &caption)
{
    QMessageBox::information(QApplication::activeWindow(), captionOr(caption), text);
}

bool DesktopPlatform::confirm(const QString &text, const QString &caption)
{
    return QMessageBox::question(QApplication::activeWindow(), captionOr(caption), text,
                                 QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes;
}

void DesktopPlatform::showError(const QString &text)
{
    QMessageBox::critical(QApplication::activeWindow(), captionOr(QString()), text);
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

#include "assets.h"

#include <QPixmapCache>

#include <algorithm>

// Q_INIT_RESOURCE must be used outside any namespace.
void InitAssets()
{
    Q_INIT_RESOURCE(assets);
}

namespace assets {

namespace {

// Both densities are added explicitly: QIcon only looks for "@2x" files on its own when
// the application's own pixel ratio is above 1 at the time the icon is made.
QIcon twoDensities(const QString &base, QSize size)
{
    QIcon icon;
    icon.addFile(base + QStringLiteral(".png"), size);
    icon.addFile(base + QStringLiteral("@2x.png"), size * 2);
    return icon;
}

int clampHat(int hat)
{
    if (hat < 0)
        return 1;
    return std::min(hat, kHatCount - 1);
}

} // namespace

QIcon hatIcon(int hat)
{
    return twoDensities(QStringLiteral(":/hats/%1").arg(clampHat(hat)), QSize(20, 20));
}

QPixmap hatPixmap(int hat, qreal devicePixelRatio)
{
    const bool dense = devicePixelRatio > 1.0;
    const QString path = QStringLiteral(":/hats/%1%2.png")
                             .arg(clampHat(hat))
                             .arg(dense ? QStringLiteral("@2x") : QString());
    QPixmap pixmap;
    if (!QPixmapCache::find(path, &pixmap)) {
        pixmap.load(path);
        QPixmapCache::insert(path, pixmap);
    }
    pixmap.setDevicePixelRatio(dense ? 2.0 : 1.0);
    return pixmap;
}

QIcon appIcon()
{
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/app-%1.png").arg(size), QSize(size, size));
    return icon;
}

QIcon trayIcon(int state)
{
    return twoDensities(QStringLiteral(":/icons/tray%1").arg(std::clamp(state, 0, 2)),
                        QSize(32, 32));
}

QIcon mailFrame(int frame)
{
    return twoDensities(QStringLiteral(":/mail/frame%1").arg(frame == 0 ? 0 : 1), QSize(32, 32));
}

QIcon mailIcon()
{
    return twoDensities(QStringLiteral(":/icons/mail"), QSize(20, 20));
}

QIcon boxIcon(BoxPicture kind)
{
    const char *name = kind == BoxPicture::Error      ? "box-error"
                       : kind == BoxPicture::Question ? "box-question"
                                                      : "box-info";
    return twoDensities(QStringLiteral(":/icons/") + QLatin1String(name), QSize(40, 40));
}

QIcon onlineIcon()
{
    return twoDensities(QStringLiteral(":/icons/online"), QSize(20, 20));
}

QIcon offlineIcon()
{
    return twoDensities(QStringLiteral(":/icons/offline"), QSize(20, 20));
}

QIcon switchIcon(bool on)
{
    return twoDensities(on ? QStringLiteral(":/switch/on") : QStringLiteral(":/switch/off"),
                        QSize(44, 24));
}

QIcon roomIcon(int picture)
{
    if (picture < 0 || picture >= kRoomPictureCount)
        picture = 2;
    return twoDensities(QStringLiteral(":/rooms/%1").arg(picture), QSize(20, 20));
}

QIcon lobbyIcon()
{
    return twoDensities(QStringLiteral(":/rooms/lobby"), QSize(20, 20));
}

QIcon connectionPicture(int picture)
{
    return twoDensities(QStringLiteral(":/connection/%1").arg(picture == 1 ? 1 : 0), QSize(48, 26));
}

QIcon hostButtonIcon()
{
    return twoDensities(QStringLiteral(":/buttons/host"), QSize(132, 34));
}

QIcon helpButtonIcon()
{
    return twoDensities(QStringLiteral(":/buttons/help"), QSize(24, 24));
}

QIcon announceButtonIcon()
{
    return twoDensities(QStringLiteral(":/buttons/announce"), QSize(24, 24));
}

QString soundPath(const QString &name)
{
    return QStringLiteral(":/sounds/%1.wav").arg(name.toUpper());
}

} // namespace assets

// The lobby's web site: downloading games (the download menu, the download window's
// preparation and automatic game updates), the game description window and the program's
// own update.
#include "lobby.h"

#include "lobbysite.h"
#include "ownfile.h"
#include "tdownload.h"
#include "textcodec.h"
#include "tflatbutton.h"
#include "tflatpanel.h"
#include "tgamedescription.h"
#include "thttpcli.h"
#include "tpressfilter.h"
#include "turl.h"
#include "userpaths.h"

#include "platform.h"
#include "registry.h"

#include <QAction>
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>

#include <QSaveFile>
#include <QTimer>

#include <stdexcept>

namespace {

// The name the updater is written out under, beside the program. Programs here carry no
// extension.
const QString kUpdaterName = QStringLiteral("updater");

} // namespace

// The resource lives in a static library: registered on first use, or the linker drops
// it. Outside any namespace, as the registration function is a global one.
static void initUpdaterResource()
{
    static const bool registered = [] {
        Q_INIT_RESOURCE(updater);
        return true;
    }();
    Q_UNUSED(registered);
}

void Tlobby::setSiteRoot(const QString &root)
{
    m_siteRoot = root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/');
    if (m_download)
        m_download->setSiteRoot(m_siteRoot);
    if (m_gamedescription)
        m_gamedescription->setSiteRoot(m_siteRoot);
}

QString Tlobby::siteUrl(const QString &path) const
{
    qsizetype skip = 0;
    while (skip < path.size() && path.at(skip) == QLatin1Char('/'))
        ++skip;
    return m_siteRoot + path.mid(skip);
}

void Tlobby::openSitePage(const QString &path)
{
    // The form's launcher carries the site without its scheme, as its type names that.
    const QString address = siteUrl(path);
    const bool secure = address.startsWith(QLatin1String("https://"));
    URL->setURLType(secure ? utHttps : utHttp);
    URL->setURL(address.mid(TURL::prefixOf(URL->URLType()).size()));
    URL->Execute();
}

void Tlobby::attachDownload(Tdownload *download)
{
    m_download = download;
    if (m_download) {
        m_download->setSiteRoot(m_siteRoot);
        m_download->onInstallerStarted = [this](const QString &game) { watchInstallation(game); };
    }
}

namespace {

// What the install records say about a game, and when they were last written.
QString installState(const platform::Registry &registry, const QByteArray &game)
{
    return QFile::decodeName(registry.installPath(game)) + QLatin1Char('\n') +
           QString::fromLatin1(registry.version(game)) + QLatin1Char('\n') +
           QString::number(QFileInfo(registry.path()).lastModified().toMSecsSinceEpoch());
}

constexpr int kInstallPollMs = 250;
constexpr qint64 kInstallPatienceMs = 10 * 60 * 1000;

} // namespace

void Tlobby::tellInstallation(const QString &line, const QColor &color)
{
    // The status line too: outside a room the general chat may sit behind the Rooms tab.
    label_status->setText(line);
    if (panel_gameroom->isVisible())
        addlinetochat(line, color);
    else
        addlinetoalerts(line, color);
}

void Tlobby::watchInstallation(const QString &game)
{
    // The installer runs on its own and reports nothing back but the install record it
    // writes: the game is installed once the record has changed and names a program that
    // is there.
    const QByteArray key = encodeWireText(game);
    m_installWatches.insert(
        key, {installState(platform::Registry(), key), QDeadlineTimer(kInstallPatienceMs)});
    tellInstallation(game + QStringLiteral(" is being installed..."), QColor(0, 0, 255));
    if (!m_installTimer) {
        m_installTimer = new QTimer(this);
        m_installTimer->setInterval(kInstallPollMs);
        connect(m_installTimer, &QTimer::timeout, this, &Tlobby::checkInstallations);
    }
    m_installTimer->start();
}

void Tlobby::checkInstallations()
{
    const platform::Registry registry;
    for (auto it = m_installWatches.begin(); it != m_installWatches.end();) {
        const QString game = decodeWireText(it.key());
        const QString program = QFile::decodeName(registry.installPath(it.key()));
        if (installState(registry, it.key()) != it->before && !program.isEmpty() &&
            QFileInfo(program).isFile()) {
            tellInstallation(game + QStringLiteral(" is installed."), QColor(0, 128, 0));
            it = m_installWatches.erase(it);
        } else if (it->patience.hasExpired()) {
            tellInstallation(game + QStringLiteral(" was not installed: its installer has not "
                                                   "recorded it after 10 minutes."),
                             QColor(255, 0, 0));
            it = m_installWatches.erase(it);
        } else {
            ++it;
        }
    }
    if (m_installWatches.isEmpty())
        m_installTimer->stop();
}

void Tlobby::attachGameDescription(Tgamedescription *description)
{
    m_gamedescription = description;
    if (m_gamedescription)
        m_gamedescription->setSiteRoot(m_siteRoot);
}

void Tlobby::ViewGameDescription1Click()
{
    showGameDescription(m_roomHint);
}

void Tlobby::showGameDescription(const QString &room)
{
    try {
        if (!m_gamedescription)
            return;
        m_gamedescription->label_gamename->setText(room);
        if (room.isEmpty())
            return;
        // The window's one transfer may be a picture of the page shown now (the menu
        // works while it runs): end it, and ask again once its transfer has unwound.
        if (m_gamedescription->busy()) {
            m_gamedescription->stop();
            QTimer::singleShot(0, this, [this, room] { showGameDescription(room); });
            return;
        }
        // The page is the game's: a ladder room drops its league and everything after,
        // an adult room the marker.
        QString game = room;
        qsizetype at = game.indexOf(QLatin1String("RMLADDER"), 0, Qt::CaseInsensitive);
        if (at < 0)
            at = game.indexOf(QLatin1String("MYLADDER"), 0, Qt::CaseInsensitive);
        if (at >= 0) {
            game.truncate(at);
        } else {
            at = game.indexOf(QLatin1String("ADULT"), 0, Qt::CaseInsensitive);
            if (at >= 0)
                game.remove(at, 5);
        }
        m_gamedescription->loadit(game.toLower());
        m_gamedescription->show();
        m_gamedescription->raise();
    } catch (const std::exception &e) {
        platform::Platform::instance().showError(QString::fromLocal8Bit(e.what()));
    }
}

void Tlobby::wireDownloads()
{
    // The menu opens on the press, not on the click, like a menu button; the button
    // itself never sees the left press.
    new TPressFilter(button_download, [this](Qt::MouseButton button, const QPoint &pos) {
        if (button != Qt::LeftButton)
            return false;
        button_downloadMouseDown(button, pos);
        return true;
    });
    // The menu is the button's context menu as well, opened right at the pointer.
    button_download->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(button_download, &QWidget::customContextMenuRequested, this, [this](const QPoint &pos) {
        popup_download->popup(button_download->mapToGlobal(pos));
    });
    connect(DownloadLobby1, &QAction::triggered, this, &Tlobby::DownloadLobby1Click);
    connect(button_downloadlobby, &QPushButton::clicked, this, &Tlobby::button_downloadlobbyClick);
    // From the keyboard, below the button.
    connect(button_download, &QPushButton::clicked, this, [this] {
        popup_download->popup(button_download->mapToGlobal(QPoint(0, button_download->height())));
    });
}

void Tlobby::button_downloadMouseDown(Qt::MouseButton button, const QPoint &pos)
{
    if (button != Qt::LeftButton)
        return;
    popup_download->popup(button_download->mapToGlobal(pos) + QPoint(2, 2));
}

bool Tlobby::downloadpopup(QAction *item)
{
    if (!item || !m_download)
        return false;
    if (item->toolTip().contains(QLatin1String("test"))) {
        platform::Platform::instance().messageBox(
            QStringLiteral("Stay Tuned, this Game is coming soon!"));
        return false;
    }
    // The window is busy from the start of a transfer, before its status line says so.
    if (m_download->busy() ||
        m_download->infolabel3->text().startsWith(QLatin1String("Downloading: "))) {
        platform::Platform::instance().messageBox(
            QStringLiteral("You are currently downloading a game. Please try again after the "
                           "download and installation is complete."));
        return false;
    }
    const QString name = item->objectName();
    const QString game = name.mid(name.indexOf(QLatin1Char('_')) + 1);
    m_download->label_gamename->setText(game);
    m_download->label_gamename2->setText(game);
    m_download->HttpCli1->setURL(siteUrl(item->toolTip()));
    m_download->setVersions(
        item->property("catalogueVersion").toByteArray(),
        platform::Registry().version(item->property("registryName").toByteArray()));
    m_download->infolabel->clear();
    m_download->infolabel3->setText(QStringLiteral(" "));
    m_download->show();
    m_download->raise();
    return true;
}

void Tlobby::autoupdate(const QByteArray &game)
{
    addlinetochat(QLatin1Char(':') + decodeWireText(game).toUpper() +
                      QStringLiteral("is Automatically Updating. You will have to restart the "
                                     "game after update is finished.:"),
                  QColor(255, 0, 0));
    // Only a download that was actually prepared may start: a refused one (another
    // still running) must not be replaced under its feet.
    if (downloadpopup(downloadItem(game)))
        m_download->getbuttonClick();
}

void Tlobby::setProgram(const QString &path, const QStringList &arguments)
{
    m_programPath = path;
    m_programArguments = arguments;
}

void Tlobby::ExtractRes(const QString &ResType, const QString &ResName, const QString &FileName)
{
    initUpdaterResource();
    QFile resource(QStringLiteral(":/") + ResType + QLatin1Char('/') + ResName);
    if (!resource.open(QIODevice::ReadOnly))
        throw std::runtime_error("The program carries no resource " + ResType.toStdString() + "/" +
                                 ResName.toStdString() + ".");
    // Written whole or not at all: a half updater must never be started.
    QSaveFile out(FileName);
    if (!out.open(QIODevice::WriteOnly) || out.write(resource.readAll()) != resource.size() ||
        !out.commit())
        throw std::runtime_error("Cannot write " + QFile::encodeName(FileName).toStdString() +
                                 ": " + out.errorString().toStdString());
}

void Tlobby::autoupdatelobby()
{
    try {
        const QString program =
            m_programPath.isEmpty() ? QCoreApplication::applicationFilePath() : m_programPath;
        const QString folder = QFileInfo(program).absolutePath();
        const QString path = folder + QLatin1Char('/') + kUpdaterName;
        if (QFileInfo(folder).exists() && !QFileInfo(folder).isWritable())
            throw std::runtime_error(
                "Halvane cannot update itself: its folder " +
                QFile::encodeName(folder).toStdString() +
                " is not writable. Update it the way it was installed (for example with the "
                "system's package manager).");
        // Another user able to write there could take the hand-over over.
        std::string why;
        if (QFileInfo(folder).exists() &&
            !ownfile::folderIsPrivate(QFile::encodeName(folder).toStdString(), &why))
            throw std::runtime_error("Halvane cannot update itself safely: " + why + ".");
        if (QFile::exists(path) && !QFile::remove(path))
            throw std::runtime_error("Cannot delete " + QFile::encodeName(path).toStdString() +
                                     ".");
        ExtractRes(QStringLiteral("EXEFILE"), QStringLiteral("UPDATEFILE"), path);
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

        // The updater starts without arguments: what it is to do waits beside it, in a new
        // file of the user's own.
        const QString jobPath = folder + QStringLiteral("/updater.ini");
        // One value per line: a line break in a value would make a key of its own.
        const auto value = [](QByteArray text) {
            return text.replace('\n', ' ').replace('\r', ' ');
        };
        QByteArray text = "[Update]\nSite=" + value(m_siteRoot.toUtf8()) +
                          "\nProgram=" + value(QFile::encodeName(program)) + "\nLock=" +
                          value(QFile::encodeName(UserPaths::runtimeFolder() +
                                                  QStringLiteral("/ostrel-lobby.lock"))) +
                          "\nArguments=" + QByteArray::number(m_programArguments.size()) + '\n';
        for (qsizetype i = 0; i < m_programArguments.size(); ++i)
            text += "Argument" + QByteArray::number(i + 1) + '=' +
                    value(m_programArguments.at(i).toUtf8()) + '\n';
        if (!ownfile::writeNew(QFile::encodeName(jobPath).toStdString(), text.toStdString(), &why))
            throw std::runtime_error(why + ".");
        platform::Platform::instance().startProgram(path, {});
        close();
    } catch (const std::exception &e) {
        platform::Platform::instance().showError(QString::fromStdString(e.what()));
    }
}

void Tlobby::DownloadLobby1Click()
{
    if (platform::Platform::instance().confirm(
            QStringLiteral("You have choosen to download Halvane. Halvane will close and "
                           "download will begin. Would you like to proceed?")))
        autoupdatelobby();
}

void Tlobby::button_downloadlobbyClick()
{
    // The site's page for downloading the lobby by hand.
    openSitePage(QStringLiteral("/lobby/"));
    close();
}

#include "lobby.h"

#include "encryptit.h"
#include "lobbysettings.h"
#include "lobbysite.h"
#include "platform.h"
#include "registry.h"
#include "relaytable.h"
#include "serveraddress.h"
#include "tanimatedbutton.h"
#include "tchatpane.h"
#include "textcodec.h"
#include "tflatbutton.h"
#include "tflatpanel.h"
#include "tfrmconnectioninfo.h"
#include "tgamestree.h"
#include "toptions.h"
#include "torvexuserinfodialog.h"
#include "troomstree.h"
#include "ttypinglimit.h"
#include "userpaths.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFontDatabase>
#include <QHostAddress>
#include <QHostInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLockFile>
#include <QNetworkInterface>
#include <QPlainTextEdit>
#include <QPointer>
#include <QScreen>
#include <QSplitter>
#include <QSystemTrayIcon>
#include <QTextBrowser>
#include <QTimer>
#include <QWindow>

#include <exception>
#include <utility>

namespace {

const QString kTrayHint = QStringLiteral("Ostrel Lobby");
const QByteArray kLobbyRoom = QByteArrayLiteral("Lobby Chat");

QString firstIPv4(const QHostInfo &info)
{
    for (const QHostAddress &a : info.addresses()) {
        if (a.protocol() == QAbstractSocket::IPv4Protocol)
            return a.toString();
    }
    return QString();
}

QByteArray stored(const QString &text)
{
    return encodeWireText(text);
}

} // namespace

void Tlobby::FormCreate()
{
    settingspath = UserPaths::getinifile(m_programFolder);
    // Held for the life of the process, so that other programs of ours can see that a
    // lobby runs; the lobby itself never asks.
    m_instanceLock = std::make_unique<QLockFile>(UserPaths::runtimeFolder() +
                                                 QStringLiteral("/ostrel-lobby.lock"));
    m_instanceLock->setStaleLockTime(0);
    m_instanceLock->tryLock(0);
    expandedstate.fill(QByteArray("1"));

    systrayicon->setToolTip(kTrayHint);
    m_trayHint = kTrayHint;
    systrayicon->setIcon(QIcon(imagelist_sysicons.value(0).isNull()
                                   ? QPixmap(QStringLiteral(":/icons/app.png"))
                                   : imagelist_sysicons.value(0)));
    if (QSystemTrayIcon::isSystemTrayAvailable())
        systrayicon->show();

    connect(qApp, &QGuiApplication::focusWindowChanged, this, &Tlobby::focusWindowChanged);
    connect(m_reconnector, &Reconnector::attemptDue, this, &Tlobby::tryReconnectNow);
    connect(m_reconnector, &Reconnector::countdown, this, &Tlobby::showReconnectCountdown);

    SetEnabledButtons();
    spamcount = 0;
    startGameListener();
}

void Tlobby::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (m_shown)
        return;
    m_shown = true;
    FormShow();
    // Becoming visible the first time counts as becoming the active form.
    QMetaObject::invokeMethod(this, &Tlobby::FormActivate, Qt::QueuedConnection);
}

QRect Tlobby::defaultBounds() const
{
    const QScreen *s = screen() ? screen() : QGuiApplication::primaryScreen();
    const QRect geometry = s ? s->geometry() : QRect(0, 0, 1024, 768);
    const int W = geometry.width();
    const int H = geometry.height();
    const int w = W > 800 ? 880 : W > 640 ? 750 : 800;
    const int h = H > 600 ? 660 : H > 480 ? 550 : 591;
    return {geometry.left() + (W - w) / 2, geometry.top() + (H - h) / 4, w, h};
}

void Tlobby::FormShow()
{
    const QRect bounds = defaultBounds();
    move(bounds.topLeft());
    resize(bounds.size());
    RestoreFormPositionGlobal();

    const QScreen *s = screen() ? screen() : QGuiApplication::primaryScreen();
    const QRect geometry = s ? s->geometry() : QRect(0, 0, 1024, 768);
    const QRect frame = frameGeometry();
    const int FX = qMax(0, (frame.width() - width()) / 2);
    const int FY = qMax(0, (frame.height() - height()) / 2);
    const int left = x() - geometry.left();
    const int top = y() - geometry.top();
    if (left < -FX || left + width() - 2 * FX > geometry.width() || top < -FY ||
        top + height() - 2 * FY > geometry.height()) {
        move(bounds.topLeft());
        resize(bounds.size());
    }
}

void Tlobby::RestoreFormPositionGlobal()
{
    const LobbySettings settings(settingspath);
    // The window keeps the bounds computed for this screen until a layout was saved.
    const QList<QByteArray> keys = settings.ini().ReadSection(LobbySettings::kSetting);
    auto saved = [&](QByteArrayView key, int current, int fallback) {
        const bool present = std::any_of(keys.begin(), keys.end(), [&](const QByteArray &k) {
            return k.compare(key, Qt::CaseInsensitive) == 0;
        });
        return present ? settings.readInt(key, fallback) : current;
    };
    const int left = saved("Left", x(), 3);
    const int top = saved("Top", y(), 2);
    const int width = saved("Width", this->width(), 800);
    const int height = saved("Height", this->height(), 591);
    move(left, top);
    resize(width, height);
    // The splitters hand extra space to the second pane, so these sizes hold.
    splitter_left->setSizes({qMax(77, settings.readInt("panel_top", 258)), 10000});
    splitter_main->setSizes({qMax(232, settings.readInt("panel_leftside1", 232)), 10000});
    panel_news->move(settings.readInt("panel_newsleft", 137),
                     settings.readInt("panel_newstop", 218));
    panel_tip->move(settings.readInt("panel_tipleft", 275), settings.readInt("panel_tiptop", 49));
    panel_create->move(settings.readInt("panel_createleft", 19),
                       settings.readInt("panel_createtop", 42));
}

void Tlobby::restoreDefaultLayout()
{
    splitter_left->setSizes({258, 10000});
    splitter_main->setSizes({232, 10000});
    move(3, 2);
    resize(800, 591);
}

void Tlobby::focusWindowChanged(QWindow *window)
{
    if (!window)
        return; // another program took the focus: coming back from it does not count
    if (window == windowHandle()) {
        const bool fromOurWindow = m_lastFocus == FocusOrigin::OtherWindow;
        m_lastFocus = FocusOrigin::Lobby;
        if (fromOurWindow)
            FormActivate();
        return;
    }
    m_lastFocus =
        window->modality() == Qt::NonModal ? FocusOrigin::OtherWindow : FocusOrigin::ModalWindow;
    // A message box or dialog opened from a modeless window is not that window.
    if (QApplication::activeModalWidget())
        m_lastFocus = FocusOrigin::ModalWindow;
}

void Tlobby::FormActivate()
{
    // While a lost connection is being tried again, a dialog on every activation would
    // only be in the way; it comes back once the tries stop.
    if (!orvex->Active() && !m_loginBoxOpen && !reconnecting())
        showloginbox();
}

void Tlobby::loadSettingsIntoOptions(const LobbySettings &settings)
{
    changePreferences(settings.readPreferences());
    const QString &font = m_prefs.textFont;
    const QString &textSize = m_prefs.textSize;
    const QString &boxSize = m_prefs.boxTextSize;
    if (!font.isEmpty())
        changefonts(font);
    if (!textSize.isEmpty())
        changetextsize(textSize);
    if (!boxSize.isEmpty())
        changeboxtextsize(boxSize);

    const QList<QByteArray> expandedKeys = settings.ini().ReadSection("Expanded");
    for (std::size_t i = 0; i < kExpandedKeys.size(); ++i) {
        expandedstate[i] = "1";
        const QByteArrayView key(kExpandedKeys[i]);
        const bool present =
            std::any_of(expandedKeys.begin(), expandedKeys.end(), [&](const QByteArray &k) {
                return k.compare(key, Qt::CaseInsensitive) == 0;
            });
        if (present)
            expandedstate[i] = settings.ini().ReadString("Expanded", key).left(1);
    }

    pmfromleft = settings.readInt("Pmfromleft", 165);
    pmfromtop = settings.readInt("Pmfromtop", 171);
    pmtoleft = settings.readInt("Pmtoleft", 232);
    pmtotop = settings.readInt("Pmtotop", 239);
}

void Tlobby::showloginbox()
{
    if (m_loginBoxOpen)
        return;
    m_loginBoxOpen = true;
    listbox_friends->clear();
    listbox_ignored->clear();
    m_favourites.clear();

    QPointer<TfrmConnectionInfo> dialog = new TfrmConnectionInfo(this);
    if (!m_serverAddress.isEmpty())
        dialog->setServerAddress(m_serverAddress);

    LobbySettings settings(settingspath);
    if (!settings.ini().isReadable()) {
        platform::Platform::instance().showError(
            QStringLiteral("The settings file %1 cannot be read. The lobby starts without "
                           "your settings and leaves the file as it is.")
                .arg(QDir::toNativeSeparators(settingspath)));
    }
    TTypingLimit::setText(dialog->edtUserId, decodeWireText(settings.read("Name")));
    TTypingLimit::setText(dialog->edtPassword, decodeWireText(LobbySettings::scramblePassword(
                                                   settings.read("Password"))));
    if (dialog->edtUserId->text().isEmpty())
        showWelcome();
    else
        dialog->edtPassword->setFocus(); // the name is known: only the password may be missing
    dialog->checkbox_savepass->setChecked(settings.read("Save") == "true");
    assistsetting = settings.read("Assist");

    // Friends are listed offline until the server says otherwise; ignored names are
    // kept in lower case.
    for (const QByteArray &name : settings.readList("Friends", "Friends"))
        listbox_friends->addItem(QLatin1Char('1') + decodeWireText(name));
    for (const QByteArray &name : settings.readList("Ignored", "Ignored"))
        listbox_ignored->addItem(decodeWireText(name).toLower());
    for (const QByteArray &room : settings.readList("Favs", "Favs"))
        m_favourites.add(decodeWireText(room));
    sortLoadedLists();
    loadSettingsIntoOptions(settings);

    const int result = dialog->exec();
    m_loginBoxOpen = false;
    if (!dialog)
        return;
    std::unique_ptr<TfrmConnectionInfo> owner(dialog.data());
    if (result != QDialog::Accepted)
        return;

    const QString userId = dialog->edtUserId->text();
    const QString password = dialog->edtPassword->text();
    if (userId.isEmpty()) {
        platform::Platform::instance().messageBox(QStringLiteral("You must enter in a user id."));
        return;
    }
    // Typing cannot put them there, but a stored value from an older version can.
    if (!TTypingLimit::isFieldText(userId)) {
        platform::Platform::instance().messageBox(
            QStringLiteral("Special Characters are not allowed in User Names."));
        return;
    }
    if (!TTypingLimit::isFieldText(password)) {
        platform::Platform::instance().messageBox(
            QStringLiteral("Special Characters are not allowed in Passwords."));
        return;
    }
    settings.write("Name", stored(userId));
    if (dialog->checkbox_savepass->isChecked()) {
        settings.write("Save", "true");
        settings.write("Password", LobbySettings::scramblePassword(stored(password)));
    } else {
        settings.write("Save", "false");
        settings.write("Password", QByteArray());
    }
    // The user's own login replaces any try still waiting.
    stopReconnecting();
    label_status->setText(QStringLiteral("Connecting..."));

    const ServerAddress server = ServerAddress::parse(dialog->serverAddress());
    const QString host = server.host;
    orvex->setPort(server.port);
    orvex->setSecure(server.secure);
    orvex->setServerName(host);

    login_userid = stored(userId.left(20));
    login_password = stored(password.left(20));
    login_isnew = dialog->isNewAccount();
    login_newuser = dialog->takeNewUser();
    resolveip(host, [this, host = host](const QString &resolved) {
        orvex->setHost(resolved.isEmpty() ? host : resolved);
        try {
            orvex->setActive(true);
        } catch (const std::exception &) {
            platform::Platform::instance().messageBox(
                QStringLiteral("Connection timed out. Try again later"));
        }
    });
}

void Tlobby::resolveip(const QString &host, std::function<void(const QString &)> done)
{
    if (m_resolveId >= 0) {
        // Only the latest request counts: an older answer must not redirect the login.
        QHostInfo::abortHostLookup(m_resolveId);
        m_resolveId = -1;
    }
    if (TOrvexConnection::IsIPAddress(host)) {
        done(host);
        return;
    }
    // Looked up in the background: a name the resolver cannot answer would otherwise
    // freeze the window until it gives up.
    m_resolveId = QHostInfo::lookupHost(host, this, [this, done](const QHostInfo &info) {
        m_resolveId = -1;
        done(firstIPv4(info));
    });
}

void Tlobby::orvexConnected()
{
    m_catalogueLines.clear();
    m_reconnector->connected();
    if (m_reconnector->reconnecting()) {
        m_reconnector->attemptConnected();
        orvex->Login(m_reconnector->name(), m_reconnector->password());
        return;
    }
    if (login_isnew && login_newuser)
        orvex->LoginNew(login_userid, QByteArray::fromStdString(login_newuser->SaveToString()));
    else
        orvex->Login(login_userid, login_password);
}

void Tlobby::orvexLoginSuccess(ostrel::TOrvexUser *)
{
    // What a lost connection logs in with: a new account's own password from now on.
    const bool backAgain = m_reconnector->loggedIn(
        login_userid, login_isnew && login_newuser
                          ? QByteArray::fromStdString(login_newuser->Password)
                          : login_password);
    SetEnabledButtons();
    label_status->setText(backAgain ? QStringLiteral("Reconnected.")
                                    : QStringLiteral("Welcome to Halvane!"));
    if (backAgain)
        addlinetoalerts(QStringLiteral("Reconnected."), QColor(0, 0, 255));
    showTopPanel(panel_gameslist);
    showPlayersPanel(panel_lobbylist);
    image_select->show();
    localip = getipnumber();
    Timer1->start();
}

void Tlobby::orvexLoginFailed(const QByteArray &text)
{
    // A refused login stays refused: trying it again would only count against us.
    stopReconnecting();
    orvex->setActive(false);
    // Closing the connection ourselves raises no disconnect event to do this.
    SetEnabledButtons();
    label_status->setText(QStringLiteral("Log in Failed"));
    platform::Platform::instance().messageBox(decodeWireText(text));
    // The dialog runs its own event loop: start it once the connection has finished
    // handling the line that refused us, not from inside that handler.
    QMetaObject::invokeMethod(this, &Tlobby::showloginbox, Qt::QueuedConnection);
}

void Tlobby::orvexDisconnected()
{
    // LoggedIn still tells whether the session that ended had logged in.
    const bool retry = m_reconnector->retriesAfterLoss(reconnectWanted(), orvex->LoggedIn());
    const QByteArray room = currentroom;
    const bool inRoom = !room.isEmpty() && room != kLobbyRoom;
    // The room's conversation survives a loss the lobby recovers from by itself.
    disconnected(retry && inRoom);
    if (!retry) {
        stopReconnecting();
        return;
    }
    addlinetoalerts(QStringLiteral("Connection lost. The lobby reconnects by itself."),
                    QColor(255, 0, 0));
    if (inRoom) {
        m_reconnector->keepRoom(room);
        addlinetochat(QStringLiteral("--- Connection lost ---"), QColor(255, 0, 0));
    }
    m_reconnector->schedule();
    SetEnabledButtons();
}

bool Tlobby::reconnectWanted() const
{
    return m_prefs.reconnect;
}

void Tlobby::orvexStringRead(const QByteArray &line)
{
    m_reconnector->lineRead(line);
}

void Tlobby::showReconnectCountdown(int seconds)
{
    label_status->setText(QStringLiteral("Connection lost. Trying again in %1 s...").arg(seconds));
}

void Tlobby::tryReconnectNow()
{
    if (orvex->Active() || !m_reconnector->beginAttempt())
        return;
    label_status->setText(QStringLiteral("Reconnecting..."));
    // The host and port of the last login are still set on the connection.
    try {
        orvex->setActive(true);
    } catch (const std::exception &) {
        m_reconnector->schedule();
        SetEnabledButtons();
    }
}

void Tlobby::stopReconnecting()
{
    if (m_reconnector->stop())
        orvex->CancelConnect();
    SetEnabledButtons();
}

bool Tlobby::orvexSocketError(int code)
{
    if (m_reconnector->attemptRunning() && !orvex->Active()) {
        // The try did not get through: the next one follows, without a box for each.
        m_reconnector->schedule();
        SetEnabledButtons();
        return true;
    }
    // Reset or aborted: an established session was lost.
    const bool loss = (code == 10054 || code == 10053) && orvex->Active() && orvex->LoggedIn();
    return m_reconnector->swallowsSocketError(reconnectWanted(), loss);
}

void Tlobby::orvexSocketErrorReport(int code, const QString &message, const QString &errorText)
{
    if (orvexSocketError(code))
        return;
    auto &seam = platform::Platform::instance();
    seam.messageBox(message);
    if (!errorText.isEmpty())
        seam.showError(errorText);
}

void Tlobby::orvexCertificateQuestion(const QString &server, const QByteArray &offered,
                                      const QString &reasons)
{
    const bool yes = platform::Platform::instance().confirm(
        QStringLiteral("The server %1 identifies itself with a certificate that this computer "
                       "does not trust (%2).\n\nOnly trust it if you know the server uses a "
                       "certificate of its own and its fingerprint is this one:\nSHA-256 "
                       "%3\n\nTrust this certificate and connect? The lobby will remember it "
                       "and refuse the server if its certificate ever changes.")
            .arg(server, reasons, TOrvexConnection::displayFingerprint(offered)),
        QStringLiteral("Unknown server certificate"));
    if (!orvex->AnswerCertificate(yes) || yes)
        return;
    platform::Platform::instance().messageBox(
        QStringLiteral("Not connected: the certificate of %1 was not trusted.").arg(server));
    // Trying again would only meet the same certificate.
    label_status->setText(QStringLiteral("You are Disconnected."));
    stopReconnecting();
}

void Tlobby::orvexCertificateChanged(const QString &server, const QByteArray &pinned,
                                     const QByteArray &offered)
{
    platform::Platform::instance().messageBox(
        QStringLiteral("The certificate of the server %1 has changed since you chose to trust "
                       "it. The server may be an impostor, so the lobby did not connect.\n\n"
                       "Trusted: SHA-256 %2\nOffered: SHA-256 %3\n\nIf the server's owner "
                       "has really replaced its certificate, remove %1 from the section "
                       "[TrustedServers] of the settings file to be asked again.")
            .arg(server, TOrvexConnection::displayFingerprint(pinned),
                 TOrvexConnection::displayFingerprint(offered)),
        QStringLiteral("Server certificate changed"));
    label_status->setText(QStringLiteral("You are Disconnected."));
    stopReconnecting();
}

QByteArray Tlobby::orvexReadPin(const QString &server) const
{
    const QByteArray stored = LobbySettings(settingspath)
                                  .ini()
                                  .ReadString(LobbySettings::kTrustedServers, server.toUtf8());
    return stored.isEmpty() ? m_sessionPins.value(server) : stored;
}

void Tlobby::orvexStorePin(const QString &server, const QByteArray &pin)
{
    if (LobbySettings(settingspath)
            .ini()
            .WriteString(LobbySettings::kTrustedServers, server.toUtf8(), pin))
        return;
    // Unkept, the trust would be asked for again at every connect, each "Yes" leading
    // straight back to the same question. It holds until the lobby closes instead.
    m_sessionPins.insert(server, pin);
    platform::Platform::instance().showError(
        QStringLiteral("The settings file %1 cannot be written, so the lobby cannot remember "
                       "that you trust the certificate of %2. It trusts it until you close "
                       "the lobby and will ask again after that.")
            .arg(QDir::toNativeSeparators(settingspath), server));
}

void Tlobby::rejoinAfterReconnect()
{
    if (m_reconnector->rejoinRoom().isEmpty() || !orvex->LoggedIn())
        return;
    const QByteArray room = m_reconnector->takeRejoinRoom();
    const QString name = decodeWireText(room);
    const QModelIndex node = lbsubjects->rooms()->room(name);
    // A room the catalogue no longer has would only be refused.
    if (!node.isValid() || orvex->CurrentSubject() == room)
        return;
    image_roomimage->setPixmap(imagelist_icons.value(nodePicture(node)));
    m_roomHint = name;
    orvex->JoinSubject(room);
}

void Tlobby::SetEnabledButtons()
{
    const bool active = orvex->Active();
    button_connect->setEnabled(!active);
    Connect1->setEnabled(!active);
    // Disconnect also ends the tries after a lost connection.
    button_disconnect->setEnabled(active || reconnecting());
    Disconnect1->setEnabled(active || reconnecting());
    button_download->setEnabled(active);
}

void Tlobby::disconnected(bool keepRoomChat)
{
    label_status->setText(QStringLiteral("You are Disconnected."));
    SetEnabledButtons();
    lbsubjects->clear();
    lbnames->clear();
    if (!keepRoomChat)
        mainchat_gameroom->clear();
    listbox_gameroom->clear();
    TreeView_gamelist->clear();
    tourneychat->clear();
    label_ingame->clear();
    panel_news->hide();
    panel_gameroom->hide();
    mychat_gameroom->clear();
    currentroom.clear();
    image_roomimage->clear();
    // No game is relayed or answered over a connection that is gone.
    relaytable->reset();
    m_hosting.reset();
    // The headings count what the lists hold: nothing now.
    updatePlayerHeadings();
}

void Tlobby::button_connectClick()
{
    // While a try waits, Connect makes it now with the same login.
    if (reconnecting()) {
        tryReconnectNow();
        return;
    }
    showloginbox();
}

void Tlobby::button_disconnectClick()
{
    stopReconnecting();
    orvex->setActive(false);
    disconnected();
}

void Tlobby::OtherOptions1Click()
{
    if (!orvex->Active()) {
        platform::Platform::instance().messageBox(
            QStringLiteral("In order to use this feature you must be connected to Halvane."));
        return;
    }
    if (m_options) {
        m_options->show();
        m_options->raise();
        m_options->activateWindow();
    }
}

void Tlobby::showWelcome()
{
    panel_beginning->move((panel_rightside->width() - panel_beginning->width()) / 2,
                          qMax(8, (panel_rightside->height() - panel_beginning->height()) / 3));
    panel_beginning->show();
    panel_beginning->raise();
}

QByteArray Tlobby::getipnumber()
{
    // Other players reach this machine through the interface it reaches the lobby server
    // with. The host name is no guide: on many systems it resolves to 127.0.1.1, and
    // resolving it can block.
    bool isV4 = false;
    const quint32 local = orvex->LocalAddress().toIPv4Address(&isV4);
    if (isV4)
        return QHostAddress(local).toString().toLatin1();
    // Not connected, or over IPv6: the machine's first IPv4 address that is not loopback.
    for (const QHostAddress &a : QNetworkInterface::allAddresses()) {
        if (a.protocol() == QAbstractSocket::IPv4Protocol && !a.isLoopback())
            return a.toString().left(20).toLatin1();
    }
    return QByteArrayLiteral("127.0.0.1");
}

bool Tlobby::checkregistry(const QByteArray &game)
{
    const QByteArray path = platform::Registry().installPath(game);
    // A record left behind by an uninstalled game names a program that is gone.
    if (path.isEmpty() || !QFileInfo(QFile::decodeName(path)).isFile())
        return false;
    m_hosting.setProgram(path);
    button_host->setStatusTip(QFile::decodeName(path));
    return true;
}

void Tlobby::Timer1Timer()
{
    if (!orvex->Active())
        return;
    if (++spamtick > 20) {
        spamcount = qMax(0, spamcount - 10);
        spamtick = 0;
    }
    const bool alert = m_prefs.pmAlert;
    if (!m_pending->isEmpty() && alert) {
        m_trayHint = m_pending->at(0).senderName();
        // The tray blinks at a calm pace, slower than this timer: each change of its
        // picture is a message to the desktop.
        if (m_trayblink == 0 || ++m_trayBlinkTicks >= kTrayBlinkTicks) {
            m_trayBlinkTicks = 0;
            m_trayblink = m_trayblink == 1 ? 2 : 1;
        }
        button_mail->show();
        button_mail->setAnimate(true);
        showTrayState();
    } else if (m_trayblink != 0) {
        m_trayHint = kTrayHint;
        m_trayblink = 0;
        m_trayBlinkTicks = 0;
        button_mail->hide();
        button_mail->setAnimate(false);
        showTrayState();
    }
    quietjoin = false;
}

void Tlobby::systrayiconClick()
{
    if (const int waiting = m_pending->indexOf(m_trayHint); waiting >= 0) {
        showaprivatemessage(waiting);
        return;
    }
    showNormal();
    raise();
    activateWindow();
}

void Tlobby::changetextsize(const QString &size)
{
    bool ok = false;
    const int points = size.trimmed().toInt(&ok);
    if (!ok || points <= 0)
        return;
    for (QWidget *w : textSizeTargets()) {
        QFont f = w->font();
        f.setPointSize(points);
        w->setFont(f);
    }
}

void Tlobby::changeboxtextsize(const QString &size)
{
    bool ok = false;
    const int points = size.trimmed().toInt(&ok);
    if (!ok || points <= 0)
        return;
    for (QWidget *w : boxSizeTargets()) {
        QFont f = w->font();
        f.setPointSize(points);
        w->setFont(f);
    }
}

void Tlobby::changefonts(const QString &family)
{
    if (family.isEmpty() || !QFontDatabase::hasFamily(family))
        return;
    for (QWidget *w : textSizeTargets() + boxSizeTargets()) {
        QFont f = w->font();
        f.setFamily(family);
        w->setFont(f);
    }
}

void Tlobby::closeEvent(QCloseEvent *event)
{
    FormClose();
    event->accept();
    emit formClosed();
}

void Tlobby::FormClose()
{
    Timer1->stop();
    stopReconnecting();
    if (orvex->Active())
        orvex->setActive(false);
    LobbySettings settings(settingspath);
    settings.write("Top", QByteArray::number(y()));
    settings.write("Left", QByteArray::number(x()));
    settings.write("Height", QByteArray::number(height()));
    settings.write("Width", QByteArray::number(width()));
    settings.write("panel_top", QByteArray::number(panel_top->height()));
    settings.write("panel_leftside1", QByteArray::number(panel_leftside1->width()));
    settings.write("panel_newstop", QByteArray::number(panel_news->y()));
    settings.write("panel_newsleft", QByteArray::number(panel_news->x()));
    settings.write("panel_tiptop", QByteArray::number(panel_tip->y()));
    settings.write("panel_tipleft", QByteArray::number(panel_tip->x()));
    settings.write("panel_createtop", QByteArray::number(panel_create->y()));
    settings.write("panel_createleft", QByteArray::number(panel_create->x()));
    settings.write("Pmfromleft", QByteArray::number(pmfromleft));
    settings.write("Pmfromtop", QByteArray::number(pmfromtop));
    settings.write("Pmtoleft", QByteArray::number(pmtoleft));
    settings.write("Pmtotop", QByteArray::number(pmtotop));
    for (std::size_t i = 0; i < kExpandedKeys.size(); ++i) {
        if (!expandedstate[i].isEmpty())
            settings.ini().WriteString("Expanded", kExpandedKeys[i], expandedstate[i]);
    }
}

void Tlobby::orvexUserInfo(ostrel::TOrvexUser *user)
{
    if (!ProfileRequested)
        return;
    ProfileRequested = false;
    // The window runs modally: open it once the connection has finished with this line,
    // and on a copy, since a later record of the same user replaces the one handed here.
    const bool own = user == orvex->User();
    auto copy = std::make_shared<ostrel::TOrvexUser>(*user);
    QMetaObject::invokeMethod(
        this, [this, copy, own] { showProfile(copy.get(), own); }, Qt::QueuedConnection);
}

void Tlobby::showProfile(ostrel::TOrvexUser *record, bool own)
{
    if (!dlgInfo->Execute(record, own))
        return;
    ostrel::TOrvexUser *user = orvex->User();
    // Only the own record is ever sent, and only while that user is still logged in.
    if (!orvex->Active() || !user || user->UserName != record->UserName)
        return;
    *user = *record;
    orvex->UserUpdate();
}

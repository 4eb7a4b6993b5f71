#include "lobby.h"

#include "hostingrules.h"
#include "lobbysettings.h"
#include "platform.h"
#include "relaytable.h"
#include "tchatpane.h"
#include "tcolor.h"
#include "textcodec.h"
#include "tflatbutton.h"
#include "tgamestree.h"
#include "tinvited.h"
#include "tplayerlist.h"
#include "tpressfilter.h"
#include "tsock.h"

#include <QAction>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>

#include <exception>

// Hosting and joining games, invitations, the room's list of current games and the
// game-presence listener.

namespace {

const QColor kBlue(0, 0, 255);

// A game only holds its presence connection open; a program that writes more than this
// to it is no game of ours.
constexpr qint64 kMostAGameWrites = 64 * 1024;
const QString kInviteToJoin = QStringLiteral("Invite to Join..");
const QString kAnotherGameHost =
    QStringLiteral("You can not host a game while playing another Ostrel Software Game.");
const QString kAnotherGameJoin =
    QStringLiteral("You can not join a game while playing another Ostrel Software Game.");

QByteArray ownName(const TOrvexConnection *orvex)
{
    const ostrel::TOrvexUser *user = orvex->User();
    return user ? QByteArray::fromStdString(user->UserName) : QByteArray();
}

void handlerError(const std::exception &e)
{
    platform::Platform::instance().showError(QString::fromLocal8Bit(e.what()));
}

bool confirm(const QByteArray &game, const char *question)
{
    return platform::Platform::instance().confirm(decodeWireText(game) + QLatin1String(question));
}

const char *const kNotInstalled = " not installed. Download Now?";
const char *const kWiseToUpdate =
    " has been updated. It would be wise of you update. Would you like to now?";
const char *const kUpdateToPreventErrors =
    " has been updated. Update now to prevent errors. Update now?";

} // namespace

void Tlobby::wireHosting()
{
    connect(Sock11, &TSock::OnInfo, this, &Tlobby::Sock11Info);
    // What arrives on a presence connection is read and dropped, never kept.
    connect(Sock11, &TSock::OnRead, this, [](TSock *sock, int) {
        const qint64 total = sock->property("written").toLongLong() + sock->Receive().size();
        sock->setProperty("written", total);
        if (total > kMostAGameWrites)
            sock->Close();
    });
    // The presence socket shows nothing itself: what failed while handling its events is
    // shown here as any handler's failure. Errors the system reports on it mean only that
    // the game's connection is over, which Sock11Info hears of.
    connect(Sock11, &TSock::OnError, this,
            [](TSock *, TSocketError error, int, const QString &msg) {
                if (error == seRaised)
                    platform::Platform::instance().showError(msg);
            });
    // The note over the list shows exactly while the list is empty, whoever changed it.
    // It hears only from the model, which also resets while the tree is being destroyed.
    QAbstractItemModel *model = TreeView_gamelist->model();
    QLabel *note = memo_empty;
    auto showNote = [model, note] { note->setVisible(model->rowCount() == 0); };
    connect(model, &QAbstractItemModel::rowsInserted, note, showNote);
    connect(model, &QAbstractItemModel::rowsRemoved, note, showNote);
    connect(model, &QAbstractItemModel::modelReset, note, showNote);
    new TPressFilter(TreeView_gamelist->viewport(),
                     [this](const QPoint &pos) { TreeView_gamelistMouseDown(pos); });
    connect(TreeView_gamelist, &QWidget::customContextMenuRequested, this,
            &Tlobby::TreeView_gamelistContextPopup);
    // A double click or Enter on the current game.
    connect(TreeView_gamelist, &QAbstractItemView::activated, this,
            [this](const QModelIndex &node) {
                TreeView_gamelistMouseDown(TreeView_gamelist->visualRect(node).center());
                TreeView_gamelistDblClick();
            });
    connect(invitetojoin2, &QAction::triggered, this, &Tlobby::invitetojoin2Click);
}

void Tlobby::attachInvited(TInvited *invited)
{
    m_invited = invited;
    if (m_invited)
        m_invited->onAccept = [this](const QByteArray &entry) { joinit(entry); };
}

QAction *Tlobby::downloadItem(const QByteArray &game) const
{
    const QByteArray name = "get_" + game;
    if (QAction *exact = m_downloadItems.value(name))
        return exact;
    // Item names compare without regard to case: an adult room's game is looked up in
    // lower case.
    for (auto it = m_downloadItems.cbegin(); it != m_downloadItems.cend(); ++it) {
        if (it.key().compare(name, Qt::CaseInsensitive) == 0)
            return it.value();
    }
    return nullptr;
}

int Tlobby::updateMark(const QByteArray &game) const
{
    const QAction *item = downloadItem(game);
    if (!item)
        return 0;
    const int mark = item->data().toInt();
    // Installers run while the lobby does: a game installed or updated since the
    // catalogue came is current now, and asking to download it again would be wrong.
    if (mark != 0 && checkregistry2(item->property("registryName").toByteArray(),
                                    item->property("catalogueVersion").toByteArray()) == 0)
        return 0;
    return mark;
}

void Tlobby::setUpdateMark(const QByteArray &game, int mark)
{
    if (QAction *item = downloadItem(game))
        item->setData(mark);
}

void Tlobby::setInviteItems(const QString &game)
{
    const QString caption =
        game.isEmpty() ? kInviteToJoin : QStringLiteral("Invite to Join ") + game;
    m_hosting.setInviteGame(game);
    for (QAction *item : {InviteToJoin1, invitetojoin2})
        item->setText(caption);
}

void Tlobby::launchGame(const QByteArray &address, bool host)
{
    // Without a program found in the registry there is nothing to start.
    if (m_hosting.program().isEmpty())
        return;
    // Each value is one argument of its own: no shell sees or splits them.
    platform::Platform::instance().startProgram(
        QFile::decodeName(m_hosting.program()),
        m_hosting.launchArguments(decodeWireText(ownName(orvex)), address, host));
}

void Tlobby::button_hostClick()
{
    try {
        if (!orvex->Active())
            return;
        if (platform::Platform::instance().gameRunning()) {
            platform::Platform::instance().messageBox(kAnotherGameHost);
            return;
        }
        const QByteArray label = encodeWireText(label_gamename->text());
        m_hosting.setMode(hostingrules::hostMode(label));
        const QByteArray game = hostingrules::gameName(label);
        const bool autoUpdates = m_prefs.updates;

        if (!checkregistry(game)) {
            if (confirm(game, kNotInstalled))
                downloadpopup(downloadItem(game));
            setUpdateMark(game, 0);
            return;
        }
        const int mark = updateMark(game);
        if (mark == 1 || mark == 2) {
            setUpdateMark(game, 0);
            if (autoUpdates) {
                autoupdate(game);
                return;
            }
            if (confirm(game, mark == 1 ? kWiseToUpdate : kUpdateToPreventErrors)) {
                downloadpopup(downloadItem(game));
                return;
            }
        }
        setUpdateMark(game, 0);
        localip = getipnumber();

        const QString gameText = decodeWireText(game);
        const QString labelText = label_gamename->text();
        setInviteItems(gameText);
        LobbySettings(settingspath).write("Hosting", label);
        button_private->show();
        button_host->hide();
        const QByteArray entry = ownName(orvex) + " - " + label;
        label_ingame->setText(hostingrules::ingameText(labelText, gameText));
        if (LobbyAssistedHosting1->isChecked() && asksRouter())
            askRouter(entry, labelText);
        else
            announceHosting(entry, LobbyAssistedHosting1->isChecked(), labelText);
    } catch (const std::exception &e) {
        handlerError(e);
    }
}

void Tlobby::announceHosting(const QByteArray &entry, bool assisted, const QString &label)
{
    if (assisted)
        orvex->AddAssisted(entry);
    else
        orvex->AddGame(entry);
    relaytable->setHosting(assisted);
    addlinetoalerts(QStringLiteral("Hosted a ") + label + QStringLiteral(" Game."), kBlue);
    launchGame(localip, true);
}

bool Tlobby::joinit(const QByteArray &entry)
{
    const hostingrules::GameEntry parts = hostingrules::splitEntry(entry);
    const QByteArray host = parts.host;
    QByteArray game = parts.game;
    if (game.isEmpty() || host.isEmpty())
        return false;

    m_hosting.setMode("e");
    static const QByteArray kAdultQuestion =
        "This is an Adult Room, You must be over 18 to join. Proceed to log into the Game?";
    for (const char *adultGame : {"Plumbrix", "Wobbleton"}) {
        if (game.contains(adultGame) && game.contains("ADULT")) {
            m_hosting.setMode("a");
            game = QByteArray(adultGame).toLower();
            if (!platform::Platform::instance().confirm(QString::fromLatin1(kAdultQuestion))) {
                m_hosting.setMode("e");
                return false;
            }
        }
    }
    game = hostingrules::withoutSuffix(game);
    const bool autoUpdates = m_prefs.updates;

    if (!checkregistry(game)) {
        if (autoUpdates) {
            autoupdate(game);
            setUpdateMark(game, 0);
        } else if (confirm(game, kNotInstalled)) {
            downloadpopup(downloadItem(game));
            setUpdateMark(game, 0);
        }
        return false;
    }
    if (updateMark(game) == 1) {
        setUpdateMark(game, 0);
        if (autoUpdates) {
            autoupdate(game);
            return false;
        }
        if (confirm(game, kWiseToUpdate)) {
            downloadpopup(downloadItem(game));
            return false;
        }
    }
    if (updateMark(game) == 2) {
        if (autoUpdates) {
            autoupdate(game);
            return false;
        }
        if (confirm(game, kUpdateToPreventErrors)) {
            downloadpopup(downloadItem(game));
            return false;
        }
    }
    setUpdateMark(game, 0);
    if (!Sock11->Listen()) {
        platform::Platform::instance().messageBox(kAnotherGameJoin);
        return false;
    }
    const QString hostText = decodeWireText(host);
    label_ingame->setText(QStringLiteral("You are in: ") + hostText);
    addlinetoalerts(QStringLiteral("Joined a ") + hostText + QStringLiteral(" Game."), kBlue);
    orvex->SendJoin(host + "|+");
    m_hosting.askedToJoin(host);
    // Only a join that was asked for takes the host button away: a refused or cancelled
    // one leaves the user free to host.
    button_host->hide();
    LobbySettings(settingspath).write("Hosting", QByteArray());
    return true;
}

void Tlobby::JoinGame1Click()
{
    try {
        joinit(encodeWireText(TreeView_gamelist->statusTip()));
    } catch (const std::exception &e) {
        handlerError(e);
    }
}

void Tlobby::TreeView_gamelistDblClick()
{
    try {
        if (TreeView_gamelist->statusTip().isEmpty())
            return;
        const QModelIndex node = TreeView_gamelist->currentIndex();
        if (!node.isValid() || node.parent().isValid())
            return;
        const QString game = TreeView_gamelist->games()->text(node);
        TreeView_gamelist->setStatusTip(game);
        joinit(encodeWireText(game));
    } catch (const std::exception &e) {
        handlerError(e);
    }
}

void Tlobby::TreeView_gamelistMouseDown(const QPoint &pos)
{
    // The tree draws no expand buttons (games show their players at all times), so only
    // empty space leaves the hint empty.
    TreeView_gamelist->setStatusTip(QString());
    const QModelIndex node = TreeView_gamelist->indexAt(pos);
    if (node.isValid() && !node.parent().isValid())
        TreeView_gamelist->setStatusTip(TreeView_gamelist->games()->text(node));
}

void Tlobby::TreeView_gamelistContextPopup(const QPoint &pos)
{
    TreeView_gamelistMouseDown(pos);
    const QString hint = TreeView_gamelist->statusTip();
    if (hint.isEmpty()) {
        JoinGame1->setEnabled(false);
        return;
    }
    JoinGame1->setText(QStringLiteral("Join ") + hint);
    JoinGame1->setEnabled(true);
    popup_joingame->popup(TreeView_gamelist->viewport()->mapToGlobal(pos));
}

void Tlobby::orvexJOINReceived(const QByteArray &, const QByteArray &id)
{
    try {
        if (ignoreListHolds(decodeWireText(id).toLower())) {
            orvex->SendIGNO(id + "|");
            return;
        }
        localip = getipnumber();
        // While the router forwards the game port, players reach the game at its address.
        orvex->SendIPTJ(id + "|" + m_hosting.addressForJoiners(localip));
    } catch (const std::exception &e) {
        handlerError(e);
    }
}

void Tlobby::orvexIPTJReceived(const QByteArray &text, const QByteArray &id)
{
    try {
        // Only the host we asked answers; anyone else's word starts nothing.
        if (!m_hosting.isJoinHost(id))
            return;
        // The address is another machine's word: only a plain IPv4 address (or the relay's
        // mark) reaches the game's command line.
        if (!hostingrules::isLaunchAddress(text)) {
            addlinetoalerts(QStringLiteral("The game was not started: ") + decodeWireText(id) +
                                QStringLiteral(" answered with \"") + decodeWireText(text) +
                                QStringLiteral("\", which is not an IPv4 address."),
                            QColor(255, 0, 0));
            return;
        }
        m_hosting.joinAnswered();
        QByteArray address = text;
        if (text == hostingrules::kAssistedAddress) {
            address = "127.0.0.1";
            startJoinerRelay(id);
            image_connection->hide();
        }
        launchGame(address, false);
    } catch (const std::exception &e) {
        handlerError(e);
    }
}

void Tlobby::orvexIGNOReceived(const QByteArray &text, const QByteArray &id)
{
    try {
        if (id != ownName(orvex))
            return;
        m_hosting.joinEnded();
        platform::Platform::instance().messageBox(
            decodeWireText(text) +
            QStringLiteral(" is ignoring you, you are not allowed to join the game."));
    } catch (const std::exception &e) {
        handlerError(e);
    }
}

void Tlobby::orvexInviteReceived(const QByteArray &text, const QByteArray &id)
{
    try {
        if (!Sock11->Listen() || !m_prefs.acceptInvites)
            return;
        // Before the invitation window shows: it may take the focus from the lobby.
        notifyInvitation(decodeWireText(id), decodeWireText(text));
        if (m_invited)
            m_invited->showInvitation(id, text);
    } catch (const std::exception &e) {
        handlerError(e);
    }
}

// The games of the room follow the player records: the game field of a record says which
// game the player is in now.
void Tlobby::updatethegamestreeview(const QString &name, const QString &, const QString &,
                                    const QString &game)
{
    const QString room = label_gamename->text();
    const QString hosted = name + QStringLiteral(" - ") + room;
    const bool listed = hostingrules::listedIn(encodeWireText(game), encodeWireText(room));
    // Most records repeat the game the player is in (a new level, another room's news):
    // the tree stays as it is, and its view need not lay out its rows again.
    TGamesTreeModel *games = TreeView_gamelist->games();
    if (listed && !games->game(name).isValid() &&
        (game == hosted || !games->find(hosted).isValid())) {
        const QModelIndex node = games->player(name);
        if (node.isValid() && games->text(node.parent()) == game)
            return;
    }
    games->removeText(name);
    if (game != hosted)
        games->removeText(hosted);
    if (!listed)
        return;
    QModelIndex root = games->game(game);
    if (!root.isValid()) {
        root = games->addGame(game);
        notifyHostedGame(name, game);
    }
    games->addPlayer(root, name);
}

void Tlobby::orvexAddGame(const QByteArray &) {}

void Tlobby::orvexDeletegame(const QByteArray &text)
{
    try {
        TGamesTreeModel *games = TreeView_gamelist->games();
        games->remove(games->find(decodeWireText(text)));
    } catch (const std::exception &e) {
        handlerError(e);
    }
}

void Tlobby::orvexServerError(const QByteArray &text)
{
    try {
        const QString shown = decodeWireText(text);
        platform::Platform::instance().messageBox(shown);
        if (!shown.toLower().contains(QLatin1String("cannot join them")))
            return;
        // The join did not happen: the user is in no game.
        m_hosting.joinEnded();
        button_host->show();
        image_connection->show();
        label_ingame->clear();
        stopRelayListener();
    } catch (const std::exception &e) {
        handlerError(e);
    }
}

void Tlobby::InviteToJoin1Click()
{
    try {
        const QByteArray player = encodeWireText(m_selectedPlayer);
        const QString hint = m_hosting.inviteGame();
        if (!hint.isEmpty()) {
            orvex->SendInvite(player + "|" + encodeWireText(hint));
            return;
        }
        const QString label = label_gamename->text();
        if (platform::Platform::instance().confirm(
                QStringLiteral("Are you sure you are hosting a ") + label +
                QStringLiteral(" Game?")))
            orvex->SendInvite(player + "|" + encodeWireText(label));
    } catch (const std::exception &e) {
        handlerError(e);
    }
}

void Tlobby::invitetojoin2Click()
{
    try {
        const QString hint = m_hosting.inviteGame();
        if (!hint.isEmpty())
            orvex->SendInvite(encodeWireText(m_selectedPlayer) + "|" + encodeWireText(hint));
    } catch (const std::exception &e) {
        handlerError(e);
    }
}

void Tlobby::button_privateClick()
{
    try {
        orvex->MakePrivate(ownName(orvex));
        button_private->hide();
    } catch (const std::exception &e) {
        handlerError(e);
    }
}

void Tlobby::button_ladderClick()
{
    try {
        if (!orvex->Active()) {
            platform::Platform::instance().messageBox(QStringLiteral("Not connected!"));
            return;
        }
        if (!m_prefs.lobbyChat) {
            mychat_gameroom->setText(QStringLiteral("Game Lobby Chat Turned Off"));
            return;
        }
        const TColor action = m_prefs.actionColor;
        addlinetochat(decodeWireText(ownName(orvex)) + QStringLiteral(" Ladder Game Anyone?"),
                      action.toQColor());
        orvex->SendChat("/me asks: Ladder Game Anyone?|" + action.toText());
    } catch (const std::exception &e) {
        handlerError(e);
    }
}

void Tlobby::startGameListener()
{
    try {
        Sock11->setListen(true);
    } catch (const ESockException &) {
        platform::Platform::instance().messageBox(
            QStringLiteral("Check to make sure there is only One Ostrel Lobby Open"));
    }
}

void Tlobby::Sock11AutoAccept(TSock *)
{
    // A game of ours runs while it is connected: the listener rests until the game's
    // connection ends, which Sock11Info hears of.
    try {
        Sock11->setListen(false);
    } catch (const ESockException &) {
    }
}

void Tlobby::Sock11Info(QObject *Sender, int, const QString &Msg)
{
    // The listener reports "Socket Closed" itself when it stops listening; only the end of
    // a game's connection counts.
    if (!Msg.contains(QLatin1String("Socket Closed")) || !Sender ||
        Sender->objectName() == QLatin1String("Sock11"))
        return;
    Sender->deleteLater();
    try {
        setInviteItems(QString());
        button_private->hide();
        button_host->show();
        image_connection->show();
        stopRelayListener();
        relaytable->setHosting(false);
        endRouterHosting();
        label_ingame->clear();
        if (Timer1->isActive() && orvex->LoggedIn())
            orvex->DeleteGame(ownName(orvex));
    } catch (const std::exception &) {
    }
    // Listen again even when logged off meanwhile: otherwise joins and invitations stay
    // refused after the next login until the user finds "Restore Socket".
    try {
        Sock11->setListen(true);
    } catch (const ESockException &) {
    }
}

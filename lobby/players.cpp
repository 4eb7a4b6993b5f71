#include "lobby.h"

#include "catalogue.h"
#include "lobbysettings.h"
#include "platform.h"
#include "playerentry.h"
#include "tchatpane.h"
#include "textcodec.h"
#include "tflatbutton.h"
#include "tgamestree.h"
#include "tlistindex.h"
#include "townerdrawdelegate.h"
#include "tpressfilter.h"
#include "troomstree.h"

#include <QAction>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPainter>
#include <QPointer>

#include <algorithm>
#include <exception>

// The players online, the room's players, the friends and ignore lists and their menus.

namespace {

const QString kLobbyChat = QStringLiteral("Lobby Chat");
const QColor kBlue(0, 0, 255);
const QColor kNavy(0, 0, 128);
const QColor kGreen(0, 128, 0);

bool textLess(const QString &a, const QString &b)
{
    return TPlayerListModel::lessThan(a, b);
}

// The row at which a text belongs in a list kept in text order.
int sortedRow(const QListWidget *list, const QString &text)
{
    int row = 0;
    while (row < list->count() && !textLess(text, list->item(row)->text()))
        ++row;
    return row;
}

// The first row whose text equals text without regard to case, or -1.
int rowOfText(const QListWidget *list, const QString &text)
{
    for (int i = 0; i < list->count(); ++i) {
        if (list->item(i)->text().compare(text, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

QList<QByteArray> listTexts(const QListWidget *list, int skip)
{
    QList<QByteArray> out;
    out.reserve(list->count());
    for (int i = 0; i < list->count(); ++i)
        out << encodeWireText(list->item(i)->text().mid(skip));
    return out;
}

void handlerError(const std::exception &e)
{
    platform::Platform::instance().showError(QString::fromLocal8Bit(e.what()));
}

// Draws a picture into the row at x, vertically centred, and returns the next x.
int drawPicture(QPainter *painter, const QRect &row, int x, const QPixmap &picture)
{
    const int side = qMin(20, row.height() - 2);
    painter->drawPixmap(QRect(x, row.top() + (row.height() - side) / 2, side, side), picture);
    return x + side + 2;
}

} // namespace

void Tlobby::wireRoomsAndPlayers()
{
    // The games tree and the two small lists are kept in order by our own sorted
    // insertion: the widgets' own sorting re-sorts everything after each change, and
    // compares with letter case. The rooms tree keeps its own order.
    lbsubjects->rooms()->setPictures(imagelist_icons);
    listbox_friends->setSortingEnabled(false);
    listbox_ignored->setSortingEnabled(false);
    m_friendsIndex = new TListIndex(listbox_friends->model(), this);
    m_ignoredIndex = new TListIndex(listbox_ignored->model(), this);

    auto drawRoomEntry = [this](QPainter *p, const QStyleOptionViewItem &o, const QModelIndex &i) {
        listbox_gameroomDrawItem(p, o, i);
    };
    for (TPlayerList *list : {lbnames, listbox_gameroom}) {
        list->setItemDelegate(new TOwnerDrawDelegate(drawRoomEntry, list));
        connect(list, &TPlayerList::mousePressed, this,
                [this, list](const QPoint &pos) { lbnamesMouseDown(list, pos); });
    }
    listbox_friends->setItemDelegate(
        new TOwnerDrawDelegate([this](QPainter *p, const QStyleOptionViewItem &o,
                                      const QModelIndex &i) { listbox_friendsDrawItem(p, o, i); },
                               listbox_friends));
    new TPressFilter(listbox_friends->viewport(),
                     [this](const QPoint &pos) { listbox_friendsMouseDown(pos); });
    new TPressFilter(listbox_ignored->viewport(),
                     [this](const QPoint &pos) { listbox_ignoredMouseDown(pos); });

    // The mail icon beside a player follows the unread messages.
    // The lists may be gone already when the pending list empties while the window is
    // being destroyed.
    auto repaintLists =
        [lists = QList<QPointer<QAbstractItemView>>{lbnames, listbox_gameroom, listbox_friends}] {
            for (const QPointer<QAbstractItemView> &list : lists) {
                if (list)
                    list->viewport()->update();
            }
        };
    // So do the friends' colours in the players lists.
    connect(m_pending, &PendingMessages::changed, this, repaintLists);
    // So do the friends' colours in the players lists (not on the friends list's reset: it
    // is also sent while that list is being destroyed).
    connect(listbox_friends->model(), &QAbstractItemModel::rowsInserted, this, repaintLists);
    connect(listbox_friends->model(), &QAbstractItemModel::rowsRemoved, this, repaintLists);
}

void Tlobby::sortLoadedLists()
{
    for (QListWidget *list : {listbox_friends, listbox_ignored}) {
        QStringList texts;
        for (int i = 0; i < list->count(); ++i)
            texts << list->item(i)->text();
        std::stable_sort(texts.begin(), texts.end(), textLess);
        list->clear();
        list->addItems(texts);
    }
}

bool Tlobby::friendsHold(const QString &entry) const
{
    return m_friendsIndex->contains(entry);
}

bool Tlobby::ignoreListHolds(const QString &name) const
{
    return m_ignoredIndex->contains(name);
}

bool Tlobby::hasPendingMessage(const QString &name) const
{
    return m_pending->hasFrom(name);
}

int Tlobby::findlbname(const QString &name, const TPlayerList *list) const
{
    return list->entries()->findName(name);
}

QString Tlobby::findplayergame(const QString &name, const TPlayerList *list) const
{
    const PlayerRow *player = list->entries()->find(name);
    return player ? player->room : QString();
}

void Tlobby::announce(const QString &name, const QString &what, bool toAlerts)
{
    const int show = m_prefs.show;
    const Notice notice =
        noticeFor(show, friendsHold(QLatin1Char('0') + name), friendsHold(QLatin1Char('1') + name));
    if (notice == Notice::None)
        return;
    const QColor colour = notice == Notice::Blue ? kBlue : kNavy;
    // Presence notices come in bursts: each pane takes a burst's lines in one go.
    TChatPane *pane = toAlerts ? listbox_alerts : mainchat_gameroom;
    pane->setScrollOff(chatscrolloff1->isChecked());
    pane->queueLine(name + what, colour);
}

void Tlobby::updatePlayerHeadings()
{
    label_gamelist->setText(QStringLiteral("Players in Lobby(%1)").arg(listbox_gameroom->count()));
    label_playerslist->setText(QStringLiteral("Players Online(%1)").arg(lbnames->count()));
}

void Tlobby::orvexAddUser(const QByteArray &text)
{
    try {
        const PlayerEntry e = PlayerEntry::parse(text);
        if (e.name.isEmpty())
            return;
        PlayerRow player = PlayerRow::decode(e, false);
        const QString &name = player.name;
        const QString &room = player.room;
        updatethelist(player);
        if (!room.isEmpty() && room != kLobbyChat && room == label_gamename->text()) {
            player.showsGame = true;
            updatethegamesplayerslist(player);
        }
        updatethegameslist(name, room);
        updatethegamestreeview(name, player.level, room, player.game);
        if (friendsHold(QLatin1Char('1') + name))
            markasonline(name);
        else if (friendsHold(QLatin1Char('0') + name))
            listbox_friends->viewport()->update();
        updatePlayerHeadings();
    } catch (const std::exception &e) {
        handlerError(e);
    }
}

void Tlobby::updatethelist(const PlayerRow &player)
{
    addListEntry(lbnames, player, QStringLiteral(" has connected."), true);
}

void Tlobby::updatethegamesplayerslist(const PlayerRow &player)
{
    addListEntry(listbox_gameroom, player, QStringLiteral(" has joined the room."), false);
}

void Tlobby::addListEntry(TPlayerList *list, const PlayerRow &player, const QString &notice,
                          bool toAlerts)
{
    const QString &name = player.name;
    if (!list->entries()->contains(name)) {
        if (!quietjoin)
            announce(name, notice, toAlerts);
        if (m_prefs.flashFriends &&
            (friendsHold(QLatin1Char('0') + name) || friendsHold(QLatin1Char('1') + name))) {
            playsounds(QStringLiteral("friends"));
            // Members listed on entering a room were there already: only a newcomer to
            // the server is a friend coming online.
            if (list == lbnames && !quietjoin)
                notifyFriendOnline(name);
        }
    }
    list->entries()->insert(player);
}

void Tlobby::orvexRemoveUser(const QByteArray &text)
{
    try {
        removeuser(decodeWireText(text));
    } catch (const std::exception &e) {
        handlerError(e);
    }
}

void Tlobby::removeuser(const QString &name)
{
    if (listbox_gameroom->entries()->removeName(name))
        announce(name, QStringLiteral(" has left the room."), false);
    removePlayerNode(name);
    updatePlayerHeadings();
}

void Tlobby::orvexGRemoveUser(const QByteArray &text)
{
    try {
        const QString name = decodeWireText(text);
        if (lbnames->entries()->removeName(name)) {
            announce(name, QStringLiteral(" has disconnected."), true);
            if (friendsHold(QLatin1Char('0') + name))
                markasoffline(name);
        }
        removePlayerNode(name);
        const QString hosted = name + QStringLiteral(" - ") + label_gamename->text();
        for (const QString &text : {hosted, name})
            TreeView_gamelist->games()->removeText(text);
        if (!name.isEmpty())
            closeRelaySlotsOf(name);
        updatePlayerHeadings();
    } catch (const std::exception &e) {
        handlerError(e);
    }
}

void Tlobby::markasonline(const QString &name)
{
    const int row = rowOfText(listbox_friends, QLatin1Char('1') + name);
    if (row < 0)
        return;
    delete listbox_friends->takeItem(row);
    listbox_friends->insertItem(0, QLatin1Char('0') + name);
}

void Tlobby::markasoffline(const QString &name)
{
    const int row = rowOfText(listbox_friends, QLatin1Char('0') + name);
    if (row < 0)
        return;
    delete listbox_friends->takeItem(row);
    const QString offline = QLatin1Char('1') + name;
    listbox_friends->insertItem(sortedRow(listbox_friends, offline), offline);
}

void Tlobby::listbox_gameroomDrawItem(QPainter *painter, const QStyleOptionViewItem &option,
                                      const QModelIndex &index)
{
    const auto *model = qobject_cast<const TPlayerListModel *>(index.model());
    if (!model)
        return;
    const PlayerRow &player = model->placed(index.row());
    const QRect row = option.rect;
    const bool selected = option.state & QStyle::State_Selected;
    painter->fillRect(row, selected ? QColor(0xe6, 0xee, 0xfa) : QColor(Qt::white));

    int x = row.left() + 2;
    if (hasPendingMessage(player.name))
        x = drawPicture(painter, row, x, imagelist_sysicons.value(3));
    const int hat = player.levelPicture(static_cast<int>(imagelist_levelicons.size()) - 1);
    x = drawPicture(painter, row, x, imagelist_levelicons.value(hat));
    x = drawPicture(painter, row, x,
                    player.room == kLobbyChat
                        ? image_lobby
                        : imagelist_icons.value(getgameimage(encodeWireText(player.room))));

    QColor colour = Qt::black;
    if (player.room == label_gamename->text())
        colour = kGreen;
    else if (player.room == kLobbyChat)
        colour = kNavy;
    QFont font = option.font;
    if (friendsHold(QLatin1Char('0') + player.name)) {
        colour = kBlue;
        font.setBold(true);
    }
    painter->setFont(font);
    painter->setPen(colour);
    painter->drawText(QRect(x + 2, row.top(), row.right() - x - 2, row.height()),
                      Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine, player.caption());
}

void Tlobby::listbox_friendsDrawItem(QPainter *painter, const QStyleOptionViewItem &option,
                                     const QModelIndex &index)
{
    const QString entry = index.data().toString();
    const bool online = entry.startsWith(QLatin1Char('0'));
    const QString name = entry.mid(1);
    const QRect row = option.rect;
    const bool selected = option.state & QStyle::State_Selected;
    painter->fillRect(row, selected ? QColor(0xe6, 0xee, 0xfa) : QColor(Qt::white));

    int x = row.left() + 2;
    if (hasPendingMessage(name))
        x = drawPicture(painter, row, x, imagelist_sysicons.value(3));
    x = drawPicture(painter, row, x, image_online.value(online ? 0 : 1));
    if (online && lbnames->entries()->contains(name)) {
        const QString room = findplayergame(name, lbnames);
        x = drawPicture(painter, row, x,
                        room == kLobbyChat
                            ? image_lobby
                            : imagelist_icons.value(getgameimage(encodeWireText(room))));
    }
    painter->setFont(option.font);
    painter->setPen(kNavy);
    painter->drawText(QRect(x + 2, row.top(), row.right() - x - 2, row.height()),
                      Qt::AlignVCenter | Qt::AlignLeft | Qt::TextSingleLine, name);
}

void Tlobby::lbnamesMouseDown(TPlayerList *list, const QPoint &pos)
{
    // The entry drawn under the mouse: asking the model for a row number would place the
    // entries still waiting first, which may move another player onto that row.
    const QModelIndex index = list->indexAt(pos);
    m_selectedPlayer = index.data(TPlayerListModel::NameRole).toString();
}

void Tlobby::listbox_friendsMouseDown(const QPoint &pos)
{
    QListWidgetItem *item = listbox_friends->itemAt(pos);
    friendsTag = item ? item->text().mid(1) : QString();
    const bool online = item && item->text().startsWith(QLatin1Char('0'));
    m_selectedPlayer = online ? item->text().mid(1) : QString();
}

void Tlobby::listbox_ignoredMouseDown(const QPoint &pos)
{
    QListWidgetItem *item = listbox_ignored->itemAt(pos);
    ignoredTag = item ? item->text() : QString();
}

void Tlobby::lbnamesContextPopup(TPlayerList *list, const QPoint &pos)
{
    const QString name = m_selectedPlayer;
    if (name.isEmpty())
        return;
    const ostrel::TOrvexUser *user = orvex->User();
    const bool moderator = user && (user->AccountClass == "T" || user->AccountClass == "H");
    Kick1->setVisible(moderator);
    Silence1->menuAction()->setVisible(moderator);
    RemoveSilence1->setVisible(moderator);
    const bool other = !user || encodeWireText(name) != QByteArray::fromStdString(user->UserName);
    SendPrivateMessage1->setEnabled(other);
    AddFriend1->setEnabled(other);
    Ignore1->setEnabled(other);
    ViewProfile1->setEnabled(true);
    // The hint of InviteToJoin1 (its status tip) names the game to invite to.
    InviteToJoin1->setVisible(!m_hosting.inviteGame().isEmpty());
    popup_player->popup(list->viewport()->mapToGlobal(pos));
}

void Tlobby::listbox_friendsContextPopup(const QPoint &pos)
{
    QListWidgetItem *item = listbox_friends->itemAt(pos);
    if (!item)
        return;
    const bool online = item->text().startsWith(QLatin1Char('0'));
    SendPrivateMessage2->setEnabled(online);
    JoinSameGameLobby1->setEnabled(online);
    ViewProfile2->setEnabled(online);
    if (online) {
        const bool canInvite = !m_hosting.inviteGame().isEmpty();
        invitetojoin2->setEnabled(canInvite);
        invitetojoin2->setVisible(canInvite);
    } else {
        invitetojoin2->setEnabled(false);
    }
    popup_friends->popup(listbox_friends->viewport()->mapToGlobal(pos));
}

void Tlobby::listbox_ignoredContextPopup(const QPoint &pos)
{
    popup_ignored->popup(listbox_ignored->viewport()->mapToGlobal(pos));
}

void Tlobby::lbnamesDblClick()
{
    const QString name = m_selectedPlayer;
    if (const int waiting = m_pending->indexOf(name, Qt::CaseInsensitive); waiting >= 0) {
        showaprivatemessage(waiting);
        return;
    }
    const ostrel::TOrvexUser *user = orvex->User();
    if (!name.isEmpty() &&
        (!user || encodeWireText(name) != QByteArray::fromStdString(user->UserName)))
        createtomessage(encodeWireText(name));
}

void Tlobby::listbox_friendsDblClick()
{
    lbnamesDblClick();
}

void Tlobby::ViewProfile1Click()
{
    // The selected player is the hint of the players list.
    const QByteArray name = encodeWireText(m_selectedPlayer);
    if (name.isEmpty())
        return;
    ProfileRequested = true;
    orvex->RequestUserInfo(name);
}

void Tlobby::ViewProfile2Click()
{
    ViewProfile1Click();
}

void Tlobby::savefriends()
{
    LobbySettings(settingspath).writeList("Friends", "Friends", listTexts(listbox_friends, 1));
    label_friendslist->setText(QStringLiteral("Friends List(%1)").arg(listbox_friends->count()));
}

void Tlobby::saveignored()
{
    LobbySettings(settingspath).writeList("Ignored", "Ignored", listTexts(listbox_ignored, 0));
    label_ignorelist->setText(QStringLiteral("Ignored List(%1)").arg(listbox_ignored->count()));
}

void Tlobby::AddFriend1Click()
{
    const QString name = m_selectedPlayer;
    if (name.isEmpty())
        return;
    if (friendsHold(QLatin1Char('1') + name) || friendsHold(QLatin1Char('0') + name))
        return;
    // Chosen from a list of players online.
    const QString entry = QLatin1Char('0') + name;
    listbox_friends->insertItem(sortedRow(listbox_friends, entry), entry);
    savefriends();
}

void Tlobby::Ignore1Click()
{
    const QString name = m_selectedPlayer.toLower();
    if (!name.isEmpty() && !ignoreListHolds(name))
        listbox_ignored->insertItem(sortedRow(listbox_ignored, name), name);
    saveignored();
}

void Tlobby::RemoveFriend1Click()
{
    for (int row = 0; !friendsTag.isEmpty() && row < listbox_friends->count(); ++row) {
        if (listbox_friends->item(row)->text().mid(1) == friendsTag) {
            delete listbox_friends->takeItem(row);
            break;
        }
    }
    friendsTag.clear();
    savefriends();
}

void Tlobby::DeleteFromIgnoreList1Click()
{
    for (int row = 0; !ignoredTag.isEmpty() && row < listbox_ignored->count(); ++row) {
        if (listbox_ignored->item(row)->text() == ignoredTag) {
            delete listbox_ignored->takeItem(row);
            break;
        }
    }
    ignoredTag.clear();
    saveignored();
}

void Tlobby::JoinSameGameLobby1Click()
{
    const QString name = m_selectedPlayer;
    const ostrel::TOrvexUser *user = orvex->User();
    if (name.isEmpty() ||
        (user && encodeWireText(name) == QByteArray::fromStdString(user->UserName)))
        return;
    const QString room = findplayergame(name, lbnames);
    // A friend not yet in the players list has no room to follow.
    if (room.isEmpty())
        return;
    image_roomimage->clear();
    m_roomHint = room;
    orvex->JoinSubject(encodeWireText(room));
}

void Tlobby::playsounds(const QString &name)
{
    // The sounds are the resources "FRIENDS", "PRIVATE" and "TOURNEY".
    platform::Platform::instance().playSound(name.toUpper());
}

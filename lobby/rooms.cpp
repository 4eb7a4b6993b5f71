#include "lobby.h"

#include "catalogue.h"
#include "lobbysettings.h"
#include "platform.h"
#include "registry.h"
#include "tabout.h"
#include "tchatpane.h"
#include "textcodec.h"
#include "tflatbutton.h"
#include "tflatpanel.h"
#include "tgamestree.h"
#include "thelp.h"
#include "tlistindex.h"
#include "troomstree.h"

#include <QAction>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QRandomGenerator>
#include <QSignalBlocker>

#include <algorithm>
#include <exception>

// The game catalogue, the rooms tree and entering and leaving rooms.

namespace {

const QString kLobbyChat = QStringLiteral("Lobby Chat");
const QString kLobbyChatNode = QStringLiteral("[Lobby Chat]");
const QColor kBlue(0, 0, 255);
// The roots made at each build, in the order they are made; the tree sorts them.
const std::array<const char *, 7> kRoots = {"Favorite Games", "Word Games", "Dice Games",
                                            "Card Games",     "Misc Games", "MYLadder Games",
                                            "RMLadder Games"};

// The flag of a root text ("Word Games" is "Word"), or -1.
int categoryOf(const QString &rootText)
{
    for (std::size_t i = 0; i < Tlobby::kExpandedKeys.size(); ++i) {
        if (rootText == QLatin1String(Tlobby::kExpandedKeys[i]) + QStringLiteral(" Games"))
            return static_cast<int>(i);
    }
    return -1;
}

} // namespace

int Tlobby::nodePicture(const QModelIndex &node)
{
    return node.isValid() ? node.data(TRoomsTreeModel::PictureRole).toInt() : -1;
}

QString Tlobby::roomNameOf(const QModelIndex &node)
{
    const QString text = node.data().toString();
    return text == kLobbyChatNode ? kLobbyChat : text;
}

void Tlobby::orvexGames(const QByteArray &text)
{
    try {
        for (const QByteArray &line : catalogue::splitLines(text))
            m_catalogueLines << decodeWireText(line);
        addgame(m_catalogueLines.join(QLatin1Char('\n')));
        lbsubjects->scrollToTop();
    } catch (const std::exception &e) {
        platform::Platform::instance().showError(QString::fromLocal8Bit(e.what()));
    }
}

// The rooms come from the catalogue; the server's room list changes nothing here.
void Tlobby::orvexAddSubject(const QByteArray &) {}

void Tlobby::orvexRemoveSubject(const QByteArray &) {}

int Tlobby::getgameimage(const QByteArray &identifier) const
{
    return catalogue::getgameimage(identifier.toLower());
}

int Tlobby::checkregistry2(const QByteArray &base, const QByteArray &version) const
{
    return catalogue::installedState(platform::Registry().version(base), version);
}

void Tlobby::addgame(const QString &text)
{
    // Setting the remembered expansion is not the user's doing: it must not count as
    // an expansion or collapse by hand.
    const QSignalBlocker blocker(lbsubjects);
    lbsubjects->clear();
    for (const char *rootText : kRoots)
        lbsubjects->rooms()->addCategory(QString::fromLatin1(rootText));
    if (m_help) {
        m_help->clearVersions();
        m_help->addVersionLine(QStringLiteral("Current Versions"));
        m_help->addVersionLine(QString());
    }
    for (const QString &lineText : text.split(QLatin1Char('\n'))) {
        const catalogue::Line line = catalogue::parseLine(encodeWireText(lineText));
        switch (line.tag) {
        case catalogue::Line::RmLadder: {
            const QByteArray id = line.id + "RMLADDER";
            addtomenu("RMLadder", id, getgameimage(id), line.version, line.path);
            break;
        }
        case catalogue::Line::MyLadder: {
            const QByteArray id = line.id + "MYLADDER";
            addtomenu("MYLadder", id, getgameimage(id), line.version, line.path);
            break;
        }
        case catalogue::Line::Game:
            if (m_help)
                m_help->addVersionLine(decodeWireText(line.id + " : Version " + line.version));
            addtomenu(line.category, line.id, getgameimage(line.id), line.version, line.path);
            if (line.id.toLower() == "plumbrix") {
                const QByteArray adult = "ADULT" + line.id;
                addtomenu(line.category, adult, getgameimage(adult), line.version, line.path);
            }
            break;
        case catalogue::Line::Version:
            checkLobbyVersion(line.version);
            break;
        case catalogue::Line::Unknown:
            break;
        }
    }
}

void Tlobby::addtomenu(const QByteArray &category, const QByteArray &identifier, int picture,
                       const QByteArray &version, const QByteArray &path)
{
    const QString id = decodeWireText(identifier);
    const QString rootText = m_favourites.contains(id)
                                 ? QStringLiteral("Favorite Games")
                                 : decodeWireText(category) + QStringLiteral(" Games");
    const QModelIndex root = lbsubjects->rooms()->category(rootText);
    if (root.isValid()) {
        lbsubjects->rooms()->addRoom(root, id, picture);
        const int flag = categoryOf(rootText);
        lbsubjects->setExpanded(root,
                                flag < 0 || expandedstate[static_cast<std::size_t>(flag)] != "2");
    }

    // One download item per game for the whole run: the first build fixes its state.
    const QByteArray itemName = "get_" + identifier;
    if (m_downloadItems.contains(itemName))
        return;
    const QString menuName = decodeWireText(category) + QStringLiteral("games2");
    QMenu *submenu = nullptr;
    for (QMenu *m : popup_download->findChildren<QMenu *>()) {
        if (m->objectName().compare(menuName, Qt::CaseInsensitive) == 0) {
            submenu = m;
            break;
        }
    }
    if (!submenu)
        return;
    const int state = checkregistry2(catalogue::registryBaseName(identifier), version);
    auto *item = new QAction(QIcon(imagelist_icons.value(picture)), id, submenu);
    item->setObjectName(decodeWireText(itemName));
    item->setToolTip(decodeWireText(path));
    item->setData(state);
    // What the mark was measured against, for measuring again later.
    item->setProperty("registryName", catalogue::registryBaseName(identifier));
    item->setProperty("catalogueVersion", version);
    item->setVisible(!catalogue::isHiddenDownload(identifier));
    connect(item, &QAction::triggered, this, [this, item] { downloadpopup(item); });
    submenu->addAction(item);
    m_downloadItems.insert(itemName, item);
}

void Tlobby::checkLobbyVersion(const QByteArray &latest)
{
    // The about box shows the running version; its label is the one place that says it.
    const QLabel *label =
        m_about ? m_about->findChild<QLabel *>(QStringLiteral("label_version")) : nullptr;
    const QByteArray running = label ? encodeWireText(label->text()) : QByteArray();
    const catalogue::SelfVersion result = catalogue::compareSelfVersion(running, latest);
    if (result == catalogue::SelfVersion::Current)
        return;
    auto showPanel = [this] {
        panel_downloadlobby->move(
            qMax(0, (panel_rightside->width() - panel_downloadlobby->width()) / 2),
            qMax(8, (panel_rightside->height() - panel_downloadlobby->height()) / 3));
        panel_downloadlobby->show();
        panel_downloadlobby->raise();
    };
    const bool automatic = m_prefs.updates;
    if (result == catalogue::SelfVersion::Unreadable || !automatic) {
        showPanel();
        return;
    }
    // The question is modal: ask it once the connection has finished with this line.
    QMetaObject::invokeMethod(
        this,
        [this, showPanel] {
            if (platform::Platform::instance().confirm(
                    QStringLiteral("Halvane needs to be updated. It will close and install the "
                                   "new version. Would you like to proceed with the update?")))
                autoupdatelobby();
            else
                showPanel();
        },
        Qt::QueuedConnection);
}

QModelIndex Tlobby::FindSubjectTreeNode(const QString &text)
{
    TRoomsTreeModel *rooms = lbsubjects->rooms();
    if (const QModelIndex category = rooms->category(text); category.isValid())
        return category;
    if (const QModelIndex room = rooms->room(text); room.isValid())
        return room;
    return rooms->player(text);
}

QModelIndex Tlobby::FindRootNode(const QString &text)
{
    return FindSubjectTreeNode(text);
}

void Tlobby::removePlayerNode(const QString &name)
{
    lbsubjects->rooms()->queueMove(name, QString());
}

void Tlobby::updatethegameslist(const QString &name, const QString &room)
{
    lbsubjects->rooms()->queueMove(name, room);
}

void Tlobby::placePlayerNodes()
{
    lbsubjects->rooms()->place();
}

void Tlobby::orvexJoinSubject(const QByteArray &text)
{
    try {
        const QString room = decodeWireText(text);
        TreeView_gamelist->clearSelection();
        currentroom = text.left(50);
        quietjoin = true;
        label_gamename->setText(room);
        // The players of the current room are drawn in their own colour.
        lbnames->viewport()->update();
        // Back in the room after a lost connection, its conversation goes on; the general
        // lobby the server puts every login into first is only a step on the way there.
        const QByteArray &kept = m_reconnector->keptChatRoom();
        const bool backInRoom = !kept.isEmpty() && text == kept;
        const bool onTheWayBack =
            !kept.isEmpty() && room == kLobbyChat && !m_reconnector->rejoinRoom().isEmpty();
        if (backInRoom)
            addlinetochat(QStringLiteral("--- Reconnected ---"), kBlue);
        else if (!onTheWayBack)
            mainchat_gameroom->clear();
        if (!onTheWayBack)
            m_reconnector->clearKeptChatRoom();
        listbox_gameroom->clear();
        TreeView_gamelist->clear();

        QModelIndex node;
        if (room == kLobbyChat) {
            node = lbsubjects->rooms()->room(kLobbyChatNode);
            if (lbnames->count() > 2)
                quietjoin = false;
        } else {
            node = lbsubjects->rooms()->room(room);
        }
        lbsubjects->setExpanded(node, true);

        if (room != kLobbyChat) {
            addlinetoalerts(QStringLiteral("Entered ") + room + QStringLiteral(" Lobby."), kBlue);
            if (node.isValid())
                image_roomimage->setPixmap(imagelist_icons.value(nodePicture(node)));
            const bool ladder = room.contains(QLatin1String("LADDER"));
            button_ladder->setVisible(ladder);
            button_whatareladders->setVisible(ladder);
            if (ladder)
                addlinetochat(
                    QStringLiteral("Ladder Leagues are a separate entity from Ostrel Lobby. If you "
                                   "have any problems or questions about Ladder Leagues please "
                                   "visit the Ladder's website or contact a Ladder Admin."),
                    kBlue);
            else
                addlinetochat(QStringLiteral("You joined the ") + room +
                                  QStringLiteral(" Game Lobby. Enjoy the Game!"),
                              kBlue);
            label_status->setText(QStringLiteral("You are in the ") + room +
                                  QStringLiteral(" Lobby"));
            label_gamelist->setText(QStringLiteral("Players in ") + room);
            label_games->setText(room + QStringLiteral(" Games"));
            panel_gameroom->show();
            panel_gameroom->raise();
            return;
        }

        static const std::array<const char *, 5> kGreetings = {
            "Greetings!", "Enjoy the Games!", "Welcome.", "Connected.", "Have a Great Day!"};
        label_status->setText(
            QString::fromLatin1(kGreetings[QRandomGenerator::global()->bounded(5u)]));
        panel_gameroom->hide();
        if (assistsetting == "true") {
            LobbyAssistedHosting1->setChecked(true);
            image_connection->setPixmap(imagelist_connection.value(1));
        }
    } catch (const std::exception &e) {
        platform::Platform::instance().showError(QString::fromLocal8Bit(e.what()));
    }
}

void Tlobby::lbsubjectsDblClick()
{
    const QModelIndex node = lbsubjects->currentIndex();
    if (!node.isValid()) {
        m_roomHint.clear();
        return;
    }
    const int picture = nodePicture(node);
    if (picture < 2)
        return;
    const QString room = roomNameOf(node);
    image_roomimage->setPixmap(imagelist_icons.value(picture));
    m_roomHint = room;
    orvex->JoinSubject(encodeWireText(room));
}

void Tlobby::lbsubjectsContextPopup(const QPoint &pos)
{
    QModelIndex node = lbsubjects->indexAt(pos);
    if (!node.isValid())
        node = lbsubjects->currentIndex();
    if (nodePicture(node) < 2)
        return;
    lbsubjects->setCurrentIndex(node);
    m_roomHint = roomNameOf(node);
    menu_favs->setText(m_favourites.contains(m_roomHint)
                           ? QStringLiteral("Remove from Favorite Games List")
                           : QStringLiteral("Move to Favorite Games List"));
    popup_rooms->popup(lbsubjects->viewport()->mapToGlobal(pos));
}

void Tlobby::menu_favsClick()
{
    if (m_roomHint.isEmpty())
        return;
    auto &seam = platform::Platform::instance();
    if (m_favourites.add(m_roomHint)) {
        seam.messageBox(QStringLiteral("This game will be listed under the Favorite Games List "
                                       "category the next time you open up Halvane."));
    } else {
        m_favourites.remove(m_roomHint);
        seam.messageBox(QStringLiteral("This game will be removed from your Favorite Games List "
                                       "the next time you open up Halvane."));
    }
    LobbySettings(settingspath).writeList("Favs", "Favs", m_favourites.entries());
}

void Tlobby::lbsubjectsExpanded(const QModelIndex &node)
{
    const int flag = categoryOf(node.data().toString());
    if (flag >= 0)
        expandedstate[static_cast<std::size_t>(flag)] = "1";
}

void Tlobby::lbsubjectsCollapsed(const QModelIndex &node)
{
    const int flag = categoryOf(node.data().toString());
    if (flag >= 0)
        expandedstate[static_cast<std::size_t>(flag)] = "2";
}

void Tlobby::JoinGameRoom1Click()
{
    if (!m_roomHint.isEmpty())
        orvex->JoinSubject(encodeWireText(m_roomHint));
}

void Tlobby::button_leavegameroomClick()
{
    orvex->JoinSubject(encodeWireText(kLobbyChat));
}

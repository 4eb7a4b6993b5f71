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
#include "thelp.h"
#include "tlistindex.h"
#include "troomstreeindex.h"
#include "ttreetextindex.h"

#include <QAction>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPlainTextEdit>
#include <QRandomGenerator>
#include <QSignalBlocker>
#include <QTreeWidget>

#include <algorithm>
#include <exception>

// The game catalogue, the rooms tree and entering and leaving rooms.

namespace {

const QString kLobbyChat = QStringLiteral("Lobby Chat");
const QString kLobbyChatNode = QStringLiteral("[Lobby Chat]");
const QColor kBlue(0, 0, 255);
// The node kind lives beside the node: 0 category, 1 player, 2 and up a room.
constexpr int kPictureRole = Qt::UserRole + 1;

// The roots made at each build, in the order they are made; the tree sorts them.
const std::array<const char *, 7> kRoots = {"Favorite Games", "Word Games", "Dice Games",
                                            "Card Games",     "Misc Games", "MYLadder Games",
                                            "RMLadder Games"};

bool nodeLess(const QString &a, const QString &b)
{
    const int folded = a.compare(b, Qt::CaseInsensitive);
    return folded != 0 ? folded < 0 : a < b;
}

// Inserts a node at its sorted place among its siblings. The tree sorts itself only
// through a full re-sort after every change, which a burst of player entries would run
// again and again; a binary search over the siblings keeps each insertion cheap.
void insertSorted(QTreeWidget *tree, QTreeWidgetItem *parent, QTreeWidgetItem *node)
{
    const QString text = node->text(0);
    int low = 0;
    int high = parent ? parent->childCount() : tree->topLevelItemCount();
    while (low < high) {
        const int mid = (low + high) / 2;
        const QTreeWidgetItem *sibling = parent ? parent->child(mid) : tree->topLevelItem(mid);
        if (nodeLess(sibling->text(0), text) || sibling->text(0) == text)
            low = mid + 1;
        else
            high = mid;
    }
    if (parent)
        parent->insertChild(low, node);
    else
        tree->insertTopLevelItem(low, node);
}

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

int Tlobby::nodePicture(const QTreeWidgetItem *node)
{
    return node ? node->data(0, kPictureRole).toInt() : -1;
}

QString Tlobby::roomNameOf(const QTreeWidgetItem *node)
{
    const QString text = node->text(0);
    return text == kLobbyChatNode ? kLobbyChat : text;
}

void Tlobby::setbold(QTreeWidgetItem *node, bool bold)
{
    QFont font = node->font(0);
    font.setBold(bold);
    node->setFont(0, font);
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
    for (const char *rootText : kRoots) {
        auto *root = new QTreeWidgetItem(QStringList{QString::fromLatin1(rootText)});
        root->setIcon(0, QIcon(imagelist_icons.value(0)));
        root->setData(0, kPictureRole, 0);
        setbold(root, true);
        insertSorted(lbsubjects, nullptr, root);
    }
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
    QTreeWidgetItem *root = nullptr;
    for (int i = 0; i < lbsubjects->topLevelItemCount() && !root; ++i) {
        if (lbsubjects->topLevelItem(i)->text(0) == rootText)
            root = lbsubjects->topLevelItem(i);
    }
    if (root) {
        auto *node = new QTreeWidgetItem(QStringList{id});
        node->setIcon(0, QIcon(imagelist_icons.value(picture)));
        node->setData(0, kPictureRole, picture);
        insertSorted(lbsubjects, root, node);
        m_treeIndex->addRoom(id, node);
        const int flag = categoryOf(rootText);
        root->setExpanded(flag < 0 || expandedstate[static_cast<std::size_t>(flag)] != "2");
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


QTreeWidgetItem *Tlobby::FindSubjectTreeNode(const QString &text)
{
    placePlayerNodes();
    for (int i = 0; i < lbsubjects->topLevelItemCount(); ++i) {
        if (lbsubjects->topLevelItem(i)->text(0) == text)
            return lbsubjects->topLevelItem(i);
    }
    if (QTreeWidgetItem *room = m_treeIndex->room(text))
        return room;
    return m_treeIndex->player(text);
}

QTreeWidgetItem *Tlobby::FindRootNode(const QString &text)
{
    return FindSubjectTreeNode(text);
}

QTreeWidgetItem *Tlobby::FindGameSubjectTreeNode(const QString &text) const
{
    return m_gamesIndex->first(text);
}

QTreeWidgetItem *Tlobby::FindGameRootNode(const QString &text) const
{
    return FindGameSubjectTreeNode(text);
}

void Tlobby::removePlayerNode(const QString &name)
{
    m_treeIndex->queueMove(name, QString());
}

void Tlobby::updatethegameslist(const QString &name, const QString &room)
{
    m_treeIndex->queueMove(name, room);
}

void Tlobby::placePlayerNodes()
{
    const QHash<QString, QString> moves = m_treeIndex->takeMoves();
    if (moves.isEmpty())
        return;
    // Only player nodes move: a player named like a room must not take the room's node
    // with them, nor be listed under another player of the room's name.
    QHash<QTreeWidgetItem *, QList<QTreeWidgetItem *>> arrivals;
    for (auto it = moves.cbegin(); it != moves.cend(); ++it) {
        delete m_treeIndex->takePlayer(it.key());
        QTreeWidgetItem *roomNode = it.value().isEmpty() ? nullptr : m_treeIndex->room(it.value());
        if (!roomNode)
            continue;
        auto *node = new QTreeWidgetItem(QStringList{it.key()});
        node->setIcon(0, QIcon(imagelist_icons.value(1)));
        node->setData(0, kPictureRole, 1);
        arrivals[roomNode] << node;
        m_treeIndex->setPlayer(it.key(), node);
    }
    for (auto it = arrivals.begin(); it != arrivals.end(); ++it) {
        QTreeWidgetItem *roomNode = it.key();
        QList<QTreeWidgetItem *> &nodes = it.value();
        // Merging walks every player of the room: worth it only for a batch that is
        // large beside the room.
        if (nodes.size() <= 16 || nodes.size() * 32 < roomNode->childCount()) {
            for (QTreeWidgetItem *node : nodes)
                insertSorted(lbsubjects, roomNode, node);
            continue;
        }
        // Many at once (entering a room lists all its players): merge them with the
        // room's players in one pass instead of shifting the children for each.
        auto less = [](const QTreeWidgetItem *a, const QTreeWidgetItem *b) {
            return nodeLess(a->text(0), b->text(0));
        };
        std::sort(nodes.begin(), nodes.end(), less);
        const QList<QTreeWidgetItem *> present = roomNode->takeChildren();
        QList<QTreeWidgetItem *> merged;
        merged.reserve(present.size() + nodes.size());
        std::merge(present.begin(), present.end(), nodes.begin(), nodes.end(),
                   std::back_inserter(merged), less);
        roomNode->addChildren(merged);
    }
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

        QTreeWidgetItem *node = nullptr;
        if (room == kLobbyChat) {
            node = m_treeIndex->room(kLobbyChatNode);
            if (lbnames->count() > 2)
                quietjoin = false;
        } else {
            node = m_treeIndex->room(room);
        }
        if (node)
            node->setExpanded(true);

        if (room != kLobbyChat) {
            addlinetoalerts(QStringLiteral("Entered ") + room + QStringLiteral(" Lobby."), kBlue);
            if (node)
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
    QTreeWidgetItem *node = lbsubjects->currentItem();
    if (!node) {
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
    QTreeWidgetItem *node = lbsubjects->itemAt(pos);
    if (!node)
        node = lbsubjects->currentItem();
    if (!node || nodePicture(node) < 2)
        return;
    lbsubjects->setCurrentItem(node);
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

void Tlobby::lbsubjectsExpanded(QTreeWidgetItem *node)
{
    const int flag = categoryOf(node->text(0));
    if (flag >= 0)
        expandedstate[static_cast<std::size_t>(flag)] = "1";
}

void Tlobby::lbsubjectsCollapsed(QTreeWidgetItem *node)
{
    const int flag = categoryOf(node->text(0));
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

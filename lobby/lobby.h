#pragma once

#include "favourites.h"
#include "hostingsession.h"
#include "lobbypreferences.h"
#include "pendingmessages.h"
#include "reconnector.h"
#include "torvexconnection.h"
#include "torvexuser.h"
#include "tplayerlist.h"
#include "tsock.h"

#include <QByteArray>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QHash>
#include <QIcon>
#include <QList>
#include <QMainWindow>
#include <QPair>
#include <QPixmap>
#include <QPoint>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <array>
#include <functional>
#include <memory>

class QAction;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QLockFile;
class QMenu;
class QPlainTextEdit;
class QSplitter;
class QStackedLayout;
class QSystemTrayIcon;
class QTimer;
class QWindow;
class TAnimatedButton;
class TChatPane;
class TFlatButton;
class TFlatPanel;
class TOptions;
class TOrvexUserInfoDialog;
class TfrmConnectionInfo;
class Thelp;
class TAbout;
class TListIndex;
class TURL;
class TRoomsTree;
class TGamesTree;
class QPainter;
class QStyleOptionViewItem;
class QModelIndex;

// The main window: the lobby form. It owns the connection to the lobby server and every
// handler of the lobby's subsystems; its definitions are split by topic (lobby.cpp builds
// the form, startup.cpp holds settings, login, timer, tray and closing, and one file per
// later topic). Controls carry the names the rest of the program knows them by, as their
// objectName too.
class Tlobby : public QMainWindow
{
    Q_OBJECT
public:
    // serverAddress overrides the login dialog's default server ("HOST" or "HOST:PORT",
    // either behind "tls://"); empty keeps the built-in one. programFolder is where a
    // settings file of an older installation may wait to be moved (the executable's
    // folder).
    explicit Tlobby(const QString &serverAddress = QString(),
                    const QString &programFolder = QString(), QWidget *parent = nullptr);
    ~Tlobby() override;

    // The secondary windows this form opens; they are created after it.
    void attachWindows(TOptions *options, Thelp *help, TAbout *about);
    TOptions *options() const { return m_options; }
    // The options in force (the options window edits a copy).
    const LobbyPreferences &preferences() const { return m_prefs; }
    Thelp *help() const { return m_help; }
    TAbout *about() const { return m_about; }

    // ---- What tests and tools read; the controls they find by objectName.
    TOrvexConnection *connection() const { return orvex; }
    QSystemTrayIcon *trayIcon() const { return systrayicon; }
    class RelayTable *relayTable() const { return relaytable; }
    class RouterPort *routerPort() const { return routerport; }
    const QString &settingsPath() const { return settingspath; }
    const QByteArray &loginName() const { return login_userid; }
    // The account the next connection logs in with, as the login dialog sets it.
    void setLogin(const QByteArray &name, const QByteArray &password)
    {
        login_userid = name;
        login_password = password;
        login_isnew = false;
    }
    const QByteArray &currentRoom() const { return currentroom; }
    const QByteArray &localAddress() const { return localip; }
    // True from joining a room until the next tick: the room's entries arrive unannounced.
    bool quietJoin() const { return quietjoin; }
    int floodCount() const { return spamcount; }
    // The ticks of Timer1 since the flood count last decayed.
    int floodTick() const { return spamtick; }
    bool profileRequested() const { return ProfileRequested; }
    // Where the next reading and writing private-message windows open.
    QPoint messageFromPlace() const { return {pmfromleft, pmfromtop}; }
    QPoint messageToPlace() const { return {pmtoleft, pmtotop}; }
    void setMessageToPlace(const QPoint &place)
    {
        pmtoleft = place.x();
        pmtotop = place.y();
    }
    void setMessageFromPlace(const QPoint &place)
    {
        pmfromleft = place.x();
        pmfromtop = place.y();
    }
    // The private-message windows opened so far (they are named after this count).
    int messageWindowsOpened() const { return pmcount; }
    const QList<QPixmap> &roomPictures() const { return imagelist_icons; }
    const QList<QPixmap> &connectionPictures() const { return imagelist_connection; }
    int trayblink() const;

private:
    // ---- Connection and components
    TOrvexConnection *orvex;
    QTimer *Timer1;
    QSystemTrayIcon *systrayicon;
    // The game-presence listener on port 9001: listening exactly while no game of ours
    // is connected to it.
    TSock *Sock11;
    TOrvexUserInfoDialog *dlgInfo = nullptr;

    // ---- Picture lists
    QList<QPixmap> imagelist_icons;      // rooms tree: 0 category, 1 player, 2.. rooms
    QList<QPixmap> imagelist_levelicons; // one per hat number
    QList<QPixmap> imagelist_sysicons;   // tray pictures 0..2, mail icon 3
    QList<QPixmap> imagelist_connection; // "Direct" and assisted hosting
    QList<QPixmap> image_online;         // online and offline marks of the friends list
    QPixmap image_lobby;                 // room picture of "Lobby Chat"

    // ---- Settings and runtime state
    QString settingspath;
    QByteArray login_userid;
    QByteArray login_password;
    bool login_isnew = false;
    std::unique_ptr<ostrel::TOrvexUser> login_newuser;
    int pmfromleft = 165;
    int pmfromtop = 171;
    int pmtoleft = 232;
    int pmtotop = 239;
    QByteArray currentroom;
    bool quietjoin = false;
    int spamcount = 0;
    int spamtick = 0;
    QByteArray localip;
    QByteArray assistsetting; // "Assist" as read at the last login dialog
    bool ProfileRequested = false;
    // The eleven categories of the rooms tree, in the order of kExpandedKeys: "1"
    // expanded, "2" collapsed.
    std::array<QByteArray, 11> expandedstate;

public:
    static constexpr std::array<const char *, 11> kExpandedKeys = {
        "Favorite", "Word",   "Dice",  "Card",     "Misc",    "Domino",
        "Board",    "Puzzle", "Other", "MYLadder", "RMLadder"};
    const std::array<QByteArray, 11> &expandedState() const { return expandedstate; }
    const QStringList &favouriteRooms() const { return m_favourites.rooms(); }
    // The player the player menus act on: the one last pressed in a list.
    const QString &selectedPlayer() const { return m_selectedPlayer; }

private:
    // ---- Form: header and status
    TFlatPanel *panel_header;
    QLabel *label_status;
    TFlatButton *button_connect;
    TFlatButton *button_disconnect;
    TFlatButton *button_download;
    TFlatButton *button_help;
    TAnimatedButton *button_mail;

    // ---- Form: left column (rooms, alerts and tournament tabs over the player tabs)
    QSplitter *splitter_main;
    QSplitter *splitter_left;
    TFlatPanel *panel_leftside1;
    TFlatPanel *panel_top;
    TFlatButton *button_gameslist;
    TFlatButton *button_alerts;
    TFlatButton *button_tourney;
    TFlatPanel *panel_gameslist;
    QLabel *image_select;
    TRoomsTree *lbsubjects;
    TFlatPanel *panel_alerts;
    TChatPane *listbox_alerts;
    QLineEdit *mychat;
    TFlatPanel *panel_tourney;
    TChatPane *tourneychat;
    TFlatButton *button_createannounce;
    TFlatPanel *panel_bottom;
    TFlatButton *button_lobbylist;
    TFlatButton *button_Friendslist;
    TFlatButton *button_ignorelist;
    TFlatPanel *panel_lobbylist;
    QLabel *label_playerslist;
    TPlayerList *lbnames;
    TFlatPanel *panel_friendslist;
    QLabel *label_friendslist;
    QListWidget *listbox_friends;
    TFlatPanel *panel_ignorelist;
    QLabel *label_ignorelist;
    QListWidget *listbox_ignored;

    // ---- Form: right side (home view and the room panel)
    TFlatPanel *panel_rightside;
    TFlatPanel *panel_home;
    TFlatPanel *panel_gameroom;
    QLabel *image_roomimage;
    QLabel *label_gamename;
    TFlatButton *button_leavegameroom;
    TFlatButton *button_ladder;
    TFlatButton *button_whatareladders;
    TChatPane *mainchat_gameroom;
    QLineEdit *mychat_gameroom;
    QLabel *label_gamelist;
    TPlayerList *listbox_gameroom;
    QLabel *label_games;
    TGamesTree *TreeView_gamelist;
    QLabel *memo_empty;
    TFlatButton *button_host;
    TFlatButton *button_private;
    QLabel *image_connection;
    TFlatButton *button_cannothost;
    QLabel *label_ingame;

    // ---- Form: floating panels
    TFlatPanel *panel_beginning;
    TFlatButton *button_beginningdone;
    TFlatButton *FlatButton1;
    TFlatPanel *panel_news;
    TChatPane *memo_news;
    TFlatPanel *panel_tip;
    QLabel *label_tip;
    TFlatButton *FlatButton4;
    TFlatPanel *panel_create;
    QLineEdit *edit_tourneyname;
    QLineEdit *edit_gamename;
    QLineEdit *edit_location;
    QComboBox *combo_hour;
    QComboBox *combo_min;
    QComboBox *combo_time;
    QComboBox *combo_checkin;
    QLineEdit *edit_comments;
    TFlatButton *button_create;
    TFlatButton *button_createclose;
    TFlatButton *FlatButton2;
    TFlatPanel *panel_downloadlobby;
    TFlatButton *button_downloadlobby;
    TFlatButton *button_closedownloadlobby;

    // ---- Main menu
    QAction *Connect1;
    QAction *Disconnect1;
    QAction *Exit1;
    QAction *LeaveGameRoom1;
    QAction *ClearGameRoomChat1;
    QAction *TurnOffGameLobbyChat1;
    QAction *OtherOptions1;
    QAction *LobbyAssistedHosting1;
    QAction *TurnOffPrivateMessages1;
    QAction *chatlog;
    QAction *Help2;
    QAction *ViewWelcomingMessage1;
    QAction *FrequentlyAskedQuestions1;
    QAction *LearnMoreAboutLadderGames1;
    QAction *ConfigureyourcomputertobeabletoHostaGame1;
    QAction *RestoreSockets1;
    QAction *About1;

    // ---- Pop-up menus
    QMenu *popup_download;
    QMenu *WordGames2;
    QMenu *DiceGames2;
    QMenu *CardGames2;
    QMenu *MiscGames2;
    QMenu *DominoGames2;
    QMenu *BoardGames2;
    QMenu *PuzzleGames2;
    QMenu *OtherGames2;
    QMenu *myLadderGames2;
    QMenu *RMLadderGames2;
    QAction *DownloadLobby1;
    QMenu *popup_rooms;
    QAction *JoinGameRoom1;
    QAction *ViewGameDescription1;
    QAction *menu_favs;
    QMenu *popup_player;
    QAction *SendPrivateMessage1;
    QAction *ViewProfile1;
    QAction *AddFriend1;
    QAction *Ignore1;
    QAction *InviteToJoin1;
    QMenu *Silence1;
    QAction *N5Minutes1;
    QAction *N30Minutes1;
    QAction *N60Minutes1;
    QAction *RemoveSilence1;
    QAction *Kick1;
    QMenu *popup_friends;
    QAction *SendPrivateMessage2;
    QAction *JoinSameGameLobby1;
    QAction *ViewProfile2;
    QAction *invitetojoin2;
    QAction *RemoveFriend1;
    QMenu *popup_ignored;
    QAction *DeleteFromIgnoreList1;
    QMenu *popup_joingame;
    QAction *JoinGame1;
    QMenu *popup_gameroomcopy;
    QAction *MenuItem2;
    QAction *chatscrolloff1;
    QMenu *popup_gameroompaste;
    QAction *MenuItem5;

public:
    // ---- Start-up, settings and login (startup.cpp)
    void FormActivate();
    void showloginbox();
    void SetEnabledButtons();
    // Empties what belonged to the session; keepRoomChat leaves the room's conversation
    // for a reconnection to continue.
    void disconnected(bool keepRoomChat = false);
    void Timer1Timer();
    void systrayiconClick();
    void FormClose();
    void RestoreFormPositionGlobal();
    // The screen-dependent bounds of a first showing.
    QRect defaultBounds() const;
    void orvexConnected();
    void orvexLoginSuccess(ostrel::TOrvexUser *user);
    void orvexLoginFailed(const QByteArray &text);
    void orvexDisconnected();
    void orvexUserInfo(ostrel::TOrvexUser *user);
    void showProfile(ostrel::TOrvexUser *record, bool own);
    void showWelcome();
    void openSitePage(const QString &path);
    QByteArray getipnumber();
    // The dotted IPv4 address of a host name, or an empty text, handed to done once it
    // is known (at once for a dotted address). A new request replaces one under way.
    void resolveip(const QString &host, std::function<void(const QString &address)> done);

private:
    int m_resolveId = -1;

public:
    // Applies the size and font settings to the panes and lists (also the options
    // window's change handlers); a value that cannot be applied changes nothing.
    void changetextsize(const QString &size);
    void changeboxtextsize(const QString &size);
    void changefonts(const QString &family);
    void restoreDefaultLayout();
    void button_connectClick();
    void button_disconnectClick();
    void OtherOptions1Click();

    // ---- Getting back after a lost connection (startup.cpp)
    // A connection lost without the user asking is tried again with the login that last
    // succeeded, after the waits of this policy; tests shrink them through its scale.
    ReconnectPolicy &reconnectPolicy() { return m_reconnector->policy(); }
    // True from a loss that is to be tried again until a try logs in or the tries stop;
    // the login dialog stays away meanwhile.
    bool reconnecting() const { return m_reconnector->reconnecting(); }
    // Whether the options ask for automatic reconnection.
    bool reconnectWanted() const;
    // Whether a login succeeded that a lost connection can be tried again with.
    bool reconnectsWithLastLogin() const { return m_reconnector->hasLogin(); }
    void stopReconnecting();
    // Starts the try that is waiting at once.
    void tryReconnectNow();
    void orvexStringRead(const QByteArray &line);
    bool orvexSocketError(int code);
    // Tells the user of a socket error unless orvexSocketError finds it need not hear of it.
    void orvexSocketErrorReport(int code, const QString &message, const QString &errorText);
    // Certificate pins of "tls://" servers, kept in the settings file by "host:port".
    QByteArray orvexReadPin(const QString &server) const;
    void orvexStorePin(const QString &server, const QByteArray &pin);
    // Asks the user whether to trust a certificate the system does not, and answers the
    // connection; tells of a changed one. A refused server is not tried again by itself.
    void orvexCertificateQuestion(const QString &server, const QByteArray &offered,
                                  const QString &reasons);
    void orvexCertificateChanged(const QString &server, const QByteArray &pinned,
                                 const QByteArray &offered);
    // After a try logged in, the server's first room confirmation puts us back in the
    // room we were in when the connection was lost.
    void rejoinAfterReconnect();

    // ---- Rooms and catalogue (rooms.cpp)
    void orvexGames(const QByteArray &text);
    void orvexAddSubject(const QByteArray &text);
    void orvexRemoveSubject(const QByteArray &text);
    void orvexJoinSubject(const QByteArray &text);
    void lbsubjectsDblClick();
    void lbsubjectsContextPopup(const QPoint &pos);
    void lbsubjectsExpanded(const QModelIndex &node);
    void lbsubjectsCollapsed(const QModelIndex &node);
    void JoinGameRoom1Click();
    void button_leavegameroomClick();
    void menu_favsClick();
    // With the web site's other windows, in updates.cpp.
    void ViewGameDescription1Click();
    // Rebuilds the rooms tree, the download items and the versions page from the whole
    // catalogue text (lines joined by line breaks).
    void addgame(const QString &text);
    void addtomenu(const QByteArray &category, const QByteArray &identifier, int picture,
                   const QByteArray &version, const QByteArray &path);
    int getgameimage(const QByteArray &identifier) const;
    // 0 installed and current, 1 older or not comparable, 2 nothing installed.
    int checkregistry2(const QByteArray &base, const QByteArray &version) const;
    // The "vers:" line: compares the running program with the newest version.
    void checkLobbyVersion(const QByteArray &latest);
    // A category by its text, else a room, else a player (the player moves still waiting
    // are placed first); an invalid index when none.
    QModelIndex FindSubjectTreeNode(const QString &text);
    QModelIndex FindRootNode(const QString &text);
    // Shows the player under the room of their latest entry, and nowhere else.
    void updatethegameslist(const QString &name, const QString &room);
    // Takes every node of the player out of the rooms tree.
    void removePlayerNode(const QString &name);
    // Carries out the player moves gathered for the rooms tree.
    void placePlayerNodes();
    // The room name a node stands for ("[Lobby Chat]" is "Lobby Chat").
    static QString roomNameOf(const QModelIndex &node);
    // 0 a category, 1 a player, 2 and up a room's picture; -1 for no node.
    static int nodePicture(const QModelIndex &node);

private:
    // The room name the room popup's commands act on (the tree's hint).
    QString m_roomHint;
    QHash<QByteArray, QAction *> m_downloadItems;

public:
    // ---- Players, friends and ignore list (players.cpp)
    void orvexAddUser(const QByteArray &text);
    void orvexRemoveUser(const QByteArray &text);
    void orvexGRemoveUser(const QByteArray &text);
    void updatethelist(const PlayerRow &player);
    void updatethegamesplayerslist(const PlayerRow &player);
    // Inserts or replaces a player's row, announcing a newcomer by the notice rule and
    // playing the friends sound; shared by the lobby list and the room list.
    void addListEntry(TPlayerList *list, const PlayerRow &player, const QString &notice,
                      bool toAlerts);
    void removeuser(const QString &name);
    int findlbname(const QString &name, const TPlayerList *list) const;
    QString findplayergame(const QString &name, const TPlayerList *list) const;
    void markasonline(const QString &name);
    void markasoffline(const QString &name);
    // Whole-entry look-ups without regard to case, answered from indexes.
    bool friendsHold(const QString &entry) const;
    bool ignoreListHolds(const QString &name) const;
    bool hasPendingMessage(const QString &name) const;
    // The join/leave notice rule over the "Show" option and the friends marks.
    void announce(const QString &name, const QString &what, bool toAlerts);
    void updatePlayerHeadings();
    void savefriends();
    void saveignored();
    // Puts the friends and ignore lists in their order after loading them.
    void sortLoadedLists();
    void listbox_gameroomDrawItem(QPainter *painter, const QStyleOptionViewItem &option,
                                  const QModelIndex &index);
    void listbox_friendsDrawItem(QPainter *painter, const QStyleOptionViewItem &option,
                                 const QModelIndex &index);
    void lbnamesMouseDown(TPlayerList *list, const QPoint &pos);
    void listbox_friendsMouseDown(const QPoint &pos);
    void listbox_ignoredMouseDown(const QPoint &pos);
    // The current games of the room (the hosting topic fills it).
    void updatethegamestreeview(const QString &name, const QString &level, const QString &room,
                                const QString &game);
    // Ends the player's assisted-hosting relay connections (the relay topic fills it).
    void closeRelaySlotsOf(const QString &name);
    void wireRoomsAndPlayers();

private:
    // The friend (bare name) and the ignored name last pressed, or empty. Names, not rows:
    // an online mark that arrives while the menu is open moves the rows.
    QString friendsTag;
    QString ignoredTag;
    TListIndex *m_friendsIndex = nullptr;
    TListIndex *m_ignoredIndex = nullptr;

public:
    void lbnamesContextPopup(TPlayerList *list, const QPoint &pos);
    void listbox_friendsContextPopup(const QPoint &pos);
    void listbox_ignoredContextPopup(const QPoint &pos);
    void lbnamesDblClick();
    void listbox_friendsDblClick();
    void ViewProfile1Click();
    void ViewProfile2Click();
    void AddFriend1Click();
    void Ignore1Click();
    void RemoveFriend1Click();
    void DeleteFromIgnoreList1Click();
    void JoinSameGameLobby1Click();
    void showPlayersPanel(TFlatPanel *panel);
    void showTopPanel(TFlatPanel *panel);
    void playsounds(const QString &name);

    // ---- Chat (chat.cpp)
    void orvexChatReceived(const QByteArray &text, const QByteArray &id);
    void orvexGhatReceived(const QByteArray &text, const QByteArray &id);
    void addlinetochat(const QString &text, const QColor &color);
    void addlinetoalerts(const QString &text, const QColor &color);
    void addlinetotchat(const QString &text, const QColor &color);
    void mychat_gameroomReturn();
    void mychatReturn();
    void ClearGameRoomChat1Click();
    void TurnOffGameLobbyChat1Click();
    // Keys typed into the two chat edits, before the edit handles them: the hint text,
    // "Not connected!" and the switched-off room chat. True swallows the key; Enter goes
    // on to the Return handlers above.
    bool mychat_gameroomKeyPress(QKeyEvent *event);
    bool mychatKeyPress(QKeyEvent *event);
    void mychatChange();
    void MenuItem2Click();
    void MenuItem5Click();
    void chatscrolloff1Click(bool checked);
    // Whether a sender's name is on the ignore list, in any letter case.
    bool isIgnored(const QByteArray &name) const;
    void wireChat();

    // ---- Private messages (privatemessages.cpp)
    void orvexPmesReceived(const QByteArray &text, const QByteArray &id);
    void showaprivatemessage(int index);
    void createtomessage(const QByteArray &name);
    void button_mailClick();
    void chatlogClick();
    // Builds the log window and wires the menu items.
    void wirePrivateMessages();
    // Deletes the open message windows without running their callbacks, which reach
    // into this window.
    void closeMessageWindows();
    // The received messages not opened yet, oldest first.
    const PendingMessages &pendingMessages() const { return *m_pending; }

private:
    int pmcount = 0;
    // The log window (the name "chatlog" is the menu item that shows it).
    class Tchatlog *m_chatlog = nullptr;
    QList<QPointer<QWidget>> m_messageWindows;

public:
    // ---- Desktop notifications and the tray's message count (notifications.cpp)
    // True while the user is looking at this window: shown, not minimised and active.
    bool userIsHere() const;
    // Hands a notification to the platform unless the user is looking at this window; a
    // click on it brings this window to the front and then runs `then`, if given.
    void notifyAway(const QString &summary, const QString &body,
                    const std::function<void()> &then = {});
    // The urgency hint on this window, unless the user is looking at it.
    void askAttentionAway();
    void notifyPrivateMessage(const QString &sender, const QString &messageText);
    void notifyFriendOnline(const QString &name);
    void notifyInvitation(const QString &inviter, const QString &game);
    void notifyHostedGame(const QString &host, const QString &entry);
    // Draws the tray picture of the blink state with the waiting-message count over it
    // and sets the tooltip; called whenever either changes.
    void showTrayState();

    // ---- Hosting, joining and invitations (hosting.cpp)
    void button_hostClick();
    void button_privateClick();
    void button_ladderClick();
    // True when the join request went out (the user is then in that game).
    bool joinit(const QByteArray &entry);
    void JoinGame1Click();
    void orvexJOINReceived(const QByteArray &text, const QByteArray &id);
    void orvexIPTJReceived(const QByteArray &text, const QByteArray &id);
    void orvexIGNOReceived(const QByteArray &text, const QByteArray &id);
    void orvexInviteReceived(const QByteArray &text, const QByteArray &id);
    void orvexAddGame(const QByteArray &text);
    void orvexDeletegame(const QByteArray &text);
    void orvexServerError(const QByteArray &text);
    void InviteToJoin1Click();
    void invitetojoin2Click();
    void TreeView_gamelistMouseDown(const QPoint &pos);
    void TreeView_gamelistContextPopup(const QPoint &pos);
    void TreeView_gamelistDblClick();
    void startGameListener();
    void Sock11AutoAccept(TSock *NewSock);
    void Sock11Info(QObject *Sender, int SocketInfo, const QString &Msg);
    // Whether the game of that name is installed: fills gameexepath and the host button's
    // hint with its program when the program file exists.
    bool checkregistry(const QByteArray &game);
    // Starts the game program: as host with our own address, as joiner with the host's.
    void launchGame(const QByteArray &address, bool host);
    // Offers the hosted game to the room (directly or assisted) and starts it.
    void announceHosting(const QByteArray &entry, bool assisted, const QString &label);
    // The download item of a game ("get_" + name, in any letter case), or nullptr.
    QAction *downloadItem(const QByteArray &game) const;
    // The update mark of a game's download item (0 without one), and setting it.
    int updateMark(const QByteArray &game) const;
    void setUpdateMark(const QByteArray &game, int mark);
    // The invitation items name the hosted game, or nothing.
    void setInviteItems(const QString &game);
    void wireHosting();
    void attachInvited(class TInvited *invited);
    // What is hosted or joined, the game program and its mode, the invitation's game.
    HostingSession &hostingSession() { return m_hosting; }
    const HostingSession &hostingSession() const { return m_hosting; }

private:
    class TInvited *m_invited = nullptr;

public:
    // ---- Downloads and updates (updates.cpp)
    // The site downloads and help pages come from ("http://host/", closing slash).
    void setSiteRoot(const QString &root);
    const QString &siteRoot() const { return m_siteRoot; }
    // The address of a path on the site (a leading slash or not).
    QString siteUrl(const QString &path) const;
    void attachDownload(class Tdownload *download);
    // Follows an installer the download window started until its install record says the
    // game is there, and tells the room (or the general chat) the outcome.
    void watchInstallation(const QString &game);
    void checkInstallations();
    void tellInstallation(const QString &line, const QColor &color);

private:
    struct InstallWatch
    {
        QString before; // the record as it was when the installer started
        QDeadlineTimer patience;
    };
    QHash<QByteArray, InstallWatch> m_installWatches;
    QTimer *m_installTimer = nullptr;

public:
    void attachGameDescription(class Tgamedescription *description);
    // Shows the description page of the game a room stands for.
    void showGameDescription(const QString &room);
    void wireDownloads();
    // Opens the download menu under a left press, a little right of and below it.
    void button_downloadMouseDown(Qt::MouseButton button, const QPoint &pos);
    // Prepares and shows the download window for a download item's game; false when it
    // was refused (a game still to come, a download already running, no item).
    bool downloadpopup(QAction *item);
    // Downloads and installs a game at once, telling the room.
    void autoupdate(const QByteArray &game);
    // The program's own update: writes out the updater it carries, hands it what to do
    // and closes; a failure is shown and the lobby stays open.
    void autoupdatelobby();
    void DownloadLobby1Click();
    void button_downloadlobbyClick();
    // Writes the program's resource ":/ResType/ResName" to FileName (created or
    // replaced); throws std::runtime_error when it cannot.
    void ExtractRes(const QString &ResType, const QString &ResName, const QString &FileName);
    // The running program and its arguments: the updater starts it again with them.
    void setProgram(const QString &path, const QStringList &arguments);
    const QString &programPath() const { return m_programPath; }

private:
    TURL *URL;
    QString m_siteRoot;
    QString m_programPath;
    QStringList m_programArguments;
    class Tdownload *m_download = nullptr;
    class Tgamedescription *m_gamedescription = nullptr;

public:
    // ---- Assisted hosting relay (relay.cpp)
private:
    // The relay's slots, listener and rules; the handlers below are thin calls into it.
    class RelayTable *relaytable = nullptr;

public:
    void wireRelay();
    void image_connectionClick();
    // Stores the switch's state and shows it on the indicator.
    void applyAssistedHosting();
    void orvexDatasendReceived(const QByteArray &text, const QByteArray &id);
    // Where joining an assisted game hands over to the relay: slot 0 takes the host as
    // its peer and the relay listener starts for the joiner's game.
    void startJoinerRelay(const QByteArray &host);
    // Stops the relay listener, errors ignored.
    void stopRelayListener();
    void LobbyAssistedHosting1Click();
    void RestoreSockets1Click();
    // Before a game goes through the relay, the home router is asked to forward the game
    // port; the game is announced when it answers (routerAnswered), direct or assisted.
private:
    class RouterPort *routerport = nullptr;

public:
    // Whether hosting asks the router first (OSTREL_ASK_ROUTER=0 turns it off).
    static bool asksRouter();
    void askRouter(const QByteArray &entry, const QString &label);
    void routerAnswered(bool opened, const QString &publicAddress);
    // The end of a hosted game: the router's mapping goes, the indicator shows the switch.
    void endRouterHosting();

    // ---- News, announcements and moderation (news.cpp)
    void orvexShout(const QByteArray &text);
    void orvexNews(const QByteArray &text);
    void image_createannouncementClick();
    void button_createClick();
    void button_createcloseClick();
    void FlatButton2Click();
    void FlatButton4Click();
    void N5Minutes1Click(int minutes);
    void RemoveSilence1Click();
    void Kick1Click();

private:
    // Once news was recognised as seen before, the news pane stays maroon.
    bool m_newsMaroon = false;

signals:
    // The main window has closed: the program ends.
    void formClosed();

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void buildForm();
    void buildHeader(QWidget *parent);
    void buildLeftColumn();
    void buildRightSide();
    void buildFloatingPanels();
    void buildMenus();
    void buildPictures();
    void wireConnection();
    void FormCreate();
    void FormShow();
    void focusWindowChanged(QWindow *window);
    void loadSettingsIntoOptions(const class LobbySettings &settings);
    // Takes new preferences and shows them in the options window.
    void changePreferences(const LobbyPreferences &preferences);
    // The options window changed something: sizes apply at once.
    void optionsChanged(const LobbyPreferences &preferences);
    void resetMessageWindowPlaces();
    void requestOwnProfile();
    QList<QWidget *> textSizeTargets() const;
    QList<QWidget *> boxSizeTargets() const;

    QString m_serverAddress;
    QString m_programFolder;
    HostingSession m_hosting;
    // The rooms listed under "Favorite Games".
    Favourites m_favourites;
    // The catalogue lines received since the connection was made.
    QStringList m_catalogueLines;
    // The player the player menus act on: last pressed in a players list, or an online
    // friend pressed in the friends list.
    QString m_selectedPlayer;
    LobbyPreferences m_prefs;
    PendingMessages *m_pending = nullptr;
    std::unique_ptr<QLockFile> m_instanceLock;
    TOptions *m_options = nullptr;
    Thelp *m_help = nullptr;
    TAbout *m_about = nullptr;
    bool m_shown = false;
    bool m_loginBoxOpen = false;
    // What had the focus last: activation from another window of ours (not a modal
    // dialog, not another program) brings the login dialog back.
    enum class FocusOrigin { None, Lobby, OtherWindow, ModalWindow };
    FocusOrigin m_lastFocus = FocusOrigin::None;
    QStackedLayout *m_topStack = nullptr;
    QStackedLayout *m_playersStack = nullptr;
    int m_trayblink = 0;
    QString m_trayHint;
    // The tray picture changes every this many ticks of Timer1 while messages wait.
    static constexpr int kTrayBlinkTicks = 3;
    int m_trayBlinkTicks = 0;
    // The tray pictures drawn so far, by blink state and waiting count, and the one shown.
    QHash<QPair<int, int>, QIcon> m_trayIcons;
    QPair<int, int> m_trayShown{-1, -1};

    void showReconnectCountdown(int seconds);
    // The tries after a lost connection: timers, the login they use, the room to rejoin.
    class Reconnector *m_reconnector;
    // Certificates the user trusted that the settings file could not take: kept for the
    // life of the program, by "host:port".
    QHash<QString, QByteArray> m_sessionPins;
};

#include "lobby.h"
#include "accessibility.h"

#include "assets.h"
#include "lobbysettings.h"
#include "lobbysite.h"
#include "lobbystyle.h"
#include "platform.h"
#include "tabout.h"
#include "tanimatedbutton.h"
#include "tchatpane.h"
#include "tflatbutton.h"
#include "tflatpanel.h"
#include "tgamestree.h"
#include "thelp.h"
#include "tlabelslot.h"
#include "toptions.h"
#include "torvexuserinfodialog.h"
#include "tpaintpacer.h"
#include "tpaneldragger.h"
#include "tplayerlist.h"
#include "troomstree.h"
#include "tsock.h"
#include "turl.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLockFile>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QSplitter>
#include <QStackedLayout>
#include <QSystemTrayIcon>
#include <QTimer>
#include <QVBoxLayout>

namespace {

template <typename T> T *named(T *object, const char *name)
{
    object->setObjectName(QString::fromLatin1(name));
    return object;
}

QLabel *label(const QString &text, const char *role = nullptr, QWidget *parent = nullptr)
{
    auto *l = new QLabel(text, parent);
    if (role)
        l->setProperty("role", QString::fromLatin1(role));
    return l;
}

TChatPane *pane(const char *name)
{
    return named(new TChatPane, name);
}

QListWidget *playerList(const char *name)
{
    auto *l = named(new QListWidget, name);
    l->setSortingEnabled(true);
    l->setUniformItemSizes(true);
    l->setContextMenuPolicy(Qt::CustomContextMenu);
    return l;
}

// A title strip for the floating panels: the part the user drags them by.
TFlatPanel *titleBar(const QString &title, QWidget *closeButton = nullptr)
{
    auto *bar = new TFlatPanel(QStringLiteral("titlebar"));
    auto *row = new QHBoxLayout(bar);
    row->setContentsMargins(12, 6, 6, 6);
    row->addWidget(label(title));
    row->addStretch();
    if (closeButton)
        row->addWidget(closeButton);
    return bar;
}

QVBoxLayout *column(QWidget *parent, int margin = 0, int spacing = 6)
{
    auto *layout = new QVBoxLayout(parent);
    layout->setContentsMargins(margin, margin, margin, margin);
    layout->setSpacing(spacing);
    return layout;
}

} // namespace

Tlobby::Tlobby(const QString &serverAddress, const QString &programFolder, QWidget *parent)
    : QMainWindow(parent), m_serverAddress(serverAddress), m_programFolder(programFolder)
{
    setObjectName(QStringLiteral("lobby"));
    setWindowTitle(QStringLiteral("Halvane"));
    orvex = named(new TOrvexConnection(this), "orvex");
    Timer1 = named(new QTimer(this), "Timer1");
    Timer1->setInterval(500);
    systrayicon = named(new QSystemTrayIcon(this), "systrayicon");
    Sock11 = named(new TSock(this), "Sock11");
    Sock11->setSocketType(stStream);
    Sock11->setHostName(QStringLiteral("127.0.0.1"));
    // Our games report to 9001. Tests, and a second lobby for development on one
    // machine, move it with OSTREL_GAME_PORT ("0" picks a free port).
    Sock11->setPortName(qEnvironmentVariable("OSTREL_GAME_PORT", QStringLiteral("9001")));
    Sock11->setBlocking(false);
    Sock11->setAutoAccept(true);
    dlgInfo = named(new TOrvexUserInfoDialog(this), "dlgInfo");
    dlgInfo->Title = QStringLiteral("Ostrel Lobby User Info");
    dlgInfo->ValidInfoTokens = {QStringLiteral("level"), QString()};
    URL = named(new TURL(this), "URL");
    m_pending = new PendingMessages(this);
    m_reconnector = new Reconnector(this);
    // Presence news of a busy lobby streams in: the window is painted at most every
    // few hundredths of a second meanwhile.
    new TPaintPacer(this);
    setSiteRoot(lobbysite::kSiteRoot);
    buildPictures();
    buildForm();
    buildMenus();
    wireConnection();
    wireRoomsAndPlayers();
    wirePrivateMessages();
    wireHosting();
    wireRelay();
    FormCreate();
    accessibility::nameControls(this, {{"button_mail", "Private messages waiting"},
                                       {"button_help", "Help"},
                                       {"lbsubjects", "Rooms"},
                                       {"mychat", "Lobby chat message"},
                                       {"mainchat_gameroom", "Room chat"},
                                       {"mychat_gameroom", "Room chat message"},
                                       {"listbox_gameroom", "Players in the room"},
                                       {"TreeView_gamelist", "Games hosted in the room"},
                                       {"lbnames", "Players online"},
                                       {"listbox_friends", "Friends"},
                                       {"listbox_ignored", "Ignored players"},
                                       {"listbox_alerts", "Lobby chat"},
                                       {"tourneychat", "Tournament announcements"},
                                       {"memo_news", "News"},
                                       {"combo_hour", "Tournament hour"},
                                       {"combo_min", "Tournament minute"},
                                       {"combo_time", "Morning or afternoon"},
                                       {"log", "Private message log"}});
}

Tlobby::~Tlobby()
{
    closeMessageWindows();
    // The connection must not report a disconnect into a half-destroyed form.
    orvex->disconnect(this);
    orvex->setActive(false);
}

void Tlobby::attachWindows(TOptions *options, Thelp *help, TAbout *about)
{
    m_options = options;
    m_help = help;
    m_about = about;
    if (!m_options)
        return;
    m_options->setPreferences(m_prefs);
    connect(m_options, &TOptions::preferencesChanged, this, &Tlobby::optionsChanged);
    connect(m_options, &TOptions::fontChosen, this, &Tlobby::changefonts);
    connect(m_options, &TOptions::preferencesDone, this,
            [this](const LobbyPreferences &p) { LobbySettings(settingspath).writePreferences(p); });
    connect(m_options, &TOptions::restoreLayoutRequested, this, [this] {
        restoreDefaultLayout();
        // Applied again even where a size was "8" already.
        changeboxtextsize(m_prefs.boxTextSize);
        changetextsize(m_prefs.textSize);
        changefonts(QApplication::font().family());
    });
    connect(m_options, &TOptions::pmLocationsReset, this, &Tlobby::resetMessageWindowPlaces);
    connect(m_options, &TOptions::editProfileRequested, this, &Tlobby::requestOwnProfile);
}

void Tlobby::changePreferences(const LobbyPreferences &preferences)
{
    m_prefs = preferences;
    if (m_options)
        m_options->setPreferences(m_prefs);
}

void Tlobby::optionsChanged(const LobbyPreferences &preferences)
{
    const LobbyPreferences before = std::exchange(m_prefs, preferences);
    if (m_prefs.textSize != before.textSize)
        changetextsize(m_prefs.textSize);
    if (m_prefs.boxTextSize != before.boxTextSize)
        changeboxtextsize(m_prefs.boxTextSize);
}

void Tlobby::resetMessageWindowPlaces()
{
    LobbySettings settings(settingspath);
    settings.write("Pmfromleft", "165");
    settings.write("Pmfromtop", "171");
    settings.write("Pmtoleft", "232");
    settings.write("Pmtotop", "239");
    pmfromleft = 165;
    pmfromtop = 171;
    pmtoleft = 232;
    pmtotop = 239;
}

void Tlobby::requestOwnProfile()
{
    if (!orvex->User())
        return;
    ProfileRequested = true;
    orvex->RequestUserInfo(QByteArray::fromStdString(orvex->User()->UserName));
}

int Tlobby::trayblink() const
{
    return m_trayblink;
}

void Tlobby::buildPictures()
{
    const QSize small(20, 20);
    for (int i = 0; i < 3; ++i)
        imagelist_sysicons << assets::trayIcon(i).pixmap(small);
    imagelist_sysicons << assets::mailIcon().pixmap(small);
    imagelist_levelicons.reserve(assets::kHatCount);
    for (int i = 0; i < assets::kHatCount; ++i)
        imagelist_levelicons << assets::hatPixmap(i, devicePixelRatioF());
    imagelist_icons.reserve(assets::kRoomPictureCount);
    for (int i = 0; i < assets::kRoomPictureCount; ++i)
        imagelist_icons << assets::roomIcon(i).pixmap(small);
    imagelist_connection << assets::connectionPicture(0).pixmap(48, 26)
                         << assets::connectionPicture(1).pixmap(48, 26);
    image_online << assets::onlineIcon().pixmap(small) << assets::offlineIcon().pixmap(small);
    image_lobby = assets::lobbyIcon().pixmap(small);
}

void Tlobby::buildForm()
{
    auto *central = named(new QWidget(this), "centralwidget");
    central->setMinimumSize(794, 545);
    setCentralWidget(central);
    auto *outer = column(central);
    outer->setSpacing(0);

    buildHeader(central);
    outer->addWidget(panel_header);

    auto *body = new QWidget(central);
    auto *bodyLayout = column(body, 10);
    splitter_main = named(new QSplitter(Qt::Horizontal, body), "splitter_main");
    splitter_main->setChildrenCollapsible(false);
    splitter_main->setHandleWidth(10);
    bodyLayout->addWidget(splitter_main);
    outer->addWidget(body, 1);

    buildLeftColumn();
    buildRightSide();
    splitter_main->addWidget(panel_leftside1);
    splitter_main->addWidget(panel_rightside);
    splitter_main->setStretchFactor(0, 0);
    splitter_main->setStretchFactor(1, 1);
    buildFloatingPanels();
}

void Tlobby::buildHeader(QWidget *parent)
{
    panel_header = named(new TFlatPanel(QStringLiteral("header"), parent), "panel_header");
    auto *row = new QHBoxLayout(panel_header);
    row->setContentsMargins(14, 8, 12, 8);
    row->setSpacing(8);
    auto *logo = new QLabel(panel_header);
    logo->setPixmap(assets::appIcon().pixmap(28, 28));
    row->addWidget(logo);
    row->addWidget(label(QStringLiteral("Halvane"), "title", panel_header));
    row->addSpacing(12);
    label_status =
        named(label(QStringLiteral("Not Connected"), "status", panel_header), "label_status");
    row->addWidget(label_status);
    row->addStretch();
    button_mail = named(new TAnimatedButton(panel_header), "button_mail");
    button_mail->setFrames(
        {assets::mailFrame(0).pixmap(32, 32), assets::mailFrame(1).pixmap(32, 32)}, 300);
    button_mail->setToolTip(QStringLiteral("You have a private message"));
    button_mail->hide();
    row->addWidget(button_mail);
    button_connect =
        named(new TFlatButton(QStringLiteral("&Connect"), panel_header), "button_connect");
    button_connect->setKind(QStringLiteral("accent"));
    button_disconnect =
        named(new TFlatButton(QStringLiteral("&Disconnect"), panel_header), "button_disconnect");
    button_download =
        named(new TFlatButton(QStringLiteral("Do&wnload Games"), panel_header), "button_download");
    button_help = named(new TFlatButton(QString(), panel_header), "button_help");
    button_help->setKind(QStringLiteral("icon"));
    button_help->setIcon(assets::helpButtonIcon());
    button_help->setIconSize({24, 24});
    button_help->setToolTip(QStringLiteral("Help"));
    row->addWidget(button_connect);
    row->addWidget(button_disconnect);
    row->addWidget(button_download);
    row->addWidget(button_help);
}

void Tlobby::buildLeftColumn()
{
    panel_leftside1 = named(new TFlatPanel(QStringLiteral("area")), "panel_leftside1");
    panel_leftside1->setMinimumWidth(232);
    auto *leftLayout = column(panel_leftside1);
    splitter_left = named(new QSplitter(Qt::Vertical, panel_leftside1), "splitter_left");
    splitter_left->setChildrenCollapsible(false);
    splitter_left->setHandleWidth(10);
    leftLayout->addWidget(splitter_left);

    auto tabRow = [](QWidget *parent, std::initializer_list<TFlatButton *> buttons) {
        auto *bar = new TFlatPanel(QStringLiteral("tabbar"), parent);
        auto *row = new QHBoxLayout(bar);
        row->setContentsMargins(6, 2, 6, 0);
        row->setSpacing(2);
        auto *group = new QButtonGroup(bar);
        group->setExclusive(true);
        for (TFlatButton *b : buttons) {
            b->setKind(QStringLiteral("tab"));
            b->setCheckable(true);
            group->addButton(b);
            row->addWidget(b);
        }
        row->addStretch();
        return bar;
    };

    panel_top = named(new TFlatPanel(QStringLiteral("card")), "panel_top");
    panel_top->setMinimumHeight(77);
    auto *topLayout = column(panel_top, 1, 0);
    button_gameslist = named(new TFlatButton(QStringLiteral("&Rooms")), "button_gameslist");
    // The chat with the whole lobby, with its notices: named for what a newcomer looks for.
    button_alerts = named(new TFlatButton(QStringLiteral("Lobby Ch&at")), "button_alerts");
    button_tourney = named(new TFlatButton(QStringLiteral("&Tourneys")), "button_tourney");
    QWidget *topTabs = tabRow(panel_top, {button_gameslist, button_alerts, button_tourney});
    topLayout->addWidget(topTabs);
    // The column is never narrower than its tab captions: a clipped "Lobby Chat" would hide
    // the very place a newcomer looks for.
    panel_leftside1->setMinimumWidth(
        qMax(panel_leftside1->minimumWidth(), topTabs->sizeHint().width() + 12));
    button_gameslist->setChecked(true);
    auto *topStack = m_topStack = new QStackedLayout;
    topLayout->addLayout(topStack, 1);

    panel_gameslist = named(new TFlatPanel(QStringLiteral("area")), "panel_gameslist");
    auto *gl = column(panel_gameslist, 6, 4);
    image_select =
        named(label(QStringLiteral("\u2193 Double-click a game to enter its lobby"), "muted"),
              "image_select");
    image_select->hide();
    gl->addWidget(image_select);
    lbsubjects = named(new TRoomsTree, "lbsubjects");
    lbsubjects->setContextMenuPolicy(Qt::CustomContextMenu);
    lbsubjects->setIconSize({20, 20});
    gl->addWidget(lbsubjects, 1);
    topStack->addWidget(panel_gameslist);

    panel_alerts = named(new TFlatPanel(QStringLiteral("area")), "panel_alerts");
    auto *al = column(panel_alerts, 6, 4);
    listbox_alerts = pane("listbox_alerts");
    al->addWidget(listbox_alerts, 1);
    mychat = named(new QLineEdit, "mychat");
    mychat->setPlaceholderText(QStringLiteral("Type here to talk to everyone"));
    al->addWidget(mychat);
    topStack->addWidget(panel_alerts);

    panel_tourney = named(new TFlatPanel(QStringLiteral("area")), "panel_tourney");
    auto *tl = column(panel_tourney, 6, 4);
    tourneychat = pane("tourneychat");
    tl->addWidget(tourneychat, 1);
    button_createannounce =
        named(new TFlatButton(QStringLiteral("Announce a Tournament")), "button_createannounce");
    button_createannounce->setIcon(assets::announceButtonIcon());
    tl->addWidget(button_createannounce);
    topStack->addWidget(panel_tourney);

    panel_bottom = named(new TFlatPanel(QStringLiteral("card")), "panel_bottom");
    panel_bottom->setMinimumHeight(60);
    auto *bottomLayout = column(panel_bottom, 1, 0);
    button_lobbylist = named(new TFlatButton(QStringLiteral("&Players")), "button_lobbylist");
    button_Friendslist = named(new TFlatButton(QStringLiteral("Fr&iends")), "button_Friendslist");
    button_ignorelist = named(new TFlatButton(QStringLiteral("Ig&nored")), "button_ignorelist");
    bottomLayout->addWidget(
        tabRow(panel_bottom, {button_lobbylist, button_Friendslist, button_ignorelist}));
    button_lobbylist->setChecked(true);
    auto *bottomStack = m_playersStack = new QStackedLayout;
    bottomLayout->addLayout(bottomStack, 1);

    auto listPanel = [&](const char *panelName, QLabel *&heading, const char *headingName,
                         const QString &headingText, QAbstractItemView *list) {
        auto *panel = named(new TFlatPanel(QStringLiteral("area")), panelName);
        auto *layout = column(panel, 6, 4);
        heading = named(label(headingText, "heading"), headingName);
        // The count in the heading follows every player who comes or goes.
        layout->addWidget(new TLabelSlot(heading, headingText));
        layout->addWidget(list, 1);
        bottomStack->addWidget(panel);
        return panel;
    };
    panel_lobbylist =
        listPanel("panel_lobbylist", label_playerslist, "label_playerslist",
                  QStringLiteral("Players Online(0)"), lbnames = named(new TPlayerList, "lbnames"));
    panel_friendslist = listPanel("panel_friendslist", label_friendslist, "label_friendslist",
                                  QStringLiteral("Friends List(0)"),
                                  listbox_friends = playerList("listbox_friends"));
    panel_ignorelist = listPanel("panel_ignorelist", label_ignorelist, "label_ignorelist",
                                 QStringLiteral("Ignored List(0)"),
                                 listbox_ignored = playerList("listbox_ignored"));

    splitter_left->addWidget(panel_top);
    splitter_left->addWidget(panel_bottom);
    splitter_left->setStretchFactor(0, 0);
    splitter_left->setStretchFactor(1, 1);
}

void Tlobby::buildRightSide()
{
    panel_rightside = named(new TFlatPanel(QStringLiteral("backdrop")), "panel_rightside");
    auto *stack = new QGridLayout(panel_rightside);
    stack->setContentsMargins(0, 0, 0, 0);

    // What the right side shows in the general lobby, where no room panel is open.
    panel_home = named(new TFlatPanel(QStringLiteral("area"), panel_rightside), "panel_home");
    auto *home = column(panel_home, 40, 10);
    home->addStretch(2);
    auto *homeIcon = new QLabel(panel_home);
    homeIcon->setPixmap(assets::appIcon().pixmap(72, 72));
    homeIcon->setAlignment(Qt::AlignCenter);
    home->addWidget(homeIcon);
    auto *homeTitle = label(QStringLiteral("Halvane"), "title", panel_home);
    homeTitle->setAlignment(Qt::AlignCenter);
    home->addWidget(homeTitle);
    auto *homeText = label(QStringLiteral("Pick a game in the rooms list and double-click it to "
                                          "enter its lobby.\nThere you can chat, host a game or "
                                          "join one that is waiting for players."),
                           "muted", panel_home);
    homeText->setAlignment(Qt::AlignCenter);
    homeText->setWordWrap(true);
    home->addWidget(homeText);
    home->addStretch(3);
    stack->addWidget(panel_home, 0, 0);

    panel_gameroom =
        named(new TFlatPanel(QStringLiteral("card"), panel_rightside), "panel_gameroom");
    auto *room = column(panel_gameroom, 12, 8);
    auto *titleRow = new QHBoxLayout;
    image_roomimage = named(new QLabel, "image_roomimage");
    image_roomimage->setFixedSize(32, 32);
    image_roomimage->setScaledContents(true);
    titleRow->addWidget(image_roomimage);
    label_gamename = named(label(QString(), "title"), "label_gamename");
    titleRow->addWidget(label_gamename);
    titleRow->addStretch();
    button_ladder = named(new TFlatButton(QStringLiteral("Ladder Game An&yone?")), "button_ladder");
    button_whatareladders =
        named(new TFlatButton(QStringLiteral("What are Ladder&s?")), "button_whatareladders");
    button_whatareladders->setKind(QStringLiteral("link"));
    button_ladder->hide();
    button_whatareladders->hide();
    button_leavegameroom =
        named(new TFlatButton(QStringLiteral("&Leave Game Lobby")), "button_leavegameroom");
    titleRow->addWidget(button_whatareladders);
    titleRow->addWidget(button_ladder);
    titleRow->addWidget(button_leavegameroom);
    room->addLayout(titleRow);

    auto *split = named(new QSplitter(Qt::Horizontal), "splitter_room");
    split->setChildrenCollapsible(false);
    split->setHandleWidth(10);
    auto *chatSide = new QWidget;
    auto *chat = column(chatSide, 0, 6);
    mainchat_gameroom = pane("mainchat_gameroom");
    mainchat_gameroom->setContextMenuPolicy(Qt::CustomContextMenu);
    chat->addWidget(mainchat_gameroom, 1);
    mychat_gameroom = named(new QLineEdit, "mychat_gameroom");
    mychat_gameroom->setMaxLength(400);
    mychat_gameroom->setText(QStringLiteral("<Enter Chat Here>"));
    mychat_gameroom->setContextMenuPolicy(Qt::CustomContextMenu);
    chat->addWidget(mychat_gameroom);
    split->addWidget(chatSide);

    auto *roomSide = new QWidget;
    roomSide->setMinimumWidth(200);
    auto *side = column(roomSide, 0, 4);
    label_gamelist =
        named(label(QStringLiteral("Players in Lobby(0)"), "heading"), "label_gamelist");
    // Its count follows every player who enters or leaves the room.
    side->addWidget(new TLabelSlot(label_gamelist, label_gamelist->text()));
    listbox_gameroom = named(new TPlayerList, "listbox_gameroom");
    side->addWidget(listbox_gameroom, 3);
    side->addSpacing(6);
    label_games = named(label(QString(), "heading"), "label_games");
    side->addWidget(label_games);
    TreeView_gamelist = named(new TGamesTree, "TreeView_gamelist");
    TreeView_gamelist->setContextMenuPolicy(Qt::CustomContextMenu);
    side->addWidget(TreeView_gamelist, 2);
    memo_empty = named(new QLabel(QStringLiteral("There are currently no hosted games.\n"
                                                 "Press the \"Host a Game\" button in\n"
                                                 "order to play."),
                                  TreeView_gamelist->viewport()),
                       "memo_empty");
    memo_empty->setProperty("role", QStringLiteral("muted"));
    memo_empty->setAlignment(Qt::AlignCenter);
    memo_empty->setWordWrap(true);
    auto *emptyLayout = new QVBoxLayout(TreeView_gamelist->viewport());
    emptyLayout->addWidget(memo_empty);

    auto *hostRow = new QHBoxLayout;
    button_host = named(new TFlatButton, "button_host");
    button_host->setKind(QStringLiteral("icon"));
    button_host->setIcon(assets::hostButtonIcon());
    button_host->setIconSize({132, 34});
    button_host->setToolTip(QStringLiteral("Host a Game"));
    button_host->setAccessibleName(QStringLiteral("Host a Game"));
    hostRow->addWidget(button_host);
    button_private = named(new TFlatButton(QStringLiteral("&Make Game Private")), "button_private");
    button_private->hide();
    hostRow->addWidget(button_private);
    image_connection = named(new QLabel, "image_connection");
    image_connection->setPixmap(imagelist_connection.value(0));
    image_connection->setCursor(Qt::PointingHandCursor);
    image_connection->setToolTip(QStringLiteral("Lobby Assisted Hosting"));
    hostRow->addWidget(image_connection);
    hostRow->addStretch();
    side->addLayout(hostRow);
    button_cannothost =
        named(new TFlatButton(QStringLiteral("Trou&ble hosting?")), "button_cannothost");
    button_cannothost->setKind(QStringLiteral("link"));
    side->addWidget(button_cannothost, 0, Qt::AlignLeft);
    label_ingame = named(label(QString(), "muted"), "label_ingame");
    label_ingame->setWordWrap(true);
    side->addWidget(label_ingame);
    split->addWidget(roomSide);
    split->setStretchFactor(0, 1);
    split->setStretchFactor(1, 0);
    split->setSizes({420, 220});
    room->addWidget(split, 1);
    panel_gameroom->hide();
    stack->addWidget(panel_gameroom, 0, 0);
}

void Tlobby::buildFloatingPanels()
{
    auto floating = [this](const char *name, const QSize &size) {
        auto *panel = named(new TFlatPanel(QStringLiteral("floating"), panel_rightside), name);
        panel->resize(size);
        panel->hide();
        return panel;
    };

    panel_beginning = floating("panel_beginning", {460, 360});
    {
        auto *layout = column(panel_beginning, 0, 0);
        layout->addWidget(titleBar(QStringLiteral("Welcome to Halvane!")));
        auto *content = new QWidget;
        auto *c = column(content, 16, 10);
        auto *text = label(
            QStringLiteral(
                "<p>Good to have you here! Halvane is where players meet for word, dice, card, "
                "board and puzzle games.</p>"
                "<p><b>Say hello:</b> the <b>Lobby Chat</b> tab at the top left is the chat "
                "with everybody online. Type into the line under it and press Enter.</p>"
                "<p><b>1.</b> Get your games first: press the <b>Download Games</b> button at "
                "the top and pick the games you like.</p>"
                "<p><b>2.</b> Double-click a game's name in the rooms list on the left to join "
                "its game lobby. There you can chat with the other players, <b>host</b> a game "
                "of your own or <b>join</b> one that is waiting for players.</p>"
                "<p><b>3.</b> Please read the conduct agreement in the help file before you "
                "start, so that everyone has a good time.</p>"),
            nullptr, content);
        text->setWordWrap(true);
        text->setTextFormat(Qt::RichText);
        c->addWidget(text, 1);
        auto *buttons = new QHBoxLayout;
        FlatButton1 =
            named(new TFlatButton(QStringLiteral("Read Cond&uct Agreement")), "FlatButton1");
        button_beginningdone = named(new TFlatButton(QStringLiteral("Clos&e Welcome Message")),
                                     "button_beginningdone");
        button_beginningdone->setKind(QStringLiteral("accent"));
        buttons->addWidget(FlatButton1);
        buttons->addStretch();
        buttons->addWidget(button_beginningdone);
        c->addLayout(buttons);
        layout->addWidget(content, 1);
    }

    panel_news = floating("panel_news", {340, 230});
    {
        auto *layout = column(panel_news, 0, 0);
        auto *bar = titleBar(QStringLiteral("CURRENT NEWS"));
        layout->addWidget(bar);
        new TPanelDragger(panel_news, {bar});
        memo_news = pane("memo_news");
        auto *content = new QWidget;
        column(content, 8)->addWidget(memo_news);
        layout->addWidget(content, 1);
    }

    panel_tip = floating("panel_tip", {300, 150});
    {
        FlatButton4 = named(new TFlatButton(QStringLiteral("Close")), "FlatButton4");
        FlatButton4->setKind(QStringLiteral("link"));
        FlatButton4->setStyleSheet(QStringLiteral("TFlatButton { color: white; }"));
        auto *layout = column(panel_tip, 0, 0);
        auto *bar = titleBar(QStringLiteral("Tips for Halvane"), FlatButton4);
        layout->addWidget(bar);
        new TPanelDragger(panel_tip, {bar});
        label_tip = named(label(QStringLiteral("If people cannot join a game you host, try using "
                                               "the Lobby Assisted Hosting feature.")),
                          "label_tip");
        label_tip->setWordWrap(true);
        auto *content = new QWidget;
        column(content, 14)->addWidget(label_tip);
        layout->addWidget(content, 1);
    }

    panel_create = floating("panel_create", {360, 380});
    {
        auto *layout = column(panel_create, 0, 0);
        auto *bar = titleBar(QStringLiteral("TOURNAMENT ANNOUNCEMENT"));
        layout->addWidget(bar);
        new TPanelDragger(panel_create, {bar});
        auto *content = new QWidget;
        auto *form = new QFormLayout(content);
        form->setContentsMargins(14, 12, 14, 12);
        auto edit = [](const char *name, int limit) {
            auto *e = named(new QLineEdit, name);
            e->setMaxLength(limit);
            return e;
        };
        edit_tourneyname = edit("edit_tourneyname", 100);
        edit_gamename = edit("edit_gamename", 100);
        edit_location = edit("edit_location", 100);
        edit_comments = edit("edit_comments", 200);
        combo_hour = named(new QComboBox, "combo_hour");
        for (int h = 12; h >= 1; --h)
            combo_hour->addItem(QString::number(h));
        combo_hour->setCurrentText(QStringLiteral("8"));
        combo_min = named(new QComboBox, "combo_min");
        combo_min->addItems({QStringLiteral(":00"), QStringLiteral(":15"), QStringLiteral(":30"),
                             QStringLiteral(":45")});
        combo_time = named(new QComboBox, "combo_time");
        combo_time->addItems({QStringLiteral("am"), QStringLiteral("pm")});
        combo_time->setCurrentText(QStringLiteral("pm"));
        combo_checkin = named(new QComboBox, "combo_checkin");
        combo_checkin->addItems({QStringLiteral("Yes"), QStringLiteral("No")});
        auto *time = new QHBoxLayout;
        time->addWidget(combo_hour);
        time->addWidget(combo_min);
        time->addWidget(combo_time);
        time->addStretch();
        form->addRow(QStringLiteral("Tourney Name:"), edit_tourneyname);
        form->addRow(QStringLiteral("Game Name:"), edit_gamename);
        form->addRow(QStringLiteral("Location:"), edit_location);
        form->addRow(QStringLiteral("Start Time:"), time);
        form->addRow(QStringLiteral("Check In Open?"), combo_checkin);
        form->addRow(QStringLiteral("Special Comments:"), edit_comments);
        auto *buttons = new QHBoxLayout;
        FlatButton2 = named(new TFlatButton(QStringLiteral("Clear")), "FlatButton2");
        button_createclose = named(new TFlatButton(QStringLiteral("Close")), "button_createclose");
        button_create = named(new TFlatButton(QStringLiteral("Announce")), "button_create");
        button_create->setKind(QStringLiteral("accent"));
        buttons->addWidget(FlatButton2);
        buttons->addStretch();
        buttons->addWidget(button_createclose);
        buttons->addWidget(button_create);
        form->addRow(buttons);
        layout->addWidget(content, 1);
    }

    panel_downloadlobby = floating("panel_downloadlobby", {360, 170});
    {
        auto *layout = column(panel_downloadlobby, 0, 0);
        layout->addWidget(
            titleBar(QStringLiteral("Special Announcement - Halvane has been updated!")));
        auto *content = new QWidget;
        auto *c = column(content, 14, 10);
        c->addWidget(label(QStringLiteral("Update Halvane"), "heading"));
        auto *buttons = new QHBoxLayout;
        button_closedownloadlobby =
            named(new TFlatButton(QStringLiteral("Close")), "button_closedownloadlobby");
        button_downloadlobby =
            named(new TFlatButton(QStringLiteral("Download")), "button_downloadlobby");
        button_downloadlobby->setKind(QStringLiteral("accent"));
        buttons->addStretch();
        buttons->addWidget(button_closedownloadlobby);
        buttons->addWidget(button_downloadlobby);
        c->addLayout(buttons);
        layout->addWidget(content, 1);
        // Wide enough for the whole title at any font size.
        panel_downloadlobby->resize(panel_downloadlobby->sizeHint().expandedTo({360, 170}));
    }
}

void Tlobby::buildMenus()
{
    auto action = [this](QMenu *menu, const char *name, const QString &text) {
        QAction *a = menu->addAction(text);
        a->setObjectName(QString::fromLatin1(name));
        return a;
    };
    auto popup = [this](const char *name) { return named(new QMenu(this), name); };

    QMenu *file = named(menuBar()->addMenu(QStringLiteral("&File")), "File1");
    Connect1 = action(file, "Connect1", QStringLiteral("Connect"));
    Disconnect1 = action(file, "Disconnect1", QStringLiteral("Disconnect"));
    file->addSeparator();
    Exit1 = action(file, "Exit1", QStringLiteral("Exit"));

    QMenu *room = named(menuBar()->addMenu(QStringLiteral("&Game Lobby")), "GameLobby1");
    LeaveGameRoom1 = action(room, "LeaveGameRoom1", QStringLiteral("Leave Game Room"));
    ClearGameRoomChat1 =
        action(room, "ClearGameRoomChat1", QStringLiteral("Clear Game Lobby Chat"));
    ClearGameRoomChat1->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));
    TurnOffGameLobbyChat1 =
        action(room, "TurnOffGameLobbyChat1", QStringLiteral("Turn Off Game Lobby Chat"));

    QMenu *options = named(menuBar()->addMenu(QStringLiteral("&Options")), "Options1");
    OtherOptions1 = action(options, "OtherOptions1", QStringLiteral("Settings"));
    options->addSeparator();
    LobbyAssistedHosting1 =
        action(options, "LobbyAssistedHosting1", QStringLiteral("Lobby Assisted Hosting"));
    LobbyAssistedHosting1->setCheckable(true);
    TurnOffPrivateMessages1 =
        action(options, "TurnOffPrivateMessages1", QStringLiteral("Turn Off Private Messages"));
    TurnOffPrivateMessages1->setCheckable(true);
    chatlog = action(options, "chatlog", QStringLiteral("View Private Message Log"));

    QMenu *help = named(menuBar()->addMenu(QStringLiteral("&Help")), "Help1");
    Help2 = action(help, "Help2", QStringLiteral("Help"));
    ViewWelcomingMessage1 =
        action(help, "ViewWelcomingMessage1", QStringLiteral("View Welcoming Message"));
    help->addSeparator();
    FrequentlyAskedQuestions1 =
        action(help, "FrequentlyAskedQuestions1", QStringLiteral("Frequently Asked Questions"));
    LearnMoreAboutLadderGames1 =
        action(help, "LearnMoreAboutLadderGames1", QStringLiteral("Learn More About Ladder Games"));
    ConfigureyourcomputertobeabletoHostaGame1 =
        action(help, "ConfigureyourcomputertobeabletoHostaGame1",
               QStringLiteral("Configure your computer to be able to Host a Game"));
    RestoreSockets1 = action(help, "RestoreSockets1", QStringLiteral("Restore Socket"));
    help->addSeparator();
    About1 = action(help, "About1", QStringLiteral("About"));

    popup_download = popup("popup_download");
    auto category = [&](const char *name, const QString &text, bool visible) {
        QMenu *m = named(popup_download->addMenu(text), name);
        m->menuAction()->setObjectName(QString::fromLatin1(name));
        m->menuAction()->setVisible(visible);
        return m;
    };
    DiceGames2 = category("DiceGames2", QStringLiteral("Dice Games"), true);
    WordGames2 = category("WordGames2", QStringLiteral("Word Games"), true);
    CardGames2 = category("CardGames2", QStringLiteral("Card Games"), true);
    MiscGames2 = category("MiscGames2", QStringLiteral("Misc Games"), true);
    DominoGames2 = category("DominoGames2", QStringLiteral("Domino Games"), false);
    BoardGames2 = category("BoardGames2", QStringLiteral("Board Games"), false);
    PuzzleGames2 = category("PuzzleGames2", QStringLiteral("Puzzle Games"), false);
    OtherGames2 = category("OtherGames2", QStringLiteral("Other Games"), false);
    myLadderGames2 = category("myLadderGames2", QStringLiteral("Ladder Games"), false);
    RMLadderGames2 = category("RMLadderGames2", QStringLiteral("RMLadder Games"), false);
    popup_download->addSeparator();
    DownloadLobby1 = action(popup_download, "DownloadLobby1", QStringLiteral("Download Lobby"));

    popup_rooms = popup("popup_rooms");
    JoinGameRoom1 = action(popup_rooms, "JoinGameRoom1", QStringLiteral("Join Game Room"));
    popup_rooms->addSeparator();
    ViewGameDescription1 =
        action(popup_rooms, "ViewGameDescription1", QStringLiteral("View Game Description"));
    menu_favs = action(popup_rooms, "menu_favs", QStringLiteral("Add to Favorites List"));

    popup_player = popup("popup_player");
    SendPrivateMessage1 =
        action(popup_player, "SendPrivateMessage1", QStringLiteral("Send Private Message"));
    ViewProfile1 = action(popup_player, "ViewProfile1", QStringLiteral("View Profile"));
    AddFriend1 = action(popup_player, "AddFriend1", QStringLiteral("Add to Friends List"));
    Ignore1 = action(popup_player, "Ignore1", QStringLiteral("Ignore"));
    InviteToJoin1 = action(popup_player, "InviteToJoin1", QStringLiteral("Invite to Join.."));
    InviteToJoin1->setVisible(false);
    popup_player->addSeparator();
    Silence1 = named(popup_player->addMenu(QStringLiteral("Silence")), "Silence1");
    Silence1->menuAction()->setObjectName(QStringLiteral("Silence1"));
    N5Minutes1 = action(Silence1, "N5Minutes1", QStringLiteral("5 Minutes"));
    N5Minutes1->setData(5);
    N30Minutes1 = action(Silence1, "N30Minutes1", QStringLiteral("30 Minutes"));
    N30Minutes1->setData(30);
    N60Minutes1 = action(Silence1, "N60Minutes1", QStringLiteral("60 Minutes"));
    N60Minutes1->setData(60);
    RemoveSilence1 = action(popup_player, "RemoveSilence1", QStringLiteral("Remove Silence"));
    Kick1 = action(popup_player, "Kick1", QStringLiteral("Kick"));
    for (QAction *a : {Silence1->menuAction(), RemoveSilence1, Kick1})
        a->setVisible(false);

    popup_friends = popup("popup_friends");
    SendPrivateMessage2 =
        action(popup_friends, "SendPrivateMessage2", QStringLiteral("Send Private Message"));
    JoinSameGameLobby1 =
        action(popup_friends, "JoinSameGameLobby1", QStringLiteral("Join Same Game Lobby"));
    ViewProfile2 = action(popup_friends, "ViewProfile2", QStringLiteral("View Profile"));
    invitetojoin2 = action(popup_friends, "invitetojoin2", QStringLiteral("Invite to Join.."));
    invitetojoin2->setVisible(false);
    popup_friends->addSeparator();
    RemoveFriend1 =
        action(popup_friends, "RemoveFriend1", QStringLiteral("Remove from Friends List"));

    popup_ignored = popup("popup_ignored");
    DeleteFromIgnoreList1 =
        action(popup_ignored, "DeleteFromIgnoreList1", QStringLiteral("Delete from Ignore List"));

    popup_joingame = popup("popup_joingame");
    JoinGame1 = action(popup_joingame, "JoinGame1", QStringLiteral("Join Game"));

    popup_gameroomcopy = popup("popup_gameroomcopy");
    MenuItem2 = action(popup_gameroomcopy, "MenuItem2", QStringLiteral("Copy"));
    MenuItem2->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_C));
    chatscrolloff1 =
        action(popup_gameroomcopy, "chatscrolloff1", QStringLiteral("Chat Scroll Off"));
    chatscrolloff1->setCheckable(true);

    popup_gameroompaste = popup("popup_gameroompaste");
    MenuItem5 = action(popup_gameroompaste, "MenuItem5", QStringLiteral("Paste"));
    MenuItem5->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_V));
}

QList<QWidget *> Tlobby::textSizeTargets() const
{
    return {mainchat_gameroom, tourneychat};
}

QList<QWidget *> Tlobby::boxSizeTargets() const
{
    return {listbox_friends,   lbsubjects, lbnames,       listbox_gameroom,
            TreeView_gamelist, memo_news,  listbox_alerts};
}

void Tlobby::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    if (panel_beginning->isVisible())
        panel_beginning->move((panel_rightside->width() - panel_beginning->width()) / 2,
                              qMax(8, (panel_rightside->height() - panel_beginning->height()) / 3));
}

void Tlobby::wireConnection()
{
    using C = TOrvexConnection;
    connect(orvex, &C::OnConnected, this, &Tlobby::orvexConnected);
    connect(orvex, &C::OnLoginSuccess, this, &Tlobby::orvexLoginSuccess);
    connect(orvex, &C::OnLoginFailed, this, &Tlobby::orvexLoginFailed);
    connect(orvex, &C::OnDisconnected, this, &Tlobby::orvexDisconnected);
    connect(orvex, &C::OnUserInfo, this, &Tlobby::orvexUserInfo);
    connect(orvex, &C::OnGames, this, &Tlobby::orvexGames);
    connect(orvex, &C::OnAddSubject, this, &Tlobby::orvexAddSubject);
    connect(orvex, &C::OnRemoveSubject, this, &Tlobby::orvexRemoveSubject);
    connect(orvex, &C::OnJoinSubject, this, [this](const QByteArray &t) {
        orvexJoinSubject(t);
        rejoinAfterReconnect();
    });
    connect(orvex, &C::OnAddUser, this, &Tlobby::orvexAddUser);
    connect(orvex, &C::OnRemoveUser, this, &Tlobby::orvexRemoveUser);
    connect(orvex, &C::OnGRemoveUser, this, &Tlobby::orvexGRemoveUser);
    connect(orvex, &C::OnChatReceived, this, &Tlobby::orvexChatReceived);
    connect(orvex, &C::OnGhatReceived, this, &Tlobby::orvexGhatReceived);
    connect(orvex, &C::OnPmesReceived, this, &Tlobby::orvexPmesReceived);
    connect(orvex, &C::OnJOINReceived, this, &Tlobby::orvexJOINReceived);
    connect(orvex, &C::OnIPTJReceived, this, &Tlobby::orvexIPTJReceived);
    connect(orvex, &C::OnIGNOReceived, this, &Tlobby::orvexIGNOReceived);
    connect(orvex, &C::OnInviteReceived, this, &Tlobby::orvexInviteReceived);
    connect(orvex, &C::OnDatasendReceived, this, &Tlobby::orvexDatasendReceived);
    connect(orvex, &C::OnAddGame, this, &Tlobby::orvexAddGame);
    connect(orvex, &C::OnDeletegame, this, &Tlobby::orvexDeletegame);
    connect(orvex, &C::OnServerError, this, &Tlobby::orvexServerError);
    connect(orvex, &C::OnStringRead, this, &Tlobby::orvexStringRead);
    connect(orvex, &C::OnSocketError, this, &Tlobby::orvexSocketErrorReport);
    connect(orvex, &C::OnLineError, this,
            [](const QString &message) { platform::Platform::instance().showError(message); });
    // The pin is read in the middle of the handshake: answered at once, in this thread.
    connect(
        orvex, &C::OnReadPin, this,
        [this](const QString &server, QByteArray *pin) { *pin = orvexReadPin(server); },
        Qt::DirectConnection);
    connect(orvex, &C::OnStorePin, this, &Tlobby::orvexStorePin);
    connect(orvex, &C::OnCertificateQuestion, this, &Tlobby::orvexCertificateQuestion);
    connect(orvex, &C::OnCertificateChanged, this, &Tlobby::orvexCertificateChanged);
    connect(orvex, &C::OnShout, this, &Tlobby::orvexShout);
    connect(orvex, &C::OnNews, this, &Tlobby::orvexNews);

    connect(Timer1, &QTimer::timeout, this, &Tlobby::Timer1Timer);
    connect(systrayicon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) {
                if (reason == QSystemTrayIcon::Trigger)
                    systrayiconClick();
            });
    connect(Sock11, &TSock::OnAutoAccept, this,
            [this](TSock *, TSock *NewSock) { Sock11AutoAccept(NewSock); });

    connect(button_connect, &QPushButton::clicked, this, &Tlobby::button_connectClick);
    connect(Connect1, &QAction::triggered, this, &Tlobby::button_connectClick);
    connect(button_disconnect, &QPushButton::clicked, this, &Tlobby::button_disconnectClick);
    connect(Disconnect1, &QAction::triggered, this, &Tlobby::button_disconnectClick);
    connect(Exit1, &QAction::triggered, this, &QWidget::close);
    connect(ViewWelcomingMessage1, &QAction::triggered, this, &Tlobby::showWelcome);
    connect(button_beginningdone, &QPushButton::clicked, panel_beginning, &QWidget::hide);
    connect(OtherOptions1, &QAction::triggered, this, &Tlobby::OtherOptions1Click);
    connect(FrequentlyAskedQuestions1, &QAction::triggered, this,
            [this] { openSitePage(QStringLiteral("/lobby/faq.shtml")); });
    connect(LearnMoreAboutLadderGames1, &QAction::triggered, this,
            [this] { openSitePage(QStringLiteral("/lobby/ladder.shtml")); });
    connect(ConfigureyourcomputertobeabletoHostaGame1, &QAction::triggered, this,
            [this] { openSitePage(QStringLiteral("/lobby/networksettings.shtml")); });
    wireDownloads();
    connect(button_mail, &QToolButton::clicked, this, &Tlobby::button_mailClick);

    connect(button_gameslist, &QPushButton::clicked, this,
            [this] { showTopPanel(panel_gameslist); });
    connect(button_alerts, &QPushButton::clicked, this, [this] { showTopPanel(panel_alerts); });
    connect(button_tourney, &QPushButton::clicked, this, [this] { showTopPanel(panel_tourney); });
    connect(button_lobbylist, &QPushButton::clicked, this,
            [this] { showPlayersPanel(panel_lobbylist); });
    connect(button_Friendslist, &QPushButton::clicked, this,
            [this] { showPlayersPanel(panel_friendslist); });
    connect(button_ignorelist, &QPushButton::clicked, this,
            [this] { showPlayersPanel(panel_ignorelist); });

    // Activation is a double click, or Enter on the current item: the keyboard reaches
    // everything a double click does. The lists take the item as a press at its place would.
    connect(lbsubjects, &QAbstractItemView::activated, this, &Tlobby::lbsubjectsDblClick);
    connect(lbsubjects, &QWidget::customContextMenuRequested, this,
            &Tlobby::lbsubjectsContextPopup);
    connect(lbsubjects, &TRoomsTree::expanded, this, &Tlobby::lbsubjectsExpanded);
    connect(lbsubjects, &TRoomsTree::collapsed, this, &Tlobby::lbsubjectsCollapsed);
    connect(JoinGameRoom1, &QAction::triggered, this, &Tlobby::JoinGameRoom1Click);
    connect(LeaveGameRoom1, &QAction::triggered, this, &Tlobby::button_leavegameroomClick);
    connect(button_leavegameroom, &QPushButton::clicked, this, &Tlobby::button_leavegameroomClick);
    connect(menu_favs, &QAction::triggered, this, &Tlobby::menu_favsClick);
    connect(ViewGameDescription1, &QAction::triggered, this, &Tlobby::ViewGameDescription1Click);

    for (TPlayerList *list : {lbnames, listbox_gameroom}) {
        connect(list, &QWidget::customContextMenuRequested, this,
                [this, list](const QPoint &pos) { lbnamesContextPopup(list, pos); });
        connect(list, &QAbstractItemView::activated, this, [this, list](const QModelIndex &index) {
            lbnamesMouseDown(list, list->visualRect(index).center());
            lbnamesDblClick();
        });
    }
    connect(listbox_friends, &QWidget::customContextMenuRequested, this,
            &Tlobby::listbox_friendsContextPopup);
    connect(listbox_friends, &QListWidget::itemActivated, this, [this](QListWidgetItem *item) {
        listbox_friendsMouseDown(listbox_friends->visualItemRect(item).center());
        listbox_friendsDblClick();
    });
    connect(listbox_ignored, &QWidget::customContextMenuRequested, this,
            &Tlobby::listbox_ignoredContextPopup);
    connect(ViewProfile1, &QAction::triggered, this, &Tlobby::ViewProfile1Click);
    connect(ViewProfile2, &QAction::triggered, this, &Tlobby::ViewProfile2Click);
    connect(AddFriend1, &QAction::triggered, this, &Tlobby::AddFriend1Click);
    connect(Ignore1, &QAction::triggered, this, &Tlobby::Ignore1Click);
    connect(RemoveFriend1, &QAction::triggered, this, &Tlobby::RemoveFriend1Click);
    connect(DeleteFromIgnoreList1, &QAction::triggered, this, &Tlobby::DeleteFromIgnoreList1Click);
    connect(JoinSameGameLobby1, &QAction::triggered, this, &Tlobby::JoinSameGameLobby1Click);

    connect(mychat_gameroom, &QLineEdit::returnPressed, this, &Tlobby::mychat_gameroomReturn);
    connect(mychat, &QLineEdit::returnPressed, this, &Tlobby::mychatReturn);
    connect(ClearGameRoomChat1, &QAction::triggered, this, &Tlobby::ClearGameRoomChat1Click);
    connect(TurnOffGameLobbyChat1, &QAction::triggered, this, &Tlobby::TurnOffGameLobbyChat1Click);
    wireChat();
    connect(chatlog, &QAction::triggered, this, &Tlobby::chatlogClick);

    connect(button_host, &QPushButton::clicked, this, &Tlobby::button_hostClick);
    connect(button_private, &QPushButton::clicked, this, &Tlobby::button_privateClick);
    connect(button_ladder, &QPushButton::clicked, this, &Tlobby::button_ladderClick);
    connect(JoinGame1, &QAction::triggered, this, &Tlobby::JoinGame1Click);
    connect(InviteToJoin1, &QAction::triggered, this, &Tlobby::InviteToJoin1Click);
    connect(button_cannothost, &QPushButton::clicked, this,
            [this] { openSitePage(QStringLiteral("/lobby/networksettings.shtml")); });
    connect(button_whatareladders, &QPushButton::clicked, this,
            [this] { openSitePage(QStringLiteral("/lobby/ladder.shtml")); });

    connect(LobbyAssistedHosting1, &QAction::triggered, this, &Tlobby::LobbyAssistedHosting1Click);
    connect(RestoreSockets1, &QAction::triggered, this, &Tlobby::RestoreSockets1Click);

    connect(button_createannounce, &QPushButton::clicked, this,
            &Tlobby::image_createannouncementClick);
    connect(button_create, &QPushButton::clicked, this, &Tlobby::button_createClick);
    connect(button_createclose, &QPushButton::clicked, this, &Tlobby::button_createcloseClick);
    connect(FlatButton2, &QPushButton::clicked, this, &Tlobby::FlatButton2Click);
    connect(FlatButton4, &QPushButton::clicked, this, &Tlobby::FlatButton4Click);
    for (QAction *a : {N5Minutes1, N30Minutes1, N60Minutes1})
        connect(a, &QAction::triggered, this, [this, a] { N5Minutes1Click(a->data().toInt()); });
    connect(RemoveSilence1, &QAction::triggered, this, &Tlobby::RemoveSilence1Click);
    connect(Kick1, &QAction::triggered, this, &Tlobby::Kick1Click);
    connect(button_closedownloadlobby, &QPushButton::clicked, panel_downloadlobby, &QWidget::hide);

    auto showHelp = [this](int page) {
        if (!m_help)
            return;
        if (page >= 0)
            m_help->showPage(static_cast<Thelp::Page>(page));
        m_help->show();
        m_help->raise();
        m_help->activateWindow();
    };
    connect(Help2, &QAction::triggered, this, [showHelp] { showHelp(-1); });
    connect(button_help, &QPushButton::clicked, this, [showHelp] { showHelp(-1); });
    connect(FlatButton1, &QPushButton::clicked, this,
            [showHelp] { showHelp(Thelp::ConductAgreement); });
    connect(About1, &QAction::triggered, this, [this] {
        if (!m_about)
            return;
        m_about->show();
        m_about->raise();
        m_about->activateWindow();
    });
}

void Tlobby::showTopPanel(TFlatPanel *panel)
{
    m_topStack->setCurrentWidget(panel);
    image_select->setVisible(panel == panel_gameslist && orvex->LoggedIn());
    button_gameslist->setChecked(panel == panel_gameslist);
    button_alerts->setChecked(panel == panel_alerts);
    button_tourney->setChecked(panel == panel_tourney);
    button_tourney->setTag(panel == panel_tourney ? 1 : 0);
    // Seeing the announcements ends their alert.
    if (panel == panel_tourney)
        button_tourney->setBorderColor(QColor(0, 0, 128));
}

void Tlobby::showPlayersPanel(TFlatPanel *panel)
{
    m_playersStack->setCurrentWidget(panel);
    button_lobbylist->setChecked(panel == panel_lobbylist);
    button_Friendslist->setChecked(panel == panel_friendslist);
    button_ignorelist->setChecked(panel == panel_ignorelist);
    if (panel == panel_lobbylist)
        label_playerslist->setText(QStringLiteral("Players Online(%1)").arg(lbnames->count()));
    else if (panel == panel_friendslist)
        label_friendslist->setText(
            QStringLiteral("Friends List(%1)").arg(listbox_friends->count()));
    else
        label_ignorelist->setText(QStringLiteral("Ignored List(%1)").arg(listbox_ignored->count()));
}

#include "thelp.h"
#include "accessibility.h"

#include "assets.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QStackedWidget>
#include <QTextBrowser>
#include <QVBoxLayout>

#include <iterator>

namespace {

struct PageText
{
    const char *title;
    const char *html;
};

// The help text. Kept as HTML so headings, lists and emphasis render in the window's
// font; every page is plain enough to read on any screen.
const PageText kPages[] = {
    {"Getting Started", R"(
<h2>Getting started</h2>
<p><b>To talk with everybody online, open the Lobby Chat tab at the top left (beside
Rooms), type into the line under it and press Enter.</b></p>
<p>Welcome to Halvane, the meeting place for our word, dice, card, domino, board and
puzzle games. Here you chat with other players, find opponents and start games together.</p>
<h3>Logging in</h3>
<ul>
<li>When the lobby starts it opens the <b>Login</b> window. Enter your user ID and password
and press <b>Log In</b>.</li>
<li>No account yet? Choose <b>Create a New Username</b>, fill in your profile and pick a
password of 1 to 9 characters. User IDs may use letters, digits, <code>_</code> and <code>~</code>, up to
15 characters, without spaces.</li>
<li>Tick <b>Save Password</b> only on a computer nobody else uses.</li>
</ul>
<h3>The lobby window</h3>
<ul>
<li>On the left you find three tabs: <b>Rooms</b> (the game rooms), <b>Lobby Chat</b>
(the chat with the whole lobby and its notices) and <b>Tourneys</b> (tournament
announcements); below them the players online, your friends and the players you
ignore.</li>
<li>On the right is the room you are in: its chat, the players in it and the games being
hosted there.</li>
<li>Everybody starts in the general lobby, whose chat is the <b>Lobby Chat</b> tab.
Double-click a game's name in the rooms list to enter that game's room, with a chat of its
own on the right.</li>
<li>Use <b>Download Games</b> to install games you do not have yet. The lobby tells you
when a newer version of a game is available.</li>
</ul>
<p>Before you chat, please take a minute to read the <b>Conduct Agreement</b> on the last
pages of this help. It keeps the lobby a friendly place.</p>
)"},
    {"Rooms and Chat", R"(
<h2>Rooms and chat</h2>
<h3>Rooms</h3>
<p>Every game has its own room, and ladder games have their own ladder rooms. The rooms
list groups them by kind of game and shows who is in each room. Double-click a room to
enter it; <b>Leave Game Room</b> takes you back to the general lobby. Right-click a room to add it
to your favourites.</p>
<h3>Room chat</h3>
<ul>
<li>Type into the line under the room's chat and press <b>Enter</b>. Everybody in the
same room sees your line in your text colour.</li>
<li>Start a line with <code>/me</code> to describe an action: <code>/me waves</code>
shows as <i>YourName waves</i> in your action colour.</li>
<li>Links in the chat can be clicked to open them in your web browser.</li>
</ul>
<h3>Lobby-wide chat</h3>
<p>The <b>Lobby Chat</b> tab at the top left carries the lobby-wide chat, which everybody
can follow from any room, together with notices such as players connecting and leaving.
Type into the line under it to talk to the whole lobby.</p>
<h3>Good to know</h3>
<ul>
<li>Sending many lines in a short time switches on spam prevention for a moment.</li>
<li>A word filter masks offensive words.</li>
<li>You can turn the room chat off in <b>Settings</b> (<i>Show Lobby Chat</i>) if you only
want to play.</li>
</ul>
)"},
    {"Private Messages", R"(
<h2>Private messages</h2>
<ul>
<li>Double-click a player in any list, or right-click and choose <b>Send Private
Message</b>, to open a message window. Write your message and press <b>Send</b>.</li>
<li>A new private message makes the tray icon blink and the envelope button appear at the
top left of the lobby. Click either to read the message; double-clicking the sender in a
list opens it too.</li>
<li>Reply straight from the reading window. Private messages may span several lines.</li>
<li>With <i>Private Message Log</i> switched on, the lobby keeps a log of your
conversations for this session, which you can open from the menu.</li>
<li>In <b>Settings</b> you choose whether a message alert blinks, whether a sound plays
and whether the <b>Enter</b> key sends (otherwise it starts a new line).</li>
</ul>
<p>Never send your password to anybody. Staff will never ask you for it.</p>
)"},
    {"Friends and Ignore", R"(
<h2>Friends and the ignore list</h2>
<h3>Friends</h3>
<ul>
<li>Right-click a player and choose <b>Add Friend</b>. Your friends list shows who is
online (at the top) and in which room they are.</li>
<li>When a friend connects, the lobby tells you in blue and can play a sound
(<i>Sound on Friends Arrival</i> in Settings).</li>
<li>Right-click a friend to send a message, view their profile, join the same room or
invite them to your game.</li>
</ul>
<h3>Ignoring a player</h3>
<ul>
<li>Right-click a player and choose <b>Ignore</b>. You no longer see their chat or
private messages, and they cannot join your games.</li>
<li>Open the ignored list to remove somebody again.</li>
</ul>
<h3>Profiles and hats</h3>
<p>Right-click a player and choose <b>View Profile</b> to see their profile. Your own
profile is under <b>Settings</b>, <b>Edit Profile</b>: there you change your details,
password and hat. The little hat beside each name is the one the player chose; click
the hat beside the list in your profile to show everybody that you are away from the
keyboard, and click it again when you are back.</p>
)"},
    {"Hosting and Joining", R"(
<h2>Hosting and joining games</h2>
<h3>Hosting</h3>
<ul>
<li>Enter the room of the game you want to play and press <b>Host a Game</b>. The game
starts on your computer and appears in the room's list of games.</li>
<li>While you wait you can make the game private, so that only players you invite can
join: right-click a player and choose <b>Invite to Join</b>.</li>
<li>Other players' computers must reach yours to join. If nobody can join you, your
router or firewall is probably in the way: switch on <b>Lobby Assisted Hosting</b> in the
menu (or click the <i>Direct</i> picture next to the host button) and the lobby carries the
game's traffic for you.</li>
</ul>
<h3>Joining</h3>
<ul>
<li>Double-click a game in the room's list of games. The host's lobby answers and your
game starts and connects to the host.</li>
<li>If the game is missing or out of date on your computer, the lobby offers to download
and install it first.</li>
<li>When somebody invites you, a small window asks whether you want to join. You can turn
invitations off in Settings.</li>
</ul>
<h3>Ladder games</h3>
<p>Ladder rooms are for ranked games. Press the ladder button in a ladder room to let
everybody there know you are looking for a ladder game.</p>
)"},
    {"Options", R"(
<h2>Settings</h2>
<p>Open <b>Settings</b> from the menu while you are connected. Changes apply at once;
press <b>Done</b> to save them.</p>
<ul>
<li><b>Join/Disconnect Notices</b>: show all arrivals and departures, only those of your
friends, or none.</li>
<li><b>Sound on Friends Arrival</b>, <b>Private Message Alert</b>, <b>Sound on Private
Message</b>, <b>Tournament Alert</b>: how the lobby gets your attention.</li>
<li><b>PM's Sent with "Enter" key</b>: send private messages with Enter instead of the
Send button.</li>
<li><b>Accept Invitations</b>: whether other players may invite you to their games.</li>
<li><b>Show Lobby Chat</b>: show or hide the chat of the room you are in.</li>
<li><b>Automatic Updates</b>: update games without asking first.</li>
<li><b>Private Message Log</b>: keep a log of your private conversations.</li>
<li><b>Text Color</b> and <b>Action Color</b>: the colours of your chat lines and of your
<code>/me</code> actions.</li>
<li><b>Text Size</b>, <b>Info Boxes Text Size</b> and <b>Text Font</b>: the size and font
of the chat and of the lists.</li>
<li><b>Reset PM Location Settings</b> brings private message windows back to the middle of
the screen; <b>Restore Defaults</b> undoes all your changes.</li>
</ul>
)"},
    {"Conduct Agreement", R"(
<h2>Conduct agreement</h2>
<p>Halvane is a community of people who come here to relax and play. By logging in you
agree to the following rules. They apply to chat, private messages, user names and
profiles alike.</p>
<ol>
<li><b>Be respectful.</b> No insults, harassment, threats, hate speech or discrimination
of any kind, including about a person's origin, religion, gender, orientation, age or
disability.</li>
<li><b>Keep it clean.</b> No obscene or sexually explicit language, pictures or links
outside the rooms marked as adult rooms, and none anywhere that involves minors.</li>
<li><b>No spam.</b> Do not flood the chat, repeat the same line, type in all capitals
for long, or advertise other sites, products or services.</li>
<li><b>Play fair.</b> No cheating, no use of programs that play for you, no deliberate
disconnecting to avoid a loss, no arranged results in ladder games.</li>
<li><b>Protect privacy.</b> Do not ask for or publish anybody's real name, address, phone
number or other personal details, and never ask for passwords. Do not pretend to be
somebody else, and never pretend to be staff.</li>
<li><b>One identity.</b> Do not use extra accounts to get around a silence or a ban, or
to gain an advantage in ladder games.</li>
<li><b>Respect the moderators.</b> Moderators may silence a player for a while or remove
them from the lobby when these rules are broken. If you disagree with a decision, take it
up calmly by private message or by mail, not in the public chat.</li>
<li><b>Safe links only.</b> Do not post links to harmful or illegal material or to
downloads that are not ours.</li>
<li><b>Obey the law.</b> Nothing that is illegal where you or the other players live.</li>
</ol>
<p>Breaking these rules can lead to a silence, removal from the lobby or closing of your
account. Use the ignore list for players who bother you, and tell a moderator about
anything that breaks these rules.</p>
<p><b>Thank you for helping to keep Halvane a friendly place. Have fun!</b></p>
)"},
};

const char *kStyle = R"(
h2 { color: #1e2a3d; margin-bottom: 6px; }
h3 { color: #2b5fd9; margin-top: 14px; margin-bottom: 4px; }
p, li { line-height: 135%; }
code { background-color: #eef2f8; }
)";

QTextBrowser *pageBrowser(QWidget *parent)
{
    auto *browser = new QTextBrowser(parent);
    browser->setOpenExternalLinks(false);
    browser->setOpenLinks(false);
    browser->document()->setDefaultStyleSheet(QString::fromLatin1(kStyle));
    browser->document()->setDocumentMargin(14);
    return browser;
}

} // namespace

Thelp::Thelp(QWidget *parent) : QWidget(parent, Qt::Window)
{
    setObjectName(QStringLiteral("help"));
    setWindowTitle(QStringLiteral("Halvane - Help File"));
    setWindowIcon(assets::appIcon());

    m_pages = new QListWidget(this);
    m_pages->setObjectName(QStringLiteral("listbox_pages"));
    m_pages->setFixedWidth(190);
    m_pages->setSpacing(2);
    m_stack = new QStackedWidget(this);
    m_stack->setObjectName(QStringLiteral("pages"));

    static_assert(std::size(kPages) == Versions, "one text per page before the versions page");
    for (const PageText &page : kPages) {
        m_pages->addItem(QString::fromUtf8(page.title));
        QTextBrowser *browser = pageBrowser(m_stack);
        browser->setHtml(QString::fromUtf8(page.html));
        m_stack->addWidget(browser);
    }
    m_pages->addItem(QStringLiteral("Versions"));
    m_versions = pageBrowser(m_stack);
    m_versions->setObjectName(QStringLiteral("memo_versions"));
    m_stack->addWidget(m_versions);
    renderVersions();

    connect(m_pages, &QListWidget::currentRowChanged, m_stack, &QStackedWidget::setCurrentIndex);
    connect(m_stack, &QStackedWidget::currentChanged, this, [this](int index) {
        if (index == Versions && m_versionsDirty)
            renderVersions();
    });

    auto *close = new QPushButton(QStringLiteral("&Close"), this);
    close->setObjectName(QStringLiteral("button_close"));
    connect(close, &QPushButton::clicked, this, &QWidget::close);

    auto *body = new QHBoxLayout;
    body->setSpacing(12);
    body->addWidget(m_pages);
    body->addWidget(m_stack, 1);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(close);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 14, 14, 14);
    layout->setSpacing(10);
    layout->addLayout(body, 1);
    layout->addLayout(buttons);

    showPage(GettingStarted);
    resize(780, 540);
    accessibility::closeOnEscape(this);
    accessibility::nameControls(
        this, {{"listbox_pages", "Help topics"}, {"memo_versions", "Current versions"}});
    for (QTextBrowser *page : findChildren<QTextBrowser *>()) {
        if (page->accessibleName().isEmpty())
            page->setAccessibleName(QStringLiteral("Help page"));
    }
}

void Thelp::showPage(Page page)
{
    if (page < 0 || page >= PageCount)
        return;
    m_pages->setCurrentRow(page);
    m_stack->setCurrentIndex(page);
}

Thelp::Page Thelp::currentPage() const
{
    return static_cast<Page>(m_stack->currentIndex());
}

void Thelp::setVersions(const QList<QPair<QString, QString>> &gameAndVersion)
{
    m_versionLines = {QStringLiteral("Current Versions"), QString()};
    for (const auto &[game, version] : gameAndVersion)
        m_versionLines << game + QStringLiteral(" : Version ") + version;
    versionsChanged();
}

void Thelp::clearVersions()
{
    m_versionLines.clear();
    versionsChanged();
}

void Thelp::addVersionLine(const QString &line)
{
    m_versionLines << line;
    versionsChanged();
}

QStringList Thelp::versionLines() const
{
    return m_versionLines;
}

void Thelp::versionsChanged()
{
    // The catalogue adds its lines one by one: the page is drawn once they are in and
    // only when somebody looks at it, never once per line.
    m_versionsDirty = true;
    if (m_renderQueued || !isVisible() || currentPage() != Versions)
        return;
    m_renderQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            m_renderQueued = false;
            if (m_versionsDirty)
                renderVersions();
        },
        Qt::QueuedConnection);
}

void Thelp::showEvent(QShowEvent *event)
{
    if (currentPage() == Versions && m_versionsDirty)
        renderVersions();
    QWidget::showEvent(event);
}

QString Thelp::versionsText()
{
    if (m_versionsDirty)
        renderVersions();
    return m_versions->toPlainText();
}

void Thelp::renderVersions()
{
    m_versionsDirty = false;
    // The lines come from the server's catalogue: shown as plain text, never as markup.
    QString html;
    if (m_versionLines.isEmpty()) {
        html = QStringLiteral("<h2>Versions</h2><p>The versions of the games appear here once "
                              "you are connected to the lobby.</p>");
    } else {
        html += QStringLiteral("<p>");
        // The first line is the page's heading ("Current Versions").
        html += QStringLiteral("<b>") + m_versionLines.first().toHtmlEscaped() +
                QStringLiteral("</b><br>");
        for (qsizetype i = 1; i < m_versionLines.size(); ++i)
            html += m_versionLines[i].toHtmlEscaped() + QStringLiteral("<br>");
        html += QStringLiteral("</p>");
    }
    m_versions->setHtml(html);
}

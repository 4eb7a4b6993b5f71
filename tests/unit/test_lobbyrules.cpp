#include "catalogue.h"
#include "chattext.h"
#include "playerentry.h"
#include "serveraddress.h"

#include <gtest/gtest.h>

using namespace chattext;

TEST(WordFilter, MasksEveryOccurrenceKeepingOtherCase)
{
    ASSERT_EQ(filterWordCount(), 37);
    const QList<QPair<QByteArray, QByteArray>> cases = {
        {"Hello World", "Hello World"},
        {"SHIT happens, shit!", "**** happens, ****!"},
        {"BullShitting", "Bull****ting"},               // inside a longer word, case ignored
        {"a Bastard is a bastard", "a **** is a ****"}, // longer words shrink to four
        {"", ""},
    };
    for (const auto &[in, out] : cases)
        EXPECT_EQ(filterchat(in), out) << in.constData();
}

TEST(Links, FindTable)
{
    struct Case
    {
        QString text;
        int position;
        QString url; // empty: no link
        int start;
    };
    const QList<Case> cases = {
        {"see http://example.org/a.", 8, "http://example.org/a", 4},
        {"see http://example.org/a.", 2, "", -1},         // not on the link
        {"(see:http://x.org/p)", 3, "http://x.org/p", 5}, // text before the prefix ignored
        {"go to www.example.org!", 10, "www.example.org", 6},
        {"HTTP://Example.ORG/Path)", 0, "HTTP://Example.ORG/Path", 0},
        {"only http:// here", 7, "", -1}, // the prefix alone is no link
        {"line\nhttps://secure.example/x\nnext", 8, "https://secure.example/x", 5},
        {"mailto:ann@example.org,", 3, "mailto:ann@example.org", 0},
        {"telnet://host.example", 3, "telnet://host.example", 0},
        {"", 0, "", -1},
    };
    for (const auto &c : cases) {
        const Link link = findurlat(c.text, c.position);
        EXPECT_EQ(link.url, c.url) << c.text.toStdString();
        EXPECT_EQ(link.start, c.start) << c.text.toStdString();
    }
}

TEST(Links, OnlyWebAndMailLinksAreOpened)
{
    const QList<QPair<QString, bool>> cases = {
        {"http://a.org", true},        {"HTTPS://a.org", true},   {"ftp://a.org", true},
        {"mailto:a@b.org", true},      {"news:comp.lang", true},  {"www.a.org", true},
        {"file:///etc/passwd", false}, {"telnet://a.org", false}, {"gopher://a.org", false},
    };
    for (const auto &[url, openable] : cases)
        EXPECT_EQ(isOpenableLink(url), openable) << url.toStdString();
    EXPECT_EQ(openableUrl("www.a.org"), QString("http://www.a.org"));
    EXPECT_EQ(openableUrl("http://a.org"), QString("http://a.org"));
}

TEST(ChatLines, RoomTable)
{
    struct Case
    {
        QByteArray text;
        bool ignored;
        Display::Kind kind;
        QByteArray line;
        std::int32_t color;
    };
    const QList<Case> cases = {
        {"/me waves|clRed", false, Display::Line, "bob waves", TColor::clRed},
        {"/24 final at 9|clBlue", false, Display::Line,
         "[bob TOURNAMENT] - final at 9:", TColor::clBlue},
        {"/24 /TA x|clBlue", false, Display::Drop, "", 0},
        {"hello there|$00008000", false, Display::Line, "bob: hello there", TColor::clGreen},
        {"shit|clBlack", false, Display::Line, "bob: ****", TColor::clBlack},
        {"no colour", false, Display::Line, "bob: no colour", TColor::clNavy},
        {"hi|nonsense", false, Display::Line, "bob: hi", TColor::clNavy},
        {"hi|clRed", true, Display::Drop, "", 0},
        {"x RV88-Announcement y|clRed", false, Display::Drop, "", 0},
        {"/ignored+ann", true, Display::IgnoredNotice,
         "ann is ignoring you, you are not allowed to join the game.", TColor::clNavy},
        // Nothing another player sends may start a line of its own.
        {"hi\nalice sent you a PM|clBlue", false, Display::Line, "bob: hi alice sent you a PM",
         TColor::clBlue},
        {"a\rb\x15"
         "c\td|clRed",
         false, Display::Line, "bob: a b c d", TColor::clRed},
        {"x\xe2\x80\xa8y\xe2\x80\xa9z\xc2\x85w|clRed", false, Display::Line, "bob: x y z w",
         TColor::clRed},
        {QByteArray("nul\0byte|clRed", 14), false, Display::Line, "bob: nul byte", TColor::clRed},
        {"caf\xc3\xa9 \xe2\x82\xac|clRed", false, Display::Line, "bob: caf\xc3\xa9 \xe2\x82\xac",
         TColor::clRed},
        {"/ignored+ann\nfake", true, Display::IgnoredNotice,
         "ann fake is ignoring you, you are not allowed to join the game.", TColor::clNavy},
    };
    for (const auto &c : cases) {
        const Display d = roomChatLine("bob", c.text, c.ignored);
        EXPECT_EQ(d.kind, c.kind) << c.text.constData();
        if (c.kind != Display::Drop) {
            EXPECT_EQ(d.text, c.line) << c.text.constData();
            EXPECT_EQ(d.color.value(), c.color) << c.text.constData();
        }
    }
}

TEST(ChatLines, LobbyAndTournamentLinesStayOnOneLine)
{
    Display d = lobbyChatLine("bob", "hi\r\nthere|clRed", false);
    EXPECT_EQ(d.text, QByteArray("bob: hi  there"));
    d = lobbyChatLine("bob", "/tn Cup\n / Plumbrix / here / 9 / 00 / PM|clRed", false);
    ASSERT_EQ(d.kind, Display::Tournament);
    for (const QByteArray &line : d.tourneyLines)
        EXPECT_FALSE(line.contains('\n')) << line.constData();
    EXPECT_EQ(chattext::singleLine(QStringLiteral("a\nb\u2028c\u0015d\u0085e")),
              QStringLiteral("a b c d e"));
}

TEST(ChatLines, LobbyAndTournamentAnnouncements)
{
    Display d = lobbyChatLine("bob", "/me waves|clRed", false);
    EXPECT_EQ(d.kind, Display::Line);
    EXPECT_EQ(d.text, "bob waves");
    d = lobbyChatLine("bob", "hi all|clTeal", false);
    EXPECT_EQ(d.text, "bob: hi all");

    const QByteArray composed =
        announcementText("Spring Cup", "Dice", "Dice", "8", ":00", "pm", true, "bring snacks");
    d = lobbyChatLine("bob", "/tn " + composed + "|clPurple", false);
    ASSERT_EQ(d.kind, Display::Tournament);
    EXPECT_EQ(d.color.value(), TColor::clPurple);
    EXPECT_EQ(d.tourneyLines,
              (QList<QByteArray>{" Spring Cup", " Dice Tournament", " In Lobby: Dice",
                                 " Start Time - 8:00pm", " Checkin is open", " bring snacks",
                                 " Contact BOB for information", "   ***"}));

    d = lobbyChatLine("bob", "/tn one / two / three|clRed", false);
    EXPECT_EQ(d.tourneyLines, (QList<QByteArray>{" one", " two", " ", " ", " ", " ",
                                                 " Contact BOB for information", "   ***"}));
    d = lobbyChatLine("bob", "/tn tonight at nine|clRed", false);
    EXPECT_EQ(d.tourneyLines, QList<QByteArray>{"bob : tonight at nine"});
}

TEST(Announcements, ComposerShoutAndNews)
{
    EXPECT_EQ(announcementText("", "", "", "8", ":00", "pm", true, ""),
              " /  /  / Start Time - 8:00pm / Checkin is open /  / ");
    EXPECT_EQ(announcementText("T", "G", "L", "12", ":45", "am", false, "C"),
              "T / G Tournament / In Lobby: L / Start Time - 12:45am / Checkin not open / C / ");

    const QList<QPair<QByteArray, QByteArray>> shouts = {
        {"RebootSoon at midnight",
         "The Server will be going DOWN for Maintenance in a few minutes."},
        {"rebootsoon then REBOOTNOW",
         "The Server is going down for Maintenance. You can log back in in a few minutes!"},
        {"Welcome all", "RV88-Announcement: Welcome all"},
    };
    for (const auto &[text, message] : shouts)
        EXPECT_EQ(shoutMessage(text), message) << text.constData();

    struct NewsCase
    {
        QByteArray text;
        QByteArray id;
        QList<QByteArray> lines;
    };
    const QList<NewsCase> news = {
        {"id17|Line one/r/Line two", "id17", {"Line one", "Line two"}},
        {"id18|", "id18", {""}},
        {"id19|single", "id19", {"single"}},
        {"no bar/r/here", "", {"no bar", "here"}},
        {"x|a/r/", "x", {"a", ""}},
    };
    for (const auto &c : news) {
        const News n = splitNews(c.text);
        EXPECT_EQ(n.id, c.id) << c.text.constData();
        EXPECT_EQ(n.lines, c.lines) << c.text.constData();
    }
}

TEST(PlayerEntries, ParseTable)
{
    struct Case
    {
        QByteArray text;
        QByteArray lobby;
        QByteArray room;
    };
    const QList<Case> cases = {
        {"ann+3+Lobby Chat+", "ann:3:Lobby Chat:", "ann:3:Lobby Chat:[]"},
        {"ann+3+Lobby Chat", "ann:3::", "ann:3::[]"}, // the room needs a "+" after it
        {"ann++Dice+bob - Dice", "ann:1:Dice:", "ann:1:Dice:[bob - Dice]"},
        {"ann+2+Dice+x+y", "ann:2:Dice:", "ann:2:Dice:[x+y]"},
        {"ann", ":1::", ":1::[]"}, // no "+": no name, ignored
    };
    for (const auto &c : cases) {
        const PlayerEntry e = PlayerEntry::parse(c.text);
        EXPECT_EQ(e.lobbyListEntry(), c.lobby) << c.text.constData();
        EXPECT_EQ(e.roomListEntry(), c.room) << c.text.constData();
    }
}

TEST(PlayerEntries, NoticeRule)
{
    // Rows: Show 0, 1, 2; columns: online friend, offline friend, neither.
    const Notice expected[3][3] = {
        {Notice::Blue, Notice::Blue, Notice::Navy},
        {Notice::Blue, Notice::Blue, Notice::None},
        {Notice::None, Notice::Blue, Notice::None},
    };
    for (int show = 0; show < 3; ++show) {
        EXPECT_EQ(noticeFor(show, true, false), expected[show][0]) << show;
        EXPECT_EQ(noticeFor(show, false, true), expected[show][1]) << show;
        EXPECT_EQ(noticeFor(show, false, false), expected[show][2]) << show;
    }
}

TEST(Catalogue, LinesAndNames)
{
    const catalogue::Line g = catalogue::parseLine("game:Word:alpha:1.6.7:/files/test:alpha.exe");
    EXPECT_EQ(g.tag, catalogue::Line::Game);
    EXPECT_EQ(g.category, "Word");
    EXPECT_EQ(g.id, "alpha");
    EXPECT_EQ(g.version, "1.6.7");
    EXPECT_EQ(g.path, "/files/test:alpha.exe");
    EXPECT_EQ(catalogue::parseLine("myll:Dice:alpha:1:p").tag, catalogue::Line::MyLadder);
    EXPECT_EQ(catalogue::parseLine("rmll:Dice:alpha:1:p").tag, catalogue::Line::RmLadder);
    const catalogue::Line v = catalogue::parseLine("vers:1.6.10:0:");
    EXPECT_EQ(v.tag, catalogue::Line::Version);
    EXPECT_EQ(v.version, "1.6.10");
    for (const char *ignored : {"gam:Word:x", "nothing", "GAME:Word:x:1:p", ""})
        EXPECT_EQ(catalogue::parseLine(ignored).tag, catalogue::Line::Unknown) << ignored;
    EXPECT_EQ(catalogue::splitLines("a/r/b/r//r/c"), (QList<QByteArray>{"a", "b", "", "c"}));

    const QList<QPair<QByteArray, QByteArray>> bases = {
        {"plumbrix", "plumbrix"}, {"ADULTplumbrix", "plumbrix"},
        {"diceRMLADDER", "dice"}, {"diceMYLADDER", "dice"},
        {"diceSLOW", "dice"},     {"ADULTdiceSLOWMYLADDER", "diceSLOW"},
    };
    for (const auto &[id, base] : bases)
        EXPECT_EQ(catalogue::registryBaseName(id), base) << id.constData();
    EXPECT_TRUE(catalogue::isHiddenDownload("aMYLADDER"));
    EXPECT_TRUE(catalogue::isHiddenDownload("ADULTplumbrix"));
    EXPECT_FALSE(catalogue::isHiddenDownload("alpha"));
}

TEST(Catalogue, VersionStates)
{
    const QList<std::tuple<QByteArray, QByteArray, int>> installed = {
        {"", "1.6.7", 2},       {"1.6.7", "1.6.7", 0},  {"1.6.6", "1.6.7", 1},
        {"1.6.8", "1.6.7", 0},  {"1.6.7b", "1.6.7", 1}, {"1.6.7", "x", 1},
        {"1.6.9", "1.6.10", 1}, {"1.7.0", "1.6.10", 0}, {"1.6", "1.6.0", 0},
    };
    for (const auto &[have, want, state] : installed)
        EXPECT_EQ(catalogue::installedState(have, want), state) << have.constData();

    using catalogue::SelfVersion;
    EXPECT_EQ(catalogue::compareSelfVersion("1.6.7", "1.6.7"), SelfVersion::Current);
    EXPECT_EQ(catalogue::compareSelfVersion("1.6.7", "1.6.10"), SelfVersion::Outdated);
    // Part by part: 1.7.0 is newer than 1.6.10 although "170" < "1610".
    EXPECT_EQ(catalogue::compareSelfVersion("1.7.0", "1.6.10"), SelfVersion::Current);
    EXPECT_EQ(catalogue::compareSelfVersion("1.6.10", "1.7"), SelfVersion::Outdated);
    EXPECT_EQ(catalogue::compareSelfVersion("1.6.7", "1.6.x"), SelfVersion::Unreadable);
}

TEST(Catalogue, PictureTableShape)
{
    EXPECT_EQ(catalogue::getgameimage("plumbrix"), 3);
    EXPECT_EQ(catalogue::getgameimage("adultplumbrix"), 4);
    const auto &games = catalogue::pictureTableGames();
    ASSERT_EQ(games.size(), 44);
    EXPECT_EQ(catalogue::getgameimage(games.first()), 5);
    EXPECT_EQ(catalogue::getgameimage(games.first() + "myladder"), 6);
    EXPECT_EQ(catalogue::getgameimage(games.first() + "rmladder"), 7);
    EXPECT_EQ(catalogue::getgameimage(games.last() + "rmladder"), 136);
    EXPECT_EQ(catalogue::getgameimage("unknown"), 2);
    EXPECT_EQ(catalogue::getgameimage("PLUMBRIX"), 2); // the caller lower-cases
}

TEST(ServerAddress, PlainAndTlsTable)
{
    struct Case
    {
        const char *text;
        const char *host;
        int port;
        bool secure;
    };
    const Case cases[] = {
        {"lobby.example", "lobby.example", 9020, false},
        {"127.0.0.1:7000", "127.0.0.1", 7000, false},
        // A port that is not one keeps the whole text as the host, as ever.
        {"lobby.example:0", "lobby.example:0", 9020, false},
        {"lobby.example:65536", "lobby.example:65536", 9020, false},
        {"lobby.example:x", "lobby.example:x", 9020, false},
        {"::1", "::1", 9020, false},
        {"tls://lobby.example", "lobby.example", 9021, true},
        {"TLS://127.0.0.1:7001", "127.0.0.1", 7001, true},
        {"tls://lobby.example:99999", "lobby.example:99999", 9021, true},
        // Only a leading scheme counts.
        {"lobby.tls://x", "lobby.tls://x", 9020, false},
    };
    for (const Case &c : cases) {
        const ServerAddress a = ServerAddress::parse(QString::fromLatin1(c.text));
        EXPECT_EQ(a.host, QString::fromLatin1(c.host)) << c.text;
        EXPECT_EQ(a.port, c.port) << c.text;
        EXPECT_EQ(a.secure, c.secure) << c.text;
    }
}

#include "lobbyfixture.h"
#include "testhttpserver.h"
#include "tgamedescription.h"
#include "thtmllite.h"
#include "thttpcli.h"
#include "tjpegdecoder.h"
#include "tpagesanitizer.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QScrollBar>

#include <QBuffer>
#include <QLabel>
#include <QTextCursor>
#include <QTextDocument>

void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace {

QByteArray encoded(const QImage &image, const char *format, int quality = 90)
{
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    EXPECT_TRUE(image.save(&buffer, format, quality)) << format;
    return out;
}

QImage sample(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            image.setPixel(x, y, qRgb(x * 255 / width, y * 255 / height, 128));
    }
    return image;
}

QByteArray jpegOf(int width, int height)
{
    return encoded(sample(width, height), "JPEG");
}

QByteArray pngOf(int width, int height)
{
    QImage image(width, height, QImage::Format_Mono);
    image.fill(0);
    return encoded(image, "PNG");
}

// Qt reads GIF but does not write it: a two-colour GIF whose LZW stream starts afresh
// after every two pixels, so its codes never grow beyond three bits.
QByteArray gifOf(int width, int height)
{
    QByteArray out("GIF89a");
    auto word = [&](int v) {
        out.append(char(v & 0xff));
        out.append(char(v >> 8));
    };
    word(width);
    word(height);
    out.append(char(0x80)); // global palette of two colours
    out.append(char(0));
    out.append(char(0));
    out.append(QByteArray::fromHex("1e5fd9ffffff"));
    out.append(',');
    word(0);
    word(0);
    word(width);
    word(height);
    out.append(char(0));
    out.append(char(2)); // minimum code size: clear code 4, end code 5

    QByteArray data;
    quint32 bits = 0;
    int count = 0;
    auto code = [&](int c) {
        bits |= quint32(c) << count;
        count += 3;
        while (count >= 8) {
            data.append(char(bits & 0xff));
            bits >>= 8;
            count -= 8;
        }
    };
    for (int i = 0; i < width * height; ++i) {
        if (i % 2 == 0)
            code(4);
        code((i / width + i % width) % 2);
    }
    code(5);
    if (count > 0)
        data.append(char(bits & 0xff));
    for (qsizetype at = 0; at < data.size(); at += 255) {
        const QByteArray block = data.mid(at, 255);
        out.append(char(block.size()));
        out.append(block);
    }
    out.append(char(0));
    out.append(';');
    return out;
}

class GameDescriptionTest : public LobbyFixture
{
protected:
    void SetUp() override
    {
        LobbyFixture::SetUp();
        loginAs("alice");
        lobby->setSiteRoot(http.root());
    }

    Tgamedescription *window() const { return windows->gamedescription(); }
    ThtmlLite *viewer() const { return window()->displayhtml; }

    void view(const QString &room) { lobby->showGameDescription(room); }
    void page(const QByteArray &path, const QByteArray &body)
    {
        http.setBody(path, body, {"Content-Type: text/html"});
    }
    // Lets the window's posted picture calls run, one at a time, until none is left.
    void fetchAllPictures()
    {
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return window()->pendingPictures().isEmpty() && !window()->busy(); }, 10000));
    }
    QSize pictureSize(const QString &src) const
    {
        return viewer()
            ->document()
            ->resource(QTextDocument::ImageResource, QUrl(src))
            .value<QImage>()
            .size();
    }

    TestHttpServer http;
};

TEST_F(GameDescriptionTest, TheRoomPicksTheGamesPageAndItsServerRoot)
{
    page("/plumbrix/plumbrix.htm", "<h1>Plumbrix</h1><p>Pipes and bricks.</p>");
    page("/wordsmith/wordsmith.htm", "<p>Words.</p>");
    struct Case
    {
        QString room;
        QByteArray path;
        QString game;
    };
    for (const Case &c : {Case{"PlumbrixRMLADDER", "/plumbrix/plumbrix.htm", "plumbrix"},
                          Case{"ADULTPlumbrix", "/plumbrix/plumbrix.htm", "plumbrix"},
                          Case{"plumbrixMyLadderSLOW", "/plumbrix/plumbrix.htm", "plumbrix"},
                          Case{"Wordsmith", "/wordsmith/wordsmith.htm", "wordsmith"}}) {
        SCOPED_TRACE(c.room.toStdString());
        http.requests.clear();
        window()->hide();
        view(c.room);
        EXPECT_EQ(http.requests, QList<QByteArray>{c.path});
        EXPECT_EQ(window()->label_gamename->text(), c.room);
        EXPECT_EQ(viewer()->ServerRoot, http.root() + c.game);
        EXPECT_TRUE(window()->isVisible());
        EXPECT_FALSE(window()->isModal());
    }
    EXPECT_TRUE(seam.errors.isEmpty());

    http.requests.clear();
    window()->hide();
    view(QString());
    EXPECT_TRUE(http.requests.isEmpty());
    EXPECT_EQ(window()->label_gamename->text(), QString());
    EXPECT_FALSE(window()->isVisible());
}

TEST_F(GameDescriptionTest, PictureAndLinkSourcesBecomeAddresses)
{
    const QString root = QStringLiteral("http://site.example/plumbrix");
    struct Case
    {
        QString src, picture, link;
    };
    for (const Case &c : {
             Case{"images/box.gif", root + "/images/box.gif", root + "/images/box.gif"},
             Case{"/pics/a.gif", root + "/pics/a.gif", root + "/pics/a.gif"},
             // The site's own rule for sources that hold "HTTP" but are no address.
             Case{"pics/HTTP.gif", "/pics/HTTP.gif", ""},
             Case{"HTTP://other.example/a.gif", "HTTP://other.example/a.gif",
                  "HTTP://other.example/a.gif"},
             Case{"https://other.example/a.gif", "https://other.example/a.gif",
                  "https://other.example/a.gif"},
             Case{"mailto:team@ostrel.example", root + "/mailto:team@ostrel.example",
                  "mailto:team@ostrel.example"},
             Case{"mailto:team@ostrel.example?attach=/home/user/.ssh/id_rsa&Subject=Hi&cc=x@y",
                  root +
                      "/mailto:team@ostrel.example?attach=/home/user/.ssh/id_rsa&Subject=Hi&cc=x@y",
                  "mailto:team@ostrel.example?subject=Hi"},
             Case{"mailto:?attach=/etc/passwd", root + "/mailto:?attach=/etc/passwd", ""},
             Case{"file:///etc/passwd", root + "/file:///etc/passwd", ""},
             Case{"javascript:alert(1)", root + "/javascript:alert(1)", ""},
             Case{"ftp://other.example/x", root + "/ftp://other.example/x", ""},
         }) {
        SCOPED_TRACE(c.src.toStdString());
        EXPECT_EQ(Tgamedescription::absoluteUrl(c.src, root), c.picture);
        EXPECT_EQ(Tgamedescription::linkAddress(c.src, root), c.link);
    }
}

TEST_F(GameDescriptionTest, TextShowsFirstThenOnePicturePerPostedCall)
{
    page("/plumbrix/plumbrix.htm", "<h1>Plumbrix</h1><p>Pipes and bricks.</p>"
                                   "<img src=\"images/box.jpg\"><p>between</p>"
                                   "<img src=\"/plumbrix/images/board.gif\">"
                                   "<table><tr><td><img src=\"/pics/a.png\"></td></tr></table>");
    http.setBody("/plumbrix/images/box.jpg", jpegOf(120, 80), {"Content-Type: image/jpeg"});
    http.setBody("/plumbrix/plumbrix/images/board.gif", gifOf(33, 21), {"Content-Type: image/gif"});
    http.setBody("/plumbrix/pics/a.png", pngOf(7, 300), {"Content-Type: image/png"});

    view(QStringLiteral("Plumbrix"));
    EXPECT_EQ(http.requests, QList<QByteArray>{"/plumbrix/plumbrix.htm"});
    EXPECT_TRUE(window()->isVisible());
    EXPECT_TRUE(viewer()->toPlainText().contains(QLatin1String("Pipes and bricks.")));
    EXPECT_EQ(window()->pendingPictures(),
              (QStringList{"images/box.jpg", "/plumbrix/images/board.gif", "/pics/a.png"}));
    EXPECT_TRUE(pictureSize("images/box.jpg").width() <= 1);

    const QList<QByteArray> pictures = {
        "/plumbrix/images/box.jpg", "/plumbrix/plumbrix/images/board.gif", "/plumbrix/pics/a.png"};
    const QStringList sources = {"images/box.jpg", "/plumbrix/images/board.gif", "/pics/a.png"};
    const QList<QSize> sizes = {QSize(120, 80), QSize(33, 21), QSize(7, 300)};
    for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(i);
        const qreal heightBefore = viewer()->document()->size().height();
        QCoreApplication::sendPostedEvents(window(), QEvent::MetaCall);
        EXPECT_EQ(http.requests.size(), 2 + i) << "one picture per posted call";
        EXPECT_EQ(http.requests.last(), pictures[i]);
        EXPECT_EQ(pictureSize(sources[i]), sizes[i]);
        EXPECT_GT(viewer()->document()->size().height(), heightBefore) << "laid out again";
        EXPECT_EQ(window()->pendingPictures().size(), 2 - i);
    }
    EXPECT_TRUE(viewer()->waitingImages().isEmpty());
    EXPECT_TRUE(seam.errors.isEmpty());

    // Showing the page again asks for the pictures again, of the new page.
    http.requests.clear();
    view(QStringLiteral("Plumbrix"));
    fetchAllPictures();
    EXPECT_EQ(http.requests.size(), 4);
    EXPECT_EQ(pictureSize("/pics/a.png"), QSize(7, 300));
}

TEST_F(GameDescriptionTest, AFailedPageIsReportedAndTheWindowStaysHidden)
{
    TestHttpServer::Response huge;
    huge.body = QByteArray(Tgamedescription::kMaxPageBytes + 1, 'x');
    huge.headers = {"Content-Type: text/html"};
    http.set("/wobbleton/wobbleton.htm", huge);
    for (const QString &room : {QStringLiteral("Plumbrix"), QStringLiteral("Wobbleton")}) {
        SCOPED_TRACE(room.toStdString());
        seam.errors.clear();
        view(room);
        EXPECT_EQ(seam.errors.size(), 1);
        EXPECT_FALSE(window()->isVisible());
    }
    EXPECT_TRUE(seam.errors.first().contains(QLatin1String("larger than")));
}

TEST_F(GameDescriptionTest, BadPicturesLeaveThePageAndTheNextPictureStillLoads)
{
    const QByteArray jpeg = jpegOf(64, 48);
    page("/plumbrix/plumbrix.htm", "<p>Still here.</p>"
                                   "<img src=\"cut.jpg\"><img src=\"noise.gif\">"
                                   "<img src=\"wide.png\"><img src=\"missing.gif\">"
                                   "<img src=\"tall.jpg\"><img src=\"good.gif\">");
    http.setBody("/plumbrix/cut.jpg", jpeg.left(jpeg.size() / 2));
    http.setBody("/plumbrix/noise.gif", QByteArray("GIF89a\x10\x00\x10\x00garbage", 20));
    http.setBody("/plumbrix/wide.png", pngOf(ThtmlLite::kMaxPictureSide + 1, 1));
    http.setBody("/plumbrix/tall.jpg", jpegOf(8, ThtmlLite::kMaxPictureSide + 8));
    http.setBody("/plumbrix/good.gif", gifOf(10, 12));

    view(QStringLiteral("Plumbrix"));
    fetchAllPictures();
    EXPECT_EQ(http.requests.size(), 7);
    EXPECT_EQ(pictureSize("good.gif"), QSize(10, 12));
    QStringList waiting = viewer()->waitingImages();
    waiting.sort();
    EXPECT_EQ(waiting,
              (QStringList{"cut.jpg", "missing.gif", "noise.gif", "tall.jpg", "wide.png"}));
    for (const QString &bad : waiting)
        EXPECT_LE(pictureSize(bad).width(), 1) << bad.toStdString();
    EXPECT_TRUE(viewer()->toPlainText().contains(QLatin1String("Still here.")));
    EXPECT_TRUE(window()->isVisible());
    EXPECT_TRUE(seam.errors.isEmpty());
}

TEST_F(GameDescriptionTest, AnotherPageWhilePicturesAreQueuedOrRunning)
{
    page("/plumbrix/plumbrix.htm", "<p>Plumbrix</p><img src=\"a.gif\"><img src=\"b.gif\">");
    http.setBody("/plumbrix/a.gif", gifOf(4, 4));
    http.setBody("/plumbrix/b.gif", gifOf(4, 4));
    TestHttpServer::Response slowPage;
    slowPage.body = "<p>Wobbleton</p><img src=\"w.gif\">";
    slowPage.headers = {"Content-Type: text/html"};
    slowPage.pauses = {0};
    http.set("/wobbleton/wobbleton.htm", slowPage);
    http.setBody("/wobbleton/w.gif", gifOf(5, 5));

    // Plumbrix's pictures are queued while Wobbleton's page is on its way: the picture
    // call that runs meanwhile must wait, and then finds them dropped.
    view(QStringLiteral("Plumbrix"));
    bool resumed = false;
    QTimer::singleShot(0, [&] {
        EXPECT_TRUE(QTest::qWaitFor([&] { return http.paused(); }, 5000));
        EXPECT_EQ(http.requests.size(), 2) << "no picture fetched during the page";
        resumed = true;
        http.resume();
    });
    view(QStringLiteral("Wobbleton"));
    EXPECT_TRUE(resumed);
    fetchAllPictures();
    EXPECT_EQ(http.requests, (QList<QByteArray>{"/plumbrix/plumbrix.htm",
                                                "/wobbleton/wobbleton.htm", "/wobbleton/w.gif"}));
    EXPECT_EQ(pictureSize("w.gif"), QSize(5, 5));

    // A picture transfer still running when another page is asked for is ended, and the
    // page comes once it has unwound.
    TestHttpServer::Response slowPicture;
    slowPicture.body = gifOf(4, 4);
    slowPicture.pauses = {0};
    http.set("/plumbrix/a.gif", slowPicture);
    http.set("/wobbleton/wobbleton.htm", [] {
        TestHttpServer::Response r;
        r.body = "<p>Wobbleton again</p>";
        r.headers = {"Content-Type: text/html"};
        return r;
    }());
    http.requests.clear();
    view(QStringLiteral("Plumbrix"));
    QTimer::singleShot(0, [&] {
        EXPECT_TRUE(QTest::qWaitFor([&] { return http.paused(); }, 5000));
        view(QStringLiteral("Wobbleton"));
    });
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return viewer()->toPlainText().contains(QLatin1String("Wobbleton again")); }, 10000));
    fetchAllPictures();
    EXPECT_EQ(http.requests, (QList<QByteArray>{"/plumbrix/plumbrix.htm", "/plumbrix/a.gif",
                                                "/wobbleton/wobbleton.htm"}));
    EXPECT_TRUE(seam.errors.isEmpty()) << seam.errors.join('\n').toStdString();
    http.resume();

    // A page that fails leaves the page shown before with all its pictures to come,
    // also the one whose call ran while the failed page was on its way.
    http.setBody("/plumbrix/a.gif", gifOf(4, 4));
    TestHttpServer::Response failing;
    failing.status = 404;
    failing.reason = "Not Found";
    failing.body = "gone";
    failing.pauses = {0};
    http.set("/wobbleton/wobbleton.htm", failing);
    http.requests.clear();
    view(QStringLiteral("Plumbrix"));
    QTimer::singleShot(0, [&] {
        EXPECT_TRUE(QTest::qWaitFor([&] { return http.paused(); }, 5000));
        QTest::qWait(20);
        http.resume();
    });
    view(QStringLiteral("Wobbleton"));
    EXPECT_EQ(seam.errors.size(), 1);
    fetchAllPictures();
    EXPECT_EQ(http.requests,
              (QList<QByteArray>{"/plumbrix/plumbrix.htm", "/wobbleton/wobbleton.htm",
                                 "/plumbrix/a.gif", "/plumbrix/b.gif"}));
    EXPECT_EQ(pictureSize("b.gif"), QSize(4, 4));
}

// The highest memory the process has used so far, in bytes (0 where it cannot be read).
qint64 peakMemory()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong() * 1024;
    }
    return 0;
}

// Pages that took the viewer's layout minutes (or its stack) each show within a second,
// laid out to their end, and the lobby answers the server meanwhile.
TEST_F(GameDescriptionTest, HostilePageShapesShowWithinASecond)
{
    const QString tooComplex = QString::fromLatin1(TPageSanitizer::kTooComplex);
    struct Case
    {
        const char *name;
        QByteArray page;
        QString shows;
    };
    const Case cases[] = {
        {"5000 nested tables", QByteArray("<table><tr><td>").repeated(5000) + "deep", tooComplex},
        {"22 nested tables", QByteArray("<table><tr><td>x").repeated(22) + "deep", "deep"},
        {"1300 nested tables", QByteArray("<table><tr><td>").repeated(1300) + "deep", "deep"},
        {"20000 pictures in one paragraph",
         "<p>" + QByteArray("<img src=\"a.gif\" width=\"9\" height=\"9\">").repeated(20000),
         tooComplex},
        {"3900 pictures in one paragraph",
         "<p>" + QByteArray("<img src=\"a.gif\" width=\"9\" height=\"9\">").repeated(3900) + "end",
         "end"},
        {"50000 nested lists", QByteArray("<ul><li>").repeated(50000) + "deep", tooComplex},
        {"1900 nested lists", QByteArray("<ul><li>x").repeated(1900) + "deep", "deep"},
        {"100000 nested divs", QByteArray("<div>").repeated(100000) + "deep", tooComplex},
        {"3900 nested divs", QByteArray("<div>x").repeated(3900) + "deep", "deep"},
        {"a 1.9 MB word", "<p>" + QByteArray(1'900'000, 'x'), QString(60, QLatin1Char('x'))},
        {"3000 columns", "<table><tr>" + QByteArray("<td>c").repeated(3000) + "</table>end", "end"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_LE(c.page.size(), Tgamedescription::kMaxPageBytes);
        page("/plumbrix/plumbrix.htm", c.page);
        window()->hide();
        const int linesBefore = server.lines().size();
        QElapsedTimer clock;
        clock.start();
        server.send("PING|shape");
        view(QStringLiteral("Plumbrix"));
        // Laid out and painted to the page's end, as a user scrolling down sees it.
        viewer()->document()->size();
        viewer()->verticalScrollBar()->setValue(viewer()->verticalScrollBar()->maximum());
        viewer()->viewport()->grab();
        EXPECT_GE(server.waitForLine("PING|", 1000, linesBefore), 0) << "the lobby answered";
        EXPECT_LT(clock.elapsed(), 1000);
        EXPECT_TRUE(window()->isVisible());
        EXPECT_TRUE(viewer()->toPlainText().contains(c.shows));
        EXPECT_TRUE(seam.errors.isEmpty());
        window()->stop();
    }
}

// One small picture that decodes to 4000 x 4000, named two hundred times under different
// addresses, once kept about 16 million pixels per copy.
TEST_F(GameDescriptionTest, APictureFloodStaysWithinThePagesBudget)
{
    QImage plain(4000, 4000, QImage::Format_Mono);
    plain.fill(0);
    const QByteArray big = encoded(plain, "PNG", 0);
    ASSERT_LT(big.size(), 64 * 1024);
    // One address under two sources of the page is fetched once.
    QByteArray body = "<p>flood</p><img src=\"small.gif\"><img src=\"/small.gif\">"
                      "<img src=\"small.gif\">";
    http.setBody("/plumbrix/small.gif", gifOf(6, 6), {"Content-Type: image/gif"});
    QStringList sources;
    for (int i = 0; i < 200; ++i) {
        const QByteArray src = "big.png?" + QByteArray::number(i);
        sources << QString::fromLatin1(src);
        body += "<img src=\"" + src + "\">";
        http.setBody("/plumbrix/" + src, big, {"Content-Type: image/png"});
    }
    page("/plumbrix/plumbrix.htm", body);

    const qint64 peakBefore = peakMemory();
    view(QStringLiteral("Plumbrix"));
    fetchAllPictures();
    qint64 pixels = 0;
    int shown = 0;
    for (const QString &src : sources + QStringList{"small.gif", "/small.gif"}) {
        const QSize size = pictureSize(src);
        if (size.width() > 1) {
            ++shown;
            pixels += qint64(size.width()) * size.height();
            EXPECT_LE(size.width(), ThtmlLite::kMaxShownSide) << "scaled to its shown size";
        }
    }
    EXPECT_GT(shown, 2) << "pictures within the budget still show";
    EXPECT_LE(pixels, ThtmlLite::kMaxPageKeptPixels);
    EXPECT_EQ(pictureSize("small.gif"), QSize(6, 6));
    EXPECT_EQ(pictureSize("/small.gif"), QSize(6, 6));
    EXPECT_EQ(http.requests.count("/plumbrix/small.gif"), 1);
    EXPECT_LE(http.requests.size(), 1 + TPageSanitizer::kMaxPictures);
    if (peakBefore > 0) {
        EXPECT_LT(peakMemory() - peakBefore, qint64(400) << 20);
    }
    EXPECT_TRUE(window()->isVisible());
    EXPECT_TRUE(seam.errors.isEmpty());

    // A page given a size shows the picture at that size.
    http.requests.clear();
    page("/plumbrix/plumbrix.htm", "<img src=\"big.png?1\" width=\"40\">");
    view(QStringLiteral("Plumbrix"));
    fetchAllPictures();
    EXPECT_EQ(pictureSize("big.png?1"), QSize(40, 40));
}

TEST_F(GameDescriptionTest, LinksOpenOnlyWebAndMailAddresses)
{
    page("/plumbrix/plumbrix.htm", "<p><a href=\"rules.htm\">RulesLink</a></p>"
                                   "<p><a href=\"/index.html\">IndexLink</a></p>"
                                   "<p><a href=\"http://other.example/x?y=1\">OtherLink</a></p>"
                                   "<p><a href=\"mailto:team@ostrel.example\">MailLink</a></p>"
                                   "<p><a href=\"mailto:team@ostrel.example?subject=Hi%20there&amp;"
                                   "attach=/home/user/.ssh/id_rsa&amp;body=x\">AttachLink</a></p>"
                                   "<p><a href=\"file:///etc/passwd\">FileLink</a></p>"
                                   "<p><a href=\"javascript:alert(1)\">ScriptLink</a></p>");
    view(QStringLiteral("Plumbrix"));
    ASSERT_TRUE(window()->isVisible());
    struct Case
    {
        QString text, opened;
    };
    for (const Case &c : {Case{"RulesLink", http.root() + "plumbrix/rules.htm"},
                          Case{"IndexLink", http.root() + "plumbrix/index.html"},
                          Case{"OtherLink", "http://other.example/x?y=1"},
                          Case{"MailLink", "mailto:team@ostrel.example"},
                          Case{"AttachLink", "mailto:team@ostrel.example?subject=Hi%20there"},
                          Case{"FileLink", ""}, Case{"ScriptLink", ""}}) {
        SCOPED_TRACE(c.text.toStdString());
        seam.urls.clear();
        const QTextCursor found = viewer()->document()->find(c.text);
        ASSERT_FALSE(found.isNull());
        QTextCursor at(viewer()->document());
        at.setPosition(found.selectionStart() + 2);
        const QPoint point = viewer()->cursorRect(at).center();
        QTest::mouseClick(viewer()->viewport(), Qt::LeftButton, {}, point);
        if (c.opened.isEmpty()) {
            EXPECT_TRUE(seam.urls.isEmpty());
        } else {
            ASSERT_EQ(seam.urls.size(), 1);
            EXPECT_EQ(seam.urls.first(), QUrl(c.opened));
        }
    }
    EXPECT_EQ(http.requests.size(), 1) << "a click fetches nothing in the window";

    viewer()->SelectAll();
    EXPECT_TRUE(viewer()->SelectedText().startsWith(QLatin1String("RulesLink\nIndexLink")));
}

TEST(HtmlLite, APageLoadsNothingByItself)
{
    QTemporaryDir dir;
    QFile local(dir.filePath(QStringLiteral("local.png")));
    ASSERT_TRUE(local.open(QIODevice::WriteOnly));
    local.write(pngOf(20, 20));
    local.close();
    QFile style(dir.filePath(QStringLiteral("s.css")));
    ASSERT_TRUE(style.open(QIODevice::WriteOnly));
    style.write("p { color: red; }");
    style.close();

    ThtmlLite viewer;
    QStringList asked;
    viewer.OnImageRequest = [&](QObject *, const QString &src, QIODevice *&stream) {
        asked << src;
        stream = nullptr;
    };
    const QString fileUrl = QUrl::fromLocalFile(local.fileName()).toString();
    viewer.LoadFromBytes(QStringLiteral("<html><head><link rel=\"stylesheet\" href=\"%1\">"
                                        "</head><body><p>caf\u00e9</p><img src=\"%2\">"
                                        "<img src=\"data:image/png;base64,%3\"></body></html>")
                             .arg(QUrl::fromLocalFile(style.fileName()).toString(), fileUrl,
                                  QString::fromLatin1(pngOf(9, 9).toBase64()))
                             .toUtf8());
    viewer.resize(300, 200);
    viewer.show();
    QTest::qWait(20);
    EXPECT_EQ(asked.size(), 2);
    EXPECT_EQ(asked.value(0), fileUrl);
    EXPECT_LE(viewer.document()
                  ->resource(QTextDocument::ImageResource, QUrl(fileUrl))
                  .value<QImage>()
                  .width(),
              1);
    EXPECT_TRUE(viewer.toPlainText().contains(QStringLiteral("caf\u00e9")));
    const QTextCursor text = viewer.document()->find(QStringLiteral("caf"));
    ASSERT_FALSE(text.isNull());
    EXPECT_NE(text.charFormat().foreground().color(), QColor(Qt::red)) << "no style sheet was read";

    // Text that is not UTF-8 reads as Windows-1252.
    viewer.LoadFromBytes("<p>na\xefve \x93quoted\x94</p>");
    EXPECT_EQ(viewer.toPlainText(), QStringLiteral("na\u00efve \u201cquoted\u201d"));
}

// The program quitting ends every event loop, also the one a GET waits in: the transfer
// has not ended then, and a body without an announced length must not pass for whole.
TEST(HttpCli, AGetWhoseLoopEndsEarlyFails)
{
    TestHttpServer http;
    TestHttpServer::Response r;
    r.body = QByteArray(1000, 'x');
    r.pauses = {400};
    r.announceLength = false;
    r.headers = {"Content-Type: text/html"};
    http.set("/page.htm", r);
    THttpCli client;
    QBuffer received;
    received.open(QIODevice::ReadWrite);
    client.RcvdStream = &received;
    client.setURL(http.root() + QStringLiteral("page.htm"));
    bool quitting = false;
    std::function<void()> poll = [&] {
        if (http.paused() && client.RcvdCount() == 400) {
            quitting = true;
            QCoreApplication::exit(0);
        } else {
            QTimer::singleShot(5, poll);
        }
    };
    QTimer::singleShot(0, poll);
    EXPECT_THROW(client.Get(), EHttpException);
    EXPECT_TRUE(quitting);
    EXPECT_FALSE(client.Busy());
    // Later loops of this test process run again.
    QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
    http.resume();
}

TEST(JpegDecoder, OnlyWholeSanePicturesDecode)
{
    const QByteArray good = jpegOf(40, 30);
    QByteArray grey = encoded(sample(16, 16).convertToFormat(QImage::Format_Grayscale8), "JPEG");
    // The header's frame size, patched to claim 60000 x 60000.
    QByteArray huge = jpegOf(16, 16);
    const qsizetype sof = huge.indexOf("\xff\xc0");
    ASSERT_GT(sof, 0);
    huge[sof + 5] = char(0xea);
    huge[sof + 6] = char(0x60);
    huge[sof + 7] = char(0xea);
    huge[sof + 8] = char(0x60);
    QByteArray garbage = good;
    for (qsizetype i = good.size() / 2; i < good.size() - 2; ++i)
        garbage[i] = char(0xff);

    struct Case
    {
        const char *name;
        QByteArray data;
        QSize size;
        QImage::Format format;
    };
    for (const Case &c : {
             Case{"colour", good, QSize(40, 30), QImage::Format_RGB888},
             Case{"grey", grey, QSize(16, 16), QImage::Format_Grayscale8},
             Case{"truncated", good.left(good.size() - 40), QSize(0, 0), QImage::Format_Invalid},
             Case{"damaged data", garbage, QSize(0, 0), QImage::Format_Invalid},
             Case{"header only", good.left(20), QSize(0, 0), QImage::Format_Invalid},
             Case{"huge frame", huge, QSize(0, 0), QImage::Format_Invalid},
             Case{"not a jpeg", pngOf(4, 4), QSize(0, 0), QImage::Format_Invalid},
         }) {
        SCOPED_TRACE(c.name);
        const QImage image = TJpegDecoder::decode(c.data);
        EXPECT_EQ(image.size(), c.size);
        EXPECT_EQ(image.format(), c.format);
    }
    const QImage colours = TJpegDecoder::decode(good);
    const QColor corner = colours.pixelColor(39, 29);
    EXPECT_NEAR(corner.red(), 248, 12);
    EXPECT_NEAR(corner.blue(), 128, 12);
}

} // namespace

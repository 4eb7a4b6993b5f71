#include "desktopplatform.h"
#include "lobbyfixture.h"
#include "toptions.h"
#include "tswitch.h"

#include <QLabel>
#include <QMessageBox>
#include <QPointer>

namespace {

// The real desktop seam's boxes, opened by lines from the server while the lobby is
// logged in: what the user sees of them.
class DesktopBoxTest : public LobbyFixture
{
protected:
    struct Seen
    {
        bool found = false;
        bool visible = false;
        Qt::TextFormat format = Qt::AutoText;
        bool opensLinks = true;
        QString text;
        QWidget *window = nullptr;
    };

    // Sends a line, then waits for the box it opens, notes what it shows and closes it.
    Seen boxFor(const QByteArray &line)
    {
        platform::DesktopPlatform desktop;
        desktop.setMainWindow(lobby);
        platform::Platform::install(&desktop);
        Seen seen;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
            if (!box || seen.found)
                return;
            seen.found = true;
            seen.visible = box->isVisible();
            seen.format = box->textFormat();
            seen.text = box->text();
            seen.window = box->parentWidget() ? box->parentWidget()->window() : nullptr;
            if (auto *label = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_label")))
                seen.opensLinks = label->openExternalLinks();
            box->accept();
        });
        poll.start(10);
        server.send(line);
        (void)QTest::qWaitFor([&] { return seen.found; }, 5000);
        platform::Platform::install(&seam);
        return seen;
    }
};

TEST_F(DesktopBoxTest, BoxesFromTheNetworkAreVisiblePlainTextOverTheLobby)
{
    loginAs("alice");
    // The restart announcement is a box only when the lobby will not reconnect by itself.
    windows->options()->image_reconnect->click();
    ASSERT_FALSE(windows->options()->image_reconnect->isOn());
    const QByteArray link = "<a href=\"file:///etc/passwd\">click</a>";
    const QList<QPair<QByteArray, QString>> cases = {
        {"SHOUT|" + link, QStringLiteral("RV88-Announcement: ") + QString::fromLatin1(link)},
        {"SEND|mallory|GHAT|/ignored+" + link,
         QString::fromLatin1(link) +
             QStringLiteral(" is ignoring you, you are not allowed to join the game.")},
        {"SHOUT|rebootnow", QStringLiteral("The Server is going down for Maintenance. You can "
                                           "log back in in a few minutes!")},
    };
    for (const auto &[line, text] : cases) {
        const Seen seen = boxFor(line);
        ASSERT_TRUE(seen.found) << line.constData();
        EXPECT_TRUE(seen.visible) << line.constData();
        EXPECT_EQ(seen.format, Qt::PlainText) << line.constData();
        EXPECT_FALSE(seen.opensLinks) << line.constData();
        EXPECT_EQ(seen.text, text);
        EXPECT_EQ(seen.window, lobby) << line.constData();
    }
}

TEST(DesktopBoxes, BelongToAVisibleWindowOrNone)
{
    QWidget main;
    platform::DesktopPlatform desktop;
    // Not shown yet: a hidden main window would take the box out of sight with it.
    desktop.setMainWindow(&main);
    EXPECT_EQ(desktop.boxParent(), nullptr);
    main.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&main));
    EXPECT_EQ(desktop.boxParent(), &main);
    // A visible window of ours on top is the one that asks.
    QWidget other;
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    EXPECT_EQ(desktop.boxParent(), &other);
    other.hide();
    EXPECT_EQ(desktop.boxParent(), &main);
}

} // namespace

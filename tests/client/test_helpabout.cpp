#include "assets.h"
#include "tabout.h"
#include "tflatbutton.h"
#include "tfrmconnectioninfo.h"
#include "thelp.h"

#include <QLabel>
#include <QListWidget>
#include <QRegularExpression>
#include <QStackedWidget>
#include <QTest>
#include <QTextBrowser>

#include <gtest/gtest.h>

namespace {

class HelpAboutTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { InitAssets(); }
};

// The update checks strip the dots and compare the rest as a number, so the label must
// hold nothing but the dotted version.
TEST_F(HelpAboutTest, AboutShowsTheBareVersion)
{
    TAbout about;
    EXPECT_EQ(about.windowTitle(), QStringLiteral("Ostrel Lobby - About"));
    auto *version = about.findChild<QLabel *>(QStringLiteral("label_version"));
    ASSERT_NE(version, nullptr);
    EXPECT_TRUE(
        QRegularExpression(QStringLiteral("^\\d+(\\.\\d+)*$")).match(version->text()).hasMatch())
        << version->text().toStdString();
}

TEST_F(HelpAboutTest, VersionsPageShowsCatalogueLinesAsPlainTextWhileOpen)
{
    Thelp help;
    EXPECT_EQ(help.windowTitle(), QStringLiteral("Halvane - Help File"));
    help.showPage(Thelp::Versions);
    help.show();
    help.clearVersions();
    help.addVersionLine(QStringLiteral("Current Versions"));
    help.addVersionLine(QString());
    help.addVersionLine(QStringLiteral("Dominoes : Version 2.1"));
    help.addVersionLine(QStringLiteral("<b>Odd</b> & Co : Version 1.0"));
    auto *page = help.findChild<QTextBrowser *>(QStringLiteral("memo_versions"));
    ASSERT_NE(page, nullptr);
    // The open page follows the lines without being asked to.
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return page->toPlainText().contains(QStringLiteral("<b>Odd</b> & Co")); }, 2000))
        << page->toPlainText().toStdString();
    EXPECT_EQ(help.versionsText(), QStringLiteral("Current Versions\n\nDominoes : Version "
                                                  "2.1\n<b>Odd</b> & Co : Version 1.0\n"));

    help.setVersions({{QStringLiteral("Yatzo"), QStringLiteral("3.0")}});
    EXPECT_EQ(help.versionLines(), QStringList({QStringLiteral("Current Versions"), QString(),
                                                QStringLiteral("Yatzo : Version 3.0")}));
    EXPECT_TRUE(help.versionsText().contains(QStringLiteral("Yatzo : Version 3.0")));
    EXPECT_FALSE(help.versionsText().contains(QStringLiteral("Dominoes")));
}

TEST_F(HelpAboutTest, ConductAgreementPageOpensFromCodeAndFromTheList)
{
    Thelp help;
    help.showPage(Thelp::ConductAgreement);
    auto *stack = help.findChild<QStackedWidget *>(QStringLiteral("pages"));
    ASSERT_NE(stack, nullptr);
    auto *shown = qobject_cast<QTextBrowser *>(stack->currentWidget());
    ASSERT_NE(shown, nullptr);
    EXPECT_TRUE(shown->toPlainText().startsWith(QStringLiteral("Conduct agreement")));
    help.findChild<QListWidget *>(QStringLiteral("listbox_pages"))->setCurrentRow(0);
    EXPECT_EQ(help.currentPage(), Thelp::GettingStarted);
}

// The first page speaks of the buttons by the words they carry, and its first line says
// where to talk with everybody.
TEST_F(HelpAboutTest, GettingStartedNamesTheButtonsAsTheyReadAndTheGeneralChatFirst)
{
    Thelp help;
    help.showPage(Thelp::GettingStarted);
    auto *stack = help.findChild<QStackedWidget *>(QStringLiteral("pages"));
    ASSERT_NE(stack, nullptr);
    auto *shown = qobject_cast<QTextBrowser *>(stack->currentWidget());
    ASSERT_NE(shown, nullptr);
    const QString text = shown->toPlainText();
    TfrmConnectionInfo login;
    for (const QAbstractButton *button :
         {static_cast<QAbstractButton *>(login.BitBtn2),
          static_cast<QAbstractButton *>(login.button_createaccount)}) {
        const QString caption = button->text().remove(QLatin1Char('&'));
        EXPECT_TRUE(text.contains(caption)) << caption.toStdString();
    }
    const QString firstLine = text.section(QLatin1Char('\n'), 1, 1);
    EXPECT_TRUE(firstLine.contains(QStringLiteral("Lobby Chat"))) << firstLine.toStdString();
}

} // namespace

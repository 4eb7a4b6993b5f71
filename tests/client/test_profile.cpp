#include "assets.h"
#include "recordingplatform.h"
#include "tfrmconnectioninfo.h"
#include "tfrmuserinfo.h"
#include "tlimithint.h"
#include "torvexuser.h"
#include "torvexuserinfodialog.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QToolTip>

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <ostream>

// Readable failure output for Qt strings.
void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

namespace {

// Runs `drive` on the profile window once it is showing modally; a window that never
// shows fails the test instead of hanging it.
void whenShown(std::function<void(TfrmUserInfo *)> drive)
{
    QTimer::singleShot(0, [drive] {
        QWidget *modal = nullptr;
        const bool shown = QTest::qWaitFor(
            [&] { return (modal = QApplication::activeModalWidget()) != nullptr; }, 5000);
        auto *form = qobject_cast<TfrmUserInfo *>(modal);
        if (!shown || !form) {
            ADD_FAILURE() << "the profile window did not show";
            return;
        }
        drive(form);
        if (form->isVisible())
            form->reject();
    });
}

template <typename T> T *child(QWidget *form, const char *name)
{
    T *w = form->findChild<T *>(QLatin1String(name));
    EXPECT_NE(w, nullptr) << name;
    return w;
}

void click(QWidget *form, const char *name)
{
    child<QAbstractButton>(form, name)->click();
}

void type(QWidget *form, const char *name, const QString &text)
{
    auto *edit = child<QLineEdit>(form, name);
    edit->clear();
    QTest::keyClicks(edit, text);
}

ostrel::TOrvexUser player(const std::string &name, const std::string &hat = "7")
{
    ostrel::TOrvexUser u;
    u.UserName = name;
    u.Password = "secret";
    u.FirstName = "Ann";
    u.LastName = "Lee";
    u.EMail = "ann@example.org";
    u.City = "Oslo";
    u.Country = "Norway";
    u.HomePage = "www.example.org/ann";
    u.Comments = "likes/r/dice/r/games";
    u.Gender = "fEmale";
    u.Hat = hat;
    u.LoginCount = 42;
    u.MinutesPlayed = 125;
    return u;
}

class ProfileTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite() { InitAssets(); }
    RecordingPlatform seam;
};

TEST_F(ProfileTest, ViewingAnotherPlayerShowsEverythingReadOnly)
{
    ostrel::TOrvexUser u = player("bob");
    const ostrel::TOrvexUser before = u;
    TOrvexUserInfoDialog dlg;
    dlg.Title = QStringLiteral("Ostrel Lobby User Info");
    whenShown([](TfrmUserInfo *f) {
        EXPECT_EQ(f->windowTitle(), QStringLiteral("Ostrel Lobby User Info"));
        for (const char *name : {"edtUserId", "edtFirstName", "edtCity", "edtCountry",
                                 "edtHomePage", "edtIcq", "edttimeonline", "edtsilence"})
            EXPECT_TRUE(child<QLineEdit>(f, name)->isReadOnly()) << name;
        EXPECT_TRUE(child<QPlainTextEdit>(f, "memoComments")->isReadOnly());
        EXPECT_FALSE(child<QLineEdit>(f, "edtPassword1")->isVisible());
        EXPECT_FALSE(child<QLineEdit>(f, "edtPassword2")->isVisible());
        EXPECT_FALSE(child<QLabel>(f, "label_passwordhint")->isVisible());
        EXPECT_FALSE(child<QPushButton>(f, "btnCancel")->isVisible());
        EXPECT_FALSE(child<QPushButton>(f, "btnEdit")->isVisible());
        EXPECT_FALSE(child<QToolButton>(f, "image_away")->isVisible());
        auto *hats = child<QComboBox>(f, "combo_hats");
        EXPECT_FALSE(hats->isEnabled());
        EXPECT_EQ(hats->currentIndex(), 5);
        EXPECT_FALSE(child<QComboBox>(f, "combo_gender")->isEnabled());
        EXPECT_EQ(child<QComboBox>(f, "combo_gender")->currentText(), QStringLiteral("Female"));
        EXPECT_EQ(child<QLineEdit>(f, "edtUserId")->text(), QStringLiteral("bob"));
        EXPECT_EQ(child<QLabel>(f, "lblogin")->text(), QStringLiteral("42"));
        EXPECT_EQ(child<QLabel>(f, "lbcreationdate")->text(), QStringLiteral("N/A"));
        EXPECT_EQ(child<QLabel>(f, "label_hats")->text().remove(QLatin1Char('&')),
                  QStringLiteral("Hat:"));
        EXPECT_EQ(child<QPlainTextEdit>(f, "memoComments")->toPlainText(),
                  QStringLiteral("likes dice games"));
        click(f, "btnOk");
        EXPECT_FALSE(f->isVisible());
    });
    EXPECT_FALSE(dlg.Execute(&u, false));
    EXPECT_EQ(u, before);
    EXPECT_TRUE(seam.messages.isEmpty());
}

TEST_F(ProfileTest, EditModeAndNewAccountMode)
{
    struct Case
    {
        std::string name;
        bool allowEdit;
        bool userIdEditable;
    };
    // A record without a name is a new account: editable whatever the caller asked.
    for (const Case &c : {Case{"bob", true, false}, Case{"", false, true}, Case{"", true, true}}) {
        SCOPED_TRACE(c.name + (c.allowEdit ? " edit" : " view"));
        ostrel::TOrvexUser u = player(c.name);
        TOrvexUserInfoDialog dlg;
        whenShown([&](TfrmUserInfo *f) {
            EXPECT_EQ(f->windowTitle(), QStringLiteral("User Info"));
            EXPECT_EQ(!child<QLineEdit>(f, "edtUserId")->isReadOnly(), c.userIdEditable);
            EXPECT_FALSE(child<QLineEdit>(f, "edtFirstName")->isReadOnly());
            EXPECT_FALSE(child<QPlainTextEdit>(f, "memoComments")->isReadOnly());
            EXPECT_TRUE(child<QLineEdit>(f, "edtPassword1")->isVisible());
            EXPECT_TRUE(child<QLineEdit>(f, "edtPassword2")->isVisible());
            EXPECT_TRUE(child<QPushButton>(f, "btnCancel")->isVisible());
            EXPECT_TRUE(child<QToolButton>(f, "image_away")->isVisible());
            EXPECT_TRUE(child<QComboBox>(f, "combo_hats")->isEnabled());
            EXPECT_TRUE(child<QLineEdit>(f, "edttimeonline")->isReadOnly());
            click(f, "btnCancel");
        });
        EXPECT_FALSE(dlg.Execute(&u, c.allowEdit));
        EXPECT_EQ(u.UserName, c.name);
    }
}

// The server keeps 9 characters of a password. Both windows that take one say so beside
// the field, and a tenth key, which the field refuses, makes the hint speak up instead of
// vanishing unseen behind the dots.
void expectPasswordLimitShown(QLineEdit *password, TLimitHint *hint)
{
    ASSERT_NE(hint, nullptr);
    EXPECT_TRUE(hint->isVisible());
    EXPECT_EQ(hint->text(), QStringLiteral("1 to 9 characters"));
    EXPECT_FALSE(hint->flashing());
    password->clear();
    QTest::keyClicks(password, QStringLiteral("abcdefghi"));
    EXPECT_FALSE(hint->flashing()) << "nine characters are allowed";
    QTest::keyClicks(password, QStringLiteral("j"));
    EXPECT_EQ(password->text(), QStringLiteral("abcdefghi"));
    EXPECT_TRUE(hint->flashing());
    EXPECT_EQ(QToolTip::text(), QStringLiteral("Passwords have at most 9 characters."));
    EXPECT_TRUE(QTest::qWaitFor([&] { return !hint->flashing(); }, TLimitHint::kFlashMs * 3));
}

TEST_F(ProfileTest, PasswordLimitIsShownAndARefusedKeySaysWhy)
{
    {
        SCOPED_TRACE("login dialog");
        TfrmConnectionInfo login;
        login.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&login));
        expectPasswordLimitShown(login.edtPassword, login.label_passwordhint);
    }
    for (const char *field : {"edtPassword1", "edtPassword2"}) {
        SCOPED_TRACE(field);
        ostrel::TOrvexUser u = player("ann");
        TOrvexUserInfoDialog dlg;
        whenShown([&](TfrmUserInfo *f) {
            expectPasswordLimitShown(child<QLineEdit>(f, field),
                                     f->findChild<TLimitHint *>("label_passwordhint"));
            click(f, "btnCancel");
        });
        EXPECT_FALSE(dlg.Execute(&u, true));
    }
}

TEST_F(ProfileTest, ValidationMessagesComeInOrderAndKeepTheWindowOpen)
{
    struct Step
    {
        QString name, pw1, pw2, message;
    };
    const QList<Step> steps = {
        {"", "pw", "pw", "Please provide a User ID."},
        {"bo b!", "pw", "pw", "Special Characters are not allowed in User Names."},
        {QStringLiteral("j\u00f8rn"), "pw", "pw",
         "Special Characters are not allowed in User Names."},
        {"bo b", "pw", "pw", "No Spaces allowed in User ID."},
        {"bob", "", "", "Please make sure the Password fields match."},
        {"bob", "pw", "", "Please make sure the Password fields match."},
        {"bob", "pw", "pX", "Please make sure the Password fields match."},
    };
    ostrel::TOrvexUser u;
    TOrvexUserInfoDialog dlg;
    whenShown([&](TfrmUserInfo *f) {
        for (const Step &s : steps) {
            SCOPED_TRACE(s.name.toStdString());
            type(f, "edtUserId", s.name);
            type(f, "edtPassword1", s.pw1);
            type(f, "edtPassword2", s.pw2);
            const qsizetype before = seam.messages.size();
            click(f, "btnOk");
            ASSERT_EQ(seam.messages.size(), before + 1);
            EXPECT_EQ(seam.messages.last(), s.message);
            EXPECT_TRUE(f->isVisible());
        }
        type(f, "edtUserId", "Ann_~9");
        type(f, "edtPassword1", "pw");
        type(f, "edtPassword2", "pw");
        click(f, "btnOk");
    });
    EXPECT_TRUE(dlg.Execute(&u, true));
    EXPECT_EQ(seam.messages.size(), steps.size());
    EXPECT_EQ(u.UserName, "Ann_~9");
    EXPECT_EQ(u.Password, "pw");
    EXPECT_EQ(u.Hat, "1");
    EXPECT_EQ(u.Gender, "Unknown");
}

TEST_F(ProfileTest, ConfirmingWritesTheRecordWithLastNameAndEMailEmpty)
{
    ostrel::TOrvexUser u = player("bob");
    u.AuxText = "kept";
    u.AuxNumber = 17;
    TOrvexUserInfoDialog dlg;
    whenShown([](TfrmUserInfo *f) {
        type(f, "edtFirstName", "Annie");
        type(f, "edtCity", QStringLiteral("K\u00f8ge"));
        child<QComboBox>(f, "combo_gender")->setCurrentIndex(1);
        click(f, "btnOk");
    });
    ASSERT_TRUE(dlg.Execute(&u, true));
    EXPECT_EQ(u.FirstName, "Annie");
    EXPECT_EQ(u.City, "K\xc3\xb8ge");
    EXPECT_EQ(u.Gender, "Male");
    EXPECT_EQ(u.LastName, "");
    EXPECT_EQ(u.EMail, "");
    EXPECT_EQ(u.Password, "secret");
    EXPECT_EQ(u.Hat, "7");
    EXPECT_EQ(u.Comments, "likes/r/dice/r/games");
    EXPECT_EQ(u.AuxText, "kept");
    EXPECT_EQ(u.AuxNumber, 17);
}

TEST_F(ProfileTest, HatRulesFollowTheAccountClass)
{
    struct Case
    {
        std::string accountClass;
        int position;
        std::string hat;
        QString message;
    };
    const Case cases[] = {
        {"T", 1, "7", "You must be a Wizard in order to select this hat"},
        {"N", 1, "7", "You must be a Wizard in order to select this hat"},
        {"S", 1, "3", ""},
        {"H", 2, "4", ""},
        {"T", 2, "4", ""},
        {"S", 2, "7", "You must be an Admin in order to select this hat"},
        {"N", 2, "7", "You must be an Admin in order to select this hat"},
        {"N", 0, "2", ""},
        {"N", 196, "198", ""},
        {"N", -1, "1", ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.accountClass + " position " + std::to_string(c.position));
        seam.messages.clear();
        ostrel::TOrvexUser u = player("bob");
        u.AccountClass = c.accountClass;
        TOrvexUserInfoDialog dlg;
        whenShown([&](TfrmUserInfo *f) {
            child<QComboBox>(f, "combo_hats")->setCurrentIndex(c.position);
            click(f, "btnOk");
        });
        // The message informs; it does not stop the confirmation.
        EXPECT_TRUE(dlg.Execute(&u, true));
        EXPECT_EQ(u.Hat, c.hat);
        EXPECT_EQ(seam.messages, c.message.isEmpty() ? QStringList() : QStringList{c.message});
    }
}

TEST_F(ProfileTest, AwaySwitchGoesToTheAwayHatAndBack)
{
    // Hat 2 sits at list position 0 and hat 1 selects nothing: both must come back.
    for (const std::string hat : {"2", "1", "57"}) {
        SCOPED_TRACE(hat);
        ostrel::TOrvexUser u = player("bob", hat);
        TOrvexUserInfoDialog dlg;
        whenShown([&](TfrmUserInfo *f) {
            auto *hats = child<QComboBox>(f, "combo_hats");
            auto *away = child<QToolButton>(f, "image_away");
            const int former = hats->currentIndex();
            EXPECT_EQ(away->toolTip(), QStringLiteral("Click to set yourself as away"));
            away->click();
            EXPECT_EQ(hats->currentIndex(), 196);
            EXPECT_EQ(away->toolTip(), QStringLiteral("Click to select your former hat"));
            away->click();
            EXPECT_EQ(hats->currentIndex(), former);
            EXPECT_EQ(away->toolTip(), QStringLiteral("Click to set yourself as away"));
            away->click();
            click(f, "btnOk");
        });
        EXPECT_TRUE(dlg.Execute(&u, true));
        EXPECT_EQ(u.Hat, "198");
        EXPECT_TRUE(seam.messages.isEmpty());
    }
}

TEST_F(ProfileTest, AwayHatWithNothingRememberedAndChosenFromTheList)
{
    ostrel::TOrvexUser u = player("bob", "198");
    TOrvexUserInfoDialog dlg;
    whenShown([&](TfrmUserInfo *f) {
        auto *hats = child<QComboBox>(f, "combo_hats");
        child<QToolButton>(f, "image_away")->click();
        EXPECT_EQ(hats->currentIndex(), 196);
        EXPECT_TRUE(seam.messages.isEmpty());
        hats->setCurrentIndex(10);
        hats->setFocus();
        QTest::keyClick(hats, Qt::Key_End);
        EXPECT_EQ(hats->currentIndex(), 196);
        EXPECT_EQ(seam.messages,
                  QStringList{QStringLiteral(
                      "This signifies that you are currently away from the keyboard")});
    });
    EXPECT_FALSE(dlg.Execute(&u, true));
}

TEST_F(ProfileTest, CommentsAndFieldsStayOnOneWireLine)
{
    ostrel::TOrvexUser u = player("bob");
    u.Comments = "";
    TOrvexUserInfoDialog dlg;
    whenShown([](TfrmUserInfo *f) {
        auto *memo = child<QPlainTextEdit>(f, "memoComments");
        memo->setFocus();
        QTest::keyClicks(memo, "one two");
        QTest::keyClick(memo, Qt::Key_Return);
        QTest::keyClicks(memo, "three");
        memo->insertPlainText(QStringLiteral("\r\nfour|^five"));
        EXPECT_EQ(memo->toPlainText(), QStringLiteral("one two three fourfive"));
        type(f, "edtFirstName", "A^n|n");
        type(f, "edtCity", "x");
        QTest::keyClick(child<QLineEdit>(f, "edtCity"), Qt::Key_Tab);
        click(f, "btnOk");
    });
    ASSERT_TRUE(dlg.Execute(&u, true));
    EXPECT_EQ(u.Comments, "one/r/two/r/three/r/fourfive");
    EXPECT_EQ(u.FirstName, "Ann");
    const std::string wire = u.SaveToString();
    EXPECT_EQ(wire.find_first_of("\r\n|"), std::string::npos);
    EXPECT_EQ(std::count(wire.begin(), wire.end(), '^'), ostrel::TOrvexUser::kFieldCount);
}

TEST_F(ProfileTest, CommentsAreLimitedTo200Characters)
{
    ostrel::TOrvexUser u = player("bob");
    u.Comments = "";
    TOrvexUserInfoDialog dlg;
    whenShown([](TfrmUserInfo *f) {
        auto *memo = child<QPlainTextEdit>(f, "memoComments");
        memo->insertPlainText(QString(250, QLatin1Char('x')));
        EXPECT_EQ(memo->toPlainText().size(), 200);
        click(f, "btnOk");
    });
    ASSERT_TRUE(dlg.Execute(&u, true));
    EXPECT_EQ(u.Comments, std::string(200, 'x'));
}

TEST_F(ProfileTest, LongerValuesOfTheRecordStayWholeAndOnlyTypingIsLimited)
{
    const std::string firstName(30, 'f');
    const std::string comments = std::string(120, 'a') + "/r/" + std::string(109, 'b');
    ostrel::TOrvexUser u = player("bob");
    u.FirstName = firstName;
    u.Comments = comments;
    u.Password = "abcdefghijkl";
    TOrvexUserInfoDialog dlg;
    whenShown([&](TfrmUserInfo *f) {
        auto *first = child<QLineEdit>(f, "edtFirstName");
        EXPECT_EQ(first->text().size(), 30);
        first->end(false);
        QTest::keyClick(first, Qt::Key_X);
        EXPECT_EQ(first->text().toStdString(), firstName);
        type(f, "edtCity", QString(30, QLatin1Char('c')));
        EXPECT_EQ(child<QLineEdit>(f, "edtCity")->text().size(), 24);

        auto *memo = child<QPlainTextEdit>(f, "memoComments");
        EXPECT_EQ(memo->toPlainText().size(), 230);
        memo->moveCursor(QTextCursor::End);
        memo->insertPlainText(QStringLiteral("y"));
        EXPECT_EQ(memo->toPlainText().size(), 230);

        // The stored password is shown whole, so its check can still refuse it.
        EXPECT_EQ(child<QLineEdit>(f, "edtPassword1")->text(), QStringLiteral("abcdefghijkl"));
        click(f, "btnOk");
        EXPECT_EQ(seam.messages, QStringList{QStringLiteral("Password is too long")});
        EXPECT_TRUE(f->isVisible());
        for (const char *name : {"edtPassword1", "edtPassword2"}) {
            auto *edit = child<QLineEdit>(f, name);
            edit->end(false);
            for (int i = 0; i < 3; ++i)
                QTest::keyClick(edit, Qt::Key_Backspace);
        }
        click(f, "btnOk");
    });
    ASSERT_TRUE(dlg.Execute(&u, true));
    EXPECT_EQ(u.FirstName, firstName);
    EXPECT_EQ(u.City, std::string(24, 'c'));
    EXPECT_EQ(u.Comments, comments);
    EXPECT_EQ(u.Password, "abcdefghi");
}

TEST_F(ProfileTest, HoursPlayedSilenceAndDatesAsShown)
{
    struct Case
    {
        int minutes;
        QString hours;
        int silence;
        QString silenceText;
    };
    const Case cases[] = {{0, "0:00", 0, "N/A"},        {59, "0:59", -5, "N/A"},
                          {60, "1:00", 1, "1"},         {125, "2:05", 30, "30"},
                          {6001, "100:01", 999, "999"}, {-7, "0:00", 0, "N/A"}};
    TfrmUserInfo form;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.minutes);
        ostrel::TOrvexUser u = player("bob");
        u.MinutesPlayed = c.minutes;
        u.SilenceLeft = c.silence;
        form.LoadUser(&u);
        EXPECT_EQ(form.findChild<QLineEdit *>("edttimeonline")->text(), c.hours);
        EXPECT_EQ(form.findChild<QLineEdit *>("edtsilence")->text(), c.silenceText);
    }
    ostrel::TOrvexUser u = player("bob");
    u.FirstLogin = 38716.5;
    u.MemberSince = 45000.25;
    form.LoadUser(&u);
    EXPECT_EQ(form.findChild<QLabel *>("lbcreationdate")->text(),
              QLocale().toString(QDate(2005, 12, 30), QLocale::ShortFormat));
    EXPECT_EQ(form.findChild<QLabel *>("lbrdate")->text(),
              QLocale().toString(QDate(2023, 3, 15), QLocale::ShortFormat));
}

TEST_F(ProfileTest, HatLoadingKeepsSelectionOnNonNumbers)
{
    TfrmUserInfo form;
    auto *hats = form.findChild<QComboBox *>("combo_hats");
    const std::pair<std::string, int> cases[] = {{"9", 7},     {"x", 7},  {"1", -1},
                                                 {"198", 196}, {"", 196}, {"500", -1}};
    for (const auto &[hat, position] : cases) {
        SCOPED_TRACE(hat);
        ostrel::TOrvexUser u = player("bob", hat);
        form.LoadUser(&u);
        EXPECT_EQ(hats->currentIndex(), position);
    }
}

TEST_F(ProfileTest, HomePageOpensOnlyAsAWebPageInViewMode)
{
    struct Case
    {
        std::string page;
        bool allowEdit;
        QString opened;
    };
    const Case cases[] = {{"www.example.org/ann", false, "http://www.example.org/ann"},
                          {"https://example.org", false, "https://example.org"},
                          {"www.example.org/ann", true, ""},
                          {"file:///etc/passwd", false, ""},
                          {"/usr/bin/xterm", false, ""},
                          {"", false, ""}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.page);
        seam.urls.clear();
        ostrel::TOrvexUser u = player("bob");
        u.HomePage = c.page;
        TOrvexUserInfoDialog dlg;
        whenShown([](TfrmUserInfo *f) {
            QTest::mouseClick(child<QLineEdit>(f, "edtHomePage"), Qt::LeftButton);
        });
        dlg.Execute(&u, c.allowEdit);
        if (c.opened.isEmpty()) {
            EXPECT_TRUE(seam.urls.isEmpty());
        } else {
            ASSERT_EQ(seam.urls.size(), 1);
            EXPECT_EQ(seam.urls.first(), QUrl(c.opened));
        }
    }
}

} // namespace

#include "control.h"
#include "lobby.h"
#include "lobbyfixture.h"
#include "tabout.h"
#include "tchatlog.h"
#include "tdownload.h"
#include "tflatpanel.h"
#include "tfrmconnectioninfo.h"
#include "tfrmuserinfo.h"
#include "tgamedescription.h"
#include "thelp.h"
#include "tinvited.h"
#include "toptions.h"
#include "tplayerlist.h"
#include "tprivatemessagefrom.h"
#include "tprivatemessageto.h"
#include "troomstree.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QTextEdit>

void PrintTo(const QString &text, std::ostream *os)
{
    *os << '"' << text.toStdString() << '"';
}

namespace {

// Controls a keyboard or screen-reader user reaches that have no visible label: a button
// without text, or an input no label names. Each needs an accessible name.
QStringList unnamedControls(QWidget *window)
{
    QSet<const QWidget *> labelled;
    for (const QLabel *label : window->findChildren<QLabel *>()) {
        if (label->buddy())
            labelled.insert(label->buddy());
    }
    QStringList out;
    for (QWidget *w : window->findChildren<QWidget *>()) {
        // Popups of combo boxes are windows of their own.
        if (w->window() != window)
            continue;
        if (w->focusPolicy() == Qt::NoFocus || !w->accessibleName().isEmpty() ||
            labelled.contains(w) || w->objectName().startsWith(QLatin1String("qt_")))
            continue;
        // Parts of a composite control (a combo box's line edit, a view's viewport).
        if (qobject_cast<QComboBox *>(w->parentWidget()) ||
            qobject_cast<QAbstractSpinBox *>(w->parentWidget()))
            continue;
        bool needsName = false;
        if (auto *button = qobject_cast<QAbstractButton *>(w))
            needsName = button->text().remove(QLatin1Char('&')).trimmed().isEmpty();
        else
            needsName = qobject_cast<QLineEdit *>(w) || qobject_cast<QPlainTextEdit *>(w) ||
                        qobject_cast<QTextEdit *>(w) || qobject_cast<QComboBox *>(w) ||
                        qobject_cast<QAbstractItemView *>(w);
        if (needsName)
            out << QStringLiteral("%1 (%2)").arg(w->objectName(),
                                                 QString::fromLatin1(w->metaObject()->className()));
    }
    return out;
}

// The controls Tab visits from the window's first focus, in order, once round.
QList<QWidget *> tabChain(QWidget *window)
{
    QList<QWidget *> chain;
    QWidget *w = window;
    for (int guard = 0; guard < 500; ++guard) {
        w = w->nextInFocusChain();
        if (w == window)
            break;
        if (w->window() == window && w->isVisibleTo(window) && w->isEnabled() &&
            (w->focusPolicy() & Qt::TabFocus) && !w->focusProxy())
            chain << w;
    }
    return chain;
}

QString describe(const QWidget *w)
{
    return QStringLiteral("%1(%2)@%3,%4")
        .arg(w->objectName(), QString::fromLatin1(w->metaObject()->className()))
        .arg(w->mapTo(w->window(), QPoint()).x())
        .arg(w->mapTo(w->window(), QPoint()).y());
}

// The dialogs a user works through with the keyboard, each as the program shows it.
struct Dialogs
{
    explicit Dialogs(LobbyWindows &windows) : to("bob", false)
    {
        profile.SetEditable(true);
        list = {{"options", windows.options()},
                {"help", windows.help()},
                {"about", windows.about()},
                {"invited", windows.invited()},
                {"download", windows.download()},
                {"gamedescription", windows.gamedescription()},
                {"login", &login},
                {"profile", &profile},
                {"private message to", &to},
                {"private message from", &from},
                {"message log", &log}};
    }
    TfrmConnectionInfo login;
    TfrmUserInfo profile;
    Tprivatemessageto to;
    Tprivatemessagefrom from;
    Tchatlog log;
    std::vector<std::pair<const char *, QWidget *>> list;
};

// The letter after a single "&", upper case, or nothing.
QChar mnemonicOf(const QString &text)
{
    for (qsizetype i = 0; i + 1 < text.size(); ++i) {
        if (text.at(i) != QLatin1Char('&'))
            continue;
        if (text.at(i + 1) == QLatin1Char('&')) {
            ++i;
            continue;
        }
        return text.at(i + 1).toUpper();
    }
    return {};
}

class KeyboardTest : public LobbyFixture
{
protected:
    void SetUp() override
    {
        LobbyFixture::SetUp();
        loginAs("ann");
    }
};

TEST_F(KeyboardTest, EveryControlWithoutAVisibleLabelHasAnAccessibleName)
{
    Dialogs dialogs(*windows);
    EXPECT_EQ(unnamedControls(lobby), QStringList()) << "lobby";
    for (const auto &[name, window] : dialogs.list)
        EXPECT_EQ(unnamedControls(window), QStringList()) << name;
}

TEST_F(KeyboardTest, EscapeClosesEverySecondaryWindow)
{
    const std::vector<std::pair<const char *, QWidget *>> windowsToCheck = {
        {"options", windows->options()},   {"help", windows->help()},
        {"about", windows->about()},       {"invited", windows->invited()},
        {"download", windows->download()}, {"gamedescription", windows->gamedescription()},
    };
    for (const auto &[name, window] : windowsToCheck) {
        window->show();
        window->activateWindow();
        QApplication::setActiveWindow(window);
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window)) << name;
        QTest::keyClick(window, Qt::Key_Escape);
        EXPECT_TRUE(QTest::qWaitFor([&] { return !window->isVisible(); }, 2000)) << name;
    }
}

TEST_F(KeyboardTest, TabMovesLeftToRightAlongARow)
{
    Dialogs dialogs(*windows);
    for (const auto &[name, window] : dialogs.list) {
        window->show();
        const QList<QWidget *> chain = tabChain(window);
        EXPECT_FALSE(chain.isEmpty()) << name;
        for (qsizetype i = 1; i < chain.size(); ++i) {
            const QPoint a = chain[i - 1]->mapTo(window, QPoint());
            const QPoint b = chain[i]->mapTo(window, QPoint());
            if (std::abs(a.y() - b.y()) <= 8) {
                EXPECT_GT(b.x(), a.x()) << name << ": " << qPrintable(describe(chain[i - 1]))
                                        << " then " << qPrintable(describe(chain[i]));
            }
        }
        window->hide();
    }
}

// Mnemonic faults in a window as shown: a button, check box or labelled field without a
// mnemonic, a letter used twice (the menu bar's among them), a "&" that a label without a
// field would show as it stands.
QStringList mnemonicFaults(QWidget *window)
{
    QStringList faults;
    QMap<QChar, QString> taken;
    auto check = [&](const QString &text, const QString &what) {
        const QChar letter = mnemonicOf(text);
        if (letter.isNull())
            faults << QStringLiteral("no mnemonic on \"%1\" (%2)").arg(text, what);
        else if (taken.contains(letter))
            faults << QStringLiteral("%1 on \"%2\" and \"%3\"")
                          .arg(letter)
                          .arg(text, taken.value(letter));
        else
            taken.insert(letter, text);
    };
    if (auto *mainWindow = qobject_cast<QMainWindow *>(window)) {
        for (const QAction *menu : mainWindow->menuBar()->actions())
            check(menu->text(), QStringLiteral("menu"));
    }
    for (QAbstractButton *button : window->findChildren<QAbstractButton *>()) {
        if (button->window() == window && button->isVisibleTo(window) &&
            !button->text().isEmpty() && button->focusPolicy() != Qt::NoFocus)
            check(button->text(), describe(button));
    }
    for (QLabel *label : window->findChildren<QLabel *>()) {
        if (!label->buddy() && label->textFormat() != Qt::RichText &&
            !mnemonicOf(label->text()).isNull())
            faults << QStringLiteral("\"%1\" has no field").arg(label->text());
        if (label->buddy() && label->isVisibleTo(window) &&
            (label->buddy()->focusPolicy() & Qt::TabFocus))
            check(label->text(), describe(label));
    }
    return faults;
}

TEST_F(KeyboardTest, EveryButtonAndLabelledFieldHasItsOwnMnemonic)
{
    Dialogs dialogs(*windows);
    for (const auto &[name, window] : dialogs.list) {
        window->show();
        EXPECT_EQ(mnemonicFaults(window), QStringList()) << name;
        window->hide();
    }
    EXPECT_EQ(mnemonicFaults(lobby), QStringList()) << "lobby";
    serverSends({"JOINSUBJECT|Plumbrix|bob+1+Plumbrix+"});
    ASSERT_TRUE(control<TFlatPanel>(lobby, "panel_gameroom")->isVisible());
    EXPECT_EQ(mnemonicFaults(lobby), QStringList()) << "lobby in a room";
}

// What a double click does on a list, Enter on its current item does too.
TEST_F(KeyboardTest, EnterOnAListItemDoesWhatADoubleClickDoes)
{
    lobby->show();
    QApplication::setActiveWindow(lobby);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(lobby));
    serverSends({"GAMES|game:Word:alpha:1.0:/a", "ADDGUEST|bob+1+Lobby Chat+"});

    TRoomsTree *rooms = control<TRoomsTree>(lobby, "lbsubjects");
    rooms->setCurrentIndex(lobby->FindSubjectTreeNode("alpha"));
    rooms->setFocus();
    const int before = server.lines().size();
    QTest::keyClick(rooms, Qt::Key_Return);
    EXPECT_GE(server.waitForLine("JOINSUBJECT|alpha", 5000, before), 0);

    TPlayerList *players = control<TPlayerList>(lobby, "lbnames");
    const int row = lobby->findlbname(QStringLiteral("bob"), players);
    ASSERT_GE(row, 0);
    players->setCurrentIndex(players->model()->index(row, 0));
    players->setFocus();
    QTest::keyClick(players, Qt::Key_Return);
    bool writing = false;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *to = qobject_cast<Tprivatemessageto *>(w); to && to->isVisible())
            writing = to->recipient() == "bob";
    }
    EXPECT_TRUE(writing) << "no message window to bob opened";
}

TEST_F(KeyboardTest, AltAndTheLetterMovesToTheLabelledField)
{
    TfrmConnectionInfo login;
    login.show();
    QApplication::setActiveWindow(&login);
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&login));
    login.edtUserId->setFocus();
    QTest::keyClick(&login, Qt::Key_P, Qt::AltModifier);
    EXPECT_TRUE(QTest::qWaitFor([&] { return login.edtPassword->hasFocus(); }, 2000));
}

TEST_F(KeyboardTest, EnterInTheLoginDialogLogsIn)
{
    TfrmConnectionInfo login;
    login.edtUserId->setText(QStringLiteral("ann"));
    login.edtPassword->setText(QStringLiteral("secret"));
    login.show();
    QApplication::setActiveWindow(&login);
    login.edtPassword->setFocus();
    QTest::keyClick(login.edtPassword, Qt::Key_Return);
    EXPECT_EQ(login.result(), QDialog::Accepted);
}

} // namespace

#include "lobbyfixture.h"
#include "tabout.h"
#include "tdownload.h"
#include "tfrmconnectioninfo.h"
#include "tfrmuserinfo.h"
#include "tgamedescription.h"
#include "thelp.h"
#include "tinvited.h"
#include "toptions.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
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
    TfrmConnectionInfo login;
    TfrmUserInfo profile;
    const std::vector<std::pair<const char *, QWidget *>> windowsToCheck = {
        {"lobby", lobby},
        {"options", windows->options()},
        {"help", windows->help()},
        {"about", windows->about()},
        {"invited", windows->invited()},
        {"download", windows->download()},
        {"gamedescription", windows->gamedescription()},
        {"login", &login},
        {"profile", &profile},
    };
    for (const auto &[name, window] : windowsToCheck)
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

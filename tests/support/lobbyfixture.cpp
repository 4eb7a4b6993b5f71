#include "lobbyfixture.h"
#include "control.h"

#include "assets.h"
#include "inifile.h"
#include "tflatbutton.h"
#include "tfrmconnectioninfo.h"

#include <QDir>
#include <QLabel>
#include <QLineEdit>

void LobbyFixture::SetUp()
{
    InitAssets();
    ASSERT_TRUE(dataDir.isValid() && runtimeDir.isValid() && programDir.isValid());
    qputenv("XDG_DATA_HOME", dataDir.path().toLocal8Bit());
    qputenv("XDG_RUNTIME_DIR", runtimeDir.path().toLocal8Bit());
    iniPath = dataDir.path() + QStringLiteral("/Ostrel/ostrellobby.ini");
}

void LobbyFixture::TearDown()
{
    if (windows) {
        windows->lobby()->connection()->setActive(false);
        windows.reset();
    }
}

void LobbyFixture::create()
{
    windows = std::make_unique<LobbyWindows>(QStringLiteral("127.0.0.1:%1").arg(server.port()),
                                             programDir.path());
    lobby = windows->lobby();
    // The program's own update writes beside the program: a folder of the test's.
    lobby->setProgram(programDir.filePath(QStringLiteral("ostrel-lobby")), {});
}

bool LobbyFixture::waitModal(int timeoutMs)
{
    return QTest::qWaitFor([this] { return m_modalDone; }, timeoutMs);
}

bool LobbyFixture::statusBecomes(const QString &text, int timeoutMs)
{
    return QTest::qWaitFor([&] { return control<QLabel>(lobby, "label_status")->text() == text; },
                           timeoutMs);
}

void LobbyFixture::showWithLogin(std::function<void(TfrmConnectionInfo *)> action)
{
    onModal<TfrmConnectionInfo>(std::move(action));
    if (lobby->isVisible())
        control<TFlatButton>(lobby, "button_connect")->click();
    else
        lobby->show();
    ASSERT_TRUE(waitModal());
}

QByteArray LobbyFixture::recordOf(const std::string &name,
                                  const std::function<void(ostrel::TOrvexUser &)> &edit)
{
    ostrel::TOrvexUser user;
    user.UserName = name;
    user.Password = "pw";
    if (edit)
        edit(user);
    return QByteArray::fromStdString(user.SaveToString());
}

void LobbyFixture::loginAs(const QByteArray &name,
                           const std::function<void(ostrel::TOrvexUser &)> &record)
{
    if (!windows)
        create();
    server.onLine = [this, record](const QByteArray &line) {
        if (line.startsWith("LOGIN|") || line.startsWith("LOGINNEW|")) {
            const QByteArray user = line.split('|').value(1);
            server.send("LOGIN|SUCCESS|" + recordOf(user.toStdString(), record));
        }
    };
    showWithLogin([name](TfrmConnectionInfo *d) {
        d->edtUserId->setText(QString::fromLatin1(name));
        d->edtPassword->setText(QStringLiteral("pw"));
        d->BitBtn2->click();
    });
    // The server keeps accepting logins, so a test can log in again after a disconnection.
    ASSERT_TRUE(QTest::qWaitFor([this] { return lobby->connection()->LoggedIn(); }, 5000));
}

void LobbyFixture::writeSetting(const char *key, const QByteArray &value)
{
    QDir().mkpath(dataDir.path() + QStringLiteral("/Ostrel"));
    IniFile(iniPath).WriteString("Setting", key, value);
}

QByteArray LobbyFixture::setting(const char *key) const
{
    return IniFile(iniPath).ReadString("Setting", key);
}

void LobbyFixture::serverSends(const QList<QByteArray> &lines)
{
    for (const QByteArray &line : lines)
        server.send(line);
    // A PING is answered only after everything before it has been handled.
    const QByteArray marker = "PING|fixture" + QByteArray::number(++m_marker);
    const int before = server.lines().size();
    server.send(marker);
    ASSERT_GE(server.waitForLine("PING|", 5000, before), 0);
}

QList<QByteArray> LobbyFixture::sent(const QByteArray &prefix)
{
    serverSends({}); // the PING answer leaves after everything queued before it
    QList<QByteArray> out;
    for (const QByteArray &line : server.lines())
        if (line.startsWith(prefix))
            out << line;
    return out;
}

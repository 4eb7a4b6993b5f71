#include "e2esupport.h"

#include "assets.h"
#include "control.h"
#include "gestures.h"
#include "inifile.h"
#include "tflatbutton.h"
#include "tfrmconnectioninfo.h"
#include "troomstree.h"
#include "userpaths.h"
#include "wireclient.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

void EndToEndTest::SetUp()
{
    InitAssets();
    ASSERT_TRUE(serverData.isValid() && runtime.isValid());
    qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
}

bool EndToEndTest::startServer(const std::vector<std::string> &accounts,
                               const std::vector<std::string> &arguments)
{
    server = std::make_unique<ServerProcess>(serverData.path().toStdString(), arguments);
    for (const std::string &name : accounts) {
        if (!createAccount(*server, name)) {
            ADD_FAILURE() << "no account for " << name << "\n" << server->log();
            return false;
        }
    }
    return true;
}

bool createAccount(int port, const std::string &name, const QString &host)
{
    TOrvexConnection connection;
    connection.setHost(host);
    connection.setPort(port);
    bool done = false;
    QObject::connect(&connection, &TOrvexConnection::OnConnected, [&] {
        ostrel::TOrvexUser user;
        user.UserName = name;
        user.Password = "pw";
        connection.LoginNew(QByteArray::fromStdString(name),
                            QByteArray::fromStdString(user.SaveToString()));
    });
    QObject::connect(&connection, &TOrvexConnection::OnLoginSuccess, [&] { done = true; });
    connection.setActive(true);
    const bool ok = QTest::qWaitFor([&] { return done; }, 10000);
    connection.setActive(false);
    return ok;
}

bool createAccount(const ServerProcess &server, const std::string &name)
{
    return createAccount(server.plainPort(), name, QString::fromStdString(server.host()));
}

bool enterRoom(Tlobby *lobby, const QString &room)
{
    QModelIndex node;
    if (!QTest::qWaitFor([&] { return (node = lobby->FindSubjectTreeNode(room)).isValid(); }, 5000))
        return false;
    if (!doubleClickIndex(control<TRoomsTree>(lobby, "lbsubjects"), node))
        return false;
    return QTest::qWaitFor([&] { return control<QLabel>(lobby, "label_gamename")->text() == room; },
                           10000);
}

bool E2EPlayer::login(const ServerProcess &server, const QString &name,
                      const std::function<void(Tlobby *)> &prepare)
{
    if (!testOverTls() || tls)
        return login(tls ? server.tlsPort() : server.plainPort(), name, prepare);
    qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
    const QString address = QStringLiteral("%1:%2").arg(serverHost).arg(server.tlsPort());
    IniFile(UserPaths::getinifile(data.path()))
        .WriteString("TrustedServers", address.toLatin1(),
                     QByteArray::fromStdString(server.fingerprint()));
    tls = true;
    const bool loggedIn = login(server.tlsPort(), name, prepare);
    tls = false;
    return loggedIn;
}

bool E2EPlayer::login(int port, const QString &name, const std::function<void(Tlobby *)> &prepare)
{
    qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
    QString address = serverHost + QStringLiteral(":%1").arg(port);
    if (tls)
        address = QStringLiteral("tls://") + address;
    windows = std::make_unique<LobbyWindows>(address, data.path());
    lobby = windows->lobby();
    if (prepare)
        prepare(lobby);
    QTimer fill;
    QObject::connect(&fill, &QTimer::timeout, [&] {
        if (auto *d = qobject_cast<TfrmConnectionInfo *>(QApplication::activeModalWidget())) {
            d->edtUserId->setText(name);
            d->edtPassword->setText(QStringLiteral("pw"));
            d->BitBtn2->click();
        }
    });
    fill.start(10);
    lobby->show();
    return QTest::qWaitFor([this] { return lobby->connection()->LoggedIn(); }, 10000);
}

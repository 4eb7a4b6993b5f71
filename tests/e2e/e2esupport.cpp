#include "e2esupport.h"

#include "inifile.h"
#include "tflatbutton.h"
#include "tfrmconnectioninfo.h"
#include "userpaths.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QFile>
#include <QHash>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QSslCertificate>
#include <QTest>
#include <QTimer>

namespace {

bool overTls()
{
    return qgetenv("OSTREL_TEST_TLS") == "1";
}

// The TLS port and certificate fingerprint of each server started over TLS, by its plain
// port: a lobby logging in "to port N" goes to that server's TLS listener instead, with
// the certificate already trusted, as a player who said yes to it once.
struct TlsServer
{
    int port = 0;
    QByteArray fingerprint;
};
QHash<int, TlsServer> &tlsServers()
{
    static QHash<int, TlsServer> servers;
    return servers;
}

} // namespace

bool ServerProcess::start(const QString &dataDir, const QStringList &extraArguments)
{
    m_dataDir = dataDir;
    QStringList arguments =
        QStringList{"--listen", listenHost + QStringLiteral(":%1").arg(listenPort), "--data",
                    dataDir} +
        extraArguments;
    if (overTls() || tls) {
        // A server started again on its old port takes its old TLS port too.
        const int again = tlsListenPort != 0 ? tlsListenPort
                          : listenPort != 0  ? tlsServers().value(listenPort).port
                                             : 0;
        arguments << QStringLiteral("--tls-listen")
                  << listenHost + QStringLiteral(":%1").arg(again);
    }
    if (launcher.isEmpty()) {
        m_process.setProgram(QStringLiteral(OSTREL_SERVER_BINARY));
        m_process.setArguments(arguments);
    } else {
        m_process.setProgram(launcher.first());
        m_process.setArguments(launcher.mid(1) + QStringList{OSTREL_SERVER_BINARY} + arguments);
    }
    m_process.start();
    if (!m_process.waitForStarted(5000))
        return false;
    const QRegularExpression listening(QStringLiteral("listening on [0-9.]+:([0-9]+)"));
    const QRegularExpression tls(QStringLiteral("listening for TLS on [0-9.]+:([0-9]+)"));
    const bool wantTls = arguments.contains(QStringLiteral("--tls-listen"));
    QByteArray out;
    const bool started = QTest::qWaitFor(
        [&] {
            out += m_process.readAllStandardOutput();
            const auto match = listening.match(QString::fromLatin1(out));
            if (match.hasMatch())
                m_port = match.captured(1).toInt();
            const auto tlsMatch = tls.match(QString::fromLatin1(out));
            if (tlsMatch.hasMatch())
                m_tlsPort = tlsMatch.captured(1).toInt();
            return m_port != 0 && (!wantTls || m_tlsPort != 0);
        },
        10000);
    if (started && wantTls) {
        QFile pem(dataDir + QStringLiteral("/tls-cert.pem"));
        if (pem.open(QIODevice::ReadOnly)) {
            const QSslCertificate certificate(&pem, QSsl::Pem);
            m_fingerprint = certificate.digest(QCryptographicHash::Sha256).toHex();
            tlsServers()[m_port] = {m_tlsPort, m_fingerprint};
        }
    }
    return started;
}

ServerProcess::~ServerProcess()
{
    m_process.terminate();
    if (!m_process.waitForFinished(5000))
        m_process.kill();
    m_process.waitForFinished(2000);
}

bool ServerProcess::setClass(const QString &name, const QString &accountClass) const
{
    return QProcess::execute(QStringLiteral(OSTREL_SERVER_BINARY),
                             {"set-class", name, accountClass, "--data", m_dataDir}) == 0;
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

bool E2EPlayer::login(int port, const QString &name, const std::function<void(Tlobby *)> &prepare)
{
    qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
    QString address = serverHost + QStringLiteral(":%1").arg(port);
    if (tls) {
        address = QStringLiteral("tls://") + address;
    } else if (const auto tls = tlsServers().constFind(port);
               overTls() && tls != tlsServers().cend()) {
        address = QStringLiteral("tls://%1:%2").arg(serverHost).arg(tls->port);
        IniFile(UserPaths::getinifile(data.path()))
            .WriteString("TrustedServers",
                         QStringLiteral("%1:%2").arg(serverHost).arg(tls->port).toLatin1(),
                         tls->fingerprint);
    }
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

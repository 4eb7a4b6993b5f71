#include "lobby.h"

#include "lobbysettings.h"
#include "platform.h"
#include "relaytable.h"
#include "routerport.h"
#include "textcodec.h"
#include "tpressfilter.h"
#include "tsock.h"

#include <QAction>
#include <QLabel>

#include <exception>
#include <utility>

namespace {

// Where games talk to each other; tests and a second lobby on one machine move it.
QString gamePort()
{
    return qEnvironmentVariable("OSTREL_RELAY_PORT", QStringLiteral("7772"));
}

} // namespace

void Tlobby::wireRelay()
{
    relaytable = new RelayTable(gamePort(), this);
    connect(relaytable, &RelayTable::datasend, this,
            [this](const QByteArray &payload) { orvex->SendDatasend(payload); });
    // A relay that failed while handling its sockets is shown as any handler's failure.
    connect(relaytable, &RelayTable::failed, this,
            [](const QString &text) { platform::Platform::instance().showError(text); });
    new TPressFilter(image_connection, [this](const QPoint &) { image_connectionClick(); });
    routerport = new RouterPort(this);
    connect(routerport, &RouterPort::answered, this,
            [this](bool opened, const QString &address) { routerAnswered(opened, address); });
}

bool Tlobby::asksRouter()
{
    return qEnvironmentVariable("OSTREL_ASK_ROUTER") != QLatin1String("0");
}

void Tlobby::askRouter(const QByteArray &entry, const QString &label)
{
    m_hosting.awaitRouter(entry, label);
    routerport->open(gamePort().toUShort());
}

void Tlobby::routerAnswered(bool opened, const QString &publicAddress)
{
    const QByteArray entry = m_hosting.takeRouterEntry();
    if (entry.isEmpty()) {
        // Nobody waits for the port any more.
        routerport->close();
        return;
    }
    if (!orvex->Active()) {
        // Logged off while the router was asked (which set the window back already): no
        // game is offered or started.
        endRouterHosting();
        return;
    }
    if (opened) {
        m_hosting.setRouterAddress(publicAddress.toLatin1());
        addlinetoalerts(QStringLiteral("Port %1 opened on your router").arg(gamePort()),
                        QColor(0, 128, 0));
    } else {
        addlinetoalerts(
            QStringLiteral("Your router did not answer: the game goes through the lobby server"),
            QColor(0, 0, 255));
    }
    image_connection->setPixmap(imagelist_connection.value(opened ? 0 : 1));
    try {
        announceHosting(entry, !opened, m_hosting.routerLabel());
    } catch (const std::exception &e) {
        platform::Platform::instance().showError(QString::fromLocal8Bit(e.what()));
    }
}

void Tlobby::endRouterHosting()
{
    m_hosting.endRouter();
    routerport->close();
    image_connection->setPixmap(imagelist_connection.value(LobbyAssistedHosting1->isChecked()));
}

void Tlobby::startJoinerRelay(const QByteArray &host)
{
    relaytable->startJoining(host);
}

void Tlobby::stopRelayListener()
{
    relaytable->stopJoining();
}

void Tlobby::orvexDatasendReceived(const QByteArray &text, const QByteArray &)
{
    relaytable->received(text);
}

void Tlobby::closeRelaySlotsOf(const QString &name)
{
    relaytable->peerLeft(encodeWireText(name));
}

void Tlobby::LobbyAssistedHosting1Click()
{
    // The menu item is checkable: the menu has already turned it over.
    applyAssistedHosting();
}

void Tlobby::image_connectionClick()
{
    LobbyAssistedHosting1->toggle();
    applyAssistedHosting();
}

void Tlobby::applyAssistedHosting()
{
    const bool on = LobbyAssistedHosting1->isChecked();
    LobbySettings(settingspath).write("Assist", on ? "true" : "false");
    image_connection->setPixmap(imagelist_connection.value(on ? 1 : 0));
}

void Tlobby::RestoreSockets1Click()
{
    // A relayed game that runs keeps its connection; a join still waiting is given up.
    if (!relaytable->slot(RelayTable::kJoinerSlot).active)
        stopRelayListener();
    try {
        Sock11->setListen(true);
    } catch (const ESockException &) {
    }
}

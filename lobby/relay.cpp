#include "lobby.h"

#include "lobbysettings.h"
#include "relaytable.h"
#include "textcodec.h"
#include "tpressfilter.h"
#include "tsock.h"

#include <QAction>
#include <QLabel>

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
    new TPressFilter(image_connection, [this](const QPoint &) { image_connectionClick(); });
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

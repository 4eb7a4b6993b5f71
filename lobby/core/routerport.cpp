#include "routerport.h"

#include <QHostAddress>
#include <QPointer>
#include <QThread>

#include <miniupnpc/miniupnpc.h>
#include <miniupnpc/upnpcommands.h>

#include <utility>

namespace {

const char *const kDescription = "Ostrel game";

} // namespace

RouterPort::RouterPort(QObject *parent) : QObject(parent) {}

RouterPort::~RouterPort()
{
    // The workers post to this object: none may outlive it.
    for (QThread *thread : std::as_const(m_threads))
        thread->wait();
    qDeleteAll(m_threads);
    if (isOpen())
        remove(m_mapping);
}

void RouterPort::run(QThread *thread)
{
    m_threads << thread;
    connect(thread, &QThread::finished, this, [this, thread] {
        m_threads.removeOne(thread);
        thread->deleteLater();
    });
    thread->start();
}

void RouterPort::open(quint16 port, int discoverMs)
{
    if (m_busy)
        return;
    m_busy = true;
    run(QThread::create([this, port, discoverMs] {
        const Mapping mapping = ask(port, discoverMs);
        QMetaObject::invokeMethod(
            this,
            [this, mapping] {
                m_busy = false;
                if (!mapping.publicAddress.isEmpty())
                    m_mapping = mapping;
                emit answered(!mapping.publicAddress.isEmpty(), mapping.publicAddress, mapping.why);
            },
            Qt::QueuedConnection);
    }));
}

void RouterPort::close()
{
    if (!isOpen())
        return;
    const Mapping mapping = m_mapping;
    m_mapping = Mapping();
    run(QThread::create([mapping] { remove(mapping); }));
}

RouterPort::Mapping RouterPort::ask(quint16 port, int discoverMs)
{
    Mapping out;
    int error = 0;
    UPNPDev *devices =
        upnpDiscover(discoverMs, nullptr, nullptr, UPNP_LOCAL_PORT_ANY, 0, 2, &error);
    if (!devices) {
        out.why = QStringLiteral("no router answered");
        return out;
    }
    UPNPUrls urls{};
    IGDdatas data{};
    char lanAddress[64] = {};
#if MINIUPNPC_API_VERSION >= 18
    char wanAddress[64] = {};
    const int found = UPNP_GetValidIGD(devices, &urls, &data, lanAddress, sizeof lanAddress,
                                       wanAddress, sizeof wanAddress);
#else
    const int found = UPNP_GetValidIGD(devices, &urls, &data, lanAddress, sizeof lanAddress);
#endif
    freeUPNPDevlist(devices);
    if (found != 1) {
        if (found != 0)
            FreeUPNPUrls(&urls);
        out.why = QStringLiteral("no connected router answered");
        return out;
    }
    char external[40] = {};
    const QByteArray number = QByteArray::number(port);
    const QByteArray lease = QByteArray::number(kLeaseSeconds);
    if (UPNP_GetExternalIPAddress(urls.controlURL, data.first.servicetype, external) !=
        UPNPCOMMAND_SUCCESS) {
        out.why = QStringLiteral("the router did not say its public address");
    } else if (QHostAddress address(QString::fromLatin1(external));
               address.protocol() != QAbstractSocket::IPv4Protocol || address.isNull() ||
               address == QHostAddress::AnyIPv4 || address.isLoopback()) {
        // The router's word goes to other players as the address of this game: only a plain
        // IPv4 address will do.
        out.why = QStringLiteral("the router's public address is not usable");
    } else if (const int r =
                   UPNP_AddPortMapping(urls.controlURL, data.first.servicetype, number, number,
                                       lanAddress, kDescription, "TCP", nullptr, lease);
               r != UPNPCOMMAND_SUCCESS) {
        out.why = QStringLiteral("the router refused the port (%1)").arg(r);
    } else {
        out.controlUrl = QString::fromLatin1(urls.controlURL);
        out.serviceType = QString::fromLatin1(data.first.servicetype);
        out.publicAddress = address.toString();
        out.port = port;
    }
    FreeUPNPUrls(&urls);
    return out;
}

void RouterPort::remove(const Mapping &mapping)
{
    UPNP_DeletePortMapping(mapping.controlUrl.toLatin1().constData(),
                           mapping.serviceType.toLatin1().constData(),
                           QByteArray::number(mapping.port).constData(), "TCP", nullptr);
}

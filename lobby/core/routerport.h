#pragma once

#include <QList>
#include <QObject>
#include <QString>

class QThread;

// The game port forwarded on the home router, so that players outside reach a host that
// sits behind it. The router is asked over UPnP IGD; discovery and the router's answers
// take seconds and run on a worker thread of their own, never on the caller's.
class RouterPort : public QObject
{
    Q_OBJECT
public:
    // A mapping outlives a lobby that crashes only by this long: the router removes it
    // itself then.
    static constexpr int kLeaseSeconds = 3600;

    explicit RouterPort(QObject *parent = nullptr);
    // Removes a mapping still held (bounded by the router library's own time-outs).
    ~RouterPort() override;

    // Asks the routers of the local network to forward TCP `port` to this machine.
    // Discovery asks for four kinds of device in turn and awaits each for `discoverMs` (a
    // second at least): a router answers the first, and without one the answer comes after
    // about four seconds. answered() follows on this object's thread. A request while
    // another is under way is ignored.
    void open(quint16 port, int discoverMs = 1000);
    // Removes the mapping open() made, if any, on a worker thread.
    void close();

    bool busy() const { return m_busy; }
    bool isOpen() const { return !m_mapping.publicAddress.isEmpty(); }
    // The router's address on the outside, where players reach the forwarded port.
    QString publicAddress() const { return m_mapping.publicAddress; }
    quint16 port() const { return m_mapping.port; }

signals:
    // `opened` with the router's public address, or not with why not.
    void answered(bool opened, const QString &publicAddress, const QString &why);

private:
    struct Mapping
    {
        QString controlUrl;
        QString serviceType;
        QString publicAddress;
        quint16 port = 0;
        QString why;
    };
    static Mapping ask(quint16 port, int discoverMs);
    static void remove(const Mapping &mapping);
    void run(QThread *thread);

    Mapping m_mapping;
    bool m_busy = false;
    QList<QThread *> m_threads;
};

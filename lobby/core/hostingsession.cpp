#include "hostingsession.h"

#include "textcodec.h"

#include <utility>

QStringList HostingSession::launchArguments(const QString &ownName, const QByteArray &address,
                                            bool host) const
{
    return {ownName, QString::fromLatin1(address),
            host ? QStringLiteral("true") : QStringLiteral("false"), QString::fromLatin1(m_mode)};
}

void HostingSession::askedToJoin(const QByteArray &host)
{
    m_joinHost = host;
    m_joinMode = m_mode;
}

bool HostingSession::isJoinHost(const QByteArray &id) const
{
    return !m_joinHost.isEmpty() &&
           decodeWireText(id).compare(decodeWireText(m_joinHost), Qt::CaseInsensitive) == 0;
}

void HostingSession::joinAnswered()
{
    m_joinHost.clear();
    m_mode = m_joinMode;
}

void HostingSession::awaitRouter(const QByteArray &entry, const QString &label)
{
    m_routerEntry = entry;
    m_routerLabel = label;
}

QByteArray HostingSession::takeRouterEntry()
{
    return std::exchange(m_routerEntry, QByteArray());
}

QByteArray HostingSession::addressForJoiners(const QByteArray &localAddress) const
{
    return m_routerAddress.isEmpty() ? localAddress : m_routerAddress;
}

void HostingSession::endRouter()
{
    m_routerEntry.clear();
    m_routerAddress.clear();
}

void HostingSession::reset()
{
    m_joinHost.clear();
}

#include "turl.h"

#include "platform.h"

#include <QUrl>

TURL::TURL(QObject *parent) : QObject(parent) {}

void TURL::setURL(const QString &url)
{
    if (url != m_url)
        m_url = url;
}

QString TURL::prefixOf(TURLType type)
{
    switch (type) {
    case utFile:
        return QStringLiteral("file://");
    case utFtp:
        return QStringLiteral("ftp://");
    case utGopher:
        return QStringLiteral("gopher://");
    case utHttp:
        return QStringLiteral("http://");
    case utHttps:
        return QStringLiteral("https://");
    case utMailto:
        return QStringLiteral("mailto:");
    case utNews:
        return QStringLiteral("news:");
    case utTelnet:
        return QStringLiteral("telnet:");
    case utWais:
        return QStringLiteral("wais:");
    case utnone:
        break;
    }
    return QString();
}

QString TURL::address() const
{
    return prefixOf(m_type) + m_url;
}

bool TURL::Execute()
{
    if (m_url.isEmpty())
        return false;
    const QUrl url(address(), QUrl::TolerantMode);
    if (!url.isValid())
        return false;
    return platform::Platform::instance().openUrl(url);
}

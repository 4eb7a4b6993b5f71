#include "serveraddress.h"

#include "lobbysite.h"

ServerAddress ServerAddress::parse(const QString &text)
{
    static const QString scheme = QStringLiteral("tls://");
    ServerAddress result;
    result.port = lobbysite::kServerPort;
    QString address = text;
    if (address.startsWith(scheme, Qt::CaseInsensitive)) {
        result.secure = true;
        result.port = lobbysite::kSecureServerPort;
        address = address.mid(scheme.size());
    }
    result.host = address;
    const int colon = address.lastIndexOf(QLatin1Char(':'));
    if (colon > 0 && address.count(QLatin1Char(':')) == 1) {
        bool ok = false;
        const int port = address.mid(colon + 1).toInt(&ok);
        if (ok && port > 0 && port < 65536) {
            result.host = address.left(colon);
            result.port = port;
        }
    }
    return result;
}

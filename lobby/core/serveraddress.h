#pragma once

#include <QString>

// A lobby server as the user writes it: "HOST", "HOST:PORT", or either behind "tls://"
// for the line protocol inside TLS. Without a port the server's usual one for that kind
// of connection applies.
class ServerAddress
{
public:
    static ServerAddress parse(const QString &text);

    QString host;
    int port = 0;
    bool secure = false;
};

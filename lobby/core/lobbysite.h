#pragma once

#include <QString>
#include <QStringList>

// Where the maker's services live: the lobby server the login dialog offers first, its
// alternatives, and the web site that help pages and downloads come from.
namespace lobbysite {

inline const QString kDefaultServer = QStringLiteral("lobby.ostrel.example");
inline const QStringList kAlternativeServers = {QStringLiteral("lobby2.ostrel.example"),
                                                QStringLiteral("lobby3.ostrel.example"),
                                                QStringLiteral("127.0.0.1")};
inline constexpr int kServerPort = 9020;
// The same server's port for connections inside TLS ("tls://" addresses).
inline constexpr int kSecureServerPort = 9021;
// Downloads, help pages and the lobby's own update; "--site" replaces it.
inline const QString kSiteRoot = QStringLiteral("http://www.ostrel.example/");

} // namespace lobbysite

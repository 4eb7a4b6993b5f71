#include "lobby.h"

// Room chat, the lobby-wide chat and the notice panes.
// Handlers the lobby already routes here; their behaviour is added topic by topic.

void Tlobby::orvexChatReceived(const QByteArray &, const QByteArray &) {}

void Tlobby::orvexGhatReceived(const QByteArray &, const QByteArray &) {}

void Tlobby::addlinetochat(const QString &, const QColor &) {}

void Tlobby::addlinetoalerts(const QString &, const QColor &) {}

void Tlobby::addlinetotchat(const QString &, const QColor &) {}

void Tlobby::mychat_gameroomReturn() {}

void Tlobby::mychatReturn() {}

void Tlobby::ClearGameRoomChat1Click() {}

void Tlobby::TurnOffGameLobbyChat1Click() {}

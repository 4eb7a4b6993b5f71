#include "lobby.h"

// Private messages: the queue of unread messages, their windows and the log.
// Handlers the lobby already routes here; their behaviour is added topic by topic.

void Tlobby::orvexPmesReceived(const QByteArray &, const QByteArray &) {}

void Tlobby::showaprivatemessage(int) {}

void Tlobby::createtomessage(const QByteArray &) {}

void Tlobby::button_mailClick() {}

void Tlobby::chatlogClick() {}

#include "lobby.h"

// Server announcements, news, tournament announcements and moderation.
// Handlers the lobby already routes here; their behaviour is added topic by topic.

void Tlobby::orvexShout(const QByteArray &) {}

void Tlobby::orvexNews(const QByteArray &) {}

void Tlobby::image_createannouncementClick() {}

void Tlobby::button_createClick() {}

void Tlobby::button_createcloseClick() {}

void Tlobby::FlatButton2Click() {}

void Tlobby::FlatButton4Click() {}

void Tlobby::N5Minutes1Click(int) {}

void Tlobby::RemoveSilence1Click() {}

void Tlobby::Kick1Click() {}

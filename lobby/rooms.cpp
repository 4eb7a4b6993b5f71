#include "lobby.h"

// The game catalogue, the rooms tree and entering and leaving rooms.
// Handlers the lobby already routes here; their behaviour is added topic by topic.

void Tlobby::orvexGames(const QByteArray &) {}

void Tlobby::orvexAddSubject(const QByteArray &) {}

void Tlobby::orvexRemoveSubject(const QByteArray &) {}

void Tlobby::orvexJoinSubject(const QByteArray &) {}

void Tlobby::lbsubjectsDblClick() {}

void Tlobby::lbsubjectsContextPopup(const QPoint &) {}

void Tlobby::lbsubjectsExpanded() {}

void Tlobby::lbsubjectsCollapsed() {}

void Tlobby::JoinGameRoom1Click() {}

void Tlobby::button_leavegameroomClick() {}

void Tlobby::menu_favsClick() {}

void Tlobby::ViewGameDescription1Click() {}

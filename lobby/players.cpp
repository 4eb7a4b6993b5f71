#include "lobby.h"

#include "platform.h"
#include "textcodec.h"

#include <QListWidget>

// The players online, the room's players, the friends and ignore lists and their menus.
// Handlers the lobby already routes here; their behaviour is added topic by topic.

void Tlobby::orvexAddUser(const QByteArray &) {}

void Tlobby::orvexRemoveUser(const QByteArray &) {}

void Tlobby::orvexGRemoveUser(const QByteArray &) {}

void Tlobby::lbnamesContextPopup(QListWidget *, const QPoint &) {}

void Tlobby::listbox_friendsContextPopup(const QPoint &) {}

void Tlobby::listbox_ignoredContextPopup(const QPoint &) {}

void Tlobby::lbnamesDblClick() {}

void Tlobby::listbox_friendsDblClick() {}

void Tlobby::ViewProfile1Click()
{
    // The selected player is the hint of the players list.
    const QByteArray name = encodeWireText(lbnames->toolTip());
    if (name.isEmpty())
        return;
    ProfileRequested = true;
    orvex->RequestUserInfo(name);
}

void Tlobby::ViewProfile2Click()
{
    ViewProfile1Click();
}

void Tlobby::AddFriend1Click() {}

void Tlobby::Ignore1Click() {}

void Tlobby::RemoveFriend1Click() {}

void Tlobby::DeleteFromIgnoreList1Click() {}

void Tlobby::JoinSameGameLobby1Click() {}

void Tlobby::playsounds(const QString &name)
{
    platform::Platform::instance().playSound(name);
}

#pragma once

#include <QByteArray>
#include <QDialog>

#include <functional>

class QLabel;
class TFlatButton;

// The invitation window: who invites the user to which game, with Accept and Decline. It
// is shown without blocking the lobby; a later invitation replaces what it shows.
class TInvited : public QDialog
{
    Q_OBJECT
public:
    explicit TInvited(QWidget *parent = nullptr);

    // Shows the invitation of `name` to `game` (both as they came from the network).
    void showInvitation(const QByteArray &name, const QByteArray &game);
    const QByteArray &inviter() const { return m_name; }
    const QByteArray &game() const { return m_game; }

    // Accept hands over the game entry to join: "name - game".
    std::function<void(const QByteArray &entry)> onAccept;

    QLabel *label_iname;
    QLabel *label_igame;
    TFlatButton *FlatButton1; // Decline
    TFlatButton *FlatButton2; // Accept

private:
    void FlatButton2Click();

    QByteArray m_name;
    QByteArray m_game;
};

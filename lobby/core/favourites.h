#pragma once

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

// The rooms the user keeps under "Favorite Games": names in the order they were added,
// compared without regard to case, so that a room is listed once however it was typed.
class Favourites
{
public:
    bool contains(const QString &room) const;
    // False when the room is listed already.
    bool add(const QString &room);
    // False when the room was not listed.
    bool remove(const QString &room);
    void clear() { m_rooms.clear(); }
    const QStringList &rooms() const { return m_rooms; }
    // As the settings file keeps them.
    QList<QByteArray> entries() const;

private:
    QStringList m_rooms;
};

#include "favourites.h"

#include "textcodec.h"

bool Favourites::contains(const QString &room) const
{
    return m_rooms.contains(room, Qt::CaseInsensitive);
}

bool Favourites::add(const QString &room)
{
    if (contains(room))
        return false;
    m_rooms.append(room);
    return true;
}

bool Favourites::remove(const QString &room)
{
    for (qsizetype i = 0; i < m_rooms.size(); ++i) {
        if (m_rooms[i].compare(room, Qt::CaseInsensitive) == 0) {
            m_rooms.removeAt(i);
            return true;
        }
    }
    return false;
}

QList<QByteArray> Favourites::entries() const
{
    QList<QByteArray> out;
    out.reserve(m_rooms.size());
    for (const QString &room : m_rooms)
        out << encodeWireText(room);
    return out;
}

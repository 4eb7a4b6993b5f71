#pragma once

#include "wirekeyword.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

// What one relay message (the payload of a DATASEND after the peer's name) carries
// between two lobbies: the control words OPEN and CLOSE, or bytes of a game's stream.
//
// Game bytes travel inside the scrambled line protocol as they are, which is what a
// lobby that knows no marking sends and expects. Only a piece that would not survive
// that way is marked and escaped: one holding byte 0x15 (it becomes the line feed that
// ends the line), one starting with 0x01 (it would pass for the mark), and one that is
// exactly "OPEN" or "CLOSE" (it would pass for the control word). Such a piece is sent
// as the two bytes 0x01 'D', then the data with 0x01 written as 0x01 0x01 and 0x15 as
// 0x01 0x02. A payload without the mark is taken as raw bytes.
namespace relaycodec {

enum class Kind { Open, Close, Data };

struct Payload
{
    Kind kind = Kind::Data;
    QByteArray bytes; // Data: the game's bytes
};

// Data is cut into pieces of at most this many bytes, so that even a piece of nothing
// but escaped bytes stays well inside the server's line length.
inline constexpr qsizetype kMaxPiece = 16 * 1024;

inline constexpr QByteArrayView kOpen{ostrel::kWireRelayOpen.data(),
                                      static_cast<qsizetype>(ostrel::kWireRelayOpen.size())};
inline constexpr QByteArrayView kClose{ostrel::kWireRelayClose.data(),
                                       static_cast<qsizetype>(ostrel::kWireRelayClose.size())};

// The payloads that carry `data`, in order (none for no data).
QList<QByteArray> encodeData(QByteArrayView data);
Payload decode(QByteArrayView payload);

} // namespace relaycodec

#include "relaycodec.h"

#include <algorithm>

namespace relaycodec {

namespace {

constexpr char kEscape = '\x01';
constexpr char kLineFeedOnTheWire = '\x15';
constexpr QByteArrayView kMark = "\x01"
                                 "D";

bool survivesAsItIs(QByteArrayView piece)
{
    return !piece.contains(kLineFeedOnTheWire) && !piece.startsWith(kEscape) && piece != kOpen &&
           piece != kClose;
}

} // namespace

QList<QByteArray> encodeData(QByteArrayView data)
{
    QList<QByteArray> out;
    for (qsizetype at = 0; at < data.size(); at += kMaxPiece) {
        const QByteArrayView piece = data.sliced(at, std::min(kMaxPiece, data.size() - at));
        if (survivesAsItIs(piece)) {
            out << piece.toByteArray();
            continue;
        }
        QByteArray payload;
        payload.reserve(kMark.size() + piece.size() + piece.size() / 64 + 8);
        payload.append(kMark);
        for (const char c : piece) {
            if (c == kEscape) {
                payload.append(kEscape).append(kEscape);
            } else if (c == kLineFeedOnTheWire) {
                payload.append(kEscape).append('\x02');
            } else {
                payload.append(c);
            }
        }
        out << payload;
    }
    return out;
}

Payload decode(QByteArrayView payload)
{
    if (payload == kOpen)
        return {Kind::Open, {}};
    if (payload == kClose)
        return {Kind::Close, {}};
    if (!payload.startsWith(kMark))
        return {Kind::Data, payload.toByteArray()};
    Payload out;
    out.bytes.reserve(payload.size() - kMark.size());
    for (qsizetype i = kMark.size(); i < payload.size(); ++i) {
        const char c = payload[i];
        if (c != kEscape || i + 1 == payload.size()) {
            out.bytes.append(c);
            continue;
        }
        // A pair: the escape doubled, or the escape and 0x02 for 0x15. Anything else
        // was never written by an encoder; the escape is kept as it came.
        const char next = payload[i + 1];
        if (next == kEscape) {
            out.bytes.append(kEscape);
            ++i;
        } else if (next == '\x02') {
            out.bytes.append(kLineFeedOnTheWire);
            ++i;
        } else {
            out.bytes.append(c);
        }
    }
    return out;
}

} // namespace relaycodec

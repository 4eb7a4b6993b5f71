#include "playerrow.h"

#include "playerentry.h"
#include "textcodec.h"

#include <algorithm>

PlayerRow PlayerRow::decode(const PlayerEntry &entry, bool showsGame)
{
    return {decodeWireText(entry.name), decodeWireText(entry.level), decodeWireText(entry.room),
            decodeWireText(entry.game), showsGame};
}

QString PlayerRow::text() const
{
    QString out = name + QLatin1Char(':') + level + QLatin1Char(':') + room + QLatin1Char(':');
    if (showsGame)
        out += QLatin1Char('[') + game + QLatin1Char(']');
    return out;
}

QString PlayerRow::caption() const
{
    return showsGame && !game.isEmpty() ? name + QStringLiteral(" [") + game + QLatin1Char(']')
                                        : name;
}

int PlayerRow::levelPicture(int last) const
{
    bool numeric = false;
    int hat = level.toInt(&numeric);
    if (!numeric || hat < 0)
        hat = 1;
    return std::clamp(hat, 0, std::max(last, 0));
}

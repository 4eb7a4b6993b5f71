#include "hostingrules.h"

#include "catalogue.h"

#include <arpa/inet.h>

namespace hostingrules {

QByteArray gameName(QByteArrayView label)
{
    return catalogue::registryBaseName(label);
}

QByteArray hostMode(QByteArrayView label)
{
    QByteArray mode = "e";
    if (label.contains("ADULT"))
        mode = "a";
    if (label.contains("RMLADDER") || label.contains("MYLADDER"))
        mode = "t";
    else if (label.contains("SLOW"))
        mode = "s";
    return mode;
}

QString ingameText(const QString &label, const QString &game)
{
    static const QString kVowels = QStringLiteral("AEIOU ");
    const bool an = !game.isEmpty() && kVowels.contains(game.at(0));
    return (an ? QStringLiteral("You are in an ") : QStringLiteral("You are in a ")) + label +
           QStringLiteral(" Game");
}

GameEntry splitEntry(QByteArrayView entry)
{
    const qsizetype dash = entry.indexOf('-');
    if (dash < 0)
        return {};
    GameEntry out;
    out.host = entry.first(qMax<qsizetype>(0, dash - 1)).toByteArray();
    if (dash + 2 <= entry.size())
        out.game = entry.sliced(dash + 2).toByteArray();
    return out;
}

QByteArray withoutSuffix(QByteArrayView game)
{
    return catalogue::withoutModeSuffix(game);
}

QByteArray entryRoom(QByteArrayView entry)
{
    return splitEntry(entry).game;
}

bool listedIn(QByteArrayView entry, QByteArrayView room)
{
    return !entry.isEmpty() && !entry.startsWith("P*") && entry.contains('-') &&
           entryRoom(entry) == room;
}

bool isLaunchAddress(QByteArrayView text)
{
    if (text == kAssistedAddress)
        return true;
    // inet_pton accepts exactly four decimal parts: no host names, no shorthand forms
    // ("10.1"), no leading or trailing text.
    if (text.isEmpty() || text.size() > 15 || text.contains('\0'))
        return false;
    const QByteArray terminated = text.toByteArray();
    in_addr parsed{};
    return ::inet_pton(AF_INET, terminated.constData(), &parsed) == 1;
}

} // namespace hostingrules

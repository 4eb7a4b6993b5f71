// The lobby's readers of text from other players and from the server: chat lines,
// links, player entries, catalogue lines, colours and news, relayed game bytes; and the
// settings file.
#include "catalogue.h"
#include "chattext.h"
#include "inifile.h"
#include "playerentry.h"
#include "relaycodec.h"
#include "tcolor.h"
#include "textcodec.h"

#include <QFile>
#include <QTemporaryDir>

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArrayView input(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));

    const QByteArray filtered = chattext::filterchat(input);
    if (filtered.toLower().contains("shit"))
        std::abort();
    chattext::roomChatLine("bob", input, false);
    chattext::lobbyChatLine("bob", input, false);
    chattext::splitNews(input);
    chattext::shoutMessage(input);
    const QString text = decodeWireText(input);
    for (int i = 0; i < text.size(); i += 7) {
        const chattext::Link link = chattext::findurlat(text, i);
        if (link.isValid() && text.mid(link.start, link.url.size()) != link.url)
            std::abort();
    }
    const PlayerEntry entry = PlayerEntry::parse(input);
    if (entry.level.isEmpty())
        std::abort();
    for (const QByteArray &line : catalogue::splitLines(input)) {
        const catalogue::Line l = catalogue::parseLine(line);
        catalogue::registryBaseName(l.id);
        catalogue::installedState(l.version, l.path);
        catalogue::compareSelfVersion(l.version, l.category);
    }
    relaycodec::decode(input);
    // Any game bytes come back as they were, in payloads that neither end the line nor
    // pass for a control word.
    QByteArray relayed;
    for (const QByteArray &payload : relaycodec::encodeData(input)) {
        const relaycodec::Payload p = relaycodec::decode(payload);
        if (payload.contains('\x15') || p.kind != relaycodec::Kind::Data)
            std::abort();
        relayed += p.bytes;
    }
    if (relayed != input)
        std::abort();
    if (const auto colour = TColor::fromText(input)) {
        if (TColor::fromText(colour->toText()) != colour)
            std::abort();
    }

    static QTemporaryDir dir;
    const QString path = dir.path() + "/fuzz.ini";
    {
        QFile f(path);
        if (!f.open(QIODevice::WriteOnly))
            return 0;
        f.write(input.data(), input.size());
    }
    IniFile ini(path);
    ini.ReadSectionValues("Setting");
    ini.WriteString("Setting", "Key",
                    input.first(std::min<qsizetype>(input.size(), 40)).toByteArray());
    ini.WriteSectionValues("Friends", {{"0", "ann"}});
    if (ini.ReadSectionValues("Friends").value(0).second != "ann")
        std::abort();
    return 0;
}

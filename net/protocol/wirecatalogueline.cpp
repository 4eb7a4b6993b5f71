#include "wirecatalogueline.h"

#include "orvexutils.h"

namespace ostrel {

WireCatalogueLine WireCatalogueLine::parse(std::string_view line)
{
    WireCatalogueLine out;
    if (line.find(':') == std::string_view::npos)
        return out;
    std::string_view rest = line;
    const std::string_view tag = ExtractToken(rest, ':');
    if (tag == "vers") {
        out.tag = Version;
        out.version = ExtractToken(rest, ':');
        return out;
    }
    if (tag == "game")
        out.tag = Game;
    else if (tag == "myll")
        out.tag = MyLadder;
    else if (tag == "rmll")
        out.tag = RmLadder;
    else
        return out;
    out.category = ExtractToken(rest, ':');
    out.id = ExtractToken(rest, ':');
    out.version = ExtractToken(rest, ':');
    out.path = rest;
    return out;
}

} // namespace ostrel

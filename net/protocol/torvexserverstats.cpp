#include "torvexserverstats.h"

#include "orvexutils.h"
#include "torvexuser.h"

#include <string>

namespace ostrel {

namespace {

std::int32_t needInt(std::string_view text, int position)
{
    if (auto value = ParseInt32(text))
        return *value;
    throw EConvertError("server statistics value " + std::to_string(position) +
                        " is not an integer");
}

double needReal(std::string_view text, int position)
{
    if (auto value = ParseReal(text))
        return *value;
    throw EConvertError("server statistics value " + std::to_string(position) +
                        " is not a number");
}

} // namespace

void TOrvexServerStats::LoadFromString(std::string_view text)
{
    constexpr char kSeparator = '`';
    Int1 = needInt(ExtractToken(text, kSeparator), 1);
    Int2 = needInt(ExtractToken(text, kSeparator), 2);
    Int3 = needInt(ExtractToken(text, kSeparator), 3);
    Int4 = needInt(ExtractToken(text, kSeparator), 4);
    Int5 = needInt(ExtractToken(text, kSeparator), 5);
    Int6 = needInt(ExtractToken(text, kSeparator), 6);
    Real1 = needReal(ExtractToken(text, kSeparator), 7);
    Real2 = needReal(ExtractToken(text, kSeparator), 8);
}

} // namespace ostrel

#include "torvexuser.h"

#include "orvexutils.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace ostrel {

std::string TOrvexUser::FormatDate(double value)
{
    if (!std::isfinite(value))
        value = 0;
    // %.14E gives 15 significant digits; the exponent is then widened to four digits.
    char digits[64];
    std::snprintf(digits, sizeof digits, "%.14E", std::fabs(value));
    std::string_view text(digits);
    const auto e = text.find('E');
    const std::string_view mantissa = text.substr(0, e);
    const char expSign = text[e + 1];
    const int exponent = std::atoi(digits + e + 2);
    char out[32];
    std::snprintf(out, sizeof out, "%c%.*sE%c%04d", value < 0 ? '-' : ' ',
                  static_cast<int>(mantissa.size()), mantissa.data(), expSign, exponent);
    return out;
}

double TOrvexUser::ReadDate(std::string_view text)
{
    if (text.empty())
        return 0;
    return ParseReal(text).value_or(0);
}

namespace {

std::int32_t strictInt(std::string_view text, int position)
{
    if (auto value = ParseInt32(text))
        return *value;
    throw EConvertError("'" + std::string(text) + "' is not a valid integer value (field " +
                        std::to_string(position) + ")");
}

} // namespace

void TOrvexUser::LoadFromString(std::string_view text)
{
    auto next = [&text]() { return std::string(ExtractToken(text, '^')); };
    UserName = next();
    Password = next();
    FirstName = next();
    LastName = next();
    City = next();
    Country = next();
    EMail = next();
    HomePage = next();
    Comments = next();
    FirstLogin = ReadDate(next());
    AuxDate = ReadDate(next());
    LoginCount = strictInt(next(), 12);
    ICQ = next();
    AuxNumber = strictInt(next(), 14);
    MemberSince = ReadDate(next());
    AccountClass = next();
    MinutesPlayed = ParseInt32(next()).value_or(0);
    SilenceLeft = ParseInt32(next()).value_or(0);
    Hat = next();
    AuxText = next();
    AuxDate2 = ReadDate(next());
    Gender = next();
}

std::string TOrvexUser::SaveToString() const
{
    std::string out;
    out.reserve(256 + UserName.size() + Comments.size() + HomePage.size() + EMail.size());
    auto put = [&out](std::string_view field) {
        out.append(field);
        out.push_back('^');
    };
    put(UserName);
    put(Password);
    put(FirstName);
    put(LastName);
    put(City);
    put(Country);
    put(EMail);
    put(HomePage);
    put(Comments);
    put(FormatDate(FirstLogin));
    put(FormatDate(AuxDate));
    put(std::to_string(LoginCount));
    put(ICQ);
    put(std::to_string(AuxNumber));
    put(FormatDate(MemberSince));
    put(AccountClass);
    put(std::to_string(MinutesPlayed));
    put(std::to_string(SilenceLeft));
    put(Hat);
    put(AuxText);
    put(FormatDate(AuxDate2));
    put(Gender);
    return out;
}

} // namespace ostrel

#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace ostrel {

// A record field that must be a number and is not. Reading stops at the bad field.
class EConvertError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// One player's account and profile as it travels on the wire: 22 fields, each followed
// by "^". Dates count days since 30 December 1899, the fraction being the time of day.
class TOrvexUser
{
public:
    static constexpr int kFieldCount = 22;
    // A new record's class letter: any letter but "T", "H" and "S" grants no rights.
    static constexpr const char *kDefaultAccountClass = "N";

    std::string UserName;
    std::string LastName;
    std::string City;
    std::string Country;
    std::string Password;
    std::string FirstName;
    std::string EMail;
    std::string Comments;
    std::string HomePage;
    std::int32_t LoginCount = 0;
    double FirstLogin = 0;
    double AuxDate = 0;
    std::string ICQ;
    std::int32_t AuxNumber = 0;
    double MemberSince = 0;
    double AuxDate2 = 0;
    std::string AccountClass = kDefaultAccountClass;
    std::int32_t MinutesPlayed = 0;
    std::int32_t SilenceLeft = 0;
    std::string Hat = "1";
    std::string AuxText;
    std::string Gender;

    // Throws EConvertError when position 12 or 14 is not an integer; the fields before
    // it keep their new values and the later ones their old values.
    void LoadFromString(std::string_view text);
    std::string SaveToString() const;

    // The 23-character scientific form of a date, e.g. " 3.87165000000000E+0004".
    static std::string FormatDate(double value);
    // A date field: malformed text reads as 0.
    static double ReadDate(std::string_view text);

    bool operator==(const TOrvexUser &) const = default;
};

} // namespace ostrel

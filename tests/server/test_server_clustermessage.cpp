// The messages between server nodes: each kind against the fields its wire form has had
// since nodes first spoke it (a node of the previous version must read what this one
// writes, and the other way round during a rolling restart), and what a decoder refuses.
#include "clustermessage.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using namespace cluster;
using Fields = std::vector<std::string>;

const PlayerState kAnna{"anna",       "Anna", "Cards", "Anna+2+Cards+Anna - Cards",
                        1765000000.5, true,   true};
const PlayerState kBo{"bo", "Bo", "Lobby Chat", "Bo+1+Lobby Chat+", 1765000123.25, false, false};

std::string bytes(const char *text, std::size_t size)
{
    return std::string(text, size);
}

TEST(ClusterMessages, EachKindHasItsFieldsInTheirPlaceAndComesBackWhole)
{
    struct Case
    {
        Message message;
        ClusterMessage wire;
    };
    const Case cases[] = {
        {Heartbeat{"n1"}, {"HB", {"n1"}}},
        {Hello{"n1"}, {"HELLO", {"n1"}}},
        {Bye{"n1"}, {"BYE", {"n1"}}},
        {Snapshot{"n1", {}}, {"SNAP", {"n1"}}},
        {Snapshot{"n1", {kAnna, kBo}},
         {"SNAP",
          {"n1", "anna", "Anna", "Cards", "Anna+2+Cards+Anna - Cards", "1765000000.500000", "ha",
           "bo", "Bo", "Lobby Chat", "Bo+1+Lobby Chat+", "1765000123.250000", ""}}},
        {Presence{"n1", kAnna},
         {"P",
          {"n1", "anna", "Anna", "Cards", "Anna+2+Cards+Anna - Cards", "1765000000.500000", "ha"}}},
        {Departure{"n1", "anna", "Anna", "n2"}, {"G", {"n1", "anna", "Anna", "n2"}}},
        {Broadcast{"n1", "*", false, "SEND|Anna|GHAT|hi"},
         {"L", {"n1", "*", "0", "SEND|Anna|GHAT|hi"}}},
        {Broadcast{"n1", "Cards", true, "ADDGUEST|Anna+2+Cards+"},
         {"L", {"n1", "Cards", "1", "ADDGUEST|Anna+2+Cards+"}}},
        {ToPlayer{"n1", "bo", "ERROR|gone", "", ""}, {"T", {"n1", "bo", "ERROR|gone"}}},
        {ToPlayer{"n1", "bo", "SEND|Anna|PMES|x", "anna", "ERROR|Bo is not online"},
         {"T", {"n1", "bo", "SEND|Anna|PMES|x", "anna", "ERROR|Bo is not online"}}},
        {Kick{"n1", "bo"}, {"K", {"n1", "bo"}}},
        {Moderation{"n1", "bo", Moderation::Order::Silence, 1765003600, 60, ""},
         {"M", {"n1", "bo", "SILENCE", "1765003600", "60"}}},
        {Moderation{"n1", "bo", Moderation::Order::Unsilence, 0, 0, ""},
         {"M", {"n1", "bo", "UNSILENCE", "0", "0"}}},
        {Moderation{"n1", "bo", Moderation::Order::Boot, 0, 0, "console:root"},
         {"M", {"n1", "bo", "BOOT", "0", "console:root"}}},
        {JoinRequest{"n1", "anna", "bo", "Bo", "hello|there", "ANNA"},
         {"J", {"n1", "anna", "bo", "Bo", "hello|there", "ANNA"}}},
        {JoinAnswer{"n1", "bo", "anna", "Anna", "Anna - Cards", true, "ASSISTED"},
         {"JA", {"n1", "bo", "anna", "Anna", "Anna - Cards", "1", "ASSISTED"}}},
        {JoinAnswer{"n1", "bo", "anna", "Anna", "", false, ""},
         {"JA", {"n1", "bo", "anna", "Anna", "", "0", ""}}},
        {Relay{"n1", "anna", "bo", "Bo", true, bytes("\0\x01|\r\n", 5)},
         {"D", {"n1", "anna", "bo", "Bo", "tohost", bytes("\0\x01|\r\n", 5)}}},
        {Relay{"n1", "bo", "anna", "Anna", false, "CLOSE"},
         {"D", {"n1", "bo", "anna", "Anna", "tojoiner", "CLOSE"}}},
        {GameEnded{"n1", "bo", "anna", "Anna", true}, {"EG", {"n1", "bo", "anna", "Anna", "1"}}},
        {LeftGame{"n1", "anna", "bo", "Bo"}, {"LJ", {"n1", "anna", "bo", "Bo"}}},
        {GamePrivate{"n1", "bo", "anna", "P*Anna - Cards"},
         {"PG", {"n1", "bo", "anna", "P*Anna - Cards"}}},
        {Operator{"n1", "DRAIN", "15"}, {"OP", {"n1", "DRAIN", "15"}}},
        {Operator{"n1", "NEWS", ""}, {"OP", {"n1", "NEWS", ""}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.wire.encode());
        const auto frame = toFrame(c.message);
        EXPECT_EQ(frame.kind, c.wire.kind);
        EXPECT_EQ(frame.fields, c.wire.fields);
        EXPECT_EQ(fromFrame(c.wire), c.message);
        EXPECT_EQ(decode(encode(c.message)), c.message);
        EXPECT_EQ(nodeOf(c.message), "n1");
    }
}

// What older or newer nodes write that this one reads for what it is.
TEST(ClusterMessages, ShorterAndLongerFormsOfOtherVersionsAreRead)
{
    struct Case
    {
        ClusterMessage wire;
        Message expected;
    };
    const Case cases[] = {
        // A departure without the node the player was at: the publisher's own player.
        {{"G", {"n1", "anna", "Anna"}}, Departure{"n1", "anna", "Anna", "n1"}},
        // Fields a later version adds after the known ones are passed over.
        {{"G", {"n1", "anna", "Anna", "n2", "later"}}, Departure{"n1", "anna", "Anna", "n2"}},
        {{"K", {"n1", "bo", "x"}}, Kick{"n1", "bo"}},
        {{"HB", {"n1", "x", "y"}}, Heartbeat{"n1"}},
        // Flag letters a later version adds change nothing here.
        {{"P", {"n1", "bo", "Bo", "Lobby Chat", "Bo+1+Lobby Chat+", "1765000123.25", "xh"}},
         Presence{"n1",
                  {"bo", "Bo", "Lobby Chat", "Bo+1+Lobby Chat+", 1765000123.25, true, false}}},
        // A line without its undelivered text (or with only part of it) has none.
        {{"T", {"n1", "bo", "hi", "anna"}}, ToPlayer{"n1", "bo", "hi", "", ""}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.wire.encode());
        EXPECT_EQ(fromFrame(c.wire), c.expected);
    }
}

TEST(ClusterMessages, MessagesThatLackAFieldOrHoldAnUnreadableOneAreRefused)
{
    const ClusterMessage refused[] = {
        {"HB", {}},
        {"HB", {""}},
        {"ZZ", {"n1"}},
        {"hb", {"n1"}},
        {"P", {"n1", "bo", "Bo", "Lobby Chat", "Bo+1+Lobby Chat+", "1765000123.25"}},
        {"P", {"n1", "", "Bo", "Lobby Chat", "Bo+1+Lobby Chat+", "1765000123.25", ""}},
        {"P", {"n1", "bo", "Bo", "Lobby Chat", "Bo+1+Lobby Chat+", "soon", ""}},
        {"P", {"n1", "bo", "Bo", "Lobby Chat", "Bo+1+Lobby Chat+", "nan", ""}},
        {"P", {"n1", "bo", "Bo", "Lobby Chat", "Bo+1+Lobby Chat+", "inf", ""}},
        {"P", {"n1", "bo", "Bo", "Lobby Chat", "Bo+1+Lobby Chat+", "12x", ""}},
        // A player cut short would shift everyone after it.
        {"SNAP", {"n1", "bo", "Bo", "Lobby Chat", "Bo+1+Lobby Chat+", "1765000123.25"}},
        {"SNAP", {"n1", "bo", "Bo", "Lobby Chat", "Bo+1+Lobby Chat+", "1", "", "anna"}},
        {"G", {"n1", "anna"}},
        {"G", {"n1", "", "Anna"}},
        {"L", {"n1", "*", "yes", "hi"}},
        {"L", {"n1", "", "0", "hi"}},
        {"L", {"n1", "*", "0"}},
        {"T", {"n1", "bo"}},
        {"K", {"n1"}},
        {"M", {"n1", "bo", "SILENCE", "later", "60"}},
        {"M", {"n1", "bo", "SILENCE", "1765003600", "-5"}},
        {"M", {"n1", "bo", "SILENCE", "1765003600", "99999999999"}},
        {"M", {"n1", "bo", "BAN", "0", "0"}},
        {"M", {"n1", "bo", "BOOT", "0"}},
        {"J", {"n1", "anna", "bo", "Bo", "hi"}},
        {"J", {"n1", "", "bo", "Bo", "hi", "Anna"}},
        {"JA", {"n1", "bo", "anna", "Anna", "g", "yes", "1.2.3.4"}},
        {"JA", {"n1", "bo", "anna", "Anna", "g", "1"}},
        {"D", {"n1", "anna", "bo", "Bo", "sideways", "x"}},
        {"D", {"n1", "anna", "bo", "Bo", "tohost"}},
        {"EG", {"n1", "bo", "anna", "Anna", "true"}},
        {"LJ", {"n1", "anna", "bo"}},
        {"PG", {"n1", "bo", "anna"}},
        {"OP", {"n1", "NEWS"}},
        {"OP", {"n1", "", ""}},
    };
    for (const auto &wire : refused) {
        SCOPED_TRACE(wire.encode());
        EXPECT_FALSE(fromFrame(wire));
        EXPECT_FALSE(decode(wire.encode()));
    }
}

// A cut of a whole message's bytes is refused, or read as exactly the shorter message
// the cut left (a snapshot of fewer players); bytes that claim more than they hold are
// refused. The sanitizers of the fuzz build watch the same on arbitrary input.
TEST(ClusterMessages, CutAndInflatedBytesAreRefusedWithoutReadingPastThem)
{
    const std::string whole = encode(Snapshot{"n1", {kAnna, kBo}});
    int read = 0;
    for (std::size_t size = 0; size < whole.size(); ++size) {
        const auto cut = decode(std::string_view(whole).substr(0, size));
        if (!cut)
            continue;
        ++read;
        EXPECT_EQ(encode(*cut), whole.substr(0, size)) << size;
    }
    // No players, and Anna alone.
    EXPECT_EQ(read, 2);
    for (const std::string &broken :
         {std::string("4:SNAP2:n199999:anna"), std::string("1:P2:n18589934592:x"),
          std::string("1:P2:n1-1:x"), std::string("2:HB2:n1:"), std::string("2:HB2:n1\0", 9),
          std::string(4096, '9'), std::string("\xff\xfe:::")}) {
        EXPECT_FALSE(decode(broken)) << broken;
    }
}

} // namespace

#include "serverprocess.h"
#include "torvexuser.h"
#include "wireclient.h"

#include <gtest/gtest.h>

#include <csignal>
#include <deque>
#include <memory>
#include <poll.h>

namespace {

using Clock = std::chrono::steady_clock;

std::string recordWithCity(const std::string &name, int city)
{
    std::string record = newRecord(name, "pw");
    record.replace(record.find("^City^"), 6, "^c" + std::to_string(city) + "^");
    return record;
}

int cityOf(std::string_view record)
{
    ostrel::TOrvexUser user;
    user.LoadFromString(record);
    return user.City.size() > 1 ? std::stoi(user.City.substr(1)) : 0;
}

// One player of the stream: creates its account, then changes its profile again and
// again, each change sent once the previous one was acknowledged.
struct Player
{
    std::string name;
    std::unique_ptr<WireClient> client;
    bool created = false; // NEWSUCCESS seen
    int acknowledged = 0; // the last city the server confirmed
    int sent = 0;         // the last city sent
};

// What the client saw before the connection ended is what the server acknowledged.
void take(Player &p, const std::string &line)
{
    if (line.rfind("NEWSUCCESS|", 0) == 0)
        p.created = true;
    constexpr std::string_view kInfo = "USERINFO|";
    if (p.created && line.rfind(kInfo, 0) == 0)
        p.acknowledged =
            std::max(p.acknowledged, cityOf(std::string_view(line).substr(kInfo.size())));
}

TEST(Crash, AcknowledgedAccountsAndProfileChangesSurviveSigkill)
{
    TempDir dir;
    const ServerProcess::Setup setup{.arguments = {"--exempt", "127.0.0.1"}};
    auto server = std::make_unique<ServerProcess>(dir.path(), setup);

    // Up to 12 players at a time; a new one starts whenever one has made three changes,
    // so that creations and changes keep coming until the kill.
    std::deque<Player> players;
    auto startPlayer = [&] {
        Player p;
        p.name = "crash" + std::to_string(players.size());
        p.client = std::make_unique<WireClient>(server->port());
        p.client->send("LOGINNEW|" + p.name + "|0121|" + recordWithCity(p.name, 0));
        players.push_back(std::move(p));
    };
    for (int i = 0; i < 12; ++i)
        startPlayer();

    const auto deadline = Clock::now() + std::chrono::seconds(5);
    int acknowledgedChanges = 0;
    while (acknowledgedChanges < 150 && Clock::now() < deadline) {
        std::vector<pollfd> fds;
        for (const auto &p : players)
            fds.push_back({p.client->fd(), POLLIN, 0});
        if (poll(fds.data(), fds.size(), 100) <= 0)
            continue;
        const std::size_t count = players.size();
        for (std::size_t i = 0; i < count; ++i) {
            if (!(fds[i].revents & POLLIN))
                continue;
            auto &p = players[i];
            while (auto line = p.client->next(std::chrono::milliseconds(2))) {
                const int before = p.acknowledged;
                const bool wasCreated = p.created;
                take(p, *line);
                if (!p.created)
                    continue;
                if (p.acknowledged > before)
                    ++acknowledgedChanges;
                const bool readyForMore =
                    line->rfind("JOINSUBJECT|", 0) == 0 || (wasCreated && p.acknowledged > before);
                if (readyForMore && p.sent == p.acknowledged) {
                    p.client->send("USERUPDATE|" + p.name + "|" + recordWithCity(p.name, ++p.sent));
                    if (p.sent == 3)
                        startPlayer();
                }
            }
        }
    }
    ASSERT_GE(acknowledgedChanges, 150) << "the stream did not get going\n" << server->log();

    server->signal(SIGKILL);
    // Every client sees the connection end; what arrived before that still counts.
    for (auto &p : players) {
        std::vector<std::string> lines;
        EXPECT_TRUE(p.client->waitClosed(WireClient::kWait, &lines)) << p.name;
        for (const auto &line : lines)
            take(p, line);
        p.client.reset();
    }

    server = std::make_unique<ServerProcess>(dir.path(), setup);
    int created = 0;
    for (const auto &p : players) {
        if (!p.created)
            continue;
        ++created;
        WireClient client(server->port());
        client.send("LOGIN|" + p.name + "|0121|pw");
        const auto reply = client.waitFor("LOGIN|");
        ASSERT_TRUE(reply && reply->rfind("LOGIN|SUCCESS|", 0) == 0)
            << p.name << ": " << reply.value_or("(nothing)");
        // A change sent but not acknowledged may or may not have been made.
        const int city = cityOf(std::string_view(*reply).substr(14));
        EXPECT_GE(city, p.acknowledged) << p.name;
        EXPECT_LE(city, p.sent) << p.name;
    }
    EXPECT_GT(created, 12);
}

} // namespace

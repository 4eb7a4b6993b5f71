// The server's command handlers on arbitrary lines from two logged-in players, one of
// them an administrator. The players' connections are socket pairs inside the process,
// so nothing reaches the network; what the server writes to them is read and dropped.
#include "catalogue.h"
#include "clientsession.h"
#include "lobbyserver.h"
#include "passwordhasher.h"
#include "serveroptions.h"
#include "sqliteaccountstore.h"

#include <asio/executor_work_guard.hpp>
#include <asio/io_context.hpp>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace {

struct Player
{
    std::shared_ptr<ClientSession> session;
    int peer = -1;
};

class Fixture
{
public:
    Fixture()
    {
        // Password changes among the fuzzed lines must not cost a full hash each.
        setenv("OSTREL_SERVER_FAST_HASH", "1", 1);
        auto store = std::make_unique<SqliteAccountStore>(":memory:");
        for (const char *name : {"alice", "bruno"}) {
            AccountRecord account;
            account.user.UserName = name;
            account.passwordHash = PasswordHasher::hashNow("pw", true);
            store->insert(account);
        }
        store->setAccountClass("alice", "H");
        m_server = std::make_unique<LobbyServer>(m_io, ServerOptions{}, Catalogue::sample(),
                                                 std::move(store));
        m_players[0] = connect(1, "alice");
        m_players[1] = connect(2, "bruno");
    }

    ~Fixture()
    {
        for (auto &p : m_players) {
            if (p.session)
                p.session->close("fuzz fixture ends");
            if (p.peer >= 0)
                ::close(p.peer);
        }
        m_io.poll();
        m_server.reset();
        m_work.reset();
    }

    bool usable() const
    {
        return m_players[0].session->player.loggedIn && m_players[1].session->player.loggedIn;
    }

    void feed(std::string_view input)
    {
        while (!input.empty()) {
            const auto feedAt = input.find('\n');
            std::string_view line = input.substr(0, feedAt);
            input =
                feedAt == std::string_view::npos ? std::string_view() : input.substr(feedAt + 1);
            // The first byte picks the sender.
            const int who = !line.empty() && line.front() == '\x01' ? 1 : 0;
            if (who == 1)
                line.remove_prefix(1);
            // A restart would open a listener; it is covered by the loopback tests.
            if (line.find("REBOOT") != std::string_view::npos)
                continue;
            auto &session = m_players[who].session;
            if (session->closing())
                continue;
            m_server->handleLine(*session, std::string(line));
            settle();
        }
    }

private:
    Player connect(std::uint64_t id, const std::string &name)
    {
        int fds[2];
        if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, fds) != 0)
            std::abort();
        asio::ip::tcp::socket socket(m_io);
        socket.assign(asio::ip::tcp::v4(), fds[0]);
        Player player{std::make_shared<ClientSession>(std::move(socket), *m_server, id, "fuzz"),
                      fds[1]};
        m_server->handleLine(*player.session, "LOGIN|" + name + "|0121|pw");
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!player.session->player.loggedIn && std::chrono::steady_clock::now() < deadline)
            m_io.run_one_for(std::chrono::milliseconds(10));
        if (!player.session->player.loggedIn)
            std::abort();
        m_players[id - 1] = player;
        settle();
        return player;
    }

    // Runs what the handlers queued and throws away what the server wrote.
    void settle()
    {
        m_io.poll();
        char buffer[65536];
        for (auto &p : m_players)
            if (p.peer >= 0)
                while (::read(p.peer, buffer, sizeof buffer) > 0) {
                }
        m_io.poll();
    }

    asio::io_context m_io;
    // Login checks finish on the hashing pool; without this the loop would count as out
    // of work and stop before their results arrive.
    asio::executor_work_guard<asio::io_context::executor_type> m_work = asio::make_work_guard(m_io);
    std::unique_ptr<LobbyServer> m_server;
    Player m_players[2];
};

std::unique_ptr<Fixture> g_fixture;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (!g_fixture || !g_fixture->usable())
        g_fixture = std::make_unique<Fixture>();
    g_fixture->feed(std::string_view(reinterpret_cast<const char *>(data), size));
    return 0;
}

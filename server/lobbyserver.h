#pragma once

#include "accountquota.h"
#include "accountstore.h"
#include "catalogue.h"
#include "clientsession.h"
#include "heaptrimmer.h"
#include "loginthrottle.h"
#include "passwordhasher.h"
#include "serveroptions.h"

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/signal_set.hpp>
#include <asio/steady_timer.hpp>

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

// The lobby: accepts clients, logs them in against the account store, keeps who is where
// (rooms, hosted and joined games), routes their messages and enforces the rules of who
// may send what. One io_context on one thread runs all of it; only password hashing runs
// elsewhere (PasswordHasher).
class LobbyServer
{
public:
    LobbyServer(asio::io_context &io, const ServerOptions &options, Catalogue catalogue,
                std::unique_ptr<AccountStore> store);
    ~LobbyServer();

    // Binds, prints "listening on HOST:PORT" to standard output and starts accepting.
    // Throws std::system_error when the address cannot be bound.
    void start();

    // Session callbacks.
    void handleLine(ClientSession &session, const std::string &line);
    void sessionEnding(ClientSession &session, const std::string &reason);
    void sessionClosed(ClientSession &session, const std::string &reason);
    // The connection has not logged in within its time.
    void loginTimeUp(ClientSession &session);
    const ClientSession::Limits &limits() const { return m_limits; }
    // The session holds only presence news: write it with the next presence flush.
    void flushPresenceSoon(ClientSession &session);
    std::array<char, 64 * 1024> &readBuffer() { return m_readBuffer; }

private:
    using Clock = std::chrono::steady_clock;
    using Session = ClientSession;

    // Lifecycle (lobbyserver.cpp)
    void openAcceptor();
    void accept();
    void refuse(int descriptor, std::string_view reason);
    bool refuseWithSpareDescriptor();
    bool isExempt(const std::string &address) const;
    void scheduleTick();
    void tick();
    void waitSignals();
    void shutdown(const std::string &why);
    void restartListener();
    void dropEveryone(const std::string &why);
    void reloadNews(bool announce);
    void log(const std::string &text) const;

    // Presence and delivery (lobbyserver.cpp)
    Session *findPlayer(std::string_view name) const;
    std::string entryOf(const Session &session) const;
    void broadcast(std::string_view plain, const Session *except = nullptr);
    void broadcastLine(const ClientSession::Line &line, const Session *except = nullptr);
    void sendToRoom(const std::string &room, std::string_view plain, const Session *except,
                    bool presence = false);
    // ADDGUEST, REMOVEGUEST, GREMOVEGUEST: may wait for the presence flush.
    void broadcastPresence(std::string_view plain, const Session *except = nullptr);
    void flushPresence();
    void announceEntry(const Session &session, const Session *except = nullptr);
    void logoff(Session &session, const std::string &why);
    std::string serverStats() const;
    std::int32_t silencedMinutes(const Session &session) const;

    // Accounts and login (lobbyserver.cpp)
    void onLogin(Session &session, std::string_view rest);
    void onLoginNew(Session &session, std::string_view rest);
    void loginFailed(Session &session, const std::string &text);
    // False (after telling the client where due) when a LOGIN or LOGINNEW cannot start:
    // already logged in, or a login of this session is being checked.
    bool mayStartLogin(Session &session);
    // True when the hashing queue, or the address's share of it, is full; the client has
    // then been told.
    bool hashingHeldBack(Session &session);
    // Asked by the hasher before a job of this session starts.
    std::function<bool()> stillWanted(Session &session);
    void completeLogin(Session &session, const std::string &name, const std::string &password);
    ostrel::TOrvexUser recordFor(const AccountRecord &account, const Session *viewer) const;

    // Commands (lobbycommands.cpp)
    void onJoinSubject(Session &session, std::string_view rest);
    void onUserInfo(Session &session, std::string_view rest);
    void onUserUpdate(Session &session, std::string_view rest);
    void onSend(Session &session, std::string_view rest);
    void onInvite(Session &session, std::string_view rest);
    void onAddGame(Session &session, std::string_view rest, bool assisted);
    void onDeleteGame(Session &session, std::string_view rest);
    void onPrivate(Session &session, std::string_view rest);
    void onAdmin(Session &session, std::string_view rest);
    void onJoin(Session &session, std::string_view host, std::string_view payload);
    void onJoinAnswer(Session &session, std::string_view requester, std::string_view payload,
                      bool accepted);
    void onDatasend(Session &session, std::string_view peer, std::string_view payload);
    void endGame(Session &host, bool announceHost);
    void leaveJoinedGame(Session &joiner, bool announce);
    // A private message to an account that is offline: kept for its next login.
    void storeForOffline(Session &session, std::string_view target, std::string_view text);
    void deliverStoredMessages(Session &session);
    void purgeStoredMessages();
    bool ownName(const Session &session, std::string_view name) const;
    bool refuseWhenSilenced(Session &session);
    // True (after an ERROR to the sender) when text meant for other players is too long.
    bool refuseOverlong(Session &session, std::string_view text);

    asio::io_context &m_io;
    ServerOptions m_options;
    Catalogue m_catalogue;
    std::unique_ptr<AccountStore> m_store;
    PasswordHasher m_hasher;
    LoginThrottle m_throttle;
    AccountQuota m_accountQuota;
    // Addresses and account keys with a login being checked.
    std::unordered_set<std::string> m_checkingAddresses;
    std::unordered_set<std::string> m_checkingAccounts;
    ClientSession::Limits m_limits;
    asio::ip::tcp::acceptor m_acceptor;
    asio::ip::tcp::endpoint m_endpoint;
    asio::steady_timer m_tick;
    asio::steady_timer m_acceptRetry;
    asio::steady_timer m_stopTimer;
    asio::steady_timer m_presenceTimer;
    bool m_presenceTimerArmed = false;
    HeapTrimmer m_heapTrimmer;
    std::vector<std::uint64_t> m_presenceWaiting; // session ids
    asio::signal_set m_signals;
    std::array<char, 64 * 1024> m_readBuffer{};

    std::unordered_map<std::uint64_t, std::shared_ptr<Session>> m_sessions;
    std::unordered_map<std::string, Session *> m_players; // by key
    std::unordered_map<std::string, std::unordered_set<Session *>> m_rooms;
    std::uint64_t m_nextId = 1;

    // Connections per remote address: all, and those not logged in yet.
    struct AddressCount
    {
        std::size_t total = 0;
        std::size_t newcomers = 0;
    };
    std::unordered_map<std::string, AddressCount> m_addresses;
    std::size_t m_maxSessions = SIZE_MAX;
    // Held open to be given up when accept runs out of descriptors.
    int m_spareDescriptor = -1;
    bool m_stopping = false;

    std::string m_newsId;
    std::string m_newsText;

    // Figures for SERVERSTATS.
    Clock::time_point m_startedAt;
    std::int64_t m_accountCount = 0;
    std::int64_t m_loginsSinceStart = 0;
    std::size_t m_peakOnline = 0;
    std::size_t m_hostedGames = 0;
    std::uint64_t m_linesHandled = 0;
};

#pragma once

#include "accountquota.h"
#include "accountstore.h"
#include "accountstoreworker.h"
#include "adminconsole.h"
#include "catalogue.h"
#include "clientsession.h"
#include "clusterlink.h"
#include "clustermessage.h"
#include "heaptrimmer.h"
#include "httpendpoint.h"
#include "loginthrottle.h"
#include "passwordhasher.h"
#include "playerdirectory.h"
#include "remoteplayers.h"
#include "serverlog.h"
#include "servermetrics.h"
#include "serveroptions.h"
#include "systemdnotifier.h"
#include "wirekeyword.h"
#include "writepacer.h"

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
// may send what. One io_context on one thread runs all of it; only password hashing
// (PasswordHasher) and the account store (AccountStoreWorker) run elsewhere.
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
    WritePacer &writePacer() { return m_writePacer; }
    std::array<char, 64 * 1024> &readBuffer() { return m_readBuffer; }
    ServerMetrics &metrics() { return m_metrics; }

private:
    using Clock = std::chrono::steady_clock;
    using Session = ClientSession;

    // Lifecycle (lobbyserver.cpp)
    void openAcceptor();
    void openTlsAcceptor();
    void accept(asio::ip::tcp::acceptor &acceptor, bool tls);
    void acceptAll();
    // tls: the connection came to the TLS listener, where a plain line would be noise.
    void refuse(int descriptor, std::string_view reason, bool tls);
    bool refuseWithSpareDescriptor(bool tls);
    bool isExempt(const std::string &address) const;
    void scheduleTick();
    void tick();
    void waitSignals();
    void shutdown(const std::string &why);
    void restartListener();
    void dropEveryone(const std::string &why);
    void reloadNews(bool announce);
    void log(const std::string &text) const;
    void logEvent(ServerLog::Level level, std::string_view event,
                  const ServerLog::Fields &fields) const;

    // Presence and delivery (lobbyserver.cpp)
    Session *findPlayer(std::string_view name) const;
    // The player's entry as announced last (see ClientSession::Player::entry).
    const std::string &entryOf(const Session &session) const { return session.player.entry; }
    // The reply to a room's entry: "JOINSUBJECT|room|entry|entry|...", everyone online
    // for the lobby, the room's members for a game room. Valid until the next call.
    const std::string &memberList(const std::string &room);
    // The logged-in sessions of this node, in the order broadcasts visit them.
    void addLocal(Session &session);
    void removeLocal(Session &session);
    void broadcast(std::string_view plain, const Session *except = nullptr);
    // To this node's own players only (what another node asked for, or part of a change
    // the other nodes hear of in another form).
    void localBroadcast(std::string_view plain, const Session *except, bool presence);
    void localToRoom(const std::string &room, std::string_view plain, const Session *except,
                     bool presence);
    void sendToRoom(const std::string &room, std::string_view plain, const Session *except,
                    bool presence = false);
    void flushPresence();
    // Brings the player's entry up to date with its fields and tells everyone.
    void announceEntry(Session &session, const Session *except = nullptr);
    // announce: false when another node has told everyone already (a newer login there).
    void logoff(Session &session, const std::string &why, bool announce = true);
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
    // The account of a LOGIN was looked up: check its password.
    void checkPassword(Session &session, const std::optional<AccountRecord> &account,
                       const std::string &password);
    // The name of a LOGINNEW was found free: hash the password and make the account.
    void createAccount(Session &session, AccountRecord account, const std::string &password);
    // Asked by the hasher before a job of this session starts.
    std::function<bool()> stillWanted(Session &session);
    // Records the login in the store, then lets the player in.
    void completeLogin(Session &session, const std::string &name, const std::string &password);
    void enterLobby(Session &session, const AccountRecord &account, const std::string &password);
    ostrel::TOrvexUser recordFor(const AccountRecord &account, const Session *viewer) const;

    // Commands (lobbycommands.cpp)
    void onJoinSubject(Session &session, std::string_view rest);
    void onUserInfo(Session &session, std::string_view rest);
    void onUserUpdate(Session &session, std::string_view rest);
    // The profile is stored (its hat as allowed, wantedHat as asked): tell the player and
    // go on with a password change.
    void profileUpdated(Session &session, const ostrel::TOrvexUser &record,
                        const std::string &wantedHat, const std::optional<AccountRecord> &updated);
    void onSend(Session &session, std::string_view rest);
    void onInvite(Session &session, std::string_view rest);
    void onAddGame(Session &session, std::string_view rest, bool assisted);
    void onDeleteGame(Session &session, std::string_view rest);
    void onPrivate(Session &session, std::string_view rest);
    void onAdmin(Session &session, std::string_view rest);
    void onAdminChecked(Session &session, std::string_view name, std::string_view order,
                        std::string_view target, std::string_view minutesText,
                        const std::string &myClass, const std::optional<AccountRecord> &account);
    // moderate() once a SILENCE or UNSILENCE is in the account store; done gets what went
    // wrong, or nothing. done may be destroyed on the store's thread: it holds no more
    // than values and weak pointers.
    void moderateStored(const std::string &by, ostrel::WireKeyword order,
                        const std::string &targetName, std::int32_t minutes,
                        std::function<void(const std::string &error)> done);
    // SILENCE (for minutes), UNSILENCE or BOOT of an account, wherever in the lobby its
    // player is, after a silence is stored; by: who asked. Returns what went wrong, or
    // nothing.
    std::string moderate(const std::string &by, ostrel::WireKeyword order,
                         const std::string &targetName, std::int32_t minutes);
    void onJoin(Session &session, std::string_view host, std::string_view payload);
    void onJoinAnswer(Session &session, std::string_view requester, std::string_view payload,
                      bool accepted);
    void onDatasend(Session &session, std::string_view peer, std::string_view payload);
    void endGame(Session &host, bool announceHost);
    void leaveJoinedGame(Session &joiner, bool announce);
    // A private message to an account that is offline: kept for its next login.
    void storeForOffline(Session &session, std::string_view target, std::string_view text);
    void deliverStoredMessages(Session &session);
    // Deletes the kept messages the client's answer to a PING confirms.
    void pingAnswered(Session &session);
    void purgeStoredMessages();
    bool ownName(const Session &session, std::string_view name) const;
    bool refuseWhenSilenced(Session &session);
    // True (after an ERROR to the sender) when text meant for other players is too long.
    bool refuseOverlong(Session &session, std::string_view text);

    // The account store, whose calls run on a thread of their own (lobbyserver.cpp). work
    // runs there and sees only the store and what it captured by value; the function it
    // returns runs back on the network thread.
    using SessionThen = std::function<void(Session &)>;
    using SessionWork = std::function<SessionThen(AccountStore &)>;
    using SessionFailed = std::function<void(Session &, const std::string &error)>;
    // A request of a client's: its later lines wait until the answer is in, other clients
    // are served meanwhile. The answer runs only while the client is still connected.
    // When the request fails or times out the client gets failed, by default an ERROR
    // line; what: the request's name for the log.
    void askStore(Session &session, std::string_view what, SessionWork work,
                  SessionFailed failed = {});
    // A write nobody waits for (minutes played, delivered kept messages): a failure is
    // logged.
    void tellStore(std::string what, std::function<void(AccountStore &)> work);
    void storeRequestFailed(Session &session, std::string_view what, const std::string &error);

    // Cluster (lobbycluster.cpp): the other nodes of one lobby, met through Redis.
    void startCluster();
    // Both stamp this node as the publisher.
    void publishAll(cluster::Message message);
    void publishTo(const std::string &node, cluster::Message message,
                   ClusterLink::Delivered delivered = {});
    void onClusterMessage(const std::string &payload);
    cluster::PlayerState stateOf(const Session &session) const;
    cluster::Snapshot snapshot() const;
    cluster::Presence presenceOf(const Session &session) const;
    void forwardLine(const std::string &scope, const Session *except, bool presence,
                     std::string_view plain);
    // Hands a message for one player to where the player is: its session here, or its
    // node. A line with an `undelivered` text that no node takes goes back to its sender.
    // The message's publisher is filled in.
    void deliver(const PlayerDirectory::Recipient &to, cluster::Message message);
    // What a message for one player does to its session here.
    void receive(Session &session, const cluster::Message &message);
    // A message for one player who is not here.
    void notHere(const cluster::Message &message);
    // A line for the player `key` at `node` (an answer to something from there).
    void replyTo(const std::string &node, const std::string &key, std::string line);
    // A login of `key` at `newer` ends the account's other session, here or elsewhere.
    void endOlderSession(const Session &newer, const std::string &key);
    void remoteArrived(const std::string &node, const cluster::PlayerState &player);
    void remoteLeft(const RemotePlayers::Player &player);
    void applySnapshot(const cluster::Snapshot &message);
    void remoteNodeGone(const std::string &node, const std::string &why);
    void clusterTick();
    std::size_t onlineCount() const { return m_directory.size(); }

    // For the people who run the lobby (lobbyoperations.cpp): metrics and health on their
    // own address, the admin console, systemd's notifications, draining.
    void startOperations();
    void stopOperations();
    void registerGauges();
    HttpEndpoint::Response operatorPage(std::string_view path);
    // Empty when ready; otherwise why not.
    std::string notReadyBecause();
    void adminCommand(const AdminConsole::Peer &peer, const std::vector<std::string> &words,
                      AdminConsole::Reply reply);
    void onOperatorMessage(const cluster::Operator &message);
    void drain(std::chrono::minutes timeout);
    void drainCheck();

    asio::io_context &m_io;
    ServerOptions m_options;
    Catalogue m_catalogue;
    // Before the store, which reports to it.
    ServerLog m_log;
    ServerMetrics m_metrics;
    AccountStoreWorker m_store;
    bool m_purging = false; // a purge of old kept messages is under way
    PasswordHasher m_hasher;
    LoginThrottle m_throttle;
    AccountQuota m_accountQuota;
    // Addresses and account keys with a login being checked.
    std::unordered_set<std::string> m_checkingAddresses;
    std::unordered_set<std::string> m_checkingAccounts;
    ClientSession::Limits m_limits;
    asio::ip::tcp::acceptor m_acceptor;
    asio::ip::tcp::endpoint m_endpoint;
    // The TLS listener and its context (certificate, key, TLS 1.2 or later).
    std::unique_ptr<asio::ssl::context> m_tlsContext;
    asio::ip::tcp::acceptor m_tlsAcceptor;
    asio::ip::tcp::endpoint m_tlsEndpoint;
    asio::steady_timer m_tick;
    asio::steady_timer m_acceptRetry;
    asio::steady_timer m_stopTimer;
    asio::steady_timer m_presenceTimer;
    bool m_presenceTimerArmed = false;
    HeapTrimmer m_heapTrimmer;
    std::vector<std::uint64_t> m_presenceWaiting; // session ids
    WritePacer m_writePacer;
    // Lines for the whole lobby and for each room's members, written once for all of them.
    OutputLog m_lobbyLog;
    std::unordered_map<std::string, OutputLog> m_roomLogs;
    asio::signal_set m_signals;
    std::array<char, 64 * 1024> m_readBuffer{};

    std::unordered_map<std::uint64_t, std::shared_ptr<Session>> m_sessions;
    PlayerDirectory::LocalPlayers m_players; // by key
    // The same sessions side by side: a broadcast visits every one of them, and a
    // compact array is cheaper to walk than the map's nodes.
    std::vector<Session *> m_local;
    // Where member lists are put together, kept between them: a lobby of thousands
    // lists hundreds of kilobytes for each newcomer.
    std::string m_listBuffer;
    std::vector<const Session *> m_listOrder;
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

    std::unique_ptr<ClusterLink> m_cluster;
    std::string m_nodeId;
    // Where each player is, for the handlers; over m_players and the other nodes' players.
    PlayerDirectory m_directory{m_players};
    asio::steady_timer m_clusterTimer;
    std::chrono::milliseconds m_heartbeatPeriod{1000};

    std::string m_newsId;
    std::string m_newsText;

    // Figures for SERVERSTATS.
    Clock::time_point m_startedAt;
    std::int64_t m_accountCount = 0;
    std::int64_t m_loginsSinceStart = 0;
    std::size_t m_peakOnline = 0;
    std::size_t m_hostedGames = 0;
    std::uint64_t m_linesHandled = 0;

    std::unique_ptr<HttpEndpoint> m_httpEndpoint;
    std::unique_ptr<AdminConsole> m_adminConsole;
    SystemdNotifier m_systemd;
    bool m_draining = false;
    Clock::time_point m_drainUntil;
    asio::steady_timer m_drainTimer;
};

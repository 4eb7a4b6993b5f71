// What the people who run the lobby see and do: metrics and health on an HTTP address of
// their own, the admin console on a UNIX socket in the data folder, systemd's
// notifications, and draining a server before it stops.
//
// Console actions that concern the whole lobby reach the other nodes as
//   OP  node order argument       order: NEWS (reread the news file), DRAIN (minutes)
// Actions on one player travel as the moderation message (M) to the player's node.
#include "lobbyserver.h"

#include "lobbyrules.h"
#include "wirekeyword.h"

#include <asio/ip/address.hpp>
#include <asio/post.hpp>

#include <filesystem>

using ostrel::WireKeyword;

namespace {

constexpr std::chrono::minutes kDefaultSilence{60};
constexpr std::chrono::minutes kDefaultDrain{15};
constexpr std::chrono::milliseconds kDrainPoll{250};
// A shout is shown in a message box: a few lines at most.
constexpr std::size_t kMaxShoutBytes = 1000;

std::optional<long> minutesArgument(const std::string &text, long least, long most)
{
    char *end = nullptr;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || value < least || value > most)
        return std::nullopt;
    return value;
}

bool printable(std::string_view text)
{
    for (const char c : text)
        if (static_cast<unsigned char>(c) < ' ' || c == '|' || c == 0x7f)
            return false;
    return true;
}

} // namespace

void LobbyServer::startOperations()
{
    registerGauges();
    m_hasher.onWaited = [this](std::chrono::duration<double> waited) {
        m_metrics.hashWaitSeconds.observe(waited.count());
    };
    if (m_options.metricsListener) {
        m_httpEndpoint = std::make_unique<HttpEndpoint>(
            m_io, [this](std::string_view path) { return operatorPage(path); });
        asio::ip::tcp::endpoint where(asio::ip::make_address(m_options.metricsHost),
                                      m_options.metricsPort);
        m_httpEndpoint->start(where);
        const auto bound = m_httpEndpoint->localEndpoint();
        const std::string text = (bound.address().is_v6() ? "[" + bound.address().to_string() + "]"
                                                          : bound.address().to_string()) +
                                 ":" + std::to_string(bound.port());
        logEvent(ServerLog::Level::Info, "metrics_listen", {{"address", text}});
    }
    // A console that cannot start (an unusable data folder, a second server on the same
    // folder) leaves the lobby running: it is said, and the lobby goes on without it.
    try {
        std::filesystem::create_directories(m_options.dataDir);
        m_adminConsole = std::make_unique<AdminConsole>(
            m_io,
            [this](const AdminConsole::Peer &peer, const std::vector<std::string> &words,
                   AdminConsole::Reply reply) { adminCommand(peer, words, std::move(reply)); });
        m_adminConsole->start(m_options.adminSocketPath());
    } catch (const std::exception &e) {
        m_adminConsole.reset();
        logEvent(ServerLog::Level::Error, "admin_console", {{"state", "off"}, {"error", e.what()}});
    }
    // Ready once the event loop runs, after the rest of the start.
    asio::post(m_io, [this] {
        if (m_stopping)
            return;
        m_systemd.ready("accepting players");
        m_systemd.startWatchdog();
    });
}

void LobbyServer::stopOperations()
{
    m_systemd.stopping();
    m_systemd.stop();
    m_drainTimer.cancel();
    if (m_adminConsole)
        m_adminConsole->stop();
    if (m_httpEndpoint)
        m_httpEndpoint->stop();
}

void LobbyServer::registerGauges()
{
    auto &r = m_metrics.registry();
    using Samples = std::vector<MetricsRegistry::Sample>;
    r.gauge("ostrel_players_online", "Players logged in at this node.", [this] {
        return Samples{{{}, static_cast<double>(m_players.size())}};
    });
    r.gauge("ostrel_lobby_players_online",
            "Players logged in anywhere in the lobby, as this node knows them.", [this] {
                return Samples{{{}, static_cast<double>(onlineCount())}};
            });
    r.gauge("ostrel_connections", "Open client connections, by transport and login state.", [this] {
        double counts[2][2] = {};
        for (const auto &[id, session] : m_sessions)
            ++counts[session->tls() ? 1 : 0][session->player.loggedIn ? 1 : 0];
        Samples out;
        for (int tls = 0; tls < 2; ++tls)
            for (int in = 0; in < 2; ++in)
                out.push_back({{{"transport", tls ? "tls" : "plain"},
                                {"state", in ? "logged_in" : "not_logged_in"}},
                               counts[tls][in]});
        return out;
    });
    r.gauge("ostrel_output_queued_bytes", "Bytes queued for clients and not yet written.", [this] {
        double bytes = 0;
        for (const auto &[id, session] : m_sessions)
            bytes += static_cast<double>(session->queuedBytes());
        return Samples{{{}, bytes}};
    });
    r.gauge("ostrel_output_queue_entries",
            "Entries of the clients' output queues not yet written; lines that follow each "
            "other in a shared block share one.",
            [this] {
                double entries = 0;
                for (const auto &[id, session] : m_sessions)
                    entries += static_cast<double>(session->queuedEntries());
                return Samples{{{}, entries}};
            });
    r.gauge("ostrel_output_buffer_bytes",
            "Room the client connections hold for their output: queues, blocks of their own "
            "lines, TLS write buffers. Falls back once a burst is written.",
            [this] {
                double bytes = 0;
                for (const auto &[id, session] : m_sessions)
                    bytes += static_cast<double>(session->outputCapacity());
                return Samples{{{}, bytes}};
            });
    r.gauge("ostrel_write_window_waiting",
            "Clients whose next write waits for the end of their write window: they were "
            "written to less than a window ago.",
            [this] {
                return Samples{{{}, static_cast<double>(m_writePacer.waiting())}};
            });
    r.gauge("ostrel_heap_bytes", "Heap memory of the server, in use and free but kept.", [] {
        return Samples{{{{"state", "used"}}, static_cast<double>(HeapTrimmer::usedHeapBytes())},
                       {{{"state", "free"}}, static_cast<double>(HeapTrimmer::freeHeapBytes())}};
    });
    r.gauge("ostrel_hosted_games", "Games hosted by this node's players.", [this] {
        return Samples{{{}, static_cast<double>(m_hostedGames)}};
    });
    r.gauge("ostrel_hashing_queue", "Password hashes waiting or running.", [this] {
        return Samples{{{}, static_cast<double>(m_hasher.pending())}};
    });
    r.gauge("ostrel_account_store_waiting", "Account-store requests queued or running.", [this] {
        return Samples{{{}, static_cast<double>(m_store.waiting())}};
    });
    r.counterFrom("ostrel_account_store_timeouts_total",
                  "Account-store requests answered with an error because their time ran out.",
                  [this] {
                      return Samples{{{}, static_cast<double>(m_store.timedOut())}};
                  });
    r.gauge("ostrel_accounts", "Accounts known to this node (created here or at start).", [this] {
        return Samples{{{}, static_cast<double>(m_accountCount)}};
    });
    r.gauge("ostrel_draining", "1 while the server takes no new logins before it stops.", [this] {
        return Samples{{{}, m_draining ? 1.0 : 0.0}};
    });
    r.gauge("ostrel_start_time_seconds", "When the server started, in seconds since the epoch.",
            [at = std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
                      .count()] {
                return Samples{{{}, at}};
            });
    // The cluster's figures exist only for a node of a cluster (whose link starts later).
    if (m_options.cluster.empty())
        return;
    r.gauge("ostrel_cluster_link_up",
            "1 while both connections to Redis are up and subscribed, else 0.", [this] {
                return m_cluster ? Samples{{{}, m_cluster->ready() ? 1.0 : 0.0}} : Samples{};
            });
    r.gauge("ostrel_cluster_waiting_bytes", "Bytes of publications waiting to reach Redis.",
            [this] {
                return m_cluster ? Samples{{{}, static_cast<double>(m_cluster->waitingBytes())}}
                                 : Samples{};
            });
    r.gauge(
        "ostrel_cluster_dropped_publications",
        "Publications dropped while Redis was out of reach (the waiting bytes were full).", [this] {
            return m_cluster ? Samples{{{}, static_cast<double>(m_cluster->dropped())}} : Samples{};
        });
    r.gauge("ostrel_cluster_remote_players", "Players at the other nodes, by node.", [this] {
        std::unordered_map<std::string, double> byNode;
        m_directory.remote().forEach([&](const std::string &, const RemotePlayers::Player &player) {
            ++byNode[player.node];
        });
        Samples out;
        for (const auto &[node, count] : byNode)
            out.push_back({{{"node", node}}, count});
        return out;
    });
}

std::string LobbyServer::notReadyBecause()
{
    if (m_stopping)
        return "stopping";
    if (m_draining)
        return "draining";
    if (m_cluster && !m_cluster->ready())
        return "cluster link down";
    // As the latest request found it: the database is not asked from here, where the
    // answer would hold the network thread.
    if (!m_store.trouble().empty())
        return "account store unreachable: " + m_store.trouble();
    return {};
}

HttpEndpoint::Response LobbyServer::operatorPage(std::string_view path)
{
    if (path == "/metrics")
        return {200, "text/plain; version=0.0.4; charset=utf-8", m_metrics.render()};
    // Answered on the server's own thread: that it answers at all says the loop runs.
    if (path == "/healthz")
        return {200, "text/plain; charset=utf-8", "ok\n"};
    if (path == "/readyz") {
        const auto why = notReadyBecause();
        if (why.empty())
            return {200, "text/plain; charset=utf-8", "ready\n"};
        return {503, "text/plain; charset=utf-8", "not ready: " + why + "\n"};
    }
    return {404, "text/plain; charset=utf-8", "not found\n"};
}

void LobbyServer::adminCommand(const AdminConsole::Peer &peer,
                               const std::vector<std::string> &words, AdminConsole::Reply reply)
{
    m_metrics.adminActions.add();
    const std::string by = "console:" + peer.user;
    // Copied into what waits for the account store: values and the weak reply only.
    const auto logged = [this, peer, words, reply](bool ok, const std::string &text) {
        std::string command;
        for (const auto &w : words)
            command += (command.empty() ? "" : " ") + w;
        // A shout's text is for everyone to read anyway; nothing else the console takes
        // holds anything private.
        logEvent(ok ? ServerLog::Level::Info : ServerLog::Level::Warning, "admin",
                 {{"user", peer.user},
                  {"uid", std::to_string(peer.uid)},
                  {"pid", std::to_string(peer.pid)},
                  {"command", command.substr(0, 200)},
                  {"result", ok ? "ok" : text}});
        reply(AdminConsole::Answer{ok, text});
    };
    const std::string &verb = words[0];
    const std::size_t n = words.size();
    if (verb == "who" && n == 1) {
        std::string text = "name\troom\taddress\tnode\n";
        const std::string here = m_nodeId.empty() ? "this" : m_nodeId;
        for (const auto &[key, session] : m_players)
            text += session->player.name + "\t" + session->player.room + "\t" + session->address() +
                    "\t" + here + "\n";
        m_directory.remote().forEach([&](const std::string &, const RemotePlayers::Player &player) {
            text += player.name + "\t" + player.room + "\t-\t" + player.node + "\n";
        });
        return logged(true, text);
    }
    if ((verb == "kick" && n == 2) || (verb == "unsilence" && n == 2) ||
        (verb == "silence" && (n == 2 || n == 3))) {
        long minutes = kDefaultSilence.count();
        if (n == 3) {
            const auto parsed = minutesArgument(words[2], 1, 10080);
            if (!parsed)
                return logged(false, "a silence lasts from 1 to 10080 minutes");
            minutes = *parsed;
        }
        if (!lobbyrules::validName(words[1]))
            return logged(false, "there is no account named " + words[1].substr(0, 40));
        m_store.run(
            [this, by, verb, minutes, target = words[1],
             logged](AccountStore &store) -> AccountStoreWorker::Then {
                return [this, by, verb, minutes, target, logged, account = store.find(target)]() {
                    if (!account)
                        return logged(false, "there is no account named " + target.substr(0, 40));
                    const auto order = verb == "kick"      ? WireKeyword::BOOT
                                       : verb == "silence" ? WireKeyword::SILENCE
                                                           : WireKeyword::UNSILENCE;
                    const auto &name = account->user.UserName;
                    moderateStored(by, order, name, static_cast<std::int32_t>(minutes),
                                   [verb, name, minutes, logged](const std::string &error) {
                                       if (!error.empty())
                                           return logged(false, error);
                                       if (verb == "kick")
                                           return logged(true, name + " removed from the lobby");
                                       if (verb == "silence")
                                           return logged(true, name + " silenced for " +
                                                                   std::to_string(minutes) +
                                                                   " minutes");
                                       logged(true, "the silence of " + name + " is lifted");
                                   });
                };
            },
            [logged](const std::string &error) { logged(false, "account store: " + error); });
        return;
    }
    if (verb == "shout" && n >= 2) {
        std::string text;
        for (std::size_t i = 1; i < n; ++i)
            text += (i > 1 ? " " : "") + words[i];
        if (text.size() > kMaxShoutBytes || !printable(text))
            return logged(false, "a shout holds up to " + std::to_string(kMaxShoutBytes) +
                                     " bytes, no control characters and no \"|\"");
        // The word that makes clients reconnect, not a message to show.
        if (text == ostrel::kWireRebootShout)
            return logged(false, "that word is reserved");
        broadcast(wireLine(WireKeyword::SHOUT, text));
        return logged(true, "shouted to " + std::to_string(onlineCount()) + " players");
    }
    if (verb == "news" && n == 2 && words[1] == "reload") {
        if (!m_options.newsFile)
            return logged(false, "this server has no --news file");
        reloadNews(true);
        publishAll(cluster::Operator{.order = "NEWS"});
        return logged(true, m_newsText.empty() ? "no news" : "news " + m_newsId + " sent");
    }
    if (verb == "accounts" && n == 4 && words[1] == "set-class") {
        const auto &c = words[3];
        if (c.size() != 1 || !((c[0] >= 'A' && c[0] <= 'Z') || (c[0] >= 'a' && c[0] <= 'z')))
            return logged(false, "CLASS is one letter, e.g. H, T, S or N");
        if (!lobbyrules::validName(words[2]))
            return logged(false, "there is no account named " + words[2].substr(0, 40));
        m_store.run(
            [target = words[2], c, logged](AccountStore &store) -> AccountStoreWorker::Then {
                if (!store.setAccountClass(target, c))
                    return [target, logged]() {
                        logged(false, "there is no account named " + target.substr(0, 40));
                    };
                const auto account = store.find(target);
                return [logged, c, shown = account ? account->user.UserName : target]() {
                    logged(true, shown + " now has class " + c);
                };
            },
            [logged](const std::string &error) { logged(false, "account store: " + error); });
        return;
    }
    if (verb == "drain" && (n == 1 || n == 2)) {
        long minutes = kDefaultDrain.count();
        if (n == 2) {
            const auto parsed = minutesArgument(words[1], 1, 24 * 60);
            if (!parsed)
                return logged(false, "drain wants minutes from 1 to 1440");
            minutes = *parsed;
        }
        publishAll(cluster::Operator{.order = "DRAIN", .argument = std::to_string(minutes)});
        const auto players = onlineCount();
        drain(std::chrono::minutes(minutes));
        return logged(true, "draining: no new logins; " + std::to_string(players) +
                                " players online; stopping when they have left or in " +
                                std::to_string(minutes) + " minutes");
    }
    return logged(false, "unknown command or wrong arguments; see --help");
}

void LobbyServer::onOperatorMessage(const cluster::Operator &message)
{
    if (message.order == "NEWS") {
        // The node that was asked sends the news to everyone; the others only reread
        // their file, for the logins still to come.
        logEvent(ServerLog::Level::Info, "admin_remote",
                 {{"node", message.node}, {"order", "news reload"}});
        reloadNews(false);
    } else if (message.order == "DRAIN") {
        const auto minutes = minutesArgument(message.argument, 1, 24 * 60);
        logEvent(ServerLog::Level::Info, "admin_remote",
                 {{"node", message.node}, {"order", "drain"}});
        drain(std::chrono::minutes(minutes.value_or(kDefaultDrain.count())));
    }
}

void LobbyServer::drain(std::chrono::minutes timeout)
{
    if (m_stopping)
        return;
    if (!m_draining) {
        m_draining = true;
        logEvent(ServerLog::Level::Info, "drain",
                 {{"players", std::to_string(m_players.size())},
                  {"minutes", std::to_string(timeout.count())}});
        // This node's own players; the other nodes tell theirs.
        localBroadcast(
            wireLine(WireKeyword::SHOUT, "This server is closing for maintenance and takes no new "
                                         "logins. It stops when the last player has left, or in " +
                                             std::to_string(timeout.count()) + " minutes."),
            nullptr, false);
    }
    m_drainUntil = Clock::now() + timeout;
    drainCheck();
}

void LobbyServer::drainCheck()
{
    if (m_stopping || !m_draining)
        return;
    if (m_players.empty() || Clock::now() >= m_drainUntil) {
        // Not at once: the console's answer is still to be written.
        m_drainTimer.expires_after(kDrainPoll);
        m_drainTimer.async_wait([this, empty = m_players.empty()](const std::error_code &error) {
            if (!error)
                shutdown(empty ? "drained" : "drain time over");
        });
        return;
    }
    m_drainTimer.expires_after(kDrainPoll);
    m_drainTimer.async_wait([this](const std::error_code &error) {
        if (!error)
            drainCheck();
    });
}

#include "lobbyserver.h"

#include "lobbyrules.h"
#include "orvexutils.h"
#include "selfsignedcertificate.h"
#include "timedaccountstore.h"
#include "wirekeyword.h"
#include "wireplayerentry.h"

#include <asio/ip/address.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/post.hpp>

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

using ostrel::WireKeyword;

namespace {

// A login still being checked when the login time is up gets this much longer.
constexpr std::chrono::seconds kLoginCheckGrace{5};
// Descriptors kept back from clients: the database, the signal pipe, the event loop and
// whatever a restart of the listener needs.
constexpr std::size_t kReservedDescriptors = 64;
// A client silent for this many ping intervals is gone.
constexpr int kSilentIntervals = 3;

// How long news of who is where may wait to share a write with more of its kind. A crowd
// logging in makes every client's list change hundreds of times a second, and one write
// per change and client was most of the cost of a login burst. The wait grows with the
// number online, so that presence costs about 2,000 writes a second however many are
// online: a few hundredths of a second in a small lobby, a second with 2,000 online.
constexpr std::chrono::milliseconds kPresenceDelayMin{25};
constexpr std::chrono::milliseconds kPresenceDelayMax{1000};
constexpr double kPresenceWritesPerSecond = 2000;
// How far ahead of the session it is at a loop over thousands of sessions asks for the
// next ones' state, and then for what that state points to.
constexpr std::size_t kAheadState = 16;
constexpr std::size_t kAheadTail = 8;
// News goes to every client at every login; more than this is a mistake in the file.
constexpr std::uintmax_t kMaxNewsBytes = 256 * 1024;
// How long a stopping server waits for clients to take their last lines.
constexpr std::chrono::milliseconds kStopGrace{2500};
// How often freed heap memory is looked at (a look is cheap; a trim happens only when
// enough was freed), and how much of it is worth handing back.
constexpr std::chrono::seconds kHeapTrimInterval{1};
constexpr std::size_t kHeapTrimMinFree = 1024 * 1024;

std::string endpointText(const asio::ip::tcp::endpoint &endpoint)
{
    const auto address = endpoint.address();
    const std::string host =
        address.is_v6() ? "[" + address.to_string() + "]" : address.to_string();
    return host + ":" + std::to_string(endpoint.port());
}

std::string fnvHex(std::string_view text)
{
    std::uint64_t hash = 14695981039346656037ull;
    for (const char c : text) {
        hash ^= static_cast<unsigned char>(c);
        hash *= 1099511628211ull;
    }
    char out[17];
    std::snprintf(out, sizeof out, "%016" PRIx64, hash);
    return out;
}

} // namespace

LobbyServer::LobbyServer(asio::io_context &io, const ServerOptions &options, Catalogue catalogue,
                         std::unique_ptr<AccountStore> store)
    : m_io(io), m_options(options), m_catalogue(std::move(catalogue)),
      m_log(ServerLog::parseLevel(options.logLevel).value_or(ServerLog::Level::Info)),
      m_store(io, std::make_unique<TimedAccountStore>(std::move(store), m_metrics.storeSeconds,
                                                      m_metrics.storeErrors)),
      m_hasher(io), m_accountQuota(options.accountsPerHour), m_acceptor(io), m_tlsAcceptor(io),
      m_tick(io), m_acceptRetry(io), m_stopTimer(io), m_presenceTimer(io),
      m_heapTrimmer(io, kHeapTrimInterval, kHeapTrimMinFree), m_writePacer(io, options.writeWindow),
      m_signals(io, SIGTERM, SIGINT, SIGHUP), m_clusterTimer(io), m_startedAt(Clock::now()),
      m_systemd(io), m_drainTimer(io)
{
    m_limits.maxQueuedBytes = m_options.maxUnsentBytes;
    // Answered before any account can be made: requests run in the order they came.
    m_store.run(
        [this](AccountStore &store) -> AccountStoreWorker::Then {
            return [this, count = store.count()]() { m_accountCount += count; };
        },
        [this](const std::string &error) { log("accounts not counted: " + error); });
    for (const auto &room : m_catalogue.rooms())
        m_rooms[room];
    reloadNews(false);
}

LobbyServer::~LobbyServer()
{
    if (m_spareDescriptor >= 0)
        ::close(m_spareDescriptor);
}

void LobbyServer::log(const std::string &text) const
{
    m_log.write(ServerLog::Level::Info, "note", {{"msg", text}});
}

void LobbyServer::logEvent(ServerLog::Level level, std::string_view event,
                           const ServerLog::Fields &fields) const
{
    m_log.write(level, event, fields);
}

namespace {

asio::ip::address resolveHost(asio::io_context &io, const std::string &host, unsigned short port)
{
    std::error_code error;
    auto address = asio::ip::make_address(host, error);
    if (!error)
        return address;
    asio::ip::tcp::resolver resolver(io);
    const auto results = resolver.resolve(host, std::to_string(port));
    if (results.empty())
        throw std::runtime_error("cannot resolve " + host);
    return results.begin()->endpoint().address();
}

} // namespace

void LobbyServer::start()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        const auto cur = static_cast<std::size_t>(limit.rlim_cur);
        m_maxSessions = cur > 2 * kReservedDescriptors ? cur - kReservedDescriptors : cur / 2;
    }
    m_spareDescriptor = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    startOperations();
    if (m_options.tlsListener) {
        std::string certificate = m_options.tlsCertificate;
        std::string key = m_options.tlsKey;
        if (certificate.empty()) {
            m_options.createDataDir();
            certificate = m_options.dataDir + "/tls-cert.pem";
            key = m_options.dataDir + "/tls-key.pem";
            if (SelfSignedCertificate::ensure(certificate, key, m_options.tlsHost))
                log("made a self-signed TLS certificate: " + certificate);
        }
        m_tlsContext = std::make_unique<asio::ssl::context>(asio::ssl::context::tls_server);
        m_tlsContext->set_options(asio::ssl::context::default_workarounds |
                                  asio::ssl::context::no_sslv2 | asio::ssl::context::no_sslv3 |
                                  asio::ssl::context::no_tlsv1 | asio::ssl::context::no_tlsv1_1);
        m_tlsContext->use_certificate_chain_file(certificate);
        m_tlsContext->use_private_key_file(key, asio::ssl::context::pem);
        // An idle connection gives its TLS buffers back; thousands of them add up.
        SSL_CTX_set_mode(m_tlsContext->native_handle(), SSL_MODE_RELEASE_BUFFERS);
        m_tlsEndpoint = asio::ip::tcp::endpoint(
            resolveHost(m_io, m_options.tlsHost, m_options.tlsPort), m_options.tlsPort);
    }
    if (m_options.plainListener) {
        m_endpoint = asio::ip::tcp::endpoint(
            resolveHost(m_io, m_options.listenHost, m_options.listenPort), m_options.listenPort);
        openAcceptor();
        // Later restarts reuse the port we got, also when the operator asked for port 0.
        m_endpoint = m_acceptor.local_endpoint();
        std::cout << "listening on " << endpointText(m_endpoint) << std::endl;
        logEvent(ServerLog::Level::Info, "start",
                 {{"listen", endpointText(m_endpoint)},
                  {"msg", "listening on " + endpointText(m_endpoint)}});
    }
    if (m_tlsContext) {
        openTlsAcceptor();
        m_tlsEndpoint = m_tlsAcceptor.local_endpoint();
        std::cout << "listening for TLS on " << endpointText(m_tlsEndpoint) << std::endl;
        logEvent(ServerLog::Level::Info, "start",
                 {{"tls_listen", endpointText(m_tlsEndpoint)},
                  {"msg", "listening for TLS on " + endpointText(m_tlsEndpoint)}});
    }
    acceptAll();
    scheduleTick();
    m_heapTrimmer.start();
    waitSignals();
    if (!m_options.cluster.empty())
        startCluster();
}

void LobbyServer::openAcceptor()
{
    m_acceptor.open(m_endpoint.protocol());
    m_acceptor.set_option(asio::ip::tcp::acceptor::reuse_address(true));
    m_acceptor.bind(m_endpoint);
    m_acceptor.listen(asio::socket_base::max_listen_connections);
}

void LobbyServer::openTlsAcceptor()
{
    m_tlsAcceptor.open(m_tlsEndpoint.protocol());
    m_tlsAcceptor.set_option(asio::ip::tcp::acceptor::reuse_address(true));
    m_tlsAcceptor.bind(m_tlsEndpoint);
    m_tlsAcceptor.listen(asio::socket_base::max_listen_connections);
}

void LobbyServer::acceptAll()
{
    if (m_acceptor.is_open())
        accept(m_acceptor, false);
    if (m_tlsAcceptor.is_open())
        accept(m_tlsAcceptor, true);
}

void LobbyServer::accept(asio::ip::tcp::acceptor &acceptor, bool tls)
{
    acceptor.async_accept([this, &acceptor, tls](const std::error_code &error,
                                                 asio::ip::tcp::socket socket) {
        if (error == asio::error::operation_aborted || !acceptor.is_open())
            return;
        if (error) {
            if ((error == asio::error::no_descriptors ||
                 error == std::error_code(ENFILE, std::generic_category())) &&
                refuseWithSpareDescriptor(tls)) {
                accept(acceptor, tls);
                return;
            }
            log("accept failed: " + error.message());
            m_acceptRetry.expires_after(std::chrono::milliseconds(200));
            m_acceptRetry.async_wait([this, &acceptor, tls](const std::error_code &e) {
                if (!e && acceptor.is_open())
                    accept(acceptor, tls);
            });
            return;
        }
        std::error_code peerError;
        const auto peer = socket.remote_endpoint(peerError);
        // An IPv4 client of a dual-stack listener counts under its IPv4 address, the
        // form that per-address limits and the join handshake expect.
        auto peerAddress = peer.address();
        if (!peerError && peerAddress.is_v6() && peerAddress.to_v6().is_v4_mapped())
            peerAddress = asio::ip::make_address_v4(asio::ip::v4_mapped, peerAddress.to_v6());
        const std::string address = peerError ? "?" : peerAddress.to_string();
        const std::string shownPeer = peerError ? address : endpointText(peer);
        if (m_sessions.size() >= m_maxSessions) {
            refuse(socket.native_handle(),
                   wireLine(WireKeyword::ERROR, "The server is full. Please try again later."),
                   tls);
            m_metrics.drop(ServerMetrics::Drop::Full);
            logEvent(ServerLog::Level::Warning, "refused",
                     {{"peer", shownPeer}, {"reason", "server full"}});
            accept(acceptor, tls);
            return;
        }
        const bool exempt = isExempt(address);
        auto &count = m_addresses[address];
        if (!exempt && (count.total >= m_options.maxPerAddress ||
                        count.newcomers >= m_options.maxNewPerAddress)) {
            refuse(socket.native_handle(),
                   wireLine(WireKeyword::ERROR, "Too many connections from your address."), tls);
            m_metrics.drop(ServerMetrics::Drop::Full);
            logEvent(ServerLog::Level::Warning, "refused",
                     {{"peer", shownPeer}, {"reason", "too many connections from the address"}});
            if (count.total == 0)
                m_addresses.erase(address);
            accept(acceptor, tls);
            return;
        }
        ++count.total;
        ++count.newcomers;
        const auto id = m_nextId++;
        auto session = std::make_shared<Session>(std::move(socket), *this, id, address,
                                                 tls ? m_tlsContext.get() : nullptr);
        m_sessions.emplace(id, session);
        logEvent(ServerLog::Level::Info, "connect",
                 {{"session", std::to_string(id)}, {"peer", shownPeer}, {"tls", tls ? "1" : "0"}});
        session->start();
        session->armLoginDeadline(m_options.loginTime);
        accept(acceptor, tls);
    });
}

// A refused connection hears why and is closed at once: left in the backlog it would
// wait unserved, and its client with it. One write that cannot block, then a close. A
// TLS client is only closed: before the handshake, a plain line would be noise to it.
void LobbyServer::refuse(int descriptor, std::string_view reason, bool tls)
{
    if (!tls) {
        const auto line = ClientSession::makeLine(reason);
        [[maybe_unused]] const auto sent =
            ::send(descriptor, line.data(), line.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    }
    ::shutdown(descriptor, SHUT_WR);
}

// Out of descriptors: the spare one is given up for a moment so that the waiting
// connection can be accepted and closed with a word instead of waiting unserved.
bool LobbyServer::refuseWithSpareDescriptor(bool tls)
{
    if (m_spareDescriptor < 0)
        return false;
    ::close(m_spareDescriptor);
    m_spareDescriptor = -1;
    bool refused = false;
    const int client = ::accept4((tls ? m_tlsAcceptor : m_acceptor).native_handle(), nullptr,
                                 nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (client >= 0) {
        refuse(client, wireLine(WireKeyword::ERROR, "The server is full. Please try again later."),
               tls);
        ::close(client);
        m_metrics.drop(ServerMetrics::Drop::Full);
        logEvent(ServerLog::Level::Warning, "refused", {{"reason", "out of descriptors"}});
        refused = true;
    }
    m_spareDescriptor = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    return refused;
}

bool LobbyServer::isExempt(const std::string &address) const
{
    return std::find(m_options.exemptAddresses.begin(), m_options.exemptAddresses.end(), address) !=
           m_options.exemptAddresses.end();
}

void LobbyServer::loginTimeUp(Session &session)
{
    if (session.closing() || session.player.loggedIn)
        return;
    if (session.player.loginPending) {
        session.armLoginDeadline(kLoginCheckGrace);
        return;
    }
    m_metrics.drop(ServerMetrics::Drop::LoginTime);
    logEvent(ServerLog::Level::Info, "drop",
             {{"session", std::to_string(session.id())},
              {"address", session.address()},
              {"reason", "login time"}});
    session.sendText(wireLine(WireKeyword::ERROR, "No login arrived in time."));
    session.closeAfterFlush("no login");
}

void LobbyServer::scheduleTick()
{
    m_tick.expires_after(m_options.pingInterval);
    m_tick.async_wait([this](const std::error_code &error) {
        if (!error && !m_stopping)
            tick();
    });
}

void LobbyServer::tick()
{
    const auto now = Clock::now();
    const auto silentLimit = m_options.pingInterval * kSilentIntervals;
    const auto ping = ClientSession::makeLine(wireLine(WireKeyword::PING, ""));
    for (auto &[id, session] : m_sessions) {
        if (session->closing())
            continue;
        // A client whose input waits for the database behind its own request is not
        // silent: we are not reading it.
        if (now - session->lastHeard() > silentLimit && !session->inputHeld()) {
            m_metrics.drop(ServerMetrics::Drop::Silent);
            session->sendText(wireLine(WireKeyword::ERROR,
                                       "No answer from your lobby for too long: disconnected."));
            session->closeAfterFlush("silent for " + std::to_string(kSilentIntervals) +
                                     " ping intervals");
        } else {
            session->send(ping);
            ++session->pingsSent;
        }
    }
    m_throttle.prune(now);
    m_accountQuota.prune(now);
    purgeStoredMessages();
    scheduleTick();
}

void LobbyServer::waitSignals()
{
    m_signals.async_wait([this](const std::error_code &error, int signal) {
        if (error)
            return;
        if (signal == SIGHUP) {
            log("SIGHUP: rereading the news");
            reloadNews(true);
            waitSignals();
            return;
        }
        shutdown(signal == SIGTERM ? "SIGTERM" : "SIGINT");
    });
}

void LobbyServer::shutdown(const std::string &why)
{
    if (m_stopping)
        return;
    m_stopping = true;
    logEvent(ServerLog::Level::Info, "stop",
             {{"reason", why}, {"msg", "shutting down (" + why + ")"}});
    stopOperations();
    // Hashes still queued are for clients about to be dropped: no reason to wait for them.
    m_hasher.stop();
    std::error_code ignored;
    m_acceptor.close(ignored);
    m_tlsAcceptor.close(ignored);
    m_acceptRetry.cancel();
    m_tick.cancel();
    m_heapTrimmer.stop();
    m_signals.cancel();
    // Only this node stops: the other nodes' players stay where they are.
    localBroadcast(wireLine(WireKeyword::SHOUT, ostrel::kWireRebootShout), nullptr, false);
    if (m_cluster) {
        // The other nodes drop this node's players at once instead of waiting for its
        // heartbeat to stop.
        publishAll(cluster::Bye{});
    }
    dropEveryone("server shutting down");
    if (m_sessions.empty()) {
        m_io.stop();
        return;
    }
    m_stopTimer.expires_after(kStopGrace);
    m_stopTimer.async_wait([this](const std::error_code &) { m_io.stop(); });
}

void LobbyServer::restartListener()
{
    log("restarting the listener");
    std::error_code ignored;
    const bool plain = m_acceptor.is_open();
    const bool tls = m_tlsAcceptor.is_open();
    m_acceptor.close(ignored);
    m_tlsAcceptor.close(ignored);
    m_acceptRetry.cancel();
    dropEveryone("server restart");
    // The other nodes drop this node's players, who were all let go, as for a node that
    // stops (games with them end there too); its next heartbeat has it known again.
    if (m_cluster)
        publishAll(cluster::Bye{});
    // Give the old acceptors' aborted accepts a turn before the new ones start.
    asio::post(m_io, [this, plain, tls]() {
        if (m_stopping)
            return;
        try {
            if (plain) {
                openAcceptor();
                log("listening again on " + endpointText(m_endpoint));
            }
            if (tls) {
                openTlsAcceptor();
                log("listening for TLS again on " + endpointText(m_tlsEndpoint));
            }
            acceptAll();
        } catch (const std::exception &e) {
            log(std::string("cannot listen again: ") + e.what());
            shutdown("listener lost");
        }
    });
}

// Everyone goes at once (shutdown, restart): the departures are not announced one by
// one, which would cost a message to every remaining client per departure.
void LobbyServer::dropEveryone(const std::string &why)
{
    for (auto &[id, session] : m_sessions) {
        auto &p = session->player;
        if (p.loggedIn) {
            const auto minutes =
                std::chrono::duration_cast<std::chrono::minutes>(Clock::now() - p.loginTime)
                    .count();
            if (minutes > 0)
                tellStore("minutes played", [name = p.name, minutes](AccountStore &store) {
                    store.addMinutesPlayed(name, static_cast<std::int32_t>(minutes));
                });
            log("logout " + p.name + " #" + std::to_string(id) + ": " + why);
        }
        session->player = ClientSession::Player{};
        session->closeAfterFlush(why);
    }
    m_players.clear();
    m_local.clear();
    for (auto &[room, members] : m_rooms)
        members.clear();
    m_hostedGames = 0;
}

void LobbyServer::reloadNews(bool announce)
{
    if (!m_options.newsFile)
        return;
    std::ifstream in(*m_options.newsFile, std::ios::binary);
    if (!in) {
        log("cannot read the news file " + *m_options.newsFile + "; no news");
        m_newsId.clear();
        m_newsText.clear();
        return;
    }
    std::ostringstream raw;
    raw << in.rdbuf();
    if (raw.view().size() > kMaxNewsBytes) {
        log("news file " + *m_options.newsFile + " holds " + std::to_string(raw.view().size()) +
            " bytes, more than the " + std::to_string(kMaxNewsBytes) + " allowed; " +
            (m_newsText.empty() ? "no news" : "the news read before stays"));
        return;
    }
    std::string joined = lobbyrules::newsText(raw.view());
    const std::string id = joined.empty() ? std::string() : fnvHex(joined);
    const bool changed = id != m_newsId;
    m_newsId = id;
    m_newsText = std::move(joined);
    if (announce && changed && !m_newsText.empty())
        broadcast(wireLine(WireKeyword::NEWS, m_newsId, m_newsText));
}

LobbyServer::Session *LobbyServer::findPlayer(std::string_view name) const
{
    const auto it = m_players.find(lobbyrules::key(name));
    return it == m_players.end() ? nullptr : it->second;
}

void LobbyServer::addLocal(Session &session)
{
    session.player.slot = m_local.size();
    m_local.push_back(&session);
}

void LobbyServer::removeLocal(Session &session)
{
    const std::size_t slot = session.player.slot;
    if (slot >= m_local.size() || m_local[slot] != &session)
        return;
    m_local[slot] = m_local.back();
    m_local[slot]->player.slot = slot;
    m_local.pop_back();
}

const std::string &LobbyServer::memberList(const std::string &room)
{
    auto &list = m_listBuffer;
    list = wireLine(WireKeyword::JOINSUBJECT, room);
    const auto add = [&list](const std::string &entry) {
        list.push_back('|');
        list.append(entry);
    };
    if (room == Catalogue::kLobby) {
        // The map's own order, which is the order everyone is listed in; the sessions,
        // and their entries, are asked for ahead of time as a broadcast does.
        m_listOrder.clear();
        for (const auto &[k, player] : m_players)
            m_listOrder.push_back(player);
        const std::size_t count = m_listOrder.size();
        for (std::size_t i = 0; i < count; ++i) {
            if (i + kAheadState < count)
                __builtin_prefetch(&m_listOrder[i + kAheadState]->player.entry);
            if (i + kAheadTail < count)
                __builtin_prefetch(m_listOrder[i + kAheadTail]->player.entry.data());
            add(m_listOrder[i]->player.entry);
        }
        m_directory.remote().forEach(
            [&](const std::string &, const RemotePlayers::Player &remote) { add(remote.entry); });
    } else {
        if (const auto it = m_rooms.find(room); it != m_rooms.end())
            for (const auto *member : it->second)
                add(member->player.entry);
        m_directory.remote().forEachInRoom(
            room, [&](const RemotePlayers::Player &remote) { add(remote.entry); });
    }
    return list;
}

void LobbyServer::localBroadcast(std::string_view plain, const Session *except, bool presence)
{
    if (m_local.empty())
        return;
    const auto line = m_lobbyLog.append(plain);
    // The line is counted once for all who queued it, not once per receiver.
    std::uint64_t queued = 0;
    const std::size_t count = m_local.size();
    for (std::size_t i = 0; i < count; ++i) {
        if (i + kAheadState < count)
            m_local[i + kAheadState]->prefetchState();
        if (i + kAheadTail < count)
            m_local[i + kAheadTail]->prefetchTail();
        auto *player = m_local[i];
        if (player != except && player->sendShared(line, presence))
            ++queued;
    }
    if (queued > 0)
        m_metrics.lineOut(line.view(), queued);
}

void LobbyServer::localToRoom(const std::string &room, std::string_view plain,
                              const Session *except, bool presence)
{
    const auto it = m_rooms.find(room);
    if (it == m_rooms.end() || it->second.empty())
        return;
    const auto line = m_roomLogs[room].append(plain);
    std::uint64_t queued = 0;
    for (auto *member : it->second)
        if (member != except && member->sendShared(line, presence))
            ++queued;
    if (queued > 0)
        m_metrics.lineOut(line.view(), queued);
}

void LobbyServer::broadcast(std::string_view plain, const Session *except)
{
    localBroadcast(plain, except, false);
    forwardLine("*", except, false, plain);
}

void LobbyServer::sendToRoom(const std::string &room, std::string_view plain, const Session *except,
                             bool presence)
{
    localToRoom(room, plain, except, presence);
    forwardLine(room, except, presence, plain);
}

void LobbyServer::flushPresenceSoon(ClientSession &session)
{
    m_presenceWaiting.push_back(session.id());
    if (m_presenceTimerArmed)
        return;
    m_presenceTimerArmed = true;
    const auto delay = std::chrono::milliseconds(static_cast<std::int64_t>(
        1000.0 * static_cast<double>(m_players.size()) / kPresenceWritesPerSecond));
    m_presenceTimer.expires_after(std::clamp(delay, kPresenceDelayMin, kPresenceDelayMax));
    m_presenceTimer.async_wait([this](const std::error_code &error) {
        m_presenceTimerArmed = false;
        if (!error)
            flushPresence();
    });
}

void LobbyServer::flushPresence()
{
    auto waiting = std::move(m_presenceWaiting);
    m_presenceWaiting.clear();
    for (const auto id : waiting)
        if (const auto it = m_sessions.find(id); it != m_sessions.end())
            it->second->flushPresence();
}

void LobbyServer::announceEntry(Session &session, const Session *except)
{
    auto &p = session.player;
    p.entry = ostrel::WirePlayerEntry::format(p.name, p.hat, p.room, p.game);
    // The other nodes learn the entry itself, keep it for their lists and announce it.
    localBroadcast(wireLine(WireKeyword::ADDGUEST, entryOf(session)), except, true);
    if (m_cluster)
        publishAll(presenceOf(session));
}

std::int32_t LobbyServer::silencedMinutes(const Session &session) const
{
    const auto left = session.player.silenceUntil - lobbyrules::unixNow();
    if (left <= 0)
        return 0;
    return static_cast<std::int32_t>((left + 59) / 60);
}

std::string LobbyServer::serverStats() const
{
    const double hours = std::chrono::duration<double>(Clock::now() - m_startedAt).count() / 3600.0;
    const double seconds = std::max(1.0, hours * 3600.0);
    char reals[64];
    std::snprintf(reals, sizeof reals, "%.2f`%.2f", hours,
                  static_cast<double>(m_linesHandled) / seconds);
    // Players online, rooms, games hosted, accounts, logins since start, peak online,
    // hours up, lines handled per second.
    return wireLine(WireKeyword::SERVERSTATS,
                    std::to_string(onlineCount()) + "`" +
                        std::to_string(m_catalogue.rooms().size()) + "`" +
                        std::to_string(m_hostedGames + m_directory.remote().hostingCount()) + "`" +
                        std::to_string(m_accountCount) + "`" + std::to_string(m_loginsSinceStart) +
                        "`" + std::to_string(m_peakOnline) + "`" + reals);
}

void LobbyServer::sessionEnding(Session &session, const std::string &reason)
{
    if (session.player.loggedIn)
        logoff(session, reason);
}

void LobbyServer::sessionClosed(Session &session, const std::string &reason)
{
    if (session.player.loggedIn)
        logoff(session, reason);
    logEvent(ServerLog::Level::Info, "disconnect",
             {{"session", std::to_string(session.id())},
              {"address", session.address()},
              {"reason", reason}});
    if (auto it = m_addresses.find(session.address()); it != m_addresses.end()) {
        --it->second.total;
        if (session.newcomer)
            --it->second.newcomers;
        if (it->second.total == 0)
            m_addresses.erase(it);
    }
    m_sessions.erase(session.id());
    if (m_stopping && m_sessions.empty()) {
        m_stopTimer.cancel();
        m_io.stop();
    }
}

// The player leaves the lobby (disconnect, boot, or a newer login of the same account).
void LobbyServer::logoff(Session &session, const std::string &why, bool announce)
{
    auto &p = session.player;
    if (!p.loggedIn)
        return;
    if (p.hosting)
        endGame(session, false);
    if (!p.joinedHost.empty())
        leaveJoinedGame(session, false);
    auto &members = m_rooms[p.room];
    members.erase(&session);
    if (p.room != Catalogue::kLobby && announce)
        sendToRoom(p.room, wireLine(WireKeyword::REMOVEGUEST, p.name), &session, true);
    m_players.erase(p.key);
    removeLocal(session);
    const auto minutes =
        std::chrono::duration_cast<std::chrono::minutes>(Clock::now() - p.loginTime).count();
    if (minutes > 0)
        tellStore("minutes played", [name = p.name, minutes](AccountStore &store) {
            store.addMinutesPlayed(name, static_cast<std::int32_t>(minutes));
        });
    if (announce) {
        localBroadcast(wireLine(WireKeyword::GREMOVEGUEST, p.name), &session, true);
        if (m_cluster)
            publishAll(cluster::Departure{.key = p.key, .name = p.name, .where = m_nodeId});
    }
    logEvent(ServerLog::Level::Info, "logout",
             {{"name", p.name}, {"session", std::to_string(session.id())}, {"reason", why}});
    p = ClientSession::Player{};
}

void LobbyServer::handleLine(Session &session, const std::string &line)
{
    ++m_linesHandled;
    std::string_view rest = line;
    const auto text = ostrel::ExtractToken(rest, '|');
    const auto keyword = ostrel::wireKeyword(text);
    m_metrics.lineIn(keyword);
    if (keyword == WireKeyword::SEND) {
        std::string_view fields = rest;
        if (ostrel::wireKeyword(ostrel::ExtractToken(fields, '|')) == WireKeyword::DATASEND)
            m_metrics.relayBytes.add(line.size());
    }
    try {
        if (keyword == WireKeyword::PING) {
            pingAnswered(session);
            return;
        }
        if (keyword == WireKeyword::LOGIN) {
            onLogin(session, rest);
            return;
        }
        if (keyword == WireKeyword::LOGINNEW) {
            onLoginNew(session, rest);
            return;
        }
        if (!session.player.loggedIn) {
            session.sendText(wireLine(WireKeyword::ERROR, "Please log in first."));
            return;
        }
        if (keyword) {
            switch (*keyword) {
            case WireKeyword::SEND:
                onSend(session, rest);
                return;
            case WireKeyword::JOINSUBJECT:
                onJoinSubject(session, rest);
                return;
            case WireKeyword::USERINFO:
                onUserInfo(session, rest);
                return;
            case WireKeyword::USERUPDATE:
                onUserUpdate(session, rest);
                return;
            case WireKeyword::INVITE:
                onInvite(session, rest);
                return;
            case WireKeyword::ADDGAME:
                onAddGame(session, rest, false);
                return;
            case WireKeyword::ADDASSISTED:
                onAddGame(session, rest, true);
                return;
            case WireKeyword::DELETEGAME:
                onDeleteGame(session, rest);
                return;
            case WireKeyword::PRIVATE:
                onPrivate(session, rest);
                return;
            case WireKeyword::HADMIN:
                onAdmin(session, rest);
                return;
            default:
                break;
            }
        }
        session.sendText(wireLine(WireKeyword::ERROR,
                                  "Unknown command \"" + std::string(text.substr(0, 40)) + "\"."));
    } catch (const std::exception &e) {
        // A failed database write or similar: the client hears of it, the server goes on.
        logEvent(ServerLog::Level::Error, "request_failed",
                 {{"session", std::to_string(session.id())},
                  {"keyword", std::string(text.substr(0, 40))},
                  {"error", e.what()}});
        // A login window waits for its LOGIN answer, not for an error box.
        if ((keyword == WireKeyword::LOGIN || keyword == WireKeyword::LOGINNEW) &&
            !session.player.loggedIn)
            loginFailed(session, "The server could not log you in. Please try again later.");
        else
            session.sendText(
                wireLine(WireKeyword::ERROR, "The server could not complete that request."));
    }
}

void LobbyServer::loginFailed(Session &session, const std::string &text)
{
    m_metrics.failedLogins.add();
    logEvent(ServerLog::Level::Info, "login_failed",
             {{"session", std::to_string(session.id())},
              {"address", session.address()},
              {"reason", text}});
    session.sendText(wireLine(WireKeyword::LOGIN, WireKeyword::FAILED, text));
}

bool LobbyServer::mayStartLogin(Session &session)
{
    if (session.player.loggedIn) {
        session.sendText(wireLine(WireKeyword::ERROR, "You are already logged in."));
        return false;
    }
    if (m_draining) {
        loginFailed(session, "This server is closing for maintenance. Please try again later.");
        return false;
    }
    return !session.player.loginPending;
}

bool LobbyServer::hashingHeldBack(Session &session)
{
    switch (m_hasher.admits(session.address(), isExempt(session.address()))) {
    case PasswordHasher::Admission::Admitted:
        return false;
    case PasswordHasher::Admission::AddressBusy:
        loginFailed(session, "The server is busy with logins from your address. Please try "
                             "again in a moment.");
        return true;
    case PasswordHasher::Admission::Busy:
        break;
    }
    loginFailed(session, "The server is busy. Please try again in a moment.");
    return true;
}

std::function<bool()> LobbyServer::stillWanted(Session &session)
{
    std::weak_ptr<Session> weak = session.shared_from_this();
    return [this, weak]() {
        const auto s = weak.lock();
        return s && !s->closing() && !m_stopping;
    };
}

void LobbyServer::askStore(Session &session, std::string_view what, SessionWork work,
                           SessionFailed failed)
{
    session.holdInput();
    std::weak_ptr<Session> weak = session.shared_from_this();
    m_store.run(
        [this, weak, what = std::string(what),
         work = std::move(work)](AccountStore &store) -> AccountStoreWorker::Then {
            return [this, weak, what, then = work(store)]() {
                const auto s = weak.lock();
                if (!s)
                    return;
                if (!s->closing() && !m_stopping && then) {
                    try {
                        then(*s);
                    } catch (const std::exception &e) {
                        storeRequestFailed(*s, what, e.what());
                    }
                }
                s->resumeInput();
            };
        },
        [this, weak, what = std::string(what),
         failed = std::move(failed)](const std::string &error) {
            const auto s = weak.lock();
            if (!s)
                return;
            if (!s->closing() && !m_stopping) {
                if (failed) {
                    logEvent(ServerLog::Level::Error, "request_failed",
                             {{"session", std::to_string(s->id())},
                              {"keyword", what},
                              {"error", error}});
                    failed(*s, error);
                } else {
                    storeRequestFailed(*s, what, error);
                }
            }
            s->resumeInput();
        });
}

void LobbyServer::storeRequestFailed(Session &session, std::string_view what,
                                     const std::string &error)
{
    logEvent(ServerLog::Level::Error, "request_failed",
             {{"session", std::to_string(session.id())},
              {"keyword", std::string(what)},
              {"error", error}});
    session.sendText(wireLine(WireKeyword::ERROR, "The server could not complete that request."));
}

void LobbyServer::tellStore(std::string what, std::function<void(AccountStore &)> work)
{
    m_store.run(
        [work = std::move(work)](AccountStore &store) -> AccountStoreWorker::Then {
            work(store);
            return {};
        },
        [this, what = std::move(what)](const std::string &error) {
            log(what + " not stored: " + error);
        });
}

void LobbyServer::onLogin(Session &session, std::string_view rest)
{
    if (!mayStartLogin(session))
        return;
    auto &p = session.player;
    const std::string name(ostrel::ExtractToken(rest, '|'));
    ostrel::ExtractToken(rest, '|'); // the fixed client field
    const std::string password(ostrel::ExtractToken(rest, '|'));
    const std::string badLogin = "Unknown user ID or wrong password.";
    // Without an account there is nothing to guess and nothing to hash.
    if (!lobbyrules::validName(name) || !lobbyrules::validPassword(password)) {
        loginFailed(session, badLogin);
        return;
    }
    p.loginPending = true;
    askStore(
        session, ostrel::wireSpelling(WireKeyword::LOGIN),
        [this, name, password](AccountStore &store) -> SessionThen {
            return [this, account = store.find(name), password](Session &s) {
                checkPassword(s, account, password);
            };
        },
        [this](Session &s, const std::string &) {
            s.player.loginPending = false;
            loginFailed(s, "The server could not log you in. Please try again later.");
        });
}

void LobbyServer::checkPassword(Session &session, const std::optional<AccountRecord> &account,
                                const std::string &password)
{
    auto &p = session.player;
    const std::string badLogin = "Unknown user ID or wrong password.";
    p.loginPending = false;
    if (!account) {
        loginFailed(session, badLogin);
        return;
    }
    const std::string &name = account->user.UserName;
    const std::string key = lobbyrules::key(name);
    const std::string address = session.address();
    const auto now = Clock::now();
    if (const auto wait = m_throttle.wait(address, key, now); wait.seconds > 0) {
        loginFailed(session,
                    std::string("Too many failed logins ") +
                        (wait.holder == LoginThrottle::Holder::Account ? "to this account"
                                                                       : "from your address") +
                        ". Please try again in " + std::to_string(wait.seconds) + " seconds.");
        return;
    }
    // One check at a time per address and per account: guesses sent side by side would
    // otherwise all be checked before the first failure is known.
    if (m_checkingAddresses.count(address) || m_checkingAccounts.count(key)) {
        loginFailed(session, "Another login of this account or from your address is being "
                             "checked. Please try again in a moment.");
        return;
    }
    if (hashingHeldBack(session))
        return;
    m_throttle.recordAttempt(address, key, now);
    m_checkingAddresses.insert(address);
    m_checkingAccounts.insert(key);
    p.loginPending = true;
    std::weak_ptr<Session> weak = session.shared_from_this();
    m_hasher.verify(address, stillWanted(session), account->passwordHash, password,
                    [this, weak, address, key, name = account->user.UserName, password,
                     badLogin](std::optional<bool> ok) {
                        m_checkingAddresses.erase(address);
                        m_checkingAccounts.erase(key);
                        auto s = weak.lock();
                        if (!ok || !s || s->closing() || m_stopping)
                            return;
                        s->player.loginPending = false;
                        if (*ok) {
                            m_throttle.recordSuccess(address, key);
                            completeLogin(*s, name, password);
                        } else {
                            loginFailed(*s, badLogin);
                        }
                    });
}

void LobbyServer::onLoginNew(Session &session, std::string_view rest)
{
    if (!mayStartLogin(session))
        return;
    auto &p = session.player;
    const std::string name(ostrel::ExtractToken(rest, '|'));
    ostrel::ExtractToken(rest, '|');
    ostrel::TOrvexUser record;
    try {
        record.LoadFromString(rest);
    } catch (const ostrel::EConvertError &) {
        loginFailed(session, "The new account's details could not be read.");
        return;
    }
    if (!lobbyrules::validName(name)) {
        loginFailed(session, "A user ID has 1 to 15 characters: letters, digits, \"_\" or \"~\".");
        return;
    }
    if (!lobbyrules::validPassword(record.Password)) {
        loginFailed(session, "A password has 1 to 9 characters.");
        return;
    }
    for (const auto *field :
         {&record.FirstName, &record.LastName, &record.City, &record.Country, &record.EMail,
          &record.HomePage, &record.Comments, &record.ICQ, &record.Gender}) {
        if (!lobbyrules::validProfileText(*field)) {
            loginFailed(session,
                        "Profile fields hold up to 255 characters and no control characters.");
            return;
        }
    }
    AccountRecord account;
    auto &u = account.user;
    u.UserName = name;
    u.FirstName = record.FirstName;
    u.LastName = record.LastName;
    u.City = record.City;
    u.Country = record.Country;
    u.EMail = record.EMail;
    u.HomePage = record.HomePage;
    u.Comments = record.Comments;
    u.ICQ = record.ICQ;
    u.Gender = record.Gender;
    u.AccountClass = ostrel::TOrvexUser::kDefaultAccountClass;
    u.Hat = lobbyrules::hatAllowed(record.Hat, u.AccountClass) ? record.Hat : "1";
    u.MemberSince = lobbyrules::recordDateNow();
    p.loginPending = true;
    askStore(
        session, ostrel::wireSpelling(WireKeyword::LOGINNEW),
        [this, name, account = std::move(account),
         password = record.Password](AccountStore &store) -> SessionThen {
            const bool taken = store.find(name).has_value();
            return [this, taken, account, password](Session &s) {
                s.player.loginPending = false;
                if (taken)
                    loginFailed(s, "The user ID " + account.user.UserName +
                                       " is taken. Please choose another.");
                else
                    createAccount(s, account, password);
            };
        },
        [this](Session &s, const std::string &) {
            s.player.loginPending = false;
            loginFailed(s, "The server could not create the account.");
        });
}

void LobbyServer::createAccount(Session &session, AccountRecord account,
                                const std::string &password)
{
    const std::string address = session.address();
    const bool exempt = isExempt(address);
    const auto now = Clock::now();
    if (!exempt && !m_accountQuota.allows(address, now)) {
        loginFailed(session, "Too many new accounts from your address. Please try again later.");
        return;
    }
    if (hashingHeldBack(session))
        return;
    if (!exempt)
        m_accountQuota.record(address, now);
    session.player.loginPending = true;
    std::weak_ptr<Session> weak = session.shared_from_this();
    m_hasher.hash(address, stillWanted(session), password,
                  [this, weak, address, exempt, account = std::move(account),
                   password](std::optional<std::string> hash) mutable {
                      auto s = weak.lock();
                      const bool wanted = s && !s->closing() && !m_stopping;
                      if (!hash || hash->empty() || !wanted) {
                          if (hash && wanted) {
                              s->player.loginPending = false;
                              loginFailed(*s, "The server could not create the account.");
                          }
                          if (!exempt)
                              m_accountQuota.refund(address);
                          return;
                      }
                      account.passwordHash = std::move(*hash);
                      // Whether the session is still there when the answer comes or not, the
                      // account exists or it does not, and the address's quota is told so.
                      s->holdInput();
                      m_store.run(
                          [this, weak, address, exempt, account,
                           password](AccountStore &store) -> AccountStoreWorker::Then {
                              const bool created = store.insert(account);
                              return [this, weak, address, exempt, created,
                                      name = account.user.UserName, password]() {
                                  if (created) {
                                      ++m_accountCount;
                                      m_metrics.accountsCreated.add();
                                      logEvent(ServerLog::Level::Info, "account_created",
                                               {{"name", name}, {"address", address}});
                                  } else if (!exempt) {
                                      m_accountQuota.refund(address);
                                  }
                                  const auto s = weak.lock();
                                  if (!s)
                                      return;
                                  if (!s->closing() && !m_stopping) {
                                      s->player.loginPending = false;
                                      if (!created) {
                                          loginFailed(*s, "The user ID " + name +
                                                              " is taken. Please choose another.");
                                      } else {
                                          s->sendText(wireLine(WireKeyword::NEWSUCCESS,
                                                               "Account " + name + " created."));
                                          completeLogin(*s, name, password);
                                      }
                                  }
                                  s->resumeInput();
                              };
                          },
                          [this, weak, address, exempt](const std::string &error) {
                              // Timed out, the account may have been made after all; the quota
                              // errs on the client's side.
                              if (!exempt)
                                  m_accountQuota.refund(address);
                              log("account creation: " + error);
                              const auto s = weak.lock();
                              if (!s)
                                  return;
                              if (!s->closing() && !m_stopping) {
                                  s->player.loginPending = false;
                                  loginFailed(*s, "The server could not create the account.");
                              }
                              s->resumeInput();
                          });
                  });
}

ostrel::TOrvexUser LobbyServer::recordFor(const AccountRecord &account, const Session *viewer) const
{
    ostrel::TOrvexUser record = account.user;
    record.Password.clear();
    std::int64_t silenceUntil = account.silenceUntil;
    if (const auto *online = findPlayer(account.user.UserName))
        silenceUntil = online->player.silenceUntil;
    if (viewer && viewer->player.key == lobbyrules::key(account.user.UserName))
        record.Password = viewer->player.password;
    const auto left = silenceUntil - lobbyrules::unixNow();
    record.SilenceLeft = left > 0 ? static_cast<std::int32_t>((left + 59) / 60) : 0;
    return record;
}

void LobbyServer::completeLogin(Session &session, const std::string &name,
                                const std::string &password)
{
    session.player.loginPending = true;
    askStore(
        session, ostrel::wireSpelling(WireKeyword::LOGIN),
        [this, name, password,
         now = lobbyrules::recordDateNow()](AccountStore &store) -> SessionThen {
            store.recordLogin(name, now);
            auto account = store.find(name);
            if (!account)
                throw std::runtime_error("account " + name + " vanished during login");
            return [this, account = std::move(*account), password](Session &s) {
                enterLobby(s, account, password);
            };
        },
        [this](Session &s, const std::string &) {
            s.player.loginPending = false;
            loginFailed(s, "The server could not log you in. Please try again later.");
        });
}

void LobbyServer::enterLobby(Session &session, const AccountRecord &account,
                             const std::string &password)
{
    const std::string &name = account.user.UserName;
    const std::string key = lobbyrules::key(name);

    // A second login ends the older session of the same account, here or at another node.
    endOlderSession(session, key);

    if (session.newcomer) {
        session.newcomer = false;
        if (auto it = m_addresses.find(session.address()); it != m_addresses.end())
            --it->second.newcomers;
    }
    session.cancelLoginDeadline();
    auto &p = session.player;
    p = ClientSession::Player{};
    p.loggedIn = true;
    p.name = account.user.UserName;
    p.key = key;
    p.password = password;
    p.hat = lobbyrules::hatAllowed(account.user.Hat, account.user.AccountClass) ? account.user.Hat
                                                                                : "1";
    p.room = Catalogue::kLobby;
    p.silenceUntil = account.silenceUntil;
    p.loginTime = Clock::now();
    // Made now: the newcomer's own list holds it before everyone else hears of it.
    p.entry = ostrel::WirePlayerEntry::format(p.name, p.hat, p.room, p.game);
    m_players[key] = &session;
    addLocal(session);
    m_rooms[p.room].insert(&session);
    ++m_loginsSinceStart;
    m_metrics.logins.add();
    m_peakOnline = std::max(m_peakOnline, onlineCount());
    logEvent(ServerLog::Level::Info, "login",
             {{"name", p.name},
              {"address", session.address()},
              {"session", std::to_string(session.id())}});

    // The whole sequence is owed to the client: a long news text or member list must not
    // get it dropped as a client that stopped reading.
    ostrel::TOrvexUser record = recordFor(account, &session);
    session.sendOwed(wireLine(WireKeyword::LOGIN, WireKeyword::SUCCESS, record.SaveToString()));
    std::string subjects = wireLine(WireKeyword::SUBJECTS);
    for (const auto &room : m_catalogue.rooms())
        subjects.append("|").append(room);
    session.sendOwed(subjects);
    session.sendOwed(wireLine(WireKeyword::GAMES, m_catalogue.gamesText()));
    if (!m_newsText.empty())
        session.sendOwed(wireLine(WireKeyword::NEWS, m_newsId, m_newsText));
    session.sendOwed(serverStats());
    session.sendOwed(memberList(Catalogue::kLobby));
    announceEntry(session, &session);
    deliverStoredMessages(session);
}

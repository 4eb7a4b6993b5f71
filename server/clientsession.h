#pragma once

#include "lineframer.h"
#include "outputlog.h"
#include "tokenbucket.h"

#include <asio/ip/tcp.hpp>
#include <asio/ssl/context.hpp>
#include <asio/ssl/stream.hpp>
#include <asio/steady_timer.hpp>

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

class LobbyServer;

// One client connection: reads and frames scrambled lines, enforces the line length and
// flood limits, and writes queued lines in order. Lines are spans of shared, already
// scrambled blocks (see OutputLog): a broadcast is written once however many clients
// receive it, and lines that follow each other in a block share one queue entry.
// Everything runs on the server's single network thread.
class ClientSession : public std::enable_shared_from_this<ClientSession>
{
public:
    using Clock = std::chrono::steady_clock;
    using Line = OutputLog::Line;

    // Relayed game bytes a client may send per second, sustained; a quarter second's
    // worth may come at once. A game stream runs at up to about 200 KB/s in bursts; a
    // client that sends faster is slowed to this rate (its input waits), never cut off
    // for it. The burst stays well under the cap on a receiver's unsent output, so a
    // receiver that reads is never cut loose by a sender's burst either.
    static constexpr double kRelayBytesPerSecond = 2 * 1024 * 1024;

    struct Limits
    {
        std::size_t maxLine = 64 * 1024;
        // Unsent output a client that stops reading may pile up before it is dropped.
        std::size_t maxQueuedBytes = 1024 * 1024;
        // Output owed to a client's own request (the login sequence, a room's member
        // list) is sent whatever the cap above; this bounds it.
        std::size_t maxOwedBytes = 16 * 1024 * 1024;
        double floodBurst = 100;
        double floodRate = 50; // lines per second
        // Bytes of everything but relayed game traffic: a line of chat may reach every
        // client, so what one sender may make everyone read is bounded by bytes, not only
        // by lines. The burst holds one line of the longest kind.
        double byteBurst = 64 * 1024;
        double byteRate = 8 * 1024;
        double relayBurst = 1000;
        double relayRate = 500;
        double relayByteBurst = kRelayBytesPerSecond / 4;
        double relayByteRate = kRelayBytesPerSecond;
    };

    // What the lobby knows about the player on this connection; meaningful while
    // loggedIn. Player keys are lower-case names.
    struct Player
    {
        bool loggedIn = false;
        bool loginPending = false;
        std::string name;
        std::string key;
        std::string password; // the one this session logged in with (or changed to)
        std::string hat = "1";
        std::string room;
        std::string game;      // the game entry shown in the player's entry
        std::string gameLabel; // the room label of the game this player hosts
        // The entry other players list this one under (name, hat, room and game together),
        // made once per change for every list and announcement it goes into. Every change
        // of those four is announced, and the server's announcement brings it up to date.
        std::string entry;
        // This session's place among the server's logged-in sessions, for broadcasts.
        std::size_t slot = 0;
        bool hosting = false;
        bool assisted = false;
        bool gamePrivate = false;
        std::string joinedHost;                       // key of the host whose game we are in
        std::unordered_set<std::string> joiners;      // keys of players in our hosted game
        std::unordered_set<std::string> pendingJoins; // keys whose JOIN awaits our answer
        std::int64_t silenceUntil = 0;
        Clock::time_point loginTime;
        bool passwordChanging = false; // a new password is being hashed
        // Keys of offline players this session was told about (message kept, or their
        // store full): once per recipient and login is enough.
        std::unordered_set<std::string> toldStored;
        std::unordered_set<std::string> toldFull;
        // Kept messages up to this id were sent at login and stay stored until the client
        // answers the PING that followed them: then they have reached it. 0: none wait.
        std::int64_t keptUpToId = 0;
        std::uint64_t keptPingAnswer = 0; // the count of answered PINGs that confirms them
    };

    // tls: the server's TLS context for a connection to the TLS listener; the session
    // then speaks TLS over the socket, the lines inside unchanged.
    ClientSession(asio::ip::tcp::socket socket, LobbyServer &server, std::uint64_t id,
                  std::string address, asio::ssl::context *tls = nullptr);

    void start();

    // Scrambles one protocol line and queues it.
    void sendText(std::string_view plain);
    void send(const Line &line);
    // News of who is where (ADDGUEST and its kin): it may wait for the server's next
    // presence flush, so that a crowd arriving costs each client one write per flush
    // rather than one per arrival. It still leaves in order with everything else: any
    // other line queued behind it takes it along at once.
    void sendPresence(const Line &line);
    // A line of a broadcast, as send() or sendPresence(), except that the caller counts
    // it in the metrics once for all its receivers. False when it was not queued (the
    // session is closing, or has just been cut loose for its backlog).
    bool sendShared(const Line &line, bool presence);
    // Called by the server's presence flush.
    void flushPresence();
    // Called by the server's write pacer: lines that waited for it leave now, unless the
    // ticket belongs to a request a later one replaced.
    void writeDue(std::uint32_t ticket);
    // Output the client asked for and must get whole (the login sequence, a member list):
    // it does not count towards the cap on unsent output, only towards a larger bound.
    void sendOwed(std::string_view plain);
    static Line makeLine(std::string_view plain);
    // A broadcast visits thousands of sessions, each far from the last in memory: it asks
    // for the next ones' state ahead of time, then for the tail of their queues, which
    // the first brought in, so that it does not wait for each in turn.
    void prefetchState() const
    {
        __builtin_prefetch(&m_state);
        __builtin_prefetch(&m_queue);
        __builtin_prefetch(&m_owedBytes);
    }
    void prefetchTail() const
    {
        if (!m_queue.empty())
            __builtin_prefetch(&m_queue.back());
    }

    // Stops reading, lets the queued output (an ERROR, typically) drain, then closes.
    void closeAfterFlush(std::string reason);
    // Closes at once. The server's clean-up runs from a posted handler, never inside the
    // caller's stack, so a broadcast loop may close a slow client safely.
    void close(std::string reason);

    // True once a close of either kind has begun: input is ignored, output dropped.
    bool closing() const { return m_state != State::Open; }
    std::uint64_t id() const { return m_id; }
    const std::string &address() const { return m_address; }
    Clock::time_point connectedAt() const { return m_connectedAt; }
    Clock::time_point lastHeard() const { return m_lastHeard; }
    std::size_t queuedBytes() const { return m_queuedBytes; }
    // Entries of the output queue not yet written (each one line or several in a row).
    std::size_t queuedEntries() const { return m_queue.size() - m_head; }
    bool tls() const { return m_tls != nullptr; }
    // Bytes this connection holds for its output, used or not.
    std::size_t outputCapacity() const;

    Player player;
    // Not logged in since it connected; counted among its address's newcomers.
    bool newcomer = true;
    // PINGs sent to the client and answered by it. The client answers each one as it
    // reads it, in order, so an answer confirms every line sent before its PING.
    std::uint64_t pingsSent = 0;
    std::uint64_t pingsAnswered = 0;

    // A request of this client's waits for the account database: the client's later
    // lines wait behind it, unread in the socket, until resumeInput() has been called as
    // often as holdInput(). Other clients are served meanwhile.
    void holdInput() { ++m_holds; }
    void resumeInput();
    bool inputHeld() const { return m_holds > 0; }

    void armLoginDeadline(Clock::duration after);
    void cancelLoginDeadline();

private:
    enum class State { Open, Draining, Closed };

    void waitReadable();
    void onReadable(const std::error_code &error);
    // Frames and handles received bytes; false when reading should stop for now.
    bool takeInput(std::string_view data);
    void readTls();
    void onTlsRead(const std::error_code &error, std::size_t n);
    bool processLines();
    // Takes a relay line's share of the relay allowances, or tells how many seconds must
    // pass before it fits (taking nothing).
    double takeRelay(Clock::time_point now, double bytes);

    // Holds a relay line that did not fit and stops reading until it does.
    void holdRelay(std::string line, double seconds);
    void resumeRelay();
    void drainInput();
    // Waits for more input unless something holds it back or a wait is armed already.
    void readOn();
    // Writes what is queued, at once (a plain connection: straight to the system) or
    // through the TLS stream.
    void writeMore();
    // The socket took less than it was offered: the rest waits until it can take more.
    void waitWritable();
    // Takes bytes the system took off the front of the queue.
    void takeWritten(std::size_t bytes);
    // Everything queued is written: lets go of the room a burst needed.
    void writtenAll();
    void writeTls();
    void onTlsWritten(const std::error_code &error);
    // Asks the server's write pacer for a write: at the end of the loop turn, or at the
    // end of the write window when this client was written to within it.
    void scheduleWrite();
    // A write's worth gathered while waiting for the window: it leaves at the end of the
    // loop turn instead.
    void scheduleWriteNow();
    // A write went to the system now: counts it towards the client's rate of lines.
    void noteWrite(Clock::time_point now);
    float secondsSinceWrite(Clock::time_point now) const;
    // The rate as the next write would count it, were it now.
    double linesPerSecond(Clock::time_point now) const;
    void startDeadline(std::chrono::milliseconds after);
    void finishDrain();
    bool sendLimited(const Line &line, bool presence);
    // Counts the line, then appends it.
    void enqueue(const Line &line, bool owed, bool presence = false);
    void append(const Line &line, bool owed, bool presence);
    void dropForBacklog(const std::string &reason);

    struct Queued
    {
        Line line;
        bool owed = false;
        bool presence = false;
    };

    asio::ip::tcp::socket m_socket;
    // Over TLS: the stream on m_socket, its own read buffer (decrypted bytes cannot wait
    // in the server's shared one) and the lines of one write, put together so that they
    // leave as few TLS records as fit.
    std::unique_ptr<asio::ssl::stream<asio::ip::tcp::socket &>> m_tls;
    std::unique_ptr<std::array<char, 16 * 1024>> m_tlsIn;
    std::string m_tlsOut;
    LobbyServer &m_server;
    std::uint64_t m_id;
    std::string m_address;
    ostrel::LineFramer m_framer;
    TokenBucket m_flood;
    TokenBucket m_bytes;
    TokenBucket m_relayFlood;
    TokenBucket m_relayBytes;
    std::string m_heldRelay;
    bool m_relayHeld = false;
    int m_holds = 0;
    bool m_reading = false; // a wait for input is armed
    std::unique_ptr<asio::steady_timer> m_relayTimer;
    // This connection's own lines (replies, private messages), end to end.
    OutputLog m_own{128, 1024};
    std::vector<Queued> m_queue;
    std::size_t m_head = 0;        // first entry not yet fully written
    std::size_t m_headWritten = 0; // bytes of it the system has taken already
    std::size_t m_inFlight = 0;    // entries handed to the current write inside TLS
    std::size_t m_queuedBytes = 0;
    std::size_t m_owedBytes = 0; // of m_queuedBytes
    std::size_t m_flushUpTo = 0; // queue index the current presence flush writes up to
    std::size_t m_urgent = 0;    // entries from m_head on that are not presence news
    std::unique_ptr<asio::steady_timer> m_deadline;
    std::unique_ptr<asio::steady_timer> m_loginDeadline;
    Clock::time_point m_connectedAt;
    Clock::time_point m_lastHeard;
    std::string m_reason;
    State m_state = State::Open;
    bool m_writing = false;        // waiting for the socket to take more, or a TLS write under way
    bool m_writeRequested = false; // registered with the server's write pacer
    bool m_writeWaiting = false;   // ...for the end of this client's write window
    std::uint32_t m_writeTicket = 0; // the pacer's request that counts
    bool m_presenceWaiting = false;  // registered with the server's presence flush
    Clock::time_point m_lastWriteAt{};
    // This client's rate of lines, for the write pacer: the lines queued and the time
    // passed over its recent writes, each earlier write weighing less.
    std::uint32_t m_linesSinceWrite = 0;
    Clock::time_point m_firstLineAt{}; // the first of them
    float m_rateLines = 0;
    float m_rateSeconds = 0;
    bool m_sentShutdown = false;
};

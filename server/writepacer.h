#pragma once

#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>

#include <array>
#include <chrono>
#include <cstdint>
#include <memory>
#include <vector>

class ClientSession;

// Decides when a client's queued lines are written. A client costs a system call per
// write however many lines it carries, and at a busy lobby's rate a client may get
// hundreds of lines a second from many senders: writing each as it comes would spend the
// processor on calls rather than on the lines. So each client is written at most once per
// write window while its own lines come fast, whatever the server's load:
//  - a client whose lines come less than a few per window (chat at a human pace, a ping,
//    the answer to a login, a lively room), or whose last write lies a window or more
//    back, is written at the end of this loop turn, so that lines reaching it from
//    several paths in one turn still leave together, and nothing else waits;
//  - a busy client, whose lines come several a window (a crowded lobby), written to less
//    than a window ago waits for its window's end, and whatever reaches it meanwhile
//    leaves in that one write;
//  - a client that gathers a write's worth of bytes (kFullWrite) while it waits leaves at
//    the end of the turn: waiting longer would save no calls worth having.
// The clients waiting for their window's end sit in a wheel of time slots, so that a
// request costs the same however many wait, and one timer serves them all.
class WritePacer
{
public:
    using Clock = std::chrono::steady_clock;

    static constexpr std::chrono::milliseconds kDefaultWindow{30};
    static constexpr std::size_t kFullWrite = 16 * 1024;
    // Lines a client gets per window, at its recent rate, from which on it is busy.
    static constexpr double kBusyLines = 3;

    // window: zero writes every client with lines at the end of each loop turn.
    WritePacer(asio::io_context &io, Clock::duration window = kDefaultWindow);

    // The session has lines to write (ticket tells this request from its earlier ones);
    // lastWrite and linesPerSecond are its last write and its recent rate of lines.
    // Returns true when it waits for its window's end, false when it is written at the end
    // of this loop turn.
    bool request(ClientSession &session, Clock::time_point lastWrite, double linesPerSecond,
                 std::uint32_t ticket);
    // The session is written at the end of this loop turn whatever its window.
    void requestNow(ClientSession &session, std::uint32_t ticket);

    Clock::duration window() const { return m_window; }
    // Requests waiting for their window's end (one a client, save the few a full write
    // overtook).
    std::size_t waiting() const { return m_waiting; }

private:
    struct Entry
    {
        std::weak_ptr<ClientSession> session;
        std::uint32_t ticket;
    };
    using Entries = std::vector<Entry>;
    // Slots of the wheel: it reaches twice the window ahead, more than any wait.
    static constexpr std::int64_t kSlots = 64;

    void pass(Entries &entries);
    void onTimer();
    void arm(std::int64_t slot);
    std::int64_t slotOf(Clock::time_point t) const;

    asio::io_context &m_io;
    Clock::duration m_window;
    Clock::duration m_slotWidth;
    asio::steady_timer m_timer;
    bool m_posted = false;
    Entries m_thisTurn;
    std::array<Entries, kSlots> m_wheel;
    std::int64_t m_done = 0;      // the slots up to this one have been written
    std::int64_t m_armedFor = -1; // the slot the timer waits for; -1: none
    std::size_t m_waiting = 0;
    Entries m_due;     // the slots' entries the timer found due
    Entries m_writing; // the list a pass works through, kept for its room
};

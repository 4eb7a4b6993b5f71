#pragma once

#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>

#include <chrono>
#include <memory>
#include <vector>

class ClientSession;

// Decides when the clients with queued lines are written. Every loop turn ends with one
// pass that writes all of them, so that lines reaching a client from several senders and
// paths in one turn leave in one call. A client written to less than the write window
// ago waits for the window's end instead, and the window grows with the share of time
// the passes take: a client costs a system call per write however many lines it carries
// (at a busy lobby's rate, hundreds a second), and writing everyone on every short turn
// would spend the processor on calls, delaying all lines, rather than on the lines
// themselves. A lobby whose writes take little time keeps the shortest window.
class WritePacer
{
public:
    using Clock = std::chrono::steady_clock;

    // The shortest window, and the longest it grows to under load.
    static constexpr std::chrono::microseconds kMinWindow{1500};
    static constexpr std::chrono::milliseconds kMaxWindow{30};
    // The share of the time the passes may take before the window grows.
    static constexpr double kBusyShare = 0.5;

    explicit WritePacer(asio::io_context &io);

    // The session has lines to write; it is written once, by the pass that comes first.
    void request(ClientSession &session, Clock::time_point lastWrite);
    Clock::duration window() const { return m_window; }

private:
    using Waiting = std::vector<std::weak_ptr<ClientSession>>;

    void pass(Waiting &waiting);
    void adjust(Clock::time_point now);

    asio::io_context &m_io;
    asio::steady_timer m_timer;
    bool m_posted = false;
    bool m_timerArmed = false;
    Waiting m_thisTurn;
    Waiting m_windowEnd;
    Waiting m_writing; // the list a pass works through, kept for its room
    Clock::duration m_window = kMinWindow;
    Clock::time_point m_periodStart = Clock::now();
    Clock::duration m_busy{};
};

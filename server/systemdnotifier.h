#pragma once

#include <asio/io_context.hpp>
#include <asio/steady_timer.hpp>

#include <chrono>
#include <functional>
#include <string>

// Tells systemd (a unit of Type=notify) how the server is: READY=1 once it serves,
// STOPPING=1 when it stops, and WATCHDOG=1 at half the unit's WatchdogSec. The watchdog
// ping is sent from a timer of the server's own event loop, so a loop that hangs stops
// the pings and systemd restarts the service. Without systemd (no NOTIFY_SOCKET) every
// call does nothing.
class SystemdNotifier
{
public:
    explicit SystemdNotifier(asio::io_context &io);

    void ready(const std::string &status);
    void stopping();
    // Asked before each watchdog ping; a server that is not well (false) lets it lapse.
    void startWatchdog(std::function<bool()> healthy = {});
    void stop();

private:
    void ping();

    asio::steady_timer m_timer;
    std::chrono::microseconds m_interval{0};
    std::function<bool()> m_healthy;
};

#include "systemdnotifier.h"

#include <systemd/sd-daemon.h>

SystemdNotifier::SystemdNotifier(asio::io_context &io) : m_timer(io) {}

void SystemdNotifier::ready(const std::string &status)
{
    sd_notify(0, ("READY=1\nSTATUS=" + status).c_str());
}

void SystemdNotifier::stopping()
{
    sd_notify(0, "STOPPING=1");
}

void SystemdNotifier::startWatchdog(std::function<bool()> healthy)
{
    std::uint64_t usec = 0;
    if (sd_watchdog_enabled(0, &usec) <= 0 || usec == 0)
        return;
    m_healthy = std::move(healthy);
    m_interval = std::chrono::microseconds(usec / 2);
    ping();
}

void SystemdNotifier::stop()
{
    m_timer.cancel();
    m_interval = std::chrono::microseconds(0);
}

void SystemdNotifier::ping()
{
    if (m_interval.count() == 0)
        return;
    if (!m_healthy || m_healthy())
        sd_notify(0, "WATCHDOG=1");
    m_timer.expires_after(m_interval);
    m_timer.async_wait([this](const std::error_code &error) {
        if (!error)
            ping();
    });
}

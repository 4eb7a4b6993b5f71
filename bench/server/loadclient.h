#pragma once

#include "lineframer.h"

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>

#include <array>
#include <deque>
#include <functional>
#include <string>
#include <string_view>

// One simulated player of the load generator: creates its account, enters its room and
// then sends what it is told, reporting every line it receives.
class LoadClient
{
public:
    enum class Phase { Connecting, LoggingIn, EnteringRoom, Ready, Failed };

    struct Callbacks
    {
        std::function<void(LoadClient &)> ready;
        std::function<void(LoadClient &, const std::string &why)> failed;
        // Every received SEND line, unscrambled.
        std::function<void(LoadClient &, std::string_view line)> received;
        // Every other line but PING: presence news and replies.
        std::function<void(LoadClient &)> other;
    };

    LoadClient(asio::io_context &io, int index, std::string name, std::string room,
               const Callbacks &callbacks);

    void start(const asio::ip::tcp::endpoint &server);
    void send(std::string_view plain);

    int index() const { return m_index; }
    const std::string &name() const { return m_name; }
    const std::string &room() const { return m_room; }
    Phase phase() const { return m_phase; }

private:
    void read();
    void handleLine(std::string_view line);
    void writeMore();
    void fail(const std::string &why);

    asio::ip::tcp::socket m_socket;
    int m_index;
    std::string m_name;
    std::string m_room;
    const Callbacks &m_callbacks;
    ostrel::LineFramer m_framer;
    std::array<char, 16384> m_buffer{};
    std::deque<std::string> m_out;
    bool m_writing = false;
    Phase m_phase = Phase::Connecting;
};

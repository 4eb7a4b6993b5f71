#include "loadclient.h"

#include "encryptit.h"

#include <asio/connect.hpp>
#include <asio/write.hpp>

LoadClient::LoadClient(asio::io_context &io, int index, std::string name, std::string room,
                       const Callbacks &callbacks)
    : m_socket(io), m_index(index), m_name(std::move(name)), m_room(std::move(room)),
      m_callbacks(callbacks)
{
}

void LoadClient::start(const asio::ip::tcp::endpoint &server)
{
    m_socket.async_connect(server, [this](const std::error_code &error) {
        if (error) {
            fail("connect: " + error.message());
            return;
        }
        m_socket.set_option(asio::ip::tcp::no_delay(true));
        m_phase = Phase::LoggingIn;
        const std::string zero = " 0.00000000000000E+0000";
        send("LOGINNEW|" + m_name + "|0121|" + m_name + "^pw^Load^^^^^^^" + zero + "^" + zero +
             "^0^^0^" + zero + "^N^0^0^2^^" + zero + "^Unknown^");
        read();
    });
}

void LoadClient::send(std::string_view plain)
{
    std::string line = ostrel::Encrypt(plain, ostrel::kWireKey);
    line.push_back('\n');
    m_out.push_back(std::move(line));
    if (!m_writing)
        writeMore();
}

void LoadClient::writeMore()
{
    if (m_out.empty()) {
        m_writing = false;
        return;
    }
    m_writing = true;
    asio::async_write(m_socket, asio::buffer(m_out.front()),
                      [this](const std::error_code &error, std::size_t) {
                          if (error) {
                              fail("write: " + error.message());
                              return;
                          }
                          m_out.pop_front();
                          writeMore();
                      });
}

void LoadClient::read()
{
    m_socket.async_read_some(
        asio::buffer(m_buffer), [this](const std::error_code &error, std::size_t n) {
            if (error) {
                fail("read: " + error.message());
                return;
            }
            m_framer.append(std::string_view(m_buffer.data(), n));
            std::string_view view;
            std::string line;
            while (m_framer.nextLine(view)) {
                line.assign(view);
                ostrel::ScrambleInPlace(line.data(), line.size(), ostrel::kWireKey);
                handleLine(line);
            }
            read();
        });
}

void LoadClient::handleLine(std::string_view line)
{
    if (line.substr(0, 5) == "SEND|") {
        m_callbacks.received(*this, line);
        return;
    }
    if (line == "PING|") {
        send("PING|");
        return;
    }
    if (m_callbacks.other)
        m_callbacks.other(*this);
    switch (m_phase) {
    case Phase::LoggingIn:
        if (line.substr(0, 13) == "LOGIN|FAILED|")
            fail(std::string(line));
        else if (line.substr(0, 12) == "JOINSUBJECT|") {
            m_phase = Phase::EnteringRoom;
            send("JOINSUBJECT|" + m_room);
        }
        break;
    case Phase::EnteringRoom:
        if (line.substr(0, 12 + m_room.size()) == "JOINSUBJECT|" + m_room) {
            m_phase = Phase::Ready;
            m_callbacks.ready(*this);
        }
        break;
    default:
        if (line.substr(0, 6) == "ERROR|")
            fail(std::string(line));
        break;
    }
}

void LoadClient::fail(const std::string &why)
{
    if (m_phase == Phase::Failed)
        return;
    m_phase = Phase::Failed;
    std::error_code ignored;
    m_socket.close(ignored);
    m_callbacks.failed(*this, why);
}

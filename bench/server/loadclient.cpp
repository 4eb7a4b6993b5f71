#include "loadclient.h"

#include <asio/connect.hpp>
#include <asio/write.hpp>

namespace {

// Clients read one at a time on the generator's one thread, so they share one buffer: ten
// thousand idle clients should not cost the generator a buffer each.
std::array<char, 64 * 1024> g_readBuffer;

} // namespace

LoadClient::LoadClient(asio::io_context &io, int index, std::string name, std::string room,
                       const Callbacks &callbacks)
    : m_socket(io), m_index(index), m_name(std::move(name)), m_room(std::move(room)),
      m_callbacks(callbacks)
{
}

void LoadClient::useTls(asio::ssl::context &context)
{
    m_tls = std::make_unique<asio::ssl::stream<asio::ip::tcp::socket &>>(m_socket, context);
    m_tlsIn = std::make_unique<std::array<char, 16 * 1024>>();
}

void LoadClient::start(const asio::ip::tcp::endpoint &server)
{
    m_socket.async_connect(server, [this](const std::error_code &error) {
        if (error) {
            fail("connect: " + error.message());
            return;
        }
        std::error_code ignored;
        m_socket.set_option(asio::ip::tcp::no_delay(true), ignored);
        m_socket.non_blocking(true, ignored);
        if (!m_tls) {
            connected();
            return;
        }
        m_tls->async_handshake(asio::ssl::stream_base::client,
                               [this](const std::error_code &handshakeError) {
                                   if (handshakeError) {
                                       fail("TLS handshake: " + handshakeError.message());
                                       return;
                                   }
                                   connected();
                               });
    });
}

void LoadClient::connected()
{
    m_phase = Phase::LoggingIn;
    greet();
    waitReadable();
}

void LoadClient::writeRaw(std::string_view bytes)
{
    if (m_phase == Phase::Failed)
        return;
    m_pending.append(bytes);
    if (!m_writing)
        writeMore();
}

void LoadClient::writeMore()
{
    if (m_pending.empty()) {
        m_writing = false;
        return;
    }
    m_writing = true;
    m_inWrite.clear();
    m_inWrite.swap(m_pending);
    auto written = [this](const std::error_code &error, std::size_t) {
        if (error) {
            m_writing = false;
            fail("write: " + error.message());
            return;
        }
        writeMore();
    };
    if (m_tls)
        asio::async_write(*m_tls, asio::buffer(m_inWrite), written);
    else
        asio::async_write(m_socket, asio::buffer(m_inWrite), written);
}

void LoadClient::take(std::string_view bytes)
{
    // With no partial line waiting, whole lines are handled where they were read: a
    // crowd's news is thousands of short lines per read, and copying each into the
    // framer first would cost the generator as much as the server spends sending them.
    if (m_framer.pendingSize() == 0) {
        for (;;) {
            const auto end = bytes.find('\n');
            if (end == std::string_view::npos)
                break;
            handleLine(bytes.substr(0, end));
            if (m_phase == Phase::Failed)
                return;
            bytes.remove_prefix(end + 1);
        }
    }
    m_framer.append(bytes);
    std::string_view view;
    while (m_phase != Phase::Failed && m_framer.nextLine(view))
        handleLine(view);
}

void LoadClient::readTls()
{
    m_tls->async_read_some(asio::buffer(*m_tlsIn),
                           [this](const std::error_code &error, std::size_t n) {
                               if (error) {
                                   fail("read: " + error.message());
                                   return;
                               }
                               take(std::string_view(m_tlsIn->data(), n));
                               if (m_phase != Phase::Failed)
                                   readTls();
                           });
}

void LoadClient::waitReadable()
{
    if (m_tls) {
        readTls();
        return;
    }
    m_socket.async_wait(asio::ip::tcp::socket::wait_read, [this](const std::error_code &error) {
        if (error) {
            fail("read: " + error.message());
            return;
        }
        for (;;) {
            std::error_code readError;
            const std::size_t room =
                m_readChunk ? std::min(m_readChunk, g_readBuffer.size()) : g_readBuffer.size();
            const std::size_t n =
                m_socket.read_some(asio::buffer(g_readBuffer.data(), room), readError);
            if (readError == asio::error::would_block || readError == asio::error::try_again)
                break;
            if (readError) {
                fail("read: " + readError.message());
                return;
            }
            take(std::string_view(g_readBuffer.data(), n));
            if (m_phase == Phase::Failed)
                return;
            if (m_readChunk || n < g_readBuffer.size())
                break;
        }
        waitReadable();
    });
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

#pragma once

#include "lineframer.h"

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/ssl/context.hpp>
#include <asio/ssl/stream.hpp>

#include <array>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

// One simulated player of the load generator, whatever server it talks to: connects,
// logs in and enters its room, then sends what it is told and reports every numbered
// message it receives. The subclasses speak the protocols.
class LoadClient
{
public:
    enum class Phase { Connecting, LoggingIn, EnteringRoom, Ready, Failed };

    struct Callbacks
    {
        std::function<void(LoadClient &)> ready;
        std::function<void(LoadClient &, const std::string &why)> failed;
        // The text of every chat line or message received ("m<seq>:<ns>...").
        std::function<void(LoadClient &, std::string_view text)> received;
        // Every other line but a ping: presence news and replies.
        std::function<void(LoadClient &)> other;
        // A liveness ping from the server arrived (and was answered).
        std::function<void(LoadClient &)> pinged;
    };

    LoadClient(asio::io_context &io, int index, std::string name, std::string room,
               const Callbacks &callbacks);
    virtual ~LoadClient() = default;
    LoadClient(const LoadClient &) = delete;
    LoadClient &operator=(const LoadClient &) = delete;

    // Speaks TLS to the server (before start): the same lines inside it.
    void useTls(asio::ssl::context &context);
    // Reads at most this many bytes each time the socket is readable, then waits for the
    // next turn of the loop, as a busy desktop client does (before start; plain only).
    void readSlowly(std::size_t chunk) { m_readChunk = chunk; }
    void start(const asio::ip::tcp::endpoint &server);

    virtual void roomChat(std::string_view text) = 0;
    virtual void privateMessage(const LoadClient &to, std::string_view text) = 0;
    virtual void lobbyLine(std::string_view text) = 0;
    // Whether a lobby-wide line comes back to its sender too.
    virtual bool hearsOwnLobbyLine() const = 0;

    int index() const { return m_index; }
    const std::string &name() const { return m_name; }
    const std::string &room() const { return m_room; }
    Phase phase() const { return m_phase; }

protected:
    // Sent once the connection stands: the login or registration.
    virtual void greet() = 0;
    // One received line, line feed removed, as it came off the wire.
    virtual void handleLine(std::string_view line) = 0;

    // Queues bytes as they go on the wire; everything queued while a write is under way
    // leaves in the next one.
    void writeRaw(std::string_view bytes);
    void setPhase(Phase phase) { m_phase = phase; }
    void fail(const std::string &why);
    const Callbacks &callbacks() const { return m_callbacks; }

private:
    void waitReadable();
    void readTls();
    void take(std::string_view bytes);
    void writeMore();
    void connected();

    asio::ip::tcp::socket m_socket;
    // Over TLS: the stream and a read buffer of its own (the shared one serves clients
    // that read synchronously once woken, which a TLS stream cannot).
    std::unique_ptr<asio::ssl::stream<asio::ip::tcp::socket &>> m_tls;
    std::unique_ptr<std::array<char, 16 * 1024>> m_tlsIn;
    int m_index;
    std::string m_name;
    std::string m_room;
    const Callbacks &m_callbacks;
    ostrel::LineFramer m_framer;
    std::string m_pending;
    std::string m_inWrite;
    bool m_writing = false;
    std::size_t m_readChunk = 0; // 0: read all there is at once
    Phase m_phase = Phase::Connecting;
};

#pragma once

#include <asio/io_context.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/steady_timer.hpp>

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

// A minimal HTTP/1.1 server for the operator's address (metrics and health): GET and
// HEAD only, one request per connection, the answer computed by the owner on the
// server's thread. Whoever reaches the address is a stranger: a request is bounded in
// bytes and in time, and so is the number of connections open at once (beyond it a
// connection is closed as soon as it is accepted).
class HttpEndpoint
{
public:
    struct Response
    {
        int status = 200;
        std::string contentType = "text/plain; charset=utf-8";
        std::string body;
    };
    using Handler = std::function<Response(std::string_view path)>;

    static constexpr std::size_t kMaxRequestBytes = 8 * 1024;
    static constexpr std::size_t kMaxConnections = 16;
    static constexpr std::chrono::seconds kRequestTime{5};

    HttpEndpoint(asio::io_context &io, Handler handler);
    ~HttpEndpoint();
    HttpEndpoint(const HttpEndpoint &) = delete;
    HttpEndpoint &operator=(const HttpEndpoint &) = delete;

    // Binds and starts accepting; throws std::system_error when the address is taken.
    void start(const asio::ip::tcp::endpoint &where);
    void stop();
    asio::ip::tcp::endpoint localEndpoint() const;

private:
    class Connection;
    friend class Connection;

    void accept();

    Handler m_handler;
    asio::ip::tcp::acceptor m_acceptor;
    asio::steady_timer m_retry;
    std::size_t m_open = 0;
    // Connections hold this to learn whether the endpoint still exists when they finish.
    std::shared_ptr<HttpEndpoint *> m_self;
};

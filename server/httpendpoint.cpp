#include "httpendpoint.h"

#include <asio/read_until.hpp>
#include <asio/steady_timer.hpp>
#include <asio/write.hpp>

namespace {

const char *reasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 400:
        return "Bad Request";
    case 404:
        return "Not Found";
    case 405:
        return "Method Not Allowed";
    case 408:
        return "Request Timeout";
    case 413:
        return "Content Too Large";
    case 503:
        return "Service Unavailable";
    default:
        return "Error";
    }
}

} // namespace

class HttpEndpoint::Connection : public std::enable_shared_from_this<Connection>
{
public:
    Connection(asio::ip::tcp::socket socket, std::weak_ptr<HttpEndpoint *> owner)
        : m_socket(std::move(socket)), m_timer(m_socket.get_executor()), m_owner(std::move(owner))
    {
    }

    ~Connection()
    {
        if (const auto owner = m_owner.lock(); owner && *owner)
            --(*owner)->m_open;
    }

    void start()
    {
        m_timer.expires_after(kRequestTime);
        m_timer.async_wait([self = shared_from_this()](const std::error_code &error) {
            if (error || self->m_answered)
                return;
            self->answer(
                HttpEndpoint::Response{408, "text/plain; charset=utf-8", "request took too long\n"},
                false);
        });
        asio::async_read_until(m_socket, asio::dynamic_buffer(m_request, kMaxRequestBytes),
                               "\r\n\r\n",
                               [self = shared_from_this()](const std::error_code &error,
                                                           std::size_t) { self->onRead(error); });
    }

private:
    void onRead(const std::error_code &error)
    {
        if (m_answered)
            return;
        if (error == asio::error::not_found) {
            answer({413, "text/plain; charset=utf-8", "request too large\n"}, false);
            return;
        }
        if (error) {
            close();
            return;
        }
        // "METHOD SP TARGET SP VERSION"; the headers that follow are not needed.
        const std::string_view request(m_request);
        const auto lineEnd = request.find("\r\n");
        const std::string_view line = request.substr(0, lineEnd);
        const auto firstSpace = line.find(' ');
        const auto secondSpace =
            firstSpace == std::string_view::npos ? firstSpace : line.find(' ', firstSpace + 1);
        if (secondSpace == std::string_view::npos ||
            line.substr(secondSpace + 1).rfind("HTTP/1.", 0) != 0) {
            answer({400, "text/plain; charset=utf-8", "bad request\n"}, false);
            return;
        }
        const auto method = line.substr(0, firstSpace);
        std::string_view target = line.substr(firstSpace + 1, secondSpace - firstSpace - 1);
        if (const auto query = target.find('?'); query != std::string_view::npos)
            target = target.substr(0, query);
        if (method != "GET" && method != "HEAD") {
            answer({405, "text/plain; charset=utf-8", "only GET and HEAD\n"}, false);
            return;
        }
        const auto owner = m_owner.lock();
        if (!owner || !*owner) {
            close();
            return;
        }
        answer((*owner)->m_handler(target), method == "HEAD");
    }

    void answer(const HttpEndpoint::Response &response, bool headOnly)
    {
        m_answered = true;
        m_timer.expires_after(kRequestTime);
        m_timer.async_wait([self = shared_from_this()](const std::error_code &error) {
            if (!error)
                self->close();
        });
        m_response = "HTTP/1.1 " + std::to_string(response.status) + " " +
                     reasonPhrase(response.status) + "\r\nContent-Type: " + response.contentType +
                     "\r\nContent-Length: " + std::to_string(response.body.size()) +
                     "\r\nConnection: close\r\nCache-Control: no-store\r\n\r\n";
        if (!headOnly)
            m_response += response.body;
        asio::async_write(m_socket, asio::buffer(m_response),
                          [self = shared_from_this()](const std::error_code &, std::size_t) {
                              std::error_code ignored;
                              self->m_socket.shutdown(asio::ip::tcp::socket::shutdown_both,
                                                      ignored);
                              self->close();
                          });
    }

    void close()
    {
        std::error_code ignored;
        m_timer.cancel();
        m_socket.close(ignored);
    }

    asio::ip::tcp::socket m_socket;
    asio::steady_timer m_timer;
    std::weak_ptr<HttpEndpoint *> m_owner;
    std::string m_request;
    std::string m_response;
    bool m_answered = false;
};

HttpEndpoint::HttpEndpoint(asio::io_context &io, Handler handler)
    : m_handler(std::move(handler)), m_acceptor(io), m_retry(io),
      m_self(std::make_shared<HttpEndpoint *>(this))
{
}

HttpEndpoint::~HttpEndpoint()
{
    *m_self = nullptr;
    stop();
}

void HttpEndpoint::start(const asio::ip::tcp::endpoint &where)
{
    m_acceptor.open(where.protocol());
    m_acceptor.set_option(asio::ip::tcp::acceptor::reuse_address(true));
    m_acceptor.bind(where);
    m_acceptor.listen();
    accept();
}

void HttpEndpoint::stop()
{
    std::error_code ignored;
    m_acceptor.close(ignored);
    m_retry.cancel();
}

asio::ip::tcp::endpoint HttpEndpoint::localEndpoint() const
{
    std::error_code ignored;
    return m_acceptor.local_endpoint(ignored);
}

void HttpEndpoint::accept()
{
    m_acceptor.async_accept([this](const std::error_code &error, asio::ip::tcp::socket socket) {
        if (error == asio::error::operation_aborted || !m_acceptor.is_open())
            return;
        if (error) {
            // Out of descriptors, typically: try again in a moment rather than spin.
            m_retry.expires_after(std::chrono::milliseconds(200));
            m_retry.async_wait([this](const std::error_code &e) {
                if (!e && m_acceptor.is_open())
                    accept();
            });
            return;
        }
        if (m_open >= kMaxConnections) {
            std::error_code ignored;
            socket.close(ignored);
        } else {
            ++m_open;
            std::make_shared<Connection>(std::move(socket), m_self)->start();
        }
        accept();
    });
}

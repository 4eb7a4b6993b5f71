#pragma once

#include <asio/io_context.hpp>
#include <asio/local/stream_protocol.hpp>
#include <asio/steady_timer.hpp>

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <sys/types.h>
#include <vector>

// The server's side of `ostrel-lobby-server admin COMMAND`: a UNIX socket in the data
// folder, open only to the user the server runs as (the socket file is mode 0600, and the
// peer's credentials are checked on every connection as well, since a socket's mode is not
// honoured everywhere). One request per connection: the command's words, separated by
// tabs, ending with a line feed; the answer is "OK" or "ERROR" on a line of its own and
// then text for the operator.
class AdminConsole
{
public:
    struct Peer
    {
        uid_t uid = 0;
        pid_t pid = 0;
        std::string user; // the account name of uid, or the number when it has none
    };
    struct Answer
    {
        bool ok = true;
        std::string text;
    };
    // The handler answers through reply, at once or later, on the io_context's thread;
    // only the first answer counts. reply holds the connection weakly: it may be kept or
    // dropped anywhere.
    using Reply = std::function<void(const Answer &answer)>;
    using Handler =
        std::function<void(const Peer &peer, const std::vector<std::string> &words, Reply reply)>;

    static constexpr std::size_t kMaxRequestBytes = 4096;
    static constexpr std::size_t kMaxConnections = 8;
    static constexpr std::chrono::seconds kRequestTime{5};
    // From the request to the answer: longer than the account store takes to give up.
    static constexpr std::chrono::seconds kAnswerTime{15};
    static constexpr const char *kSocketName = "admin.sock";

    AdminConsole(asio::io_context &io, Handler handler);
    ~AdminConsole();
    AdminConsole(const AdminConsole &) = delete;
    AdminConsole &operator=(const AdminConsole &) = delete;

    // Creates the socket at path. A socket left there by a server that is gone is
    // replaced; one that a running server answers on, or anything that is not a socket,
    // is an error (std::runtime_error).
    void start(const std::string &path);
    void stop();

    // Splits a request line; empty when it is not one.
    static std::vector<std::string> splitRequest(const std::string &line);

    // The client: sends the words to the server whose socket is at path and returns its
    // answer; throws std::runtime_error when it cannot reach the server.
    static Answer ask(const std::string &path, const std::vector<std::string> &words,
                      std::chrono::milliseconds timeout = std::chrono::seconds(30));

private:
    class Connection;
    friend class Connection;

    void accept();

    Handler m_handler;
    asio::local::stream_protocol::acceptor m_acceptor;
    asio::steady_timer m_retry;
    std::string m_path;
    std::size_t m_open = 0;
    std::shared_ptr<AdminConsole *> m_self;
};

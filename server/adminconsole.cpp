#include "adminconsole.h"

#include <asio/read_until.hpp>
#include <asio/write.hpp>

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <pwd.h>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

sockaddr_un socketAddress(const std::string &path)
{
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path)
        throw std::runtime_error("the admin socket's path is too long for a UNIX socket: " + path);
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return address;
}

// A connected stream socket to path, or -1 with errno set.
int connectTo(const std::string &path)
{
    const auto address = socketAddress(path);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
        return -1;
    }
    return fd;
}

std::string userName(uid_t uid)
{
    passwd entry{};
    passwd *found = nullptr;
    std::vector<char> buffer(4096);
    if (getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found) == 0 && found)
        return found->pw_name;
    return std::to_string(uid);
}

} // namespace

class AdminConsole::Connection : public std::enable_shared_from_this<Connection>
{
public:
    Connection(asio::local::stream_protocol::socket socket, std::weak_ptr<AdminConsole *> owner,
               Peer peer)
        : m_socket(std::move(socket)), m_timer(m_socket.get_executor()), m_owner(std::move(owner)),
          m_peer(std::move(peer))
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
            if (!error)
                self->close();
        });
        asio::async_read_until(
            m_socket, asio::dynamic_buffer(m_request, kMaxRequestBytes), '\n',
            [self = shared_from_this()](const std::error_code &error, std::size_t n) {
                self->onRead(error, n);
            });
    }

private:
    void onRead(const std::error_code &error, std::size_t n)
    {
        if (error == asio::error::not_found) {
            reply({false, "the request is too long"});
            return;
        }
        if (error) {
            close();
            return;
        }
        const auto words = splitRequest(m_request.substr(0, n));
        if (words.empty()) {
            reply({false, "no command"});
            return;
        }
        const auto owner = m_owner.lock();
        if (!owner || !*owner) {
            close();
            return;
        }
        // The answer may wait for the account database.
        m_timer.expires_after(kAnswerTime);
        m_timer.async_wait([self = shared_from_this()](const std::error_code &error) {
            if (!error)
                self->close();
        });
        try {
            (*owner)->m_handler(m_peer, words, [weak = weak_from_this()](const Answer &answer) {
                if (const auto self = weak.lock())
                    self->reply(answer);
            });
        } catch (const std::exception &e) {
            reply({false, e.what()});
        }
    }

    void reply(const Answer &answer)
    {
        if (m_replied)
            return;
        m_replied = true;
        m_reply = (answer.ok ? "OK\n" : "ERROR\n") + answer.text;
        if (!m_reply.empty() && m_reply.back() != '\n')
            m_reply += '\n';
        asio::async_write(
            m_socket, asio::buffer(m_reply),
            [self = shared_from_this()](const std::error_code &, std::size_t) { self->close(); });
    }

    void close()
    {
        std::error_code ignored;
        m_timer.cancel();
        m_socket.close(ignored);
    }

    asio::local::stream_protocol::socket m_socket;
    asio::steady_timer m_timer;
    std::weak_ptr<AdminConsole *> m_owner;
    Peer m_peer;
    std::string m_request;
    std::string m_reply;
    bool m_replied = false;
};

AdminConsole::AdminConsole(asio::io_context &io, Handler handler)
    : m_handler(std::move(handler)), m_acceptor(io), m_retry(io),
      m_self(std::make_shared<AdminConsole *>(this))
{
}

AdminConsole::~AdminConsole()
{
    *m_self = nullptr;
    stop();
}

void AdminConsole::start(const std::string &path)
{
    struct stat st = {};
    if (::lstat(path.c_str(), &st) == 0) {
        if (!S_ISSOCK(st.st_mode))
            throw std::runtime_error(path + " exists and is not a socket; not replacing it");
        const int fd = connectTo(path);
        if (fd >= 0) {
            ::close(fd);
            throw std::runtime_error("another server answers on " + path +
                                     " (the same data folder?)");
        }
        if (errno != ECONNREFUSED)
            throw std::runtime_error("cannot check " + path + ": " + std::strerror(errno));
        ::unlink(path.c_str());
    }
    m_acceptor.open(asio::local::stream_protocol());
    // Owner-only from the moment it exists: the mode is set on the socket file that
    // bind creates, through the process's file-creation mask.
    const mode_t previous = ::umask(0177);
    std::error_code error;
    m_acceptor.bind(asio::local::stream_protocol::endpoint(path), error);
    ::umask(previous);
    if (error)
        throw std::runtime_error("cannot create the admin socket " + path + ": " + error.message());
    m_acceptor.listen();
    m_path = path;
    accept();
}

void AdminConsole::stop()
{
    std::error_code ignored;
    const bool wasOpen = m_acceptor.is_open();
    m_acceptor.close(ignored);
    m_retry.cancel();
    if (wasOpen && !m_path.empty())
        ::unlink(m_path.c_str());
}

void AdminConsole::accept()
{
    m_acceptor.async_accept(
        [this](const std::error_code &error, asio::local::stream_protocol::socket socket) {
            if (error == asio::error::operation_aborted || !m_acceptor.is_open())
                return;
            if (error) {
                m_retry.expires_after(std::chrono::milliseconds(200));
                m_retry.async_wait([this](const std::error_code &e) {
                    if (!e && m_acceptor.is_open())
                        accept();
                });
                return;
            }
            ucred credentials{};
            socklen_t length = sizeof credentials;
            const bool known = ::getsockopt(socket.native_handle(), SOL_SOCKET, SO_PEERCRED,
                                            &credentials, &length) == 0;
            std::error_code ignored;
            if (!known || (credentials.uid != ::geteuid() && credentials.uid != 0) ||
                m_open >= kMaxConnections) {
                socket.close(ignored);
            } else {
                ++m_open;
                Peer peer{credentials.uid, credentials.pid, userName(credentials.uid)};
                std::make_shared<Connection>(std::move(socket), m_self, std::move(peer))->start();
            }
            accept();
        });
}

std::vector<std::string> AdminConsole::splitRequest(const std::string &line)
{
    std::string_view text = line;
    if (!text.empty() && text.back() == '\n')
        text.remove_suffix(1);
    std::vector<std::string> words;
    if (text.empty())
        return words;
    for (;;) {
        const auto tab = text.find('\t');
        words.emplace_back(text.substr(0, tab));
        if (tab == std::string_view::npos)
            break;
        text.remove_prefix(tab + 1);
    }
    return words;
}

AdminConsole::Answer AdminConsole::ask(const std::string &path,
                                       const std::vector<std::string> &words,
                                       std::chrono::milliseconds timeout)
{
    std::string request;
    for (std::size_t i = 0; i < words.size(); ++i) {
        for (const char c : words[i])
            if (c == '\t' || c == '\n' || c == '\r')
                throw std::runtime_error("a command's words may not hold tabs or line breaks");
        if (i)
            request += '\t';
        request += words[i];
    }
    request += '\n';
    if (request.size() > kMaxRequestBytes)
        throw std::runtime_error("the command is too long");
    const int fd = connectTo(path);
    if (fd < 0)
        throw std::runtime_error("no server answers on " + path + ": " + std::strerror(errno) +
                                 " (is it running, with this --data folder?)");
    auto fail = [fd](const std::string &why) {
        ::close(fd);
        throw std::runtime_error(why);
    };
    for (std::size_t sent = 0; sent < request.size();) {
        const auto n = ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            fail(std::string("cannot send the command: ") + std::strerror(errno));
        sent += static_cast<std::size_t>(n);
    }
    std::string reply;
    const auto until = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            until - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            fail("the server did not answer in time");
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, static_cast<int>(left.count()));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            continue;
        char buffer[4096];
        const auto n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            fail(std::string("cannot read the answer: ") + std::strerror(errno));
        if (n == 0)
            break;
        reply.append(buffer, static_cast<std::size_t>(n));
        if (reply.size() > 64 * 1024 * 1024)
            fail("the answer is too long");
    }
    ::close(fd);
    const auto lineEnd = reply.find('\n');
    const std::string status = reply.substr(0, lineEnd);
    if (status != "OK" && status != "ERROR")
        throw std::runtime_error(reply.empty() ? "the server closed the connection without an "
                                                 "answer (not its owner?)"
                                               : "the server's answer is not understood");
    return {status == "OK", lineEnd == std::string::npos ? "" : reply.substr(lineEnd + 1)};
}

#include "tcpproxy.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <stdexcept>
#include <sys/socket.h>
#include <unistd.h>

namespace {

sockaddr_in loopback(int port)
{
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

} // namespace

TcpProxy::TcpProxy(int targetPort) : m_targetPort(targetPort)
{
    m_listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = loopback(0);
    socklen_t length = sizeof address;
    if (m_listener < 0 ||
        ::bind(m_listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        ::listen(m_listener, 16) != 0 ||
        ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&address), &length) != 0)
        throw std::runtime_error("proxy: cannot listen on 127.0.0.1");
    m_port = ntohs(address.sin_port);
    m_thread = std::thread([this] { run(); });
}

TcpProxy::~TcpProxy()
{
    m_stop = true;
    m_thread.join();
    for (const Pair &pair : m_pairs) {
        ::close(pair.client);
        ::close(pair.target);
    }
    ::close(m_listener);
}

std::string TcpProxy::recorded()
{
    std::lock_guard lock(m_mutex);
    return m_recorded;
}

bool TcpProxy::forward(int from, int to)
{
    char chunk[16384];
    const ssize_t n = ::recv(from, chunk, sizeof chunk, MSG_DONTWAIT);
    if (n < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    if (n == 0)
        return false;
    {
        std::lock_guard lock(m_mutex);
        m_recorded.append(chunk, static_cast<std::size_t>(n));
    }
    for (ssize_t sent = 0; sent < n;) {
        const ssize_t m =
            ::send(to, chunk + sent, static_cast<std::size_t>(n - sent), MSG_NOSIGNAL);
        if (m <= 0)
            return false;
        sent += m;
    }
    return true;
}

void TcpProxy::run()
{
    while (!m_stop) {
        if (m_stalled) {
            // Silent: nothing is read, so nothing is answered, and nothing is closed.
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            continue;
        }
        std::vector<pollfd> fds;
        fds.push_back({m_listener, POLLIN, 0});
        for (const Pair &pair : m_pairs) {
            fds.push_back({pair.client, POLLIN, 0});
            fds.push_back({pair.target, POLLIN, 0});
        }
        if (::poll(fds.data(), fds.size(), 20) <= 0)
            continue;
        std::vector<Pair> open;
        for (std::size_t i = 0; i < m_pairs.size(); ++i) {
            const Pair &pair = m_pairs[i];
            const auto ready = [&](std::size_t index) {
                return (fds[index].revents & (POLLIN | POLLHUP | POLLERR)) != 0;
            };
            bool alive = true;
            if (ready(1 + 2 * i))
                alive = forward(pair.client, pair.target);
            if (alive && ready(2 + 2 * i))
                alive = forward(pair.target, pair.client);
            if (alive) {
                open.push_back(pair);
            } else {
                ::close(pair.client);
                ::close(pair.target);
            }
        }
        m_pairs = std::move(open);
        if (fds[0].revents & POLLIN) {
            const int client = ::accept4(m_listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (client < 0)
                continue;
            const int target = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            const sockaddr_in address = loopback(m_targetPort);
            if (target < 0 || ::connect(target, reinterpret_cast<const sockaddr *>(&address),
                                        sizeof address) != 0) {
                ::close(client);
                if (target >= 0)
                    ::close(target);
                continue;
            }
            m_pairs.push_back({client, target});
        }
    }
}

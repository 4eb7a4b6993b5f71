#include "httpclient.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <netinet/in.h>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>

std::optional<std::string> httpExchange(int port, std::string_view request,
                                        std::chrono::milliseconds timeout)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return std::nullopt;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return std::nullopt;
    }
    for (std::size_t sent = 0; sent < request.size();) {
        const auto n = ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) {
            ::close(fd);
            return std::nullopt;
        }
        sent += static_cast<std::size_t>(n);
    }
    std::string reply;
    const auto until = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            until - std::chrono::steady_clock::now());
        pollfd p{fd, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) {
            ::close(fd);
            return std::nullopt;
        }
        char buffer[16384];
        const auto n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        reply.append(buffer, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return reply;
}

std::optional<HttpReply> httpGet(int port, const std::string &target,
                                 std::chrono::milliseconds timeout)
{
    const auto raw =
        httpExchange(port, "GET " + target + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n", timeout);
    if (!raw || raw->rfind("HTTP/1.", 0) != 0)
        return std::nullopt;
    HttpReply reply;
    reply.status = std::atoi(raw->c_str() + raw->find(' ') + 1);
    const auto end = raw->find("\r\n\r\n");
    reply.headers = raw->substr(0, end);
    if (end != std::string::npos)
        reply.body = raw->substr(end + 4);
    return reply;
}

std::string urlEncode(std::string_view text)
{
    std::string out;
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') ||
            c == '-' || c == '_' || c == '.' || c == '~') {
            out += c;
        } else {
            char hex[4];
            std::snprintf(hex, sizeof hex, "%%%02X", u);
            out += hex;
        }
    }
    return out;
}

double metricValue(const std::string &page, const std::string &series)
{
    std::istringstream lines(page);
    std::string line;
    while (std::getline(lines, line))
        if (line.rfind(series + " ", 0) == 0)
            return std::stod(line.substr(series.size() + 1));
    return -1;
}

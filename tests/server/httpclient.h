#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

// A blocking HTTP/1.1 exchange with a server on 127.0.0.1, bounded in time: the request
// is sent as given and everything up to the server's close is returned.
struct HttpReply
{
    int status = 0;
    std::string headers;
    std::string body;
};

// Nothing when the connection failed or the server did not close it in time.
std::optional<std::string>
httpExchange(int port, std::string_view request,
             std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));
std::optional<HttpReply>
httpGet(int port, const std::string &target,
        std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));
// "%XX" for everything but unreserved characters, for a query string.
std::string urlEncode(std::string_view text);
// The value of one series ("name" or "name{labels}") in a metrics page, or -1.
double metricValue(const std::string &page, const std::string &series);

#include "servermetrics.h"

#include "encryptit.h"

#include <algorithm>

namespace {

const std::vector<double> kLatencyBounds = {0.0005, 0.001, 0.0025, 0.005, 0.01, 0.025,
                                            0.05,   0.1,   0.25,   0.5,   1,    2.5};
const std::vector<double> kWaitBounds = {0.001, 0.01, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10, 30};

// Where each word of the protocol is counted: its place in kKeywords, or past the end
// ("other").
constexpr auto kCounterOf = [] {
    std::array<std::size_t, ostrel::kWireKeywordCount> index{};
    index.fill(ServerMetrics::kKeywords.size());
    for (std::size_t i = 0; i < ServerMetrics::kKeywords.size(); ++i)
        index[static_cast<std::size_t>(ServerMetrics::kKeywords[i])] = i;
    return index;
}();

std::size_t keywordIndex(std::optional<ostrel::WireKeyword> keyword)
{
    return keyword ? kCounterOf[static_cast<std::size_t>(*keyword)]
                   : ServerMetrics::kKeywords.size();
}

} // namespace

ServerMetrics::ServerMetrics()
    : logins(m_registry.counter("ostrel_logins_total", "Successful logins at this node.")),
      failedLogins(m_registry.counter("ostrel_failed_logins_total",
                                      "Logins refused at this node, for any reason.")),
      accountsCreated(m_registry.counter("ostrel_accounts_created_total",
                                         "Accounts created through this node.")),
      bytesIn(m_registry.counter("ostrel_received_bytes_total",
                                 "Bytes received from clients (inside TLS for TLS clients).")),
      bytesOut(m_registry.counter("ostrel_sent_bytes_total",
                                  "Bytes written to clients (inside TLS for TLS clients).")),
      relayBytes(m_registry.counter("ostrel_relay_bytes_total",
                                    "Bytes of relayed game traffic received from clients.")),
      keptMessages(m_registry.counter("ostrel_kept_messages_total",
                                      "Private messages kept for offline accounts.")),
      storeErrors(m_registry.counter("ostrel_account_store_errors_total",
                                     "Calls to the account store that failed.")),
      storeSeconds(m_registry.histogram("ostrel_account_store_seconds",
                                        "Time a call to the account store took.", kLatencyBounds)),
      hashWaitSeconds(m_registry.histogram("ostrel_hashing_wait_seconds",
                                           "Time a password hash waited in the queue before "
                                           "a worker took it.",
                                           kWaitBounds)),
      adminActions(m_registry.counter("ostrel_admin_actions_total",
                                      "Commands received on the admin console."))
{
    for (std::size_t i = 0; i <= kKeywords.size(); ++i) {
        const std::string keyword(i < kKeywords.size() ? ostrel::wireSpelling(kKeywords[i])
                                                       : "other");
        m_linesIn[i] =
            &m_registry.counter("ostrel_lines_received_total",
                                "Lines received from clients, by keyword.", {{"keyword", keyword}});
    }
    for (std::size_t i = 0; i <= kKeywords.size(); ++i) {
        const std::string keyword(i < kKeywords.size() ? ostrel::wireSpelling(kKeywords[i])
                                                       : "other");
        m_linesOut[i] = &m_registry.counter(
            "ostrel_lines_sent_total",
            "Lines queued for clients, by keyword (a broadcast counts once per receiver).",
            {{"keyword", keyword}});
    }
    static constexpr const char *kDropNames[] = {"slow_reader", "flood",  "login_time",
                                                 "full",        "silent", "line_too_long"};
    for (std::size_t i = 0; i < m_drops.size(); ++i)
        m_drops[i] = &m_registry.counter("ostrel_dropped_connections_total",
                                         "Connections the server ended or refused, by reason.",
                                         {{"reason", kDropNames[i]}});
    static constexpr const char *kWriteNames[] = {"whole", "partial", "refused"};
    for (std::size_t i = 0; i < m_writes.size(); ++i)
        m_writes[i] = &m_registry.counter(
            "ostrel_write_calls_total",
            "System calls that wrote to clients, by what the system took of what it was "
            "offered: all of it, part of it, or nothing (the socket was full).",
            {{"result", kWriteNames[i]}});
}

void ServerMetrics::lineIn(std::optional<ostrel::WireKeyword> keyword)
{
    m_linesIn[keywordIndex(keyword)]->add();
}

void ServerMetrics::lineOut(std::string_view scrambled, std::uint64_t receivers)
{
    // The scrambling keeps lengths and positions: unscrambling the first few bytes is
    // enough to find the keyword.
    char head[16];
    const std::size_t n = std::min(scrambled.size(), sizeof head);
    std::copy_n(scrambled.data(), n, head);
    ostrel::ScrambleInPlace(head, n, ostrel::kWireKey);
    std::string_view text(head, n);
    const auto bar = text.find('|');
    m_linesOut[bar == std::string_view::npos
                   ? kKeywords.size()
                   : keywordIndex(ostrel::wireKeyword(text.substr(0, bar)))]
        ->add(receivers);
}

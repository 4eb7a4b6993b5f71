#include "serverlog.h"

#include <systemd/sd-journal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <sys/stat.h>
#include <sys/uio.h>

namespace {

std::string timestampNow()
{
    const auto now = std::chrono::system_clock::now();
    const auto seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[40];
    const auto n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &utc);
    std::snprintf(text + n, sizeof text - n, ".%03dZ", static_cast<int>(millis));
    return text;
}

// Standard error is the journal when systemd says so (JOURNAL_STREAM names its device
// and inode) and it still is that stream.
bool stderrIsJournal()
{
    const char *stream = std::getenv("JOURNAL_STREAM");
    if (!stream)
        return false;
    unsigned long long device = 0;
    unsigned long long inode = 0;
    if (std::sscanf(stream, "%llu:%llu", &device, &inode) != 2)
        return false;
    struct stat st = {};
    return fstat(2, &st) == 0 && st.st_dev == device && st.st_ino == inode;
}

int priorityOf(ServerLog::Level level)
{
    switch (level) {
    case ServerLog::Level::Debug:
        return 7;
    case ServerLog::Level::Info:
        return 6;
    case ServerLog::Level::Warning:
        return 4;
    case ServerLog::Level::Error:
        return 3;
    }
    return 6;
}

std::string journalKey(std::string_view key)
{
    std::string out = "OSTREL_";
    for (const char c : key)
        out += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A')
               : ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) ? c
                                                                    : '_';
    return out;
}

} // namespace

std::optional<ServerLog::Level> ServerLog::parseLevel(std::string_view text)
{
    if (text == "debug")
        return Level::Debug;
    if (text == "info")
        return Level::Info;
    if (text == "warning" || text == "warn")
        return Level::Warning;
    if (text == "error")
        return Level::Error;
    return std::nullopt;
}

std::string_view ServerLog::levelName(Level level)
{
    switch (level) {
    case Level::Debug:
        return "debug";
    case Level::Info:
        return "info";
    case Level::Warning:
        return "warning";
    case Level::Error:
        return "error";
    }
    return "info";
}

ServerLog::ServerLog(Level threshold) : m_threshold(threshold), m_journal(stderrIsJournal()) {}

std::string ServerLog::quote(std::string_view value)
{
    bool plain = !value.empty();
    for (const char c : value) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= ' ' || c == '"' || c == '=' || c == '\\' || u == 0x7f) {
            plain = false;
            break;
        }
    }
    if (plain)
        return std::string(value);
    std::string out = "\"";
    for (const char c : value) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (u < ' ' || u == 0x7f) {
            // Control bytes from the network never reach the terminal that shows the log.
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", u);
            out += hex;
        } else {
            out += c;
        }
    }
    out += '"';
    return out;
}

std::string ServerLog::format(std::string_view timestamp, Level level, std::string_view event,
                              const Fields &fields)
{
    std::string line;
    line.reserve(128);
    line.append("ts=").append(timestamp);
    line.append(" level=").append(levelName(level));
    line.append(" event=").append(quote(event));
    for (const auto &[key, value] : fields)
        line.append(" ").append(key).append("=").append(quote(value));
    return line;
}

void ServerLog::write(Level level, std::string_view event, const Fields &fields) const
{
    if (!enabled(level))
        return;
    const std::string line = format(timestampNow(), level, event, fields);
    if (m_journal) {
        std::vector<std::string> entries;
        entries.reserve(fields.size() + 3);
        entries.push_back("MESSAGE=" + line.substr(line.find(' ') + 1));
        entries.push_back("PRIORITY=" + std::to_string(priorityOf(level)));
        entries.push_back("OSTREL_EVENT=" + std::string(event));
        for (const auto &[key, value] : fields)
            entries.push_back(journalKey(key) + "=" + value);
        std::vector<iovec> vectors;
        vectors.reserve(entries.size());
        for (auto &entry : entries)
            vectors.push_back({entry.data(), entry.size()});
        if (sd_journal_sendv(vectors.data(), static_cast<int>(vectors.size())) >= 0)
            return;
    }
    std::fprintf(stderr, "%s\n", line.c_str());
}

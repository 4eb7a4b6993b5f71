#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The server's log: one line per event on standard error, as key=value fields after a
// time stamp and a level ("logfmt"), e.g.
//   ts=2026-01-02T03:04:05.678Z level=info event=login name=alice address=127.0.0.1 session=7
// Values with spaces, quotes or "=" are quoted. Under systemd (standard error connected
// to the journal) each event goes to the journal instead, its fields as journal fields
// (OSTREL_EVENT, OSTREL_NAME, ...) beside MESSAGE and PRIORITY.
//
// What is logged never holds a password or the text of a private message: the callers
// pass names, addresses and reasons only.
class ServerLog
{
public:
    enum class Level { Debug, Info, Warning, Error };
    using Fields = std::vector<std::pair<std::string_view, std::string>>;

    // "debug", "info", "warning" (or "warn"), "error"; nothing for anything else.
    static std::optional<Level> parseLevel(std::string_view text);
    static std::string_view levelName(Level level);

    explicit ServerLog(Level threshold = Level::Info);

    bool enabled(Level level) const { return level >= m_threshold; }
    void write(Level level, std::string_view event, const Fields &fields = {}) const;
    // The text line for an event, without the time stamp's line ending.
    static std::string format(std::string_view timestamp, Level level, std::string_view event,
                              const Fields &fields);
    static std::string quote(std::string_view value);

private:
    Level m_threshold;
    bool m_journal = false;
};

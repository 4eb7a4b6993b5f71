#include "clientsession.h"

#include "encryptit.h"
#include "lobbyserver.h"
#include "orvexutils.h"
#include "wirekeyword.h"

#include <asio/post.hpp>
#include <asio/write.hpp>

#include <algorithm>
#include <array>
#include <cerrno>
#include <sys/socket.h>
#include <sys/uio.h>
#include <system_error>

using ostrel::WireKeyword;

namespace {

// Queue entries put together into one write inside TLS.
constexpr std::size_t kMaxBatch = 64;
// Queue entries a connection keeps room for once all is written.
constexpr std::size_t kKeptEntries = 8;
// Queue entries handed to the system in one call (its limit of pieces per call).
constexpr std::size_t kMaxPieces = 1024;
// How much each write's share of a client's line rate keeps at the next: the rate follows
// about the last eight writes.
constexpr float kRateKeep = 0.875f;
// How long a closing client gets to take its last lines and hang up.
constexpr std::chrono::milliseconds kDrainTime{2000};

} // namespace

ClientSession::ClientSession(asio::ip::tcp::socket socket, LobbyServer &server, std::uint64_t id,
                             std::string address, asio::ssl::context *tls)
    : m_socket(std::move(socket)),
      m_tls(tls ? std::make_unique<asio::ssl::stream<asio::ip::tcp::socket &>>(m_socket, *tls)
                : nullptr),
      m_tlsIn(tls ? std::make_unique<std::array<char, 16 * 1024>>() : nullptr), m_server(server),
      m_id(id), m_address(std::move(address)), m_framer(server.limits().maxLine),
      m_flood(server.limits().floodBurst, server.limits().floodRate),
      m_bytes(server.limits().byteBurst, server.limits().byteRate),
      m_relayFlood(server.limits().relayBurst, server.limits().relayRate),
      m_relayBytes(server.limits().relayByteBurst, server.limits().relayByteRate),
      m_connectedAt(Clock::now()), m_lastHeard(m_connectedAt)
{
}

void ClientSession::start()
{
    std::error_code ignored;
    m_socket.non_blocking(true, ignored);
    m_socket.set_option(asio::ip::tcp::no_delay(true), ignored);
    if (!m_tls) {
        waitReadable();
        return;
    }
    // The handshake counts against the time to log in: a client that never finishes it
    // is dropped with the others that never log in. One that fails it (a client speaking
    // the plain protocol to this port, say) hears nothing it could take for a line.
    m_tls->async_handshake(asio::ssl::stream_base::server,
                           [self = shared_from_this()](const std::error_code &error) {
                               if (self->m_state == State::Closed)
                                   return;
                               if (error) {
                                   self->close("TLS handshake failed: " + error.message());
                                   return;
                               }
                               self->readTls();
                           });
}

void ClientSession::readTls()
{
    m_reading = true;
    m_tls->async_read_some(
        asio::buffer(*m_tlsIn),
        [self = shared_from_this()](const std::error_code &error, std::size_t n) {
            self->onTlsRead(error, n);
        });
}

void ClientSession::onTlsRead(const std::error_code &error, std::size_t n)
{
    m_reading = false;
    if (m_state == State::Closed)
        return;
    if (error) {
        close(error == asio::error::eof || error == asio::ssl::error::stream_truncated
                  ? "closed by the client"
                  : error.message());
        return;
    }
    // A draining session reads on only to see the client hang up.
    m_server.metrics().bytesIn.add(n);
    if (m_state == State::Open)
        takeInput(std::string_view(m_tlsIn->data(), n));
    readOn();
}

bool ClientSession::takeInput(std::string_view data)
{
    if (!m_framer.append(data)) {
        m_server.metrics().drop(ServerMetrics::Drop::LineTooLong);
        sendText(wireLine(WireKeyword::ERROR, "Line too long: the server accepts lines of up to " +
                                                  std::to_string(m_server.limits().maxLine) +
                                                  " bytes."));
        closeAfterFlush("line too long");
        return false;
    }
    return processLines();
}

ClientSession::Line ClientSession::makeLine(std::string_view plain)
{
    return OutputLog::single(plain);
}

void ClientSession::sendText(std::string_view plain)
{
    if (!closing())
        send(m_own.append(plain));
}

void ClientSession::sendOwed(std::string_view plain)
{
    if (closing())
        return;
    if (m_owedBytes + plain.size() + 1 > m_server.limits().maxOwedBytes) {
        dropForBacklog("unsent replies beyond " + std::to_string(m_server.limits().maxOwedBytes) +
                       " bytes");
        return;
    }
    enqueue(m_own.append(plain), true);
}

void ClientSession::send(const Line &line)
{
    if (sendLimited(line, false))
        m_server.metrics().lineOut(line.view());
}

void ClientSession::sendPresence(const Line &line)
{
    if (sendLimited(line, true))
        m_server.metrics().lineOut(line.view());
}

bool ClientSession::sendShared(const Line &line, bool presence)
{
    return sendLimited(line, presence);
}

bool ClientSession::sendLimited(const Line &line, bool presence)
{
    if (closing())
        return false;
    // One line larger than the cap still goes out when nothing else waits; otherwise a
    // client that does not read is cut loose rather than letting its backlog grow.
    const std::size_t unsent = m_queuedBytes - m_owedBytes;
    if (unsent > 0 && unsent + line.size() > m_server.limits().maxQueuedBytes) {
        dropForBacklog("unsent output beyond " + std::to_string(m_server.limits().maxQueuedBytes) +
                       " bytes");
        return false;
    }
    append(line, false, presence);
    return true;
}

void ClientSession::enqueue(const Line &line, bool owed, bool presence)
{
    m_server.metrics().lineOut(line.view());
    append(line, owed, presence);
}

void ClientSession::append(const Line &line, bool owed, bool presence)
{
    // One clock reading per write, not per line.
    if (m_linesSinceWrite++ == 0)
        m_firstLineAt = Clock::now();
    m_queuedBytes += line.size();
    if (owed)
        m_owedBytes += line.size();
    // A line that follows the last one queued in its block (the next of a crowd's news, or
    // of a reply's lines) extends its entry, unless a write has that entry already.
    const bool merged = m_queue.size() > m_head + m_inFlight && m_queue.back().owed == owed &&
                        m_queue.back().presence == presence && m_queue.back().line.joins(line);
    if (merged) {
        m_queue.back().line.end = line.end;
    } else {
        m_queue.push_back({line, owed, presence});
        if (!presence)
            ++m_urgent;
    }
    if (presence) {
        if (!m_writing && !m_writeRequested && !m_presenceWaiting) {
            m_presenceWaiting = true;
            m_server.flushPresenceSoon(*this);
        }
        return;
    }
    if (!m_writing && !m_writeRequested)
        scheduleWrite();
    else if (m_writeWaiting && m_queuedBytes >= WritePacer::kFullWrite)
        scheduleWriteNow();
}

std::size_t ClientSession::outputCapacity() const
{
    return m_queue.capacity() * sizeof(Queued) + m_tlsOut.capacity() + m_own.blockCapacity();
}

void ClientSession::scheduleWrite()
{
    m_writeRequested = true;
    const auto now = Clock::now();
    m_writeWaiting =
        m_server.writePacer().request(*this, m_lastWriteAt, linesPerSecond(now), ++m_writeTicket);
}

float ClientSession::secondsSinceWrite(Clock::time_point now) const
{
    // A quiet spell counts as one write window at most: how long a client was quiet says
    // nothing about how many lines its next window brings, and a client that becomes
    // busy after an hour's quiet is seen as busy after a few writes. The time its lines
    // have waited since the first of them counts whole: lines that piled up while a slow
    // reader's socket was full came at their own pace, not all in one window.
    const auto since = m_lastWriteAt == Clock::time_point{} ? m_connectedAt : m_lastWriteAt;
    const auto window = m_server.writePacer().window();
    if (m_linesSinceWrite == 0 || m_firstLineAt < since)
        return std::chrono::duration<float>(std::min(now - since, window)).count();
    return std::chrono::duration<float>(std::min(m_firstLineAt - since, window) +
                                        (now - m_firstLineAt))
        .count();
}

double ClientSession::linesPerSecond(Clock::time_point now) const
{
    const float seconds = secondsSinceWrite(now);
    const float time = m_rateSeconds * kRateKeep + seconds;
    return time > 0 ? (m_rateLines * kRateKeep + static_cast<float>(m_linesSinceWrite)) / time : 0;
}

void ClientSession::noteWrite(Clock::time_point now)
{
    const float seconds = secondsSinceWrite(now);
    m_rateLines = m_rateLines * kRateKeep + static_cast<float>(m_linesSinceWrite);
    m_rateSeconds = m_rateSeconds * kRateKeep + seconds;
    m_linesSinceWrite = 0;
    m_lastWriteAt = now;
}

void ClientSession::scheduleWriteNow()
{
    m_writeWaiting = false;
    m_server.writePacer().requestNow(*this, ++m_writeTicket);
}

void ClientSession::writeDue(std::uint32_t ticket)
{
    if (!m_writeRequested || ticket != m_writeTicket)
        return;
    m_writeRequested = false;
    m_writeWaiting = false;
    if (!m_writing && m_state != State::Closed)
        writeMore();
}

// The backlog that has not reached a write yet is dropped and replaced by the reason,
// which the client reads once it takes what the connection still holds. This may run
// inside a loop over the players (a broadcast), so the server hears of the departure
// from a posted handler.
void ClientSession::dropForBacklog(const std::string &reason)
{
    m_server.metrics().drop(ServerMetrics::Drop::SlowReader);
    // What a write has (in part) already taken stays: a line is never cut off midway.
    const std::size_t keep = m_head + std::max<std::size_t>(m_inFlight, m_headWritten > 0);
    for (std::size_t i = keep; i < m_queue.size(); ++i) {
        if (!m_queue[i].presence)
            --m_urgent;
        m_queuedBytes -= m_queue[i].line.size();
        if (m_queue[i].owed)
            m_owedBytes -= m_queue[i].line.size();
    }
    m_queue.resize(keep);
    m_flushUpTo = std::min(m_flushUpTo, keep);
    enqueue(makeLine(wireLine(WireKeyword::ERROR,
                              "You did not read what the server sent you for too long: "
                              "disconnected.")),
            false);
    m_state = State::Draining;
    m_reason = reason;
    startDeadline(kDrainTime);
    asio::post(m_socket.get_executor(), [self = shared_from_this()]() {
        self->m_server.sessionEnding(*self, self->m_reason);
    });
}

// Reading waits for readiness and then reads into the server's one shared buffer, so an
// idle connection holds no read buffer of its own.
void ClientSession::waitReadable()
{
    if (m_tls) {
        readTls();
        return;
    }
    m_reading = true;
    m_socket.async_wait(
        asio::ip::tcp::socket::wait_read,
        [self = shared_from_this()](const std::error_code &error) { self->onReadable(error); });
}

void ClientSession::onReadable(const std::error_code &error)
{
    m_reading = false;
    if (m_state == State::Closed)
        return;
    if (error) {
        close(error.message());
        return;
    }
    if (m_state == State::Draining) {
        drainInput();
        return;
    }
    auto &buffer = m_server.readBuffer();
    // A few reads per wake-up at most, so one busy client cannot starve the others.
    for (int round = 0; round < 4; ++round) {
        std::error_code readError;
        const std::size_t n = m_socket.read_some(asio::buffer(buffer), readError);
        if (readError == asio::error::would_block || readError == asio::error::try_again)
            break;
        if (readError) {
            close(readError == asio::error::eof ? "closed by the client" : readError.message());
            return;
        }
        m_server.metrics().bytesIn.add(n);
        if (!m_framer.append(std::string_view(buffer.data(), n))) {
            m_server.metrics().drop(ServerMetrics::Drop::LineTooLong);
            sendText(wireLine(WireKeyword::ERROR,
                              "Line too long: the server accepts lines of up to " +
                                  std::to_string(m_server.limits().maxLine) + " bytes."));
            closeAfterFlush("line too long");
            break;
        }
        if (!processLines())
            break;
        if (n < buffer.size())
            break;
    }
    // A draining session keeps reading so that it sees the client hang up; one whose
    // relay line waits for its allowance reads on once the line is handled.
    readOn();
}

double ClientSession::takeRelay(Clock::time_point now, double bytes)
{
    const double wait =
        std::max(m_relayFlood.secondsUntil(now, 1.0), m_relayBytes.secondsUntil(now, bytes));
    if (wait > 0)
        return wait;
    m_relayFlood.take(now);
    m_relayBytes.take(now, bytes);
    return 0;
}

// A game's stream beyond the allowance is slowed, not cut: the line waits here and the
// rest waits in the socket, so the client's own sending backs up instead.
void ClientSession::holdRelay(std::string line, double seconds)
{
    m_heldRelay = std::move(line);
    m_relayHeld = true;
    if (!m_relayTimer)
        m_relayTimer = std::make_unique<asio::steady_timer>(m_socket.get_executor());
    m_relayTimer->expires_after(
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds)));
    m_relayTimer->async_wait([self = shared_from_this()](const std::error_code &error) {
        if (!error)
            self->resumeRelay();
    });
}

void ClientSession::resumeRelay()
{
    if (closing())
        return;
    const auto now = Clock::now();
    const double wait = takeRelay(now, static_cast<double>(m_heldRelay.size()));
    if (wait > 0) {
        holdRelay(std::move(m_heldRelay), wait);
        return;
    }
    m_relayHeld = false;
    m_lastHeard = now;
    const std::string line = std::move(m_heldRelay);
    m_heldRelay.clear();
    m_server.handleLine(*this, line);
    processLines();
    readOn();
}

void ClientSession::readOn()
{
    if (m_state != State::Closed && !m_relayHeld && m_holds == 0 && !m_reading)
        waitReadable();
}

void ClientSession::resumeInput()
{
    if (m_holds == 0 || --m_holds > 0)
        return;
    // A relay line held for its allowance resumes the reading itself.
    if (m_relayHeld)
        return;
    if (m_state == State::Open)
        processLines();
    readOn();
}

bool ClientSession::processLines()
{
    std::string_view view;
    while (!closing() && m_holds == 0 && m_framer.nextLine(view)) {
        const auto now = Clock::now();
        if (view.size() > m_server.limits().maxLine) {
            m_server.metrics().drop(ServerMetrics::Drop::LineTooLong);
            sendText(wireLine(WireKeyword::ERROR,
                              "Line too long: the server accepts lines of up to " +
                                  std::to_string(m_server.limits().maxLine) + " bytes."));
            closeAfterFlush("line too long");
            return false;
        }
        std::string line(view);
        ostrel::ScrambleInPlace(line.data(), line.size(), ostrel::kWireKey);
        // Relayed game traffic comes one line per read of the game's socket, far more
        // often and in more bytes than anyone chats; it has its own, larger allowance.
        std::string_view fields = line;
        const bool relay =
            ostrel::wireKeyword(ostrel::ExtractToken(fields, '|')) == WireKeyword::SEND &&
            ostrel::wireKeyword(ostrel::ExtractToken(fields, '|')) == WireKeyword::DATASEND;
        if (relay) {
            const double wait = takeRelay(now, static_cast<double>(view.size()));
            if (wait > 0) {
                holdRelay(std::move(line), wait);
                return false;
            }
        } else if (!m_flood.take(now)) {
            m_server.metrics().drop(ServerMetrics::Drop::Flood);
            sendText(wireLine(WireKeyword::ERROR,
                              "Flood protection: you sent too many lines too quickly."));
            closeAfterFlush("flooding");
            return false;
        } else if (!m_bytes.take(now, static_cast<double>(view.size()))) {
            m_server.metrics().drop(ServerMetrics::Drop::Flood);
            sendText(
                wireLine(WireKeyword::ERROR, "Flood protection: you sent too much too quickly."));
            closeAfterFlush("flooding with bytes");
            return false;
        }
        m_lastHeard = now;
        m_server.handleLine(*this, line);
    }
    return !closing() && m_holds == 0;
}

void ClientSession::closeAfterFlush(std::string reason)
{
    if (m_state != State::Open)
        return;
    m_state = State::Draining;
    m_reason = std::move(reason);
    // The player leaves the lobby now; only the connection lingers while it drains.
    m_server.sessionEnding(*this, m_reason);
    startDeadline(kDrainTime);
    if (!m_writing && !m_writeRequested)
        writeMore(); // finishes the drain once nothing is left
}

void ClientSession::flushPresence()
{
    m_presenceWaiting = false;
    m_flushUpTo = m_queue.size();
    if (!m_writing && !m_writeRequested && m_state != State::Closed)
        writeMore();
}

// All output is written: half-close so the client reads it all, then wait for its end
// of the connection. Closing straight away with unread input pending would reset the
// connection and could destroy the last lines before the client read them.
void ClientSession::finishDrain()
{
    if (m_sentShutdown)
        return;
    m_sentShutdown = true;
    std::error_code ignored;
    m_socket.shutdown(asio::ip::tcp::socket::shutdown_send, ignored);
}

void ClientSession::drainInput()
{
    auto &buffer = m_server.readBuffer();
    for (;;) {
        std::error_code readError;
        m_socket.read_some(asio::buffer(buffer), readError);
        if (readError == asio::error::would_block || readError == asio::error::try_again)
            break;
        if (readError) {
            close(m_reason);
            return;
        }
    }
    waitReadable();
}

void ClientSession::startDeadline(std::chrono::milliseconds after)
{
    if (!m_deadline)
        m_deadline = std::make_unique<asio::steady_timer>(m_socket.get_executor());
    m_deadline->expires_after(after);
    m_deadline->async_wait([self = shared_from_this()](const std::error_code &error) {
        if (!error)
            self->close(self->m_reason);
    });
}

void ClientSession::armLoginDeadline(Clock::duration after)
{
    if (!m_loginDeadline)
        m_loginDeadline = std::make_unique<asio::steady_timer>(m_socket.get_executor());
    m_loginDeadline->expires_after(after);
    m_loginDeadline->async_wait([self = shared_from_this()](const std::error_code &error) {
        if (!error)
            self->m_server.loginTimeUp(*self);
    });
}

void ClientSession::cancelLoginDeadline()
{
    if (m_loginDeadline)
        m_loginDeadline->cancel();
}

void ClientSession::close(std::string reason)
{
    if (m_state == State::Closed)
        return;
    m_state = State::Closed;
    if (m_reason.empty() || !reason.empty())
        m_reason = std::move(reason);
    asio::post(m_socket.get_executor(), [self = shared_from_this()]() {
        std::error_code ignored;
        if (self->m_deadline)
            self->m_deadline->cancel();
        self->cancelLoginDeadline();
        self->m_socket.close(ignored);
        self->m_server.sessionClosed(*self, self->m_reason);
    });
}

void ClientSession::writeMore()
{
    if (m_head == m_queue.size()) {
        writtenAll();
        return;
    }
    if (m_tls) {
        writeTls();
        return;
    }
    // Everything queued goes to the system in one call (a crowd's news may need several
    // of kMaxPieces entries). What the system does not take waits until the socket can
    // take more: a second call straight away would only be refused, and whatever queues
    // meanwhile leaves with the rest in the call that follows.
    while (m_head < m_queue.size()) {
        std::array<iovec, kMaxPieces> pieces;
        const std::size_t count = std::min(m_queue.size() - m_head, kMaxPieces);
        std::size_t offered = 0;
        for (std::size_t i = 0; i < count; ++i) {
            const Line &line = m_queue[m_head + i].line;
            const std::size_t skip = i == 0 ? m_headWritten : 0;
            pieces[i] = {const_cast<char *>(line.data()) + skip, line.size() - skip};
            offered += line.size() - skip;
        }
        msghdr message{};
        message.msg_iov = pieces.data();
        message.msg_iovlen = count;
        ssize_t sent;
        int error = 0;
        do {
            sent = ::sendmsg(m_socket.native_handle(), &message, MSG_DONTWAIT | MSG_NOSIGNAL);
            error = sent < 0 ? errno : 0;
        } while (error == EINTR);
        if (sent < 0) {
            if (error != EAGAIN && error != EWOULDBLOCK) {
                m_writing = false;
                close(std::system_category().message(error));
                return;
            }
            m_server.metrics().writeCall(ServerMetrics::Write::Refused);
            waitWritable();
            return;
        }
        noteWrite(Clock::now());
        takeWritten(static_cast<std::size_t>(sent));
        if (static_cast<std::size_t>(sent) < offered) {
            m_server.metrics().writeCall(ServerMetrics::Write::Partial);
            waitWritable();
            return;
        }
        m_server.metrics().writeCall(ServerMetrics::Write::Whole);
    }
    writtenAll();
}

void ClientSession::waitWritable()
{
    m_writing = true;
    m_socket.async_wait(asio::ip::tcp::socket::wait_write,
                        [self = shared_from_this()](const std::error_code &error) {
                            self->m_writing = false;
                            if (self->m_state == State::Closed)
                                return;
                            if (error) {
                                self->close(error.message());
                                return;
                            }
                            self->writeMore();
                        });
}

void ClientSession::takeWritten(std::size_t bytes)
{
    m_server.metrics().bytesOut.add(bytes);
    while (bytes > 0) {
        auto &front = m_queue[m_head];
        const std::size_t rest = front.line.size() - m_headWritten;
        if (bytes < rest) {
            m_headWritten += bytes;
            break;
        }
        bytes -= rest;
        m_queuedBytes -= front.line.size();
        if (front.owed)
            m_owedBytes -= front.line.size();
        if (!front.presence)
            --m_urgent;
        front.line = {};
        ++m_head;
        m_headWritten = 0;
    }
    m_own.releaseIfUnused();
    // Compact now and then so the queue does not creep forward forever.
    if (m_head > 64 && m_head * 2 > m_queue.size()) {
        m_queue.erase(m_queue.begin(), m_queue.begin() + static_cast<std::ptrdiff_t>(m_head));
        m_flushUpTo -= std::min(m_flushUpTo, m_head);
        m_head = 0;
    }
}

void ClientSession::writtenAll()
{
    m_writing = false;
    // A burst (a crowd's arrival, a busy room's chat) may have grown the queue; a
    // connection between writes keeps room for a few entries only, as thousands of
    // connections keeping their peak would add up.
    if (m_queue.capacity() > kKeptEntries)
        std::vector<Queued>().swap(m_queue);
    else
        m_queue.clear();
    if (m_tlsOut.capacity() > 4096)
        std::string().swap(m_tlsOut);
    m_own.releaseIfUnused();
    m_head = 0;
    m_headWritten = 0;
    m_flushUpTo = 0;
    if (m_state == State::Draining)
        finishDrain();
}

// Inside TLS the lines of a write are put together so that they leave in as few records
// as fit; the stream writes them to the socket as it can.
void ClientSession::writeTls()
{
    m_writing = true;
    noteWrite(Clock::now());
    m_inFlight = std::min(m_queue.size() - m_head, kMaxBatch);
    m_tlsOut.clear();
    for (std::size_t i = 0; i < m_inFlight; ++i)
        m_tlsOut.append(m_queue[m_head + i].line.view());
    asio::async_write(*m_tls, asio::buffer(m_tlsOut),
                      [self = shared_from_this()](const std::error_code &error, std::size_t) {
                          self->onTlsWritten(error);
                      });
}

void ClientSession::onTlsWritten(const std::error_code &error)
{
    if (m_state == State::Closed) {
        m_writing = false;
        return;
    }
    if (error) {
        m_writing = false;
        close(error.message());
        return;
    }
    m_server.metrics().writeCall(ServerMetrics::Write::Whole);
    m_inFlight = 0;
    takeWritten(m_tlsOut.size());
    // What arrived since the last flush is presence news only: it waits for the next
    // presence flush instead of costing a write of its own.
    if (m_head < m_queue.size() && m_head >= m_flushUpTo && m_urgent == 0 &&
        m_state == State::Open) {
        m_writing = false;
        if (!m_presenceWaiting && !m_writeRequested) {
            m_presenceWaiting = true;
            m_server.flushPresenceSoon(*this);
        }
        return;
    }
    // What queued during the write waits for the window's end.
    if (m_head < m_queue.size() && m_state == State::Open) {
        m_writing = false;
        if (!m_writeRequested)
            scheduleWrite();
        return;
    }
    writeMore();
}

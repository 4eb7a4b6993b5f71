#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// A small blocking client of the lobby protocol over loopback: scrambles what it sends,
// frames and unscrambles what it receives. Every read is bounded by a timeout.
struct ssl_st;

// True when the server tests run over TLS (OSTREL_TEST_TLS=1): the server is started
// with a TLS listener as well, ServerProcess::port() names it, and every WireClient
// speaks TLS to it. The same tests then prove the same behaviour inside TLS.
bool testOverTls();

class WireClient
{
public:
    using Ms = std::chrono::milliseconds;
    static constexpr Ms kWait{5000};

    // source picks the local address on loopback (127.0.0.2, ...), so that one test can
    // speak from several addresses.
    explicit WireClient(int port, const char *source = nullptr);
    // tls: speak TLS to the port whatever the tests run over. receiveBuffer: the socket's
    // receive buffer in bytes, set before connecting so that the window the server sees
    // stays that small (0: the system's default).
    WireClient(int port, bool tls, const char *source = nullptr, int receiveBuffer = 0);
    ~WireClient();
    WireClient(WireClient &&other) noexcept;
    WireClient(const WireClient &) = delete;
    WireClient &operator=(const WireClient &) = delete;

    void send(std::string_view plain);
    void sendRaw(std::string_view bytes);
    // The next line, or nothing when none arrived in time or the server closed.
    std::optional<std::string> next(Ms timeout = kWait);
    // Reads until a line beginning with prefix; the lines read before it go to skipped.
    std::optional<std::string> waitFor(std::string_view prefix, Ms timeout = kWait,
                                       std::vector<std::string> *skipped = nullptr);
    // Reads and discards until the server closes the connection; true when it did.
    bool waitClosed(Ms timeout = kWait, std::vector<std::string> *lines = nullptr);
    void close();
    int fd() const { return m_fd; }

private:
    // Reads what is there (waiting up to `timeout`): >0 bytes, 0 closed, -1 nothing/error.
    long receive(char *buffer, std::size_t size, int timeoutMs);

    int m_fd = -1;
    ssl_st *m_tls = nullptr;
    std::string m_buffer;
};

// The lines a client received before the first line that begins with marker (typically a
// GHAT that everyone gets after the action under test): what is not among them was not
// delivered. Fails the current test when the marker does not arrive.
std::vector<std::string> linesBefore(WireClient &client, const std::string &marker);
bool contains(const std::vector<std::string> &lines, const std::string &line);
// The player entries of a JOINSUBJECT line (after its room), sorted: the order players
// are listed in is the server's own.
std::vector<std::string> listedEntries(const std::string &line);

// Creates an account (LOGINNEW) or logs in, and reads through the login sequence to
// its JOINSUBJECT line. Fails the current test if the login does not succeed.
WireClient createAccount(int port, const std::string &name, const std::string &password = "pw",
                         const std::string &hat = "2", const char *source = nullptr);
WireClient logIn(int port, const std::string &name, const std::string &password = "pw",
                 const char *source = nullptr);
// A new account's record as the client's profile window writes it.
std::string newRecord(const std::string &name, const std::string &password,
                      const std::string &hat = "2");

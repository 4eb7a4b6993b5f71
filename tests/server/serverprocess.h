#pragma once

#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

// A temporary folder that is removed with everything in it.
class TempDir
{
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;
    const std::string &path() const { return m_path; }

private:
    std::string m_path;
};

// The lower-case hex SHA-256 of the certificate in a PEM file; empty when there is none.
std::string certificateFingerprint(const std::string &pemPath);

// The real ostrel-lobby-server binary, started on a free loopback port with cheap password
// hashing, for every test tier (the server's own tests and the end-to-end ones). The
// constructor returns once the server printed its "listening on" lines and throws, with
// the server's log, when it did not; the destructor kills the process if it still runs
// (terminate() stops it as an operator does).
class ServerProcess
{
public:
    struct Setup
    {
        std::vector<std::string> arguments{};
        std::vector<std::pair<std::string, std::string>> environment{};
        // Soft and hard descriptor limit of the server process; 0 leaves it as it is.
        unsigned long descriptorLimit = 0;
        // The address and port to listen on; port 0 picks a free one (a restart passes
        // the port it had).
        std::string listenHost = "127.0.0.1";
        int listenPort = 0;
        // Listen for TLS as well, whatever the run; tlsListenPort as listenPort. A run
        // over TLS (OSTREL_TEST_TLS=1) always does.
        bool tls = false;
        int tlsListenPort = 0;
        // A command the server runs under, for example {"ip", "netns", "exec", NAME}.
        std::vector<std::string> launcher{};
    };

    ServerProcess(const std::string &dataDir, std::vector<std::string> extraArgs = {});
    ServerProcess(const std::string &dataDir, const Setup &setup);
    ~ServerProcess();
    ServerProcess(const ServerProcess &) = delete;
    ServerProcess &operator=(const ServerProcess &) = delete;

    // The port clients use: the TLS listener's when the tests run over TLS.
    int port() const { return m_port; }
    int plainPort() const { return m_plainPort; }
    int tlsPort() const { return m_tlsPort; }
    const std::string &host() const { return m_host; }
    pid_t pid() const { return m_pid; }
    const std::string &dataDir() const { return m_dataDir; }
    const std::string &listeningLine() const { return m_listening; }
    // The fingerprint of the certificate the TLS listener presents (empty without TLS).
    std::string fingerprint() const;
    // The server's standard error so far.
    std::string log() const;
    void signal(int number);
    // Sends SIGTERM and waits (bounded) for the exit; returns the exit status, or -1 when
    // the server did not stop by itself in time (it is killed then).
    int terminate();
    // Waits (bounded) for a server that was told to stop to end by itself; its exit status,
    // or -1 when it still runs (it is killed then).
    int awaitExit();
    bool running();
    // The operator's command that gives an account its class, on this server's data.
    bool setClass(const std::string &name, const std::string &accountClass) const;

    // Runs the binary with the given arguments to its end; returns its exit status and
    // fills output with standard output and error.
    static int runToEnd(const std::vector<std::string> &arguments, std::string &output);

private:
    pid_t m_pid = -1;
    int m_port = 0;
    int m_plainPort = 0;
    int m_tlsPort = 0;
    std::string m_host;
    std::string m_dataDir;
    std::string m_listening;
    std::string m_logPath;
};

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

// The real ostrel-lobby-server binary, started on 127.0.0.1 port 0 with cheap password
// hashing. The constructor returns once the server printed its "listening on" line;
// the destructor kills the process if it still runs.
class ServerProcess
{
public:
    struct Setup
    {
        std::vector<std::string> arguments;
        std::vector<std::pair<std::string, std::string>> environment;
        // Soft and hard descriptor limit of the server process; 0 leaves it as it is.
        unsigned long descriptorLimit = 0;
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
    pid_t pid() const { return m_pid; }
    const std::string &listeningLine() const { return m_listening; }
    // The server's standard error so far.
    std::string log() const;
    void signal(int number);
    // Sends SIGTERM and waits (bounded) for the exit; returns the exit status, or -1 when
    // the server did not stop by itself in time (it is killed then).
    int terminate();
    bool running();

    // Runs the binary with the given arguments to its end; returns its exit status and
    // fills output with standard output and error.
    static int runToEnd(const std::vector<std::string> &arguments, std::string &output);

private:
    pid_t m_pid = -1;
    int m_port = 0;
    int m_plainPort = 0;
    int m_tlsPort = 0;
    std::string m_listening;
    std::string m_logPath;
};

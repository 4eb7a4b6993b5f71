#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

// A server under load, started as a child process on loopback with a temporary folder of
// its own (data or configuration), and stopped with SIGTERM. Either ours (on a port it
// picks, with cheap password hashing) or the IRC server we compare against (on a free
// port, with a generated configuration that lifts its limits to fit the run).
class BenchServer
{
public:
    enum class Kind { Ours, Irc };

    // Exits the program with a message when the server does not start.
    static BenchServer startOurs(const std::string &binary,
                                 const std::vector<std::string> &extraArguments);
    static BenchServer startIrc(const std::string &binary, int pingSeconds);

    // Stops the server and removes its folder; for the IRC server, prints why it closed
    // connections (it cuts off clients that do not take their output fast enough).
    void stop();

    Kind kind() const { return m_kind; }
    pid_t pid() const { return m_pid; }
    int port() const { return m_port; }
    // The TLS listener's port when "--tls-listen" was among the arguments, else 0.
    int tlsPort() const { return m_tlsPort; }
    long rssKiB() const;
    // CPU seconds (user + system) the server has used so far.
    double cpuSeconds() const;
    // CPU seconds (user + system) a process has used so far.
    static double cpuSecondsOf(pid_t pid);
    // The rooms of our server's built-in sample catalogue, game rooms first, then the
    // ladder rooms.
    static const std::vector<std::string> &sampleRooms();

private:
    BenchServer() = default;
    void reportClosings() const;

    Kind m_kind = Kind::Ours;
    pid_t m_pid = -1;
    int m_port = 0;
    int m_tlsPort = 0;
    std::string m_folder;
};

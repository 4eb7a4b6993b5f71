#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// A TCP proxy on 127.0.0.1 in front of a local port: every connection made to port() is
// forwarded there, and everything that crosses it is kept for recorded(). stall() makes
// it a link gone silent: it stops reading and forwarding, both ways and for new
// connections too, but closes nothing, as a dead route or a frozen middlebox would;
// resume() forwards again what waited meanwhile.
class TcpProxy
{
public:
    explicit TcpProxy(int targetPort);
    ~TcpProxy();
    TcpProxy(const TcpProxy &) = delete;
    TcpProxy &operator=(const TcpProxy &) = delete;

    int port() const { return m_port; }
    void stall() { m_stalled = true; }
    void resume() { m_stalled = false; }
    // Both directions of every connection, as they crossed.
    std::string recorded();

private:
    struct Pair
    {
        int client = -1;
        int target = -1;
    };

    void run();
    // False when either side closed.
    bool forward(int from, int to);

    int m_targetPort;
    int m_port = 0;
    int m_listener = -1;
    std::vector<Pair> m_pairs; // the proxy's thread only
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_stalled{false};
    std::mutex m_mutex;
    std::string m_recorded;
    std::thread m_thread;
};

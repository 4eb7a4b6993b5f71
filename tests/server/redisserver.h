#pragma once

#include <string>
#include <sys/types.h>

// A redis-server of the test's own on 127.0.0.1 at a free port, nothing saved to disk,
// stopped with the object. usable() is false (and why() says why) when the program is
// missing or does not start, for a test to skip with.
class RedisServer
{
public:
    RedisServer();
    ~RedisServer();
    RedisServer(const RedisServer &) = delete;
    RedisServer &operator=(const RedisServer &) = delete;

    bool usable() const { return m_pid > 0; }
    const std::string &why() const { return m_why; }
    int port() const { return m_port; }
    pid_t pid() const { return m_pid; }
    std::string address() const { return "redis://127.0.0.1:" + std::to_string(m_port); }

    // Kills the server (SIGKILL) and, when `again`, starts it once more on the same port.
    bool kill(bool again);

private:
    bool start();

    std::string m_program;
    std::string m_dir;
    pid_t m_pid = -1;
    int m_port = 0;
    std::string m_why;
};

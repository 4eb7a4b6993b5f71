#pragma once

#include <sys/types.h>

#include <string>

// Counts the write-like system calls (write, writev, send, sendto, sendmsg, sendmmsg) a
// running process makes between start and stop, through `perf stat` on the kernel's
// syscall tracepoints. A server's work per delivered line shows in how many calls it
// takes, and the count costs the process nothing while it runs. Without perf or the
// permission for the tracepoints the count is unknown (negative).
class SyscallCounter
{
public:
    SyscallCounter() = default;
    ~SyscallCounter();
    SyscallCounter(const SyscallCounter &) = delete;
    SyscallCounter &operator=(const SyscallCounter &) = delete;

    void start(pid_t process);
    // Ends the count; the number of calls since start, or -1 when unknown.
    double stop();

private:
    pid_t m_perf = -1;
    std::string m_output;
};

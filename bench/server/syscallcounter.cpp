#include "syscallcounter.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

constexpr const char *kEvents = "syscalls:sys_enter_write,syscalls:sys_enter_writev,"
                                "syscalls:sys_enter_sendto,syscalls:sys_enter_sendmsg,"
                                "syscalls:sys_enter_sendmmsg";

} // namespace

SyscallCounter::~SyscallCounter()
{
    stop();
}

void SyscallCounter::start(pid_t process)
{
    stop();
    char path[] = "/tmp/ostrel-loadgen-perf-XXXXXX";
    const int fd = mkstemp(path);
    if (fd < 0)
        return;
    close(fd);
    m_output = path;
    const std::string pid = std::to_string(process);
    std::vector<std::string> args = {"perf", "stat", "-x,", "-e",    kEvents,
                                     "-p",   pid,    "-o",  m_output};
    std::vector<char *> argv;
    for (auto &a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t child = -1;
    if (posix_spawnp(&child, "perf", &actions, nullptr, argv.data(), environ) == 0)
        m_perf = child;
    posix_spawn_file_actions_destroy(&actions);
}

double SyscallCounter::stop()
{
    if (m_perf < 0) {
        if (!m_output.empty())
            std::remove(m_output.c_str());
        m_output.clear();
        return -1;
    }
    // perf writes its counts when interrupted.
    kill(m_perf, SIGINT);
    int status = 0;
    while (waitpid(m_perf, &status, 0) < 0 && errno == EINTR) {
    }
    m_perf = -1;
    double total = 0;
    int counted = 0;
    std::ifstream in(m_output);
    std::string line;
    // CSV lines: count,unit,event,...; "<not supported>" or "<not counted>" is no count.
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        const auto comma = line.find(',');
        if (comma == std::string::npos || line.find("syscalls:") == std::string::npos)
            continue;
        char *end = nullptr;
        const double value = std::strtod(line.c_str(), &end);
        if (end != line.c_str() + comma)
            continue;
        total += value;
        ++counted;
    }
    std::remove(m_output.c_str());
    m_output.clear();
    return counted > 0 ? total : -1;
}

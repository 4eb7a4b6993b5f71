#include "postgrescluster.h"

#include "loopbackport.h"

#include <libpq-fe.h>

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <netinet/in.h>
#include <pwd.h>
#include <sstream>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

// The newest PostgreSQL programs Debian installed, else the ones on the PATH.
std::string findBinaries()
{
    std::string best;
    std::error_code ec;
    for (const auto &entry : std::filesystem::directory_iterator("/usr/lib/postgresql", ec)) {
        const auto bin = entry.path() / "bin";
        if (std::filesystem::exists(bin / "initdb") && bin.string() > best)
            best = bin.string();
    }
    if (!best.empty())
        return best;
    for (const char *dir : {"/usr/bin", "/usr/local/bin"}) {
        if (std::filesystem::exists(std::string(dir) + "/initdb") &&
            std::filesystem::exists(std::string(dir) + "/pg_ctl"))
            return dir;
    }
    return {};
}

} // namespace

PostgresCluster &PostgresCluster::shared()
{
    static PostgresCluster instance;
    return instance;
}

PostgresCluster::PostgresCluster()
{
    m_bin = findBinaries();
    if (m_bin.empty()) {
        m_why = "PostgreSQL's initdb and pg_ctl are not installed (Debian: postgresql)";
        return;
    }
    char pattern[] = "/tmp/ostrel-pg-XXXXXX";
    if (!::mkdtemp(pattern)) {
        m_why = "cannot create a temporary folder";
        return;
    }
    m_dir = pattern;
    if (::geteuid() == 0) {
        const passwd *user = ::getpwnam("postgres");
        if (!user) {
            m_why = "running as root and there is no \"postgres\" user to run PostgreSQL as";
            return;
        }
        if (::chown(m_dir.c_str(), user->pw_uid, user->pw_gid) != 0) {
            m_why = "cannot hand the temporary folder to the postgres user";
            return;
        }
        m_asPostgresUser = true;
    }
    std::string output;
    if (!run("initdb", "-D " + m_dir + "/data -U ostrel --auth=trust -E UTF8 --no-sync", &output)) {
        m_why = "initdb failed: " + output;
        return;
    }
    m_port = freeLoopbackPort();
    m_started = start();
}

PostgresCluster::~PostgresCluster()
{
    if (m_started)
        run("pg_ctl", "-D " + m_dir + "/data -m immediate -w -t 20 stop", nullptr);
    if (!m_dir.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }
}

bool PostgresCluster::start()
{
    std::string output;
    // fsync off: the cluster lives as long as the test.
    const std::string options = "-c listen_addresses=127.0.0.1 -p " + std::to_string(m_port) +
                                " -k " + m_dir + " -c fsync=off -c max_connections=40";
    if (!run("pg_ctl",
             "-D " + m_dir + "/data -w -t 30 -l " + m_dir + "/log -o '" + options + "' start",
             &output)) {
        std::ifstream log(m_dir + "/log");
        std::stringstream text;
        text << log.rdbuf();
        m_why = "the PostgreSQL server did not start: " + output + text.str();
        return false;
    }
    return true;
}

bool PostgresCluster::restart()
{
    stop();
    return startAgain();
}

void PostgresCluster::stop()
{
    run("pg_ctl", "-D " + m_dir + "/data -m immediate -w -t 20 stop", nullptr);
}

bool PostgresCluster::startAgain()
{
    m_started = start();
    return m_started;
}

bool PostgresCluster::run(const std::string &program, const std::string &arguments,
                          std::string *output)
{
    const std::string logPath = m_dir + "/command.out";
    std::string command = m_bin + "/" + program + " " + arguments + " >" + logPath + " 2>&1";
    const pid_t child = ::fork();
    if (child < 0)
        return false;
    if (child == 0) {
        if (m_asPostgresUser) {
            const passwd *user = ::getpwnam("postgres");
            if (!user || ::setgid(user->pw_gid) != 0 || ::setuid(user->pw_uid) != 0)
                ::_exit(126);
        }
        ::execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char *>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (output) {
        std::ifstream in(logPath);
        std::stringstream text;
        text << in.rdbuf();
        *output = text.str();
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string PostgresCluster::freshDatabase()
{
    const std::string name = "t" + std::to_string(++m_databases);
    const std::string base = "postgresql://ostrel@127.0.0.1:" + std::to_string(m_port) + "/";
    execute(base + "postgres", "CREATE DATABASE " + name);
    return base + name;
}

void PostgresCluster::execute(const std::string &address, const std::string &sql)
{
    std::unique_ptr<PGconn, void (*)(PGconn *)> connection(PQconnectdb(address.c_str()), PQfinish);
    if (PQstatus(connection.get()) != CONNECTION_OK)
        throw std::runtime_error(PQerrorMessage(connection.get()));
    std::unique_ptr<PGresult, void (*)(PGresult *)> result(PQexec(connection.get(), sql.c_str()),
                                                           PQclear);
    const auto status = PQresultStatus(result.get());
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
        throw std::runtime_error(PQresultErrorMessage(result.get()));
}

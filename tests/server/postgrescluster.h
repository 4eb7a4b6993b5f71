#pragma once

#include <string>

// A PostgreSQL cluster of the test's own: initdb into a temporary folder, the server on
// 127.0.0.1 at a free port with its socket in that folder, stopped and removed with the
// object. As root it runs as the "postgres" system user (PostgreSQL refuses root). When
// the programs are missing or the cluster does not start, usable() is false and why()
// says what went wrong, for a test to skip with.
class PostgresCluster
{
public:
    PostgresCluster();
    ~PostgresCluster();
    PostgresCluster(const PostgresCluster &) = delete;
    PostgresCluster &operator=(const PostgresCluster &) = delete;

    // The one cluster of a test program, started at its first use: initdb and the start
    // take seconds, a fresh database for each test does not.
    static PostgresCluster &shared();

    bool usable() const { return m_started; }
    const std::string &why() const { return m_why; }
    int port() const { return m_port; }

    // A new empty database; its libpq address.
    std::string freshDatabase();
    // Runs SQL on a database (its address); throws with the server's message on failure.
    static void execute(const std::string &address, const std::string &sql);
    // Stops the server at once (as a crash would) and starts it again on the same data.
    bool restart();
    // The two halves of restart(), for a test to act while the database is away.
    void stop();
    bool startAgain();

private:
    bool run(const std::string &program, const std::string &arguments, std::string *output);
    bool start();

    std::string m_bin;
    std::string m_dir;
    int m_port = 0;
    int m_databases = 0;
    bool m_started = false;
    bool m_asPostgresUser = false;
    std::string m_why;
};

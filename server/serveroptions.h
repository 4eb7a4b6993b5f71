#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

// The command line of ostrel-lobby-server:
//   ostrel-lobby-server [--listen HOST:PORT] [--data DIR] [--catalogue FILE] [--news FILE]
//                       [--ping-interval SECONDS] [--login-time SECONDS] [--max-unsent KIB]
//                       [--write-window MS]
//                       [--max-per-address N] [--max-new-per-address N]
//                       [--accounts-per-hour N] [--exempt ADDRESS]... [--accounts WHERE]
//   ostrel-lobby-server set-class NAME CLASS [--data DIR] [--accounts WHERE]
//   ostrel-lobby-server import-accounts SQLITE_FILE --accounts WHERE
//   ostrel-lobby-server admin [--data DIR] COMMAND [ARGUMENT]...
struct ServerOptions
{
    enum class Command { Serve, SetClass, ImportAccounts, Admin, Help };

    Command command = Command::Serve;
    std::string listenHost = "127.0.0.1";
    unsigned short listenPort = 9020;
    // "--listen none": no plain listener (only TLS).
    bool plainListener = true;
    // The TLS listener: the same lines inside TLS 1.2 or later.
    bool tlsListener = false;
    std::string tlsHost = "127.0.0.1";
    unsigned short tlsPort = 9021;
    // PEM files; empty: a self-signed pair kept in the data folder.
    std::string tlsCertificate;
    std::string tlsKey;
    std::string dataDir; // empty: the default under XDG_DATA_HOME
    // Where the accounts are: a PostgreSQL address or an SQLite file; empty: the SQLite
    // file in the data folder.
    std::string accounts;
    // import-accounts: the SQLite file whose accounts go to `accounts`.
    std::string importFrom;
    // The Redis server through which this node meets the other nodes of its lobby
    // ("redis://HOST:PORT"); empty: a lobby of one node.
    std::string cluster;
    std::optional<std::string> catalogueFile;
    std::optional<std::string> newsFile;
    std::chrono::milliseconds pingInterval{30000};
    // How long a connection may take to log in.
    std::chrono::milliseconds loginTime{15000};
    // Unsent output a client that stops reading may pile up before it is dropped.
    std::size_t maxUnsentBytes = 1024 * 1024;
    // How long a client written to moments ago waits before its next write, so that the
    // lines reaching it meanwhile share that write; 0: every loop turn.
    std::chrono::milliseconds writeWindow{30};
    // Connections per remote address, all of them and those not logged in yet.
    std::size_t maxPerAddress = 32;
    std::size_t maxNewPerAddress = 8;
    // New accounts per remote address in any hour.
    std::size_t accountsPerHour = 20;
    // Addresses the per-address limits above and the hashing budget do not apply to (a
    // load generator, a trusted gateway). The login throttle still does.
    std::vector<std::string> exemptAddresses;
    std::string setClassName;
    std::string setClassValue;
    // Metrics and health over HTTP ("--metrics-listen HOST:PORT"); off by default.
    bool metricsListener = false;
    std::string metricsHost = "127.0.0.1";
    unsigned short metricsPort = 9464;
    // debug, info, warning or error.
    std::string logLevel = "info";
    // admin: the command for the running server, word by word.
    std::vector<std::string> adminWords;

    // Throws std::invalid_argument with a message for the user.
    static ServerOptions parse(const std::vector<std::string> &arguments);
    static const char *usage();
    // $XDG_DATA_HOME/ostrel-lobby-server, else ~/.local/share/ostrel-lobby-server.
    static std::string defaultDataDir();
    // The store the server opens: `accounts`, else the data folder's SQLite file.
    std::string accountsLocation() const;
    // The admin console's socket in the data folder.
    std::string adminSocketPath() const;
    // Creates the data folder, when missing, readable by its owner alone: it holds
    // password hashes, kept private messages and the TLS key. Throws
    // std::filesystem::filesystem_error.
    void createDataDir() const;
};

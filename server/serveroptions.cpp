#include "serveroptions.h"

#include "serverlog.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <sys/stat.h>
#include <system_error>

namespace {

void parseListen(const std::string &flag, const std::string &text, std::string &hostOut,
                 unsigned short &portOut)
{
    const auto colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 == text.size())
        throw std::invalid_argument(flag + " wants HOST:PORT, got \"" + text + "\"");
    std::string host = text.substr(0, colon);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    const std::string portText = text.substr(colon + 1);
    char *end = nullptr;
    const long port = std::strtol(portText.c_str(), &end, 10);
    if (*end != '\0' || port < 0 || port > 65535)
        throw std::invalid_argument(flag + ": \"" + portText + "\" is not a port number");
    hostOut = host;
    portOut = static_cast<unsigned short>(port);
}

std::chrono::milliseconds parseSeconds(const std::string &flag, const std::string &text)
{
    char *end = nullptr;
    const double seconds = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(seconds) || seconds < 0.05 ||
        seconds > 86400)
        throw std::invalid_argument(flag + " wants seconds from 0.05 to 86400, got \"" + text +
                                    "\"");
    return std::chrono::milliseconds(static_cast<long long>(std::llround(seconds * 1000)));
}

std::size_t parseCount(const std::string &flag, const std::string &text, std::size_t least)
{
    char *end = nullptr;
    const unsigned long long value = std::strtoull(text.c_str(), &end, 10);
    if (text.empty() || text[0] == '-' || *end != '\0' || value < least || value > 100000000)
        throw std::invalid_argument(flag + " wants a whole number from " + std::to_string(least) +
                                    ", got \"" + text + "\"");
    return static_cast<std::size_t>(value);
}

} // namespace

const char *ServerOptions::usage()
{
    return "usage: ostrel-lobby-server [--listen HOST:PORT|none] [--tls-listen HOST:PORT]\n"
           "                           [--tls-cert FILE --tls-key FILE]\n"
           "                           [--data DIR] [--catalogue FILE]\n"
           "                           [--news FILE] [--ping-interval SECONDS]\n"
           "                           [--login-time SECONDS] [--max-unsent KIB]\n"
           "                           [--write-window MS]\n"
           "                           [--max-per-address N] [--max-new-per-address N]\n"
           "                           [--accounts-per-hour N] [--exempt ADDRESS]...\n"
           "                           [--accounts WHERE] [--cluster redis://HOST:PORT]\n"
           "                           [--metrics-listen HOST:PORT] [--log-level LEVEL]\n"
           "       ostrel-lobby-server set-class NAME CLASS [--data DIR] [--accounts WHERE]\n"
           "       ostrel-lobby-server import-accounts SQLITE_FILE --accounts WHERE\n"
           "       ostrel-lobby-server admin [--data DIR] COMMAND [ARGUMENT]...\n"
           "\n"
           "  --listen HOST:PORT       address to accept clients on (default 127.0.0.1:9020;\n"
           "                           port 0 picks a free port; \"none\": no plain listener)\n"
           "  --tls-listen HOST:PORT   also accept clients inside TLS 1.2 or later there\n"
           "                           (the same lines; e.g. 127.0.0.1:9021)\n"
           "  --tls-cert FILE          the TLS certificate chain (PEM); with --tls-key\n"
           "  --tls-key FILE           its private key (PEM). Without them a self-signed\n"
           "                           pair is made on the first start and kept in the\n"
           "                           data folder (tls-cert.pem, tls-key.pem)\n"
           "  --data DIR               account database folder (default\n"
           "                           $XDG_DATA_HOME/ostrel-lobby-server)\n"
           "  --catalogue FILE         game catalogue, one \"game:\", \"myll:\", \"rmll:\" or\n"
           "                           \"vers:\" line each (default: a built-in sample)\n"
           "  --news FILE              news text sent after login, reread on SIGHUP\n"
           "  --ping-interval SECONDS  liveness ping interval (default 30)\n"
           "  --login-time SECONDS     time a new connection has to log in (default 15)\n"
           "  --max-unsent KIB         unsent output a client that does not read may pile\n"
           "                           up before it is dropped (default 1024)\n"
           "  --write-window MS        a client written to less than MS milliseconds ago\n"
           "                           waits until then for its next write, which takes\n"
           "                           all that reached it meanwhile: fewer system calls\n"
           "                           for busy clients, no wait for a lone line (default\n"
           "                           30; 0: write every loop turn)\n"
           "  --max-per-address N      connections per remote address (default 32)\n"
           "  --max-new-per-address N  of those, connections not logged in yet (default 8)\n"
           "  --accounts-per-hour N    new accounts per remote address and hour (default 20)\n"
           "  --exempt ADDRESS         an address the per-address limits do not apply to\n"
           "                           (repeatable; failed logins are throttled anyway)\n"
           "  --accounts WHERE         where the accounts are kept: a PostgreSQL address\n"
           "                           (postgresql://USER@HOST:PORT/DATABASE, shared by\n"
           "                           several server nodes; the tables are created on\n"
           "                           first start) or an SQLite file (default:\n"
           "                           DIR/accounts.sqlite)\n"
           "  --cluster redis://HOST:PORT\n"
           "                           run as one node of a lobby spread over several\n"
           "                           servers, which meet through this Redis server; needs\n"
           "                           --accounts with the PostgreSQL database they share\n"
           "  --metrics-listen HOST:PORT\n"
           "                           serve metrics (/metrics, Prometheus text format) and\n"
           "                           health (/healthz, /readyz) over HTTP there, e.g.\n"
           "                           127.0.0.1:9464 (default: off)\n"
           "  --log-level LEVEL        debug, info (default), warning or error\n"
           "  set-class NAME CLASS     set an account's class, e.g. H for an administrator\n"
           "  import-accounts SQLITE_FILE\n"
           "                           copy the accounts and waiting messages of an SQLite\n"
           "                           account file into the store --accounts names; names\n"
           "                           already there are kept and reported\n"
           "  admin COMMAND            ask the server running with this data folder, over\n"
           "                           its owner-only socket DIR/admin.sock; in a lobby of\n"
           "                           several nodes the action reaches all of them:\n"
           "      who                  players online: name, room, address, node\n"
           "      kick NAME            end a player's session\n"
           "      silence NAME [MINUTES]  refuse a player's chat (default 60 minutes)\n"
           "      unsilence NAME       lift a silence\n"
           "      shout TEXT           a message box for everyone online\n"
           "      news reload          reread the news file and send the news\n"
           "      accounts set-class NAME CLASS\n"
           "                           set an account's class while the server runs\n"
           "      drain [MINUTES]      take no new logins, tell the players, stop when the\n"
           "                           last one leaves or after MINUTES (default 15)\n";
}

std::string ServerOptions::accountsLocation() const
{
    return accounts.empty() ? dataDir + "/accounts.sqlite" : accounts;
}

std::string ServerOptions::adminSocketPath() const
{
    return dataDir + "/admin.sock";
}

void ServerOptions::createDataDir() const
{
    auto dir = std::filesystem::path(dataDir).lexically_normal();
    if (!dir.has_filename())
        dir = dir.parent_path(); // "data/"
    // The folders above are ordinary ones (~/.local/share); only the last is private.
    if (dir.has_parent_path())
        std::filesystem::create_directories(dir.parent_path());
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        throw std::filesystem::filesystem_error("cannot create the data folder", dir,
                                                std::error_code(errno, std::generic_category()));
}

std::string ServerOptions::defaultDataDir()
{
    const char *xdg = std::getenv("XDG_DATA_HOME");
    if (xdg && *xdg)
        return std::string(xdg) + "/ostrel-lobby-server";
    const char *home = std::getenv("HOME");
    return std::string(home && *home ? home : ".") + "/.local/share/ostrel-lobby-server";
}

ServerOptions ServerOptions::parse(const std::vector<std::string> &arguments)
{
    ServerOptions options;
    std::size_t i = 0;
    if (!arguments.empty() && arguments[0] == "set-class") {
        if (arguments.size() < 3)
            throw std::invalid_argument("set-class wants NAME and CLASS");
        options.command = Command::SetClass;
        options.setClassName = arguments[1];
        options.setClassValue = arguments[2];
        i = 3;
    } else if (!arguments.empty() && arguments[0] == "admin") {
        // The command's words are the operator's text (a shout may say "--data"): only
        // a --data right after "admin" is an option.
        options.command = Command::Admin;
        i = 1;
        if (arguments.size() > 2 && arguments[1] == "--data") {
            options.dataDir = arguments[2];
            i = 3;
        }
        options.adminWords.assign(arguments.begin() + static_cast<std::ptrdiff_t>(i),
                                  arguments.end());
        if (options.adminWords.empty())
            throw std::invalid_argument("admin wants a command, e.g. \"admin who\"");
        if (options.dataDir.empty())
            options.dataDir = defaultDataDir();
        return options;
    } else if (!arguments.empty() && arguments[0] == "import-accounts") {
        if (arguments.size() < 2)
            throw std::invalid_argument("import-accounts wants the SQLite file to read");
        options.command = Command::ImportAccounts;
        options.importFrom = arguments[1];
        i = 2;
    }
    auto value = [&](const std::string &flag) -> const std::string & {
        if (i + 1 >= arguments.size())
            throw std::invalid_argument(flag + " needs a value");
        return arguments[++i];
    };
    for (; i < arguments.size(); ++i) {
        const std::string &arg = arguments[i];
        if (arg == "--help" || arg == "-h") {
            options.command = Command::Help;
            return options;
        }
        if (arg == "--data") {
            options.dataDir = value(arg);
            continue;
        }
        if (arg == "--accounts") {
            options.accounts = value(arg);
            if (options.accounts.empty())
                throw std::invalid_argument("--accounts needs an address or a file");
            continue;
        }
        if (options.command == Command::SetClass)
            throw std::invalid_argument("set-class takes only --data and --accounts, not \"" + arg +
                                        "\"");
        if (options.command == Command::ImportAccounts)
            throw std::invalid_argument("import-accounts takes only --accounts, not \"" + arg +
                                        "\"");
        if (arg == "--listen") {
            const std::string &where = value(arg);
            options.plainListener = where != "none";
            if (options.plainListener)
                parseListen(arg, where, options.listenHost, options.listenPort);
        } else if (arg == "--tls-listen") {
            options.tlsListener = true;
            parseListen(arg, value(arg), options.tlsHost, options.tlsPort);
        } else if (arg == "--tls-cert")
            options.tlsCertificate = value(arg);
        else if (arg == "--tls-key")
            options.tlsKey = value(arg);
        else if (arg == "--catalogue")
            options.catalogueFile = value(arg);
        else if (arg == "--news")
            options.newsFile = value(arg);
        else if (arg == "--ping-interval")
            options.pingInterval = parseSeconds(arg, value(arg));
        else if (arg == "--login-time")
            options.loginTime = parseSeconds(arg, value(arg));
        else if (arg == "--max-unsent")
            options.maxUnsentBytes = parseCount(arg, value(arg), 4) * 1024;
        else if (arg == "--write-window") {
            const std::size_t ms = parseCount(arg, value(arg), 0);
            if (ms > 60000)
                throw std::invalid_argument("--write-window wants milliseconds up to 60000");
            options.writeWindow = std::chrono::milliseconds(ms);
        } else if (arg == "--max-per-address")
            options.maxPerAddress = parseCount(arg, value(arg), 1);
        else if (arg == "--max-new-per-address")
            options.maxNewPerAddress = parseCount(arg, value(arg), 1);
        else if (arg == "--accounts-per-hour")
            options.accountsPerHour = parseCount(arg, value(arg), 0);
        else if (arg == "--exempt")
            options.exemptAddresses.push_back(value(arg));
        else if (arg == "--cluster")
            options.cluster = value(arg);
        else if (arg == "--metrics-listen") {
            options.metricsListener = true;
            parseListen(arg, value(arg), options.metricsHost, options.metricsPort);
        } else if (arg == "--log-level") {
            options.logLevel = value(arg);
            if (!ServerLog::parseLevel(options.logLevel))
                throw std::invalid_argument("--log-level wants debug, info, warning or error, "
                                            "got \"" +
                                            options.logLevel + "\"");
        } else
            throw std::invalid_argument("unknown argument \"" + arg + "\"");
    }
    if (options.dataDir.empty())
        options.dataDir = defaultDataDir();
    if (!options.plainListener && !options.tlsListener && options.command == Command::Serve)
        throw std::invalid_argument("--listen none needs --tls-listen: the server would accept "
                                    "no one");
    if (options.tlsCertificate.empty() != options.tlsKey.empty())
        throw std::invalid_argument("--tls-cert and --tls-key go together");
    if (!options.cluster.empty()) {
        if (options.cluster.rfind("redis://", 0) != 0)
            throw std::invalid_argument("--cluster wants redis://HOST:PORT, got \"" +
                                        options.cluster + "\"");
        // Nodes with accounts of their own would each let the same name be taken anew.
        if (options.accounts.rfind("postgresql://", 0) != 0 &&
            options.accounts.rfind("postgres://", 0) != 0)
            throw std::invalid_argument("--cluster needs --accounts with a PostgreSQL address "
                                        "that every node of the lobby shares");
    }
    if (options.command == Command::ImportAccounts && options.accounts.empty())
        throw std::invalid_argument("import-accounts needs --accounts, the store to fill");
    if (options.command == Command::SetClass) {
        const auto &c = options.setClassValue;
        if (c.size() != 1 || !((c[0] >= 'A' && c[0] <= 'Z') || (c[0] >= 'a' && c[0] <= 'z')))
            throw std::invalid_argument("CLASS is one letter, e.g. H, T, S or N");
    }
    return options;
}

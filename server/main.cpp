#include "accountstore.h"
#include "adminconsole.h"
#include "catalogue.h"
#include "lobbyserver.h"
#include "serveroptions.h"
#include "sqliteaccountstore.h"

#include <asio/io_context.hpp>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <sys/resource.h>

namespace {

std::unique_ptr<AccountStore> openStore(const ServerOptions &options)
{
    if (options.accounts.empty())
        options.createDataDir();
    return AccountStore::open(options.accountsLocation());
}

// Copies every account and waiting message of an SQLite account file into the store the
// options name. An account whose name is taken there is left as it is there, and said.
int importAccounts(const ServerOptions &options)
{
    if (!std::filesystem::is_regular_file(options.importFrom)) {
        std::cerr << "ostrel-lobby-server: no account file " << options.importFrom << "\n";
        return 1;
    }
    if (AccountStore::isPostgresAddress(options.importFrom)) {
        std::cerr << "ostrel-lobby-server: import-accounts reads an SQLite file\n";
        return 2;
    }
    SqliteAccountStore source(options.importFrom);
    auto target = openStore(options);
    std::int64_t copied = 0;
    std::int64_t kept = 0;
    source.forEachAccount([&](const AccountRecord &account) {
        if (target->insert(account)) {
            ++copied;
        } else {
            ++kept;
            std::cout << "kept the existing account " << account.user.UserName << "\n";
        }
    });
    std::int64_t messages = 0;
    source.forEachStoredMessage([&](const std::string &recipient, const StoredMessage &message) {
        target->storeMessage(recipient, message.sender, message.text, message.storedAt);
        ++messages;
    });
    std::cout << copied << " accounts copied, " << kept << " kept as they were, " << messages
              << " waiting messages copied" << std::endl;
    return 0;
}

// Thousands of clients need thousands of descriptors; take what the hard limit allows.
void raiseDescriptorLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

int setClass(const ServerOptions &options)
{
    auto store = openStore(options);
    if (!store->setAccountClass(options.setClassName, options.setClassValue)) {
        std::cerr << "ostrel-lobby-server: no account named " << options.setClassName << "\n";
        return 1;
    }
    const auto account = store->find(options.setClassName);
    std::cout << (account ? account->user.UserName : options.setClassName) << " now has class "
              << options.setClassValue << std::endl;
    return 0;
}

// The console's client: the command goes to the running server, its answer to standard
// output (or standard error when it failed).
int admin(const ServerOptions &options)
{
    const auto answer = AdminConsole::ask(options.adminSocketPath(), options.adminWords);
    (answer.ok ? std::cout : std::cerr) << answer.text << std::flush;
    return answer.ok ? 0 : 1;
}

int serve(const ServerOptions &options)
{
    Catalogue catalogue =
        options.catalogueFile ? Catalogue::fromFile(*options.catalogueFile) : Catalogue::sample();
    raiseDescriptorLimit();
    // A client that vanishes mid-write must not end the process.
    std::signal(SIGPIPE, SIG_IGN);
    asio::io_context io(1);
    LobbyServer server(io, options, std::move(catalogue), openStore(options));
    server.start();
    io.run();
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    std::vector<std::string> arguments(argv + 1, argv + argc);
    if (arguments.size() == 1 && arguments[0] == "--version") {
        std::cout << "ostrel-lobby-server " << OSTREL_VERSION << "\n";
        return 0;
    }
    ServerOptions options;
    try {
        options = ServerOptions::parse(arguments);
    } catch (const std::invalid_argument &e) {
        std::cerr << "ostrel-lobby-server: " << e.what() << "\n\n" << ServerOptions::usage();
        return 2;
    }
    try {
        switch (options.command) {
        case ServerOptions::Command::Help:
            std::cout << ServerOptions::usage();
            return 0;
        case ServerOptions::Command::SetClass:
            return setClass(options);
        case ServerOptions::Command::ImportAccounts:
            return importAccounts(options);
        case ServerOptions::Command::Admin:
            return admin(options);
        case ServerOptions::Command::Serve:
            return serve(options);
        }
    } catch (const std::exception &e) {
        std::cerr << "ostrel-lobby-server: " << e.what() << "\n";
        return 1;
    }
    return 0;
}

#include "accountstore.h"
#include "catalogue.h"
#include "lobbyserver.h"
#include "serveroptions.h"

#include <asio/io_context.hpp>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <sys/resource.h>

namespace {

std::unique_ptr<AccountStore> openStore(const std::string &dataDir)
{
    std::filesystem::create_directories(dataDir);
    return std::make_unique<AccountStore>(dataDir + "/accounts.sqlite");
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
    auto store = openStore(options.dataDir);
    if (!store->setAccountClass(options.setClassName, options.setClassValue)) {
        std::cerr << "ostrel-lobby-server: no account named " << options.setClassName << "\n";
        return 1;
    }
    const auto account = store->find(options.setClassName);
    std::cout << (account ? account->user.UserName : options.setClassName) << " now has class "
              << options.setClassValue << std::endl;
    return 0;
}

int serve(const ServerOptions &options)
{
    Catalogue catalogue =
        options.catalogueFile ? Catalogue::fromFile(*options.catalogueFile) : Catalogue::sample();
    raiseDescriptorLimit();
    // A client that vanishes mid-write must not end the process.
    std::signal(SIGPIPE, SIG_IGN);
    asio::io_context io(1);
    LobbyServer server(io, options, std::move(catalogue), openStore(options.dataDir));
    server.start();
    io.run();
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    std::vector<std::string> arguments(argv + 1, argv + argc);
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
        case ServerOptions::Command::Serve:
            return serve(options);
        }
    } catch (const std::exception &e) {
        std::cerr << "ostrel-lobby-server: " << e.what() << "\n";
        return 1;
    }
    return 0;
}

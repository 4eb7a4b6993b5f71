#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

// The command line of ostrel-lobby-server:
//   ostrel-lobby-server [--listen HOST:PORT] [--data DIR] [--catalogue FILE] [--news FILE]
//                       [--ping-interval SECONDS]
//   ostrel-lobby-server set-class NAME CLASS [--data DIR]
struct ServerOptions
{
    enum class Command { Serve, SetClass, Help };

    Command command = Command::Serve;
    std::string listenHost = "127.0.0.1";
    unsigned short listenPort = 9020;
    std::string dataDir; // empty: the default under XDG_DATA_HOME
    std::optional<std::string> catalogueFile;
    std::optional<std::string> newsFile;
    std::chrono::milliseconds pingInterval{30000};
    std::string setClassName;
    std::string setClassValue;

    // Throws std::invalid_argument with a message for the user.
    static ServerOptions parse(const std::vector<std::string> &arguments);
    static const char *usage();
    // $XDG_DATA_HOME/ostrel-lobby-server, else ~/.local/share/ostrel-lobby-server.
    static std::string defaultDataDir();
};

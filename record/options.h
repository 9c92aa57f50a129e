// options.h: the command line of zentrel-record.
#pragma once
#include <optional>
#include <string>

namespace zentrel::record {

struct Options {
    std::string listenAddress = "127.0.0.1";
    int listenPort = -1;
    std::string routerHost;
    std::string routerPort;
    std::string out = ".";
    int sessions = 1;
    double timeout = 0;   // seconds; 0: none
    bool force = false;
    bool keepSecrets = false;
    bool help = false;
    bool version = false;
};

// The options, or nullopt with a one-line reason in `error`.
std::optional<Options> parseOptions(int argc, char **argv, std::string &error);

extern const char *const Usage;

} // namespace zentrel::record

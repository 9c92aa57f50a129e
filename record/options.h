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
    bool ssh = false;          // --ssh: the client's SSH ends here, a second SSH goes to the router
    std::string hostKey;       // --host-key FILE; empty: a key made for this run
    std::string user;          // --user, --password: the router's login instead of the client's
    std::string password;
    bool commands = false;     // --commands: commands.yaml instead of RESPONSE.TXT and EXPECT.TXT
    bool force = false;
    bool keepSecrets = false;
    bool help = false;
    bool version = false;
};

// The options, or nullopt with a one-line reason in `error`.
std::optional<Options> parseOptions(int argc, char **argv, std::string &error);

extern const char *const Usage;

} // namespace zentrel::record

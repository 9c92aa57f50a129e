// options.h: the command line of zentrel-serve, read and checked before anything listens.
#pragma once
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace zentrel::serve {

// A command line that makes no sense: the message names the problem in one
// line; the program prints it and exits with status 2.
class UsageError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

struct Options {
    std::vector<std::string> dirs;          // one router (or --copies routers) each; "." by default
                                            // (--router NAME adds its starter's directory)
    std::optional<int> port;                // --port: the first router's port; 0 for free ports
    std::string listen = "127.0.0.1";       // --listen
    int copies = 0;                         // --copies; 0: one router per DIR, named after it
    std::size_t sessions = 1;               // --sessions: served at the same time per router
    std::optional<std::uint64_t> connections;  // --connections: ended connections per router
    std::optional<double> timeout;          // --timeout, in seconds
    std::optional<std::string> events;      // --events FILE, "-" for stdout
    std::optional<int> sshPort;             // --ssh-port: as --port, for the SSH ports
    std::optional<std::string> hostKey;     // --host-key FILE: every router's SSH host key
    std::optional<std::string> transcripts; // --transcripts DIR: one asciicast file per session
    std::optional<std::string> junit;       // --junit FILE: the JUnit XML report
    std::optional<std::string> configs;     // --configs DIR: command-driven routers' running configs
    bool keepSecrets = false;               // --keep-secrets: passwords in the reports as typed
    bool listStarters = false;              // --routers: print the starter routers, serve nothing
    bool lint = false;                      // --lint: tell what each DIR's files do, listen on nothing
    bool exitWithParent = false;            // --exit-with-parent: stop when the parent process ends
    std::uint64_t seed = 0;                 // --seed: of the routers' Jitter
    bool help = false;
    bool version = false;
};

// Reads argv[1..]. Options take their value as the next argument or after
// '=' (--port=0); "--" ends the options. Throws UsageError.
Options parseOptions(int argc, const char *const *argv);

// What --help prints.
std::string usageText();

// The whole number in text, or UsageError naming the option: no sign, no
// blanks, no fraction, nothing past `max`.
std::uint64_t wholeNumber(const std::string &option, const std::string &text, std::uint64_t max);

} // namespace zentrel::serve

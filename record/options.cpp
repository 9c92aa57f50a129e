// options.cpp: reads zentrel-record's command line; every mistake is one line naming it.
#include "record/options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <string_view>

namespace zentrel::record {

const char *const Usage =
    "Usage: zentrel-record --listen [ADDR:]PORT --to HOST:PORT [OPTION]...\n"
    "Relays one client to a real router and writes a router directory that\n"
    "zentrel-serve plays back: RESPONSE.TXT, EXPECT.TXT, zentrel.ini, session.cast\n"
    "(Telnet, or SSH with --ssh).\n"
    "\n"
    "  --listen [ADDR:]PORT  where clients connect (ADDR 127.0.0.1 unless given;\n"
    "                        [::1]:PORT for IPv6; PORT 0 takes a free port)\n"
    "  --to HOST:PORT        the router the clients are relayed to\n"
    "  --out DIR             the router directory (default: the current one);\n"
    "                        with --sessions N > 1, DIR/session-1 ... DIR/session-N\n"
    "  --ssh                 clients connect with SSH (the recorder's own host key,\n"
    "                        any login) and are relayed to the router's SSH port,\n"
    "                        logged in with the client's user name and password\n"
    "  --host-key FILE       the recorder's SSH host key (default: one made for this run)\n"
    "  --user NAME           log in to the router as NAME instead of the client's name\n"
    "  --password PASS       and with PASS (else ZENTREL_RECORD_PASSWORD, else the client's)\n"
    "  --commands            write commands.yaml (answers in any order) instead of\n"
    "                        RESPONSE.TXT and EXPECT.TXT\n"
    "  --sessions N          stop after N clients (default 1)\n"
    "  --timeout S           stop after S seconds (exit status 124)\n"
    "  --force               write into a DIR that is not empty\n"
    "  --keep-secrets        keep password answers in EXPECT.TXT (not ~.*) and\n"
    "                        session.cast (not * for each byte)\n"
    "  --help, --version\n";

namespace {

bool parsePort(std::string_view text, int &port)
{
    if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != text.npos)
        return false;
    port = std::atoi(std::string(text).c_str());
    return port <= 65535;
}

// HOST:PORT with HOST maybe in brackets for IPv6; the port part is left as text.
bool splitHostPort(std::string_view text, std::string &host, std::string &port)
{
    const std::size_t colon = text.rfind(':');
    if (colon == text.npos)
        return false;
    std::string_view name = text.substr(0, colon);
    if (name.size() >= 2 && name.front() == '[' && name.back() == ']')
        name = name.substr(1, name.size() - 2);
    host = std::string(name);
    port = std::string(text.substr(colon + 1));
    return true;
}

} // namespace

std::optional<Options> parseOptions(int argc, char **argv, std::string &error)
{
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        auto value = [&](std::string_view &out) {
            if (i + 1 >= argc) {
                error = std::string(arg) + " needs a value";
                return false;
            }
            out = argv[++i];
            return true;
        };
        std::string_view text;
        if (arg == "--help") {
            options.help = true;
        } else if (arg == "--version") {
            options.version = true;
        } else if (arg == "--force") {
            options.force = true;
        } else if (arg == "--keep-secrets") {
            options.keepSecrets = true;
        } else if (arg == "--ssh") {
            options.ssh = true;
        } else if (arg == "--commands") {
            options.commands = true;
        } else if (arg == "--host-key" || arg == "--user" || arg == "--password") {
            if (!value(text))
                return std::nullopt;
            if (text.empty()) {
                error = std::string(arg) + " needs a value";
                return std::nullopt;
            }
            (arg == "--host-key" ? options.hostKey : arg == "--user" ? options.user : options.password) = text;
        } else if (arg == "--listen") {
            if (!value(text))
                return std::nullopt;
            std::string host, port = std::string(text);
            if (text.find(':') != text.npos) {
                splitHostPort(text, host, port);
                if (host.empty()) {
                    error = "--listen " + std::string(text) + ": no address before the port";
                    return std::nullopt;
                }
                options.listenAddress = host;
            }
            if (!parsePort(port, options.listenPort)) {
                error = "--listen " + std::string(text) + ": not a port from 0 to 65535";
                return std::nullopt;
            }
        } else if (arg == "--to") {
            if (!value(text))
                return std::nullopt;
            int port = 0;
            if (!splitHostPort(text, options.routerHost, options.routerPort)
                || options.routerHost.empty() || !parsePort(options.routerPort, port) || port == 0) {
                error = "--to " + std::string(text) + ": expected HOST:PORT with a port from 1 to 65535";
                return std::nullopt;
            }
        } else if (arg == "--out") {
            if (!value(text))
                return std::nullopt;
            if (text.empty()) {
                error = "--out needs a directory";
                return std::nullopt;
            }
            options.out = std::string(text);
        } else if (arg == "--sessions") {
            if (!value(text))
                return std::nullopt;
            int sessions = 0;
            if (!parsePort(text, sessions) || sessions < 1) {
                error = "--sessions " + std::string(text) + ": expected a whole number from 1 to 65535";
                return std::nullopt;
            }
            options.sessions = sessions;
        } else if (arg == "--timeout") {
            if (!value(text))
                return std::nullopt;
            const std::string copy(text);
            char *end = nullptr;
            errno = 0;
            const double seconds = std::strtod(copy.c_str(), &end);
            if (copy.empty() || *end != '\0' || errno != 0 || !std::isfinite(seconds) || seconds <= 0) {
                error = "--timeout " + copy + ": expected a number of seconds above 0";
                return std::nullopt;
            }
            options.timeout = seconds;
        } else {
            error = "unknown option " + std::string(arg) + " (see --help)";
            return std::nullopt;
        }
    }
    if (options.help || options.version)
        return options;
    if (options.listenPort < 0) {
        error = "--listen [ADDR:]PORT is required";
        return std::nullopt;
    }
    if (options.routerHost.empty()) {
        error = "--to HOST:PORT is required";
        return std::nullopt;
    }
    if (!options.ssh && (!options.hostKey.empty() || !options.user.empty() || !options.password.empty())) {
        error = "--host-key, --user and --password go with --ssh";
        return std::nullopt;
    }
    if (const char *password = std::getenv("ZENTREL_RECORD_PASSWORD");
        options.ssh && options.password.empty() && password && *password)
        options.password = password;
    return options;
}

} // namespace zentrel::record

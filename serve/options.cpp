// options.cpp: the command line of zentrel-serve, read and checked before anything listens.
#include "serve/options.h"
#include "serve/starters.h"

#include <arpa/inet.h>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <string_view>

namespace zentrel::serve {

namespace {

constexpr std::uint64_t MaxCopies = 100000;
constexpr std::uint64_t MaxSessions = 1000000;
constexpr std::uint64_t MaxConnections = UINT64_MAX / 2;
constexpr double MaxTimeout = 100.0 * 365 * 24 * 3600;

std::uint64_t positive(const std::string &option, const std::string &text, std::uint64_t max)
{
    const std::uint64_t value = wholeNumber(option, text, max);
    if (value == 0)
        throw UsageError(option + ": must be at least 1, not 0");
    return value;
}

double seconds(const std::string &option, const std::string &text)
{
    char *end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || text.find_first_of(" \t") != std::string::npos
        || !std::isfinite(value))
        throw UsageError(option + ": '" + text + "' is not a number of seconds");
    if (value <= 0 || value > MaxTimeout)
        throw UsageError(option + ": " + text + " seconds is out of range (more than 0, at most 100 years)");
    return value;
}

// An IPv4 or IPv6 address as written, brackets around IPv6 allowed; no host
// names, so that what is listened on is exactly what was asked for.
std::string address(const std::string &option, std::string text)
{
    if (text.size() > 2 && text.front() == '[' && text.back() == ']')
        text = text.substr(1, text.size() - 2);
    unsigned char buffer[sizeof(struct in6_addr)];
    if (::inet_pton(AF_INET, text.c_str(), buffer) != 1
        && ::inet_pton(AF_INET6, text.c_str(), buffer) != 1)
        throw UsageError(option + ": '" + text + "' is not an IPv4 or IPv6 address");
    return text;
}

struct OptionRow {
    std::string_view name;
    bool takesValue;
    std::function<void(Options &, const std::string &name, const std::string &value)> apply;
};

// One row per option; a new option is one more row and one more member of Options.
const std::vector<OptionRow> &optionTable()
{
    static const std::vector<OptionRow> table = {
        {"--port", true, [](Options &o, const std::string &n, const std::string &v) {
             o.port = static_cast<int>(wholeNumber(n, v, 65535));
         }},
        {"--listen", true, [](Options &o, const std::string &n, const std::string &v) {
             o.listen = address(n, v);
         }},
        {"--copies", true, [](Options &o, const std::string &n, const std::string &v) {
             o.copies = static_cast<int>(positive(n, v, MaxCopies));
         }},
        {"--sessions", true, [](Options &o, const std::string &n, const std::string &v) {
             o.sessions = positive(n, v, MaxSessions);
         }},
        {"--connections", true, [](Options &o, const std::string &n, const std::string &v) {
             o.connections = positive(n, v, MaxConnections);
         }},
        {"--timeout", true, [](Options &o, const std::string &n, const std::string &v) {
             o.timeout = seconds(n, v);
         }},
        {"--events", true, [](Options &o, const std::string &n, const std::string &v) {
             if (v.empty())
                 throw UsageError(n + ": needs a file name, or - for standard output");
             o.events = v;
         }},
        {"--transcripts", true, [](Options &o, const std::string &n, const std::string &v) {
             if (v.empty())
                 throw UsageError(n + ": needs a directory");
             o.transcripts = v;
         }},
        {"--junit", true, [](Options &o, const std::string &n, const std::string &v) {
             if (v.empty())
                 throw UsageError(n + ": needs a file name");
             o.junit = v;
         }},
        {"--configs", true, [](Options &o, const std::string &n, const std::string &v) {
             if (v.empty())
                 throw UsageError(n + ": needs a directory");
             o.configs = v;
         }},
        {"--keep-secrets", false,
         [](Options &o, const std::string &, const std::string &) { o.keepSecrets = true; }},
        {"--router", true, [](Options &o, const std::string &, const std::string &v) {
             o.dirs.push_back(starterDir(v));
         }},
        {"--routers", false,
         [](Options &o, const std::string &, const std::string &) { o.listStarters = true; }},
        {"--lint", false, [](Options &o, const std::string &, const std::string &) { o.lint = true; }},
        {"--seed", true, [](Options &o, const std::string &n, const std::string &v) {
             o.seed = wholeNumber(n, v, UINT64_MAX);
         }},
        {"--exit-with-parent", false,
         [](Options &o, const std::string &, const std::string &) { o.exitWithParent = true; }},
        {"--ssh-port", true, [](Options &o, const std::string &n, const std::string &v) {
             o.sshPort = static_cast<int>(wholeNumber(n, v, 65535));
         }},
        {"--host-key", true, [](Options &o, const std::string &n, const std::string &v) {
             if (v.empty())
                 throw UsageError(n + ": needs a private key file");
             o.hostKey = v;
         }},
        {"--help", false, [](Options &o, const std::string &, const std::string &) { o.help = true; }},
        {"--version", false, [](Options &o, const std::string &, const std::string &) { o.version = true; }},
    };
    return table;
}

} // namespace

std::uint64_t wholeNumber(const std::string &option, const std::string &text, std::uint64_t max)
{
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        throw UsageError(option + ": '" + text + "' is not a whole number");
    std::uint64_t value = 0;
    for (const char c : text) {
        const std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
        if (value > (max - digit) / 10)
            throw UsageError(option + ": " + text + " is past " + std::to_string(max));
        value = value * 10 + digit;
    }
    return value;
}

Options parseOptions(int argc, const char *const *argv)
{
    Options options;
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (optionsEnded || argument == "-" || argument.rfind("-", 0) != 0) {
            options.dirs.push_back(argument);
            continue;
        }
        if (argument == "--") {
            optionsEnded = true;
            continue;
        }
        const std::size_t equals = argument.find('=');
        const std::string name = argument.substr(0, equals);
        const OptionRow *row = nullptr;
        for (const OptionRow &candidate : optionTable())
            if (candidate.name == name)
                row = &candidate;
        if (!row)
            throw UsageError("unknown option '" + name + "' (see --help)");
        std::string value;
        if (equals != std::string::npos) {
            if (!row->takesValue)
                throw UsageError(name + " takes no value");
            value = argument.substr(equals + 1);
        } else if (row->takesValue) {
            if (i + 1 >= argc)
                throw UsageError(name + ": needs a value");
            value = argv[++i];
        }
        row->apply(options, name, value);
    }
    if (options.dirs.empty())
        options.dirs.push_back(".");
    return options;
}

std::string usageText()
{
    return "Usage: zentrel-serve [OPTION]... [DIR]...\n"
           "Serve each DIR (default: the current directory) as one emulated router:\n"
           "its RESPONSE.TXT played to every Telnet client at the pace of its zentrel.ini,\n"
           "or, when DIR holds commands.yaml, each line a client types answered as that\n"
           "file says (modes, prompts, a running config; RESPONSE.TXT is then not played).\n"
           "\n"
           "  --router NAME      also serve the starter router NAME (repeatable), named NAME\n"
           "  --routers          list the starter routers and exit\n"
           "  --port P           the first router listens on P, each further one on the next\n"
           "                     port; 0: every router takes a free port\n"
           "  --listen ADDR      the address to listen on (default 127.0.0.1; IPv6 works too)\n"
           "  --copies N         N routers from each DIR, named NAME-1 ... NAME-N\n"
           "  --sessions N       clients each router serves at the same time (default 1);\n"
           "                     further clients wait their turn\n"
           "  --connections N    each router stops listening after N connections have ended\n"
           "  --timeout S        stop after S seconds and exit with status 124\n"
           "  --events FILE      one JSON object per line for each event; - for stdout\n"
           "  --ssh-port P       every router also serves SSH, the first on P, each further\n"
           "                     one on the next port; 0: free ports (else SSH-Port in zentrel.ini)\n"
           "  --host-key FILE    the SSH host key of every router (default: DIR/ssh_host_ed25519_key,\n"
           "                     else an ed25519 key made for this run)\n"
           "  --transcripts DIR  one asciicast v2 transcript per session, DIR/NAME-SESSION.cast\n"
           "  --junit FILE       a JUnit XML report: a suite per router, a case per session\n"
           "  --configs DIR      each command-driven router's running config in DIR/NAME.cfg,\n"
           "                     written at the start, when a session that changed it ends\n"
           "                     and at the exit\n"
           "  --keep-secrets     what a client types at a password prompt appears in the\n"
           "                     events, transcripts and report as typed, not as ***\n"
           "  --exit-with-parent stop as on SIGTERM when the process that started this one\n"
           "                     ends, even by SIGKILL (a test runner that was cancelled)\n"
           "  --seed N           of the routers' Jitter and jitter: (default 0): a run with\n"
           "                     the same seed pauses the same\n"
           "  --lint             print each DIR's items, their times and doubtful spots\n"
           "                     (commands.yaml: its errors and warnings, each with its line);\n"
           "                     listen on nothing (exit 0 clean, 1 warnings, 2 unreadable\n"
           "                     or a router that would not start)\n"
           "  --help             this text\n"
           "  --version          the version number\n"
           "\n"
           "A router whose DIR holds EXPECT.TXT has every session's typed lines checked\n"
           "against it (a line starting with ~ is a regular expression in RE2's syntax).\n"
           "\n"
           "Exit status: 0 all went well, 1 a session failed its check or a transcript or\n"
           "report could not be written, 2 a usage error or a router that cannot start,\n"
           "124 --timeout ran out. SIGTERM and SIGINT stop every router and exit with 0.\n";
}

} // namespace zentrel::serve

// fleet_plan.cpp: the routers a command line asks for: names, directories, ports and pauses.
#include "serve/fleet_plan.h"

#include "console/commands/model.h"
#include "console/router_settings.h"
#include "console/script.h"
#include "platform/posix/posix_profile.h"
#include "serve/console_settings.h"

#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <set>
#include <sys/stat.h>

namespace zentrel::serve {

namespace {

std::string absoluteDir(const std::string &dir)
{
    struct stat info {};
    if (::stat(dir.c_str(), &info) != 0)
        throw UsageError("router directory '" + dir + "': " + std::strerror(errno));
    if (!S_ISDIR(info.st_mode))
        throw UsageError("router directory '" + dir + "': not a directory");
    char resolved[PATH_MAX];
    if (!::realpath(dir.c_str(), resolved))
        throw UsageError("router directory '" + dir + "': " + std::strerror(errno));
    return resolved;
}

std::string baseName(const std::string &path)
{
    const std::size_t slash = path.find_last_of('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    return name.empty() ? "root" : name;
}

// A port from zentrel.ini as the window takes it: the nearest whole number,
// halves to the even one.
long long settingsPort(double value, const char *key, const std::string &dir, const std::string &iniPath)
{
    const double rounded = std::nearbyint(value);
    if (rounded < 1 || rounded > 65535) {
        char text[64];
        std::snprintf(text, sizeof text, "%.15g", value);
        throw UsageError("router '" + baseName(dir) + "': " + key + " " + text + " in " + iniPath
                         + " is not a port from 1 to 65535");
    }
    return static_cast<long long>(rounded);
}

} // namespace

std::vector<RouterPlan> planRouters(const Options &options)
{
    platform::PosixProfile profile;
    std::vector<RouterPlan> plans;
    std::set<std::string> names;
    const int copies = options.copies > 0 ? options.copies : 1;
    long long nextPort = options.port ? *options.port : 0;
    long long nextSshPort = options.sshPort ? *options.sshPort : 0;

    for (const std::string &given : options.dirs) {
        const std::string dir = absoluteDir(given);
        const std::string iniPath = dir + "/zentrel.ini";
        const console::RouterSettings settings = console::readRouterSettings(profile, iniPath);

        const long long firstPort =
            options.port ? nextPort : settingsPort(settings.port, "TCP-Port", dir, iniPath);
        const ConsoleSettings console = readConsoleSettings(profile, iniPath, baseName(dir));
        long long firstSshPort = -1;
        if (options.sshPort)
            firstSshPort = nextSshPort;
        else if (console.sshPort != 0)
            firstSshPort = settingsPort(console.sshPort, "SSH-Port", dir, iniPath);
        struct stat hostKey {};
        std::string hostKeyPath = dir + "/ssh_host_ed25519_key";
        if (options.hostKey)
            hostKeyPath = *options.hostKey;
        else if (::stat(hostKeyPath.c_str(), &hostKey) != 0)
            hostKeyPath.clear();

        struct stat script {};
        const std::string scriptPath = dir + "/" + console::ResponseFile;
        const bool missing = ::stat(scriptPath.c_str(), &script) != 0 && errno == ENOENT;
        const bool commandDriven = console::commands::hasCommandsFile(dir);

        for (int copy = 1; copy <= copies; ++copy) {
            RouterPlan plan;
            plan.name = options.copies > 0 ? baseName(dir) + "-" + std::to_string(copy) : baseName(dir);
            plan.dir = dir;
            plan.scriptPath = scriptPath;
            plan.delay = settings.delay;
            plan.scriptMissing = missing && !commandDriven;
            plan.commandDriven = commandDriven;
            // Copies take the ports after the first; 0 asks each for a free one.
            auto copyPort = [&](const std::optional<int> &option, long long first, const char *what) {
                const long long port = option && *option == 0 ? 0 : first + copy - 1;
                if (port > 65535)
                    throw UsageError("router '" + plan.name + "': " + what + " " + std::to_string(port)
                                     + " is past 65535");
                return static_cast<int>(port);
            };
            plan.port = copyPort(options.port, firstPort, "port");
            if (firstSshPort >= 0)
                plan.sshPort = copyPort(options.sshPort, firstSshPort, "SSH port");
            plan.sshUser = console.sshUser;
            plan.sshPassword = console.sshPassword;
            plan.hostKeyPath = hostKeyPath;
            // A command-driven router echoes over Telnet as a router's console does.
            plan.echoTelnet = commandDriven || console.echo.value_or(false);
            plan.echoSsh = console.echo.value_or(true);
            plan.pace = console.pace;
            plan.mismatchClose = console.mismatchClose;
            plan.faults = console.faults;
            plan.faults.seed = options.seed;
            // Names key the reports and transcripts, so two routers may not share one.
            if (!names.insert(plan.name).second)
                throw UsageError("two routers named '" + plan.name
                                 + "': give the directories different names");
            plans.push_back(std::move(plan));
        }
        if (options.port && *options.port != 0)
            nextPort = firstPort + copies;
        if (options.sshPort && *options.sshPort != 0)
            nextSshPort = firstSshPort + copies;
    }
    return plans;
}

} // namespace zentrel::serve

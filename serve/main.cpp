// main.cpp: zentrel-serve, the routers of one or more directories served without a window.
#include "app/version.h"
#include "platform/posix/posix_loop.h"
#include "serve/events.h"
#include "serve/exit_status.h"
#include "serve/expect_file.h"
#include "serve/fleet.h"
#include "serve/fleet_plan.h"
#include "serve/lint.h"
#include "serve/options.h"
#include "serve/session_records.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <functional>
#include <map>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

namespace {

using namespace zentrel;
using namespace zentrel::serve;

// Descriptors the program needs besides one listener per router: stdio,
// the loop's own, the events file, a script being read, and clients.
constexpr rlim_t Reserve = 64;
constexpr double DrainFor = 2.0;
constexpr double DrainPoll = 0.01;

int usageError(const std::string &text)
{
    std::fprintf(stderr, "zentrel-serve: %s\n", text.c_str());
    return ExitUsage;
}

// Raises the soft limit to the hard one: a fleet of routers with their
// clients needs far more than the usual 1024.
bool enoughDescriptors(std::size_t routers, std::string &problem)
{
    rlimit limit {};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        problem = std::string("cannot read the descriptor limit: ") + std::strerror(errno);
        return false;
    }
    if (limit.rlim_cur < limit.rlim_max) {
        rlimit raised = limit;
        raised.rlim_cur = limit.rlim_max;
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0)
            limit = raised;
        else
            std::fprintf(stderr, "zentrel-serve: cannot raise the descriptor limit to %llu: %s\n",
                         static_cast<unsigned long long>(limit.rlim_max), std::strerror(errno));
    }
    if (limit.rlim_cur != RLIM_INFINITY && routers + Reserve > limit.rlim_cur) {
        problem = std::to_string(routers) + " routers need at least " + std::to_string(routers + Reserve)
                  + " descriptors, and the limit is " + std::to_string(limit.rlim_cur)
                  + " (ulimit -n)";
        return false;
    }
    return true;
}

int openEvents(const std::string &target)
{
    if (target == "-")
        return STDOUT_FILENO;
    int fd;
    do
        fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOCTTY, 0644);
    while (fd < 0 && errno == EINTR);
    return fd;
}

int serveRouters(const Options &options)
{
    std::vector<RouterPlan> plans;
    try {
        plans = planRouters(options);
    } catch (const UsageError &error) {
        return usageError(error.what());
    }
    std::string problem;
    if (!enoughDescriptors(plans.size(), problem))
        return usageError(problem);

    int eventsFd = -1;
    if (options.events) {
        eventsFd = openEvents(*options.events);
        if (eventsFd < 0)
            return usageError("--events: cannot open '" + *options.events + "': " + std::strerror(errno));
    }
    // The status line would tear through events written to the same terminal.
    const bool statusLine = ::isatty(STDERR_FILENO) && !(eventsFd == STDOUT_FILENO && ::isatty(STDOUT_FILENO));

    platform::PosixLoop loop;
    EventLog log(loop, {eventsFd, statusLine});
    SessionRecords records(loop, log,
                           {options.transcripts.value_or(""), options.junit.value_or(""), options.keepSecrets},
                           [&](const std::string &failure) { log.error(failure); });
    std::map<std::string, console::SessionObserver *> observers;   // by router
    for (const RouterPlan &plan : plans) {
        try {
            observers[plan.name] = &records.addRouter({plan.name, plan.port, plan.delay, loadRouterExpect(plan.dir)});
        } catch (const ExpectError &error) {
            log.finish();
            return usageError(error.what());
        }
    }
    if (const std::string failure = records.prepare(); !failure.empty()) {
        log.finish();
        return usageError(failure);
    }
    records.onCheckFailed = [](const std::string &report) { std::fputs(report.c_str(), stderr); };
    Fleet fleet(loop, log, [&](const RouterPlan &plan) -> console::SessionObserver & { return *observers.at(plan.name); },
                {options.listen, options.sessions, options.connections}, plans);

    int status = ExitOk;
    bool stopping = false;
    auto stopAll = [&](const char *why, int exitStatus) {
        if (stopping)
            return;
        stopping = true;
        status = exitStatus;
        log.stopping(why);
        fleet.stop();
    };
    loop.onSignal(SIGTERM, [&] { stopAll("signal", ExitOk); });
    loop.onSignal(SIGINT, [&] { stopAll("signal", ExitOk); });
    // The terminal it was started from has closed: stop the same way.
    loop.onSignal(SIGHUP, [&] { stopAll("signal", ExitOk); });
    // What was queued for the clients still goes out before the exit, as long
    // as they read it within a moment.
    double drainUntil = 0;
    std::function<void()> drain = [&] {
        if (loop.lingering() == 0 || loop.now() >= drainUntil) {
            loop.quit();
            return;
        }
        loop.at(loop.now() + DrainPoll, drain);
    };
    fleet.onDone = [&] {
        drainUntil = loop.now() + DrainFor;
        drain();
    };

    for (const RouterPlan &plan : plans) {
        if (plan.scriptMissing) {
            console::SessionInfo info;
            info.router = plan.name;
            log.warning(info, plan.scriptPath + " is missing: clients get no bytes, then the close");
        }
    }
    try {
        fleet.start();
    } catch (const StartError &error) {
        log.finish();
        return usageError(error.what());
    }
    if (options.timeout)
        loop.at(loop.now() + *options.timeout, [&] { stopAll("timeout", ExitTimedOut); });

    loop.run();
    // Clients that did not take what was theirs within the drain are let go.
    loop.letGoLingering();
    records.finish();
    if (status == ExitOk && (records.anyCheckFailed() || records.anyWriteFailed()))
        status = ExitFailed;
    log.exiting(status);
    log.finish();
    return status;
}

} // namespace

int main(int argc, char **argv)
{
    // A client that leaves makes a send fail; the session reports that.
    std::signal(SIGPIPE, SIG_IGN);
    Options options;
    try {
        options = parseOptions(argc, argv);
    } catch (const UsageError &error) {
        return usageError(error.what());
    }
    if (options.help) {
        std::fputs(usageText().c_str(), stdout);
        return ExitOk;
    }
    if (options.version) {
        std::printf("zentrel-serve %s\n", app::Version);
        return ExitOk;
    }
    if (options.lint)
        return lintCommand(options.dirs);
    try {
        return serveRouters(options);
    } catch (const std::exception &error) {
        std::fprintf(stderr, "zentrel-serve: %s\n", error.what());
        return ExitUsage;
    }
}

// main.cpp: zentrel-serve, the routers of one or more directories served without a window.
#include "app/version.h"
#include "platform/posix/line_writer.h"
#include "platform/posix/output_files.h"
#include "platform/posix/posix_loop.h"
#include "platform/posix/posix_text_files.h"
#include "serve/command_router.h"
#include "serve/config_files.h"
#include "serve/events.h"
#include "serve/exit_status.h"
#include "serve/expect_file.h"
#include "serve/fleet.h"
#include "serve/fleet_plan.h"
#include "serve/lint.h"
#include "serve/options.h"
#include "serve/session_records.h"
#include "serve/starters.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <sys/prctl.h>
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
constexpr std::size_t EventQueue = 4 << 20;   // bytes of events waiting for a slow reader at most
constexpr double EventsFlushFor = 0.5;        // at the exit, for a reader that has stalled
constexpr std::size_t StderrQueue = 256 << 10;  // bytes of stderr's lines waiting for a slow reader at most

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

std::string droppedEvent(std::uint64_t count)
{
    return "{\"event\":\"dropped\",\"count\":" + std::to_string(count) + "}\n";
}

std::string droppedStderr(std::uint64_t count)
{
    return "zentrel-serve: " + std::to_string(count) + " line(s) of this output were dropped: they were not read in time\n";
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
        std::string error;
        eventsFd = *options.events == "-" ? STDOUT_FILENO : platform::openOutputStream(*options.events, error);
        if (eventsFd < 0)
            return usageError("--events: " + error);
    }
    // The status line would tear through events written to the same terminal.
    const bool statusLine = ::isatty(STDERR_FILENO) && !(eventsFd == STDOUT_FILENO && ::isatty(STDOUT_FILENO));

    platform::PosixLoop loop;
    // A stderr that nobody reads (a pipe its parent never drains) stops none
    // of the routers; what it missed it is told in a line of its own.
    platform::LineWriter stderrLines(loop, {STDERR_FILENO, true, StderrQueue, droppedStderr, {}});
    // Nor does a reader that stops reading the events.
    std::optional<platform::LineWriter> events;
    if (eventsFd >= 0)
        events.emplace(loop, platform::LineWriter::Setup{
                                 eventsFd, eventsFd == STDOUT_FILENO, EventQueue, droppedEvent,
                                 [&stderrLines](const std::string &text) {
                                     stderrLines.write("zentrel-serve: events: " + text + "\n");
                                 }});
    EventLog log(loop, {eventsFd, statusLine, events ? &*events : nullptr, &stderrLines, options.seed});
    auto endEvents = [&] {
        log.finish();
        if (events)
            events->finish(EventsFlushFor);
        stderrLines.finish(EventsFlushFor);
    };
    // Each commands.yaml is read once, before anything listens.
    platform::PosixTextFiles files;
    std::optional<ConfigFiles> configs;
    if (options.configs)
        configs.emplace(*options.configs);
    CommandRouters commandRouters(files, configs ? &*configs : nullptr,
                                  [&](const std::string &failure) { log.error(failure); });
    try {
        commandRouters.load(plans);
    } catch (const console::commands::ModelError &error) {
        endEvents();
        return usageError(error.what());
    }
    SessionRecords records(loop, log,
                           {options.transcripts.value_or(""), options.junit.value_or(""), options.keepSecrets},
                           [&](const std::string &failure) { log.error(failure); });
    // Mismatch=Close in zentrel.ini, or on-mismatch: close in commands.yaml.
    auto mismatchClose = [&](const RouterPlan &plan) {
        const CommandRouter *router = commandRouters.find(plan.name);
        return plan.mismatchClose || (router && router->model().mismatchClose);
    };
    std::map<std::string, console::SessionObserver *> observers;   // by router
    for (const RouterPlan &plan : plans) {
        try {
            observers[plan.name] = &records.addRouter(
                {plan.name, plan.port, plan.delay, loadRouterExpect(plan.dir), mismatchClose(plan)});
        } catch (const ExpectError &error) {
            endEvents();
            return usageError(error.what());
        }
    }
    if (const std::string failure = records.prepare(); !failure.empty()) {
        endEvents();
        return usageError(failure);
    }
    records.onCheckFailed = [](const std::string &report) { std::fputs(report.c_str(), stderr); };

    if (const std::string failure = configs ? configs->prepare() : ""; !failure.empty()) {
        endEvents();
        return usageError(failure);
    }
    // From the start, each router's file holds its config as it stands.
    commandRouters.saveConfigs();
    Fleet fleet(loop, log, [&](const RouterPlan &plan) -> console::SessionObserver & { return *observers.at(plan.name); },
                {options.listen, options.sessions, options.connections}, plans,
                [&](const RouterPlan &plan) { return commandRouters.find(plan.name); });

    // Read before any signal is blocked: until the loop runs, SIGTERM ends
    // the program as it would any other.
    try {
        fleet.loadHostKeys();
    } catch (const StartError &error) {
        endEvents();
        return usageError(error.what());
    }

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
        endEvents();
        return usageError(error.what());
    }
    for (std::size_t router = 0; router < plans.size(); ++router)
        records.listening(router, fleet.port(router));
    if (options.timeout)
        loop.at(loop.now() + *options.timeout, [&] { stopAll("timeout", ExitTimedOut); });

    loop.run();
    // Clients that did not take what was theirs within the drain are let go.
    loop.letGoLingering();
    commandRouters.saveConfigs();
    records.finish();
    if (status == ExitOk && (records.anyCheckFailed() || records.anyWriteFailed() || commandRouters.anySaveFailed()))
        status = ExitFailed;
    log.exiting(status);
    endEvents();
    return status;
}

// The parent's death sends SIGTERM, which stops every router as an operator's
// would. Only a parent that is still the one that started the program counts.
void exitWithParent(pid_t parent)
{
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent)
        ::raise(SIGTERM);
}

} // namespace

int main(int argc, char **argv)
{
    const pid_t parent = ::getppid();
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
    if (options.listStarters) {
        try {
            std::fputs(startersText().c_str(), stdout);
        } catch (const UsageError &error) {
            return usageError(error.what());
        }
        return ExitOk;
    }
    if (options.lint)
        return lintCommand(options.dirs);
    if (options.exitWithParent)
        exitWithParent(parent);
    try {
        return serveRouters(options);
    } catch (const std::exception &error) {
        std::fprintf(stderr, "zentrel-serve: %s\n", error.what());
        return ExitUsage;
    }
}

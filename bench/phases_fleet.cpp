// phases_fleet.cpp: phase 6, the fleet: start-up of 1,000 routers, thousands of paced sessions, connection rate.
#include "fleet.h"

#include "clock.h"
#include "fleet_client.h"
#include "fleet_lateness.h"
#include "proc_stats.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <sys/resource.h>
#include <thread>

namespace zentrel::bench {

namespace {

constexpr int readyRouters = 1000;
constexpr int sessionsPerRouter = 100;
constexpr int rateRouters = 20;
constexpr int rateInFlight = 100;
constexpr int rateConnections = 20000;

double clientCpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_THREAD, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
}

// Counts the server's descriptors now and then on a thread of its own, so
// the client's timestamps never wait for a walk through /proc.
class DescriptorWatch
{
public:
    explicit DescriptorWatch(pid_t pid)
        : m_thread([this, pid] {
              while (!m_stop) {
                  m_peak = std::max(m_peak.load(), descriptorCount(pid));
                  for (int i = 0; i < 20 && !m_stop; ++i)
                      sleepFor(0.01);
              }
          })
    {
    }
    ~DescriptorWatch() { stop(); }
    int stop()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
        return m_peak;
    }

private:
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_peak{-1};
    std::thread m_thread;
};

} // namespace

FleetBench::FleetBench(FleetOptions options, std::string workRoot, Report &report)
    : m_options(std::move(options)), m_workRoot(std::move(workRoot)), m_report(report)
{
}

const char *FleetBench::label(Server server)
{
    return server == Server::Zentrel ? "zentrel-serve" : server == Server::Asyncio ? "asyncio" : "floor";
}

int FleetBench::scaled(int routers) const
{
    return std::max(1, int(std::lround(routers * m_options.scale)));
}

std::unique_ptr<ServeProcess> FleetBench::launch(Server server, const std::string &scenario,
                                                 const Script &script, const std::string &delay,
                                                 int routers, int sessions)
{
    return launch(server, scenario, scriptFiles(script, delay), routers, sessions);
}

std::unique_ptr<ServeProcess> FleetBench::launch(Server server, const std::string &scenario,
                                                 const RouterFiles &files, int routers, int sessions)
{
    std::vector<std::string> command = server == Server::Zentrel ? std::vector<std::string>{m_options.serve}
        : server == Server::Floor                               ? std::vector<std::string>{m_options.floor}
                                                                : m_options.peer;
    command.insert(command.end(), {"--port", "0", "--copies", std::to_string(routers), "--sessions",
                                   std::to_string(sessions)});
    const std::string what = std::string(label(server)) + " " + scenario;
    auto process = std::make_unique<ServeProcess>(
        command, m_workRoot + "/fleet-" + std::to_string(++m_runs) + "-" + label(server) + "-" + scenario);
    std::string error;
    if (!process->start(files, error) || !process->waitReady(30, error)) {
        m_report.fail(what + ": " + error);
        const std::string log = process->logTail();
        if (!log.empty())
            std::printf("  %s: the server's output:\n%s\n", what.c_str(), log.c_str());
        return nullptr;
    }
    if (int(process->routers().size()) != routers) {
        m_report.fail(what + ": " + std::to_string(process->routers().size()) + " listening events for "
                      + std::to_string(routers) + " routers");
        return nullptr;
    }
    return process;
}

void FleetBench::finish(ServeProcess &process, const std::string &what)
{
    const StopOutcome outcome = process.stop(10);
    if (!outcome.clean) {
        m_report.fail(what + ": no clean stop on SIGTERM: " + outcome.description);
        const std::string log = process.logTail();
        if (!log.empty())
            std::printf("  %s: the server's output:\n%s\n", what.c_str(), log.c_str());
    }
    if (process.unreadableLines() > 0)
        m_report.fail(what + ": " + std::to_string(process.unreadableLines()) + " unreadable event line(s)");
}

void FleetBench::countStreams(int exact, int wrong, const std::vector<std::string> &problems,
                              const std::string &what)
{
    m_streams += exact + wrong;
    if (wrong == 0)
        return;
    m_report.fail(what + ": " + std::to_string(wrong) + " wrong stream(s), first: "
                  + (problems.empty() ? "?" : problems.front()));
    for (const std::string &problem : problems)
        std::printf("  FAULT %s: %s\n", what.c_str(), problem.c_str());
}

FleetFigures FleetBench::ready(Server server, int routers)
{
    FleetFigures figures;
    const Script script = oneItemScript();
    std::vector<double> times;
    for (int round = 1; round <= m_options.readyRounds; ++round) {
        auto process = launch(server, "ready", script, "0", routers, 1);
        if (!process)
            return figures;
        times.push_back(process->readySeconds() * 1000);
        // Each router is asked once, so a router that listens but does not serve shows.
        if (round == 1) {
            FleetPlan plan;
            plan.endpoints = endpointsOf(*process);
            plan.total = routers;
            plan.inFlight = 50;
            const FleetResult result = runFleet(plan, script);
            countStreams(result.exact, result.wrong, result.problems, std::string(label(server)) + " ready");
        }
        finish(*process, std::string(label(server)) + " ready");
    }
    figures.readyMs = median(times);
    std::printf("  %s, %d routers: ready after %s ms (median of %zu)\n", label(server), routers,
                formatNumber(figures.readyMs, 0).c_str(), times.size());
    m_report.addRound("fleet", "{\"scenario\": \"ready\", \"server\": " + jsonString(label(server))
                      + ", \"routers\": " + std::to_string(routers) + ", \"ready_ms\": "
                      + jsonNumber(figures.readyMs, 1) + "}");
    return figures;
}

FleetFigures FleetBench::sessions(Server server, const std::string &scenario, int routers, int perRouter,
                                  int items, double delay)
{
    FleetFigures figures;
    const Script script = pacingScript(items);
    char delayText[32];
    std::snprintf(delayText, sizeof delayText, "%g", delay);
    auto process = launch(server, scenario, script, delayText, routers, perRouter);
    if (!process)
        return figures;
    const std::string what = std::string(label(server)) + " " + scenario;
    const int total = routers * perRouter;
    const long baseKiB = residentKiB(process->pid());
    const int baseDescriptors = descriptorCount(process->pid());

    FleetPlan plan;
    plan.endpoints = endpointsOf(*process);
    plan.perEndpoint = perRouter;
    plan.spread = std::max(delay, total / connectsPerSecond);
    plan.timeout = items * delay + plan.spread + 30;
    plan.wantArrivals = true;
    const double clockOffset = unixNow() - now();
    const double cpuBefore = cpuSecondsFromStat(process->pid());
    const double clientBefore = clientCpuSeconds();
    DescriptorWatch watch(process->pid());
    const FleetResult result = runFleet(plan, script);
    const double clientCpu = clientCpuSeconds() - clientBefore;
    const int peakDescriptors = watch.stop();
    const double cpu = cpuSecondsFromStat(process->pid()) - cpuBefore;
    const long peakKiB = peakResidentKiB(process->pid());
    sleepFor(0.1);   // the last session-end lines

    // The server's own accept time, from its session-start event, starts each
    // session's clock: the pacing is measured, not how long a client waited in the backlog.
    SessionStarts starts(clockOffset);
    int ended = 0;
    process->readEvents([&](const ServerEvent &event) {
        starts.add(event);
        ended += event.kind() == "session-end" && event.text("reason") == "script-exhausted";
    });
    std::vector<std::string> routerNames;
    for (const ListeningRouter &router : process->routers())
        routerNames.push_back(router.name);
    const Lateness late = measureLateness(result.connections, routerNames, starts, delay);
    const std::vector<double> &lateness = late.itemsMs;
    const int unmatched = late.unmatched;
    const double wall = result.finished - result.started;
    finish(*process, what);
    countStreams(result.exact, result.wrong, result.problems, what);
    if (result.exact + result.wrong != total)
        m_report.fail(what + ": " + std::to_string(result.exact + result.wrong) + " of "
                      + std::to_string(total) + " sessions ran");
    if (unmatched > 0)
        m_report.note(what + ": " + std::to_string(unmatched)
                      + " sessions without a session-start event timed from the client's connect");

    figures.lateMedianMs = median(lateness);
    figures.lateP99Ms = percentile(lateness, 0.99);
    figures.cpuPerSecond = wall > 0 ? cpu / wall : std::nan("");
    figures.peakRssKiBPerSession = peakKiB > 0 ? double(peakKiB) / total : std::nan("");
    figures.peakDescriptors = peakDescriptors;
    const double lagP99 = percentile(late.acceptLagMs, 0.99);
    std::printf("  %s, %d sessions (%d x %d), %d items at %g s: lateness median %.3f ms, p99 %.3f ms, "
                "max %.3f ms; first item median %.3f ms, last %.3f ms\n",
                label(server), total, routers, perRouter, items, delay, figures.lateMedianMs,
                figures.lateP99Ms, maxOf(lateness), median(late.firstItemsMs), median(late.lastItemsMs));
    std::printf("    connects over %.2f s, accept after connect p99 %.2f ms; CPU %.2f s in %.1f s (the "
                "client's %.2f s); resident %.1f MiB at ready, %.1f MiB peak (%.1f KiB a session); "
                "descriptors %d at ready, %d peak; %d ended script-exhausted\n",
                plan.spread, lagP99, cpu, wall, clientCpu, mebibytes(baseKiB), mebibytes(peakKiB),
                figures.peakRssKiBPerSession, baseDescriptors, peakDescriptors, ended);
    m_report.addRound("fleet", "{\"scenario\": " + jsonString(scenario) + ", \"server\": "
                      + jsonString(label(server)) + ", \"sessions\": " + std::to_string(total)
                      + ", \"lateness_median_ms\": " + jsonNumber(figures.lateMedianMs, 4)
                      + ", \"lateness_p99_ms\": " + jsonNumber(figures.lateP99Ms, 4)
                      + ", \"lateness_max_ms\": " + jsonNumber(maxOf(lateness), 4)
                      + ", \"first_item_median_ms\": " + jsonNumber(median(late.firstItemsMs), 4)
                      + ", \"last_item_median_ms\": " + jsonNumber(median(late.lastItemsMs), 4)
                      + ", \"accept_lag_p99_ms\": " + jsonNumber(lagP99, 4)
                      + ", \"connect_spread_s\": " + jsonNumber(plan.spread, 3)
                      + ", \"cpu_s\": " + jsonNumber(cpu, 2) + ", \"client_cpu_s\": " + jsonNumber(clientCpu, 2)
                      + ", \"wall_s\": " + jsonNumber(wall, 3)
                      + ", \"rss_ready_kib\": " + std::to_string(baseKiB)
                      + ", \"rss_peak_kib\": " + std::to_string(peakKiB)
                      + ", \"descriptors_ready\": " + std::to_string(baseDescriptors)
                      + ", \"descriptors_peak\": " + std::to_string(peakDescriptors) + "}");
    return figures;
}

FleetFigures FleetBench::rate(Server server, int routers, int connections)
{
    FleetFigures figures;
    const Script script = oneItemScript();
    auto process = launch(server, "rate", script, "0", routers, sessionsPerRouter);
    if (!process)
        return figures;
    const std::string what = std::string(label(server)) + " rate";
    FleetPlan plan;
    plan.endpoints = endpointsOf(*process);
    plan.total = connections;
    plan.inFlight = std::min(rateInFlight, routers * sessionsPerRouter);
    plan.timeout = 60;
    const FleetResult result = runFleet(plan, script);
    finish(*process, what);
    countStreams(result.exact, result.wrong, result.problems, what);
    const double wall = result.finished - result.started;
    figures.connectionsPerSecond = wall > 0 ? result.exact / wall : std::nan("");
    std::printf("  %s, %d routers, %d connections, %d at a time: %s connections/s\n", label(server),
                routers, connections, plan.inFlight, formatNumber(figures.connectionsPerSecond, 0).c_str());
    m_report.addRound("fleet", "{\"scenario\": \"rate\", \"server\": " + jsonString(label(server))
                      + ", \"connections\": " + std::to_string(result.exact)
                      + ", \"connections_per_s\": " + jsonNumber(figures.connectionsPerSecond, 1) + "}");
    return figures;
}

void FleetBench::run()
{
    const long limit = raiseDescriptorLimit();
    const int big = scaled(100) * sessionsPerRouter;
    std::printf("phase 6, fleet: %s against %s; descriptor limit %ld\n", m_options.serve.c_str(),
                m_options.peer.empty() ? "?" : m_options.peer.back().c_str(), limit);
    if (limit > 0 && big + 200 > limit)
        m_report.note("the descriptor limit " + std::to_string(limit) + " leaves too few for "
                      + std::to_string(big) + " client connections in one process");
    const auto both = [&](auto measure) {
        return std::pair{measure(Server::Zentrel), measure(Server::Asyncio)};
    };
    const auto name = [](int sessions, const char *what) {
        return formatNumber(sessions, 0) + " sessions: " + what;
    };

    const int routers = scaled(readyRouters);
    const auto [readyZ, readyA] = both([&](Server s) { return ready(s, routers); });
    m_report.addCompared("fleet_ready_ms", formatNumber(routers, 0) + " routers: start to ready",
                         "ms", readyZ.readyMs, readyA.readyMs, 0, 500, true);

    struct Scenario
    {
        const char *id;
        int routers;
        int items;
        double delay;
        double medianTarget;
        double p99Target;
    };
    for (const Scenario &s : {Scenario{"fleet2k", 20, 40, 0.1, 1, 5}, Scenario{"fleet10k", 100, 10, 1.0, 2, 15}}) {
        const int n = scaled(s.routers);
        const int total = n * sessionsPerRouter;
        const auto [z, a] = both([&](Server server) {
            return sessions(server, s.id, n, sessionsPerRouter, s.items, s.delay);
        });
        const std::string id = s.id;
        m_report.addCompared(id + "_lateness_median_ms", name(total, "lateness, median"), "ms",
                             z.lateMedianMs, a.lateMedianMs, 3, s.medianTarget, true);
        m_report.addCompared(id + "_lateness_p99_ms", name(total, "lateness, p99"), "ms", z.lateP99Ms,
                             a.lateP99Ms, 3, s.p99Target, true);
        m_report.addCompared(id + "_cpu_per_s", name(total, "server CPU"), "CPU s/s", z.cpuPerSecond,
                             a.cpuPerSecond, 3);
        m_report.addCompared(id + "_rss_kib_per_session", name(total, "peak resident/session"), "KiB",
                             z.peakRssKiBPerSession, a.peakRssKiBPerSession, 1, 20, true);
        m_report.addCompared(id + "_descriptors_peak", name(total, "descriptors, peak"), "fds",
                             z.peakDescriptors, a.peakDescriptors, 0);
    }

    const int rateFleet = scaled(rateRouters);
    const auto [rateZ, rateA] = both([&](Server s) { return rate(s, rateFleet, rateConnections); });
    m_report.addCompared("fleet_connections_per_s",
                         std::to_string(rateFleet) + " routers: connections, Delay 0", "conn/s",
                         rateZ.connectionsPerSecond, rateA.connectionsPerSecond, 0);
}

} // namespace zentrel::bench

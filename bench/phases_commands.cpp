// phases_commands.cpp: phase 7, command-driven routers: each line's answer timed under 1,000 typing sessions, matching against the size of a mode, idle sessions' memory.
#include "fleet.h"

#include "clock.h"
#include "command_client.h"
#include "fleet_client.h"
#include "proc_stats.h"

#include <cstdio>

namespace zentrel::bench {

namespace {

// 1,000 sessions across 100 routers, each typing a line every 0.1 s: 10,000
// lines a second, answered from a mode of 100 commands.
constexpr int typingRouters = 100;
constexpr int typingSessions = 10;
constexpr int typingLines = 20;
constexpr double typingInterval = 0.1;
constexpr int typingCommands = 100;
// One router, 10 sessions, 100 lines each, from a mode of 10 commands and
// then of 5,000: the same traffic, only the mode differs.
constexpr int matchSessions = 10;
constexpr int matchLines = 100;
constexpr double matchInterval = 0.01;
constexpr int fewCommands = 10;
constexpr int manyCommands = 5000;
// 10,000 sessions that took their prompt and type nothing.
constexpr int idleRouters = 100;
constexpr int idleSessionsPerRouter = 100;

RouterFiles commandFiles(const CommandMap &map)
{
    return {{"commands.yaml", map.yaml}, {"zentrel.ini", "[Settings]\r\nTCP-Port=1101\r\nDelay=0\r\n"}};
}

double serverCpu(pid_t pid)
{
    const double precise = cpuSecondsFromSchedstat(pid);
    return std::isnan(precise) ? cpuSecondsFromStat(pid) : precise;
}

} // namespace

CommandFigures FleetBench::typing(Server server, const std::string &scenario, const CommandMap &map, int routers,
                                  int perRouter, int lines, double interval)
{
    CommandFigures figures;
    auto process = launch(server, scenario, commandFiles(map), routers, perRouter);
    if (!process)
        return figures;
    const std::string what = std::string(label(server)) + " " + scenario;
    const int total = routers * perRouter;
    CommandPlan plan;
    plan.endpoints = endpointsOf(*process);
    plan.perEndpoint = perRouter;
    plan.spread = total / connectsPerSecond;
    plan.lines = lines;
    plan.interval = interval;
    plan.timeout = plan.spread + lines * interval + 60;
    const double cpuBefore = serverCpu(process->pid());
    const CommandResult result = runCommands(plan, map);
    const double cpu = serverCpu(process->pid()) - cpuBefore;
    finish(*process, what);
    countStreams(result.exact, result.wrong, result.problems, what);

    std::vector<double> micros;
    micros.reserve(result.latencies.size());
    for (double seconds : result.latencies)
        micros.push_back(seconds * 1e6);
    std::vector<double> readMicros;
    readMicros.reserve(result.readLatencies.size());
    for (double seconds : result.readLatencies)
        readMicros.push_back(seconds * 1e6);
    const double readMedian = median(readMicros);
    figures.medianUs = median(micros);
    figures.p99Us = percentile(micros, 0.99);
    figures.cpuUsPerLine = micros.empty() ? std::nan("") : cpu * 1e6 / double(micros.size());
    const double wall = result.finished - result.started;
    std::printf("  %s, %d sessions (%d x %d), a mode of %zu commands, %zu lines: answer after %.1f us median, "
                "%.1f us p99, %.1f us max (read by the client after %.1f us median); server CPU %.2f s in %.1f s "
                "(%.1f us a line)\n",
                label(server), total, routers, perRouter, map.lines.size(), micros.size(), figures.medianUs,
                figures.p99Us, maxOf(micros), readMedian, cpu, wall, figures.cpuUsPerLine);
    m_report.addRound("commands", "{\"scenario\": " + jsonString(scenario) + ", \"server\": "
                      + jsonString(label(server)) + ", \"sessions\": " + std::to_string(total)
                      + ", \"commands\": " + std::to_string(map.lines.size())
                      + ", \"lines\": " + std::to_string(micros.size())
                      + ", \"answer_median_us\": " + jsonNumber(figures.medianUs, 2)
                      + ", \"answer_p99_us\": " + jsonNumber(figures.p99Us, 2)
                      + ", \"answer_max_us\": " + jsonNumber(maxOf(micros), 2)
                      + ", \"read_median_us\": " + jsonNumber(readMedian, 2)
                      + ", \"read_p99_us\": " + jsonNumber(percentile(readMicros, 0.99), 2)
                      + ", \"cpu_s\": " + jsonNumber(cpu, 4) + ", \"wall_s\": " + jsonNumber(wall, 3)
                      + ", \"cpu_us_per_line\": " + jsonNumber(figures.cpuUsPerLine, 2) + "}");
    return figures;
}

CommandFigures FleetBench::idleSessions(Server server, const CommandMap &map, int routers, int perRouter)
{
    CommandFigures figures;
    auto process = launch(server, "idle", commandFiles(map), routers, perRouter);
    if (!process)
        return figures;
    const std::string what = std::string(label(server)) + " idle";
    const int total = routers * perRouter;
    const long readyKiB = residentKiB(process->pid());
    long idleKiB = -1;
    CommandPlan plan;
    plan.endpoints = endpointsOf(*process);
    plan.perEndpoint = perRouter;
    plan.spread = total / connectsPerSecond;
    plan.timeout = plan.spread + 60;
    plan.whileIdle = [&] {
        sleepFor(0.2);   // what the last prompts left behind settles
        idleKiB = residentKiB(process->pid());
    };
    const CommandResult result = runCommands(plan, map);
    finish(*process, what);
    countStreams(result.exact, result.wrong, result.problems, what);
    if (readyKiB > 0 && idleKiB > 0 && result.exact > 0)
        figures.idleKiBPerSession = double(idleKiB - readyKiB) / result.exact;
    std::printf("  %s, %d idle sessions (%d x %d): resident %.1f MiB at ready, %.1f MiB with every session at "
                "its prompt: %.2f KiB a session\n",
                label(server), total, routers, perRouter, mebibytes(readyKiB), mebibytes(idleKiB),
                figures.idleKiBPerSession);
    m_report.addRound("commands", "{\"scenario\": \"idle\", \"server\": " + jsonString(label(server))
                      + ", \"sessions\": " + std::to_string(result.exact)
                      + ", \"rss_ready_kib\": " + std::to_string(readyKiB)
                      + ", \"rss_idle_kib\": " + std::to_string(idleKiB)
                      + ", \"kib_per_session\": " + jsonNumber(figures.idleKiBPerSession, 3) + "}");
    return figures;
}

void FleetBench::commands()
{
    const long limit = raiseDescriptorLimit();
    std::printf("phase 7, command-driven routers: %s against %s; descriptor limit %ld\n", m_options.serve.c_str(),
                m_options.peer.empty() ? "?" : m_options.peer.back().c_str(), limit);
    const auto both = [&](auto measure) { return std::pair{measure(Server::Zentrel), measure(Server::Asyncio)}; };

    const CommandMap typingMap = commandMap(typingCommands);
    const int routers = scaled(typingRouters);
    const int sessions = routers * typingSessions;
    const auto [z, a] = both([&](Server server) {
        return typing(server, "typing", typingMap, routers, typingSessions, typingLines, typingInterval);
    });
    const std::string typingName = formatNumber(sessions, 0) + " sessions typing: answer after line, ";
    m_report.addCompared("commands_answer_median_us", typingName + "median", "us", z.medianUs, a.medianUs, 1, 50, true);
    m_report.addCompared("commands_answer_p99_us", typingName + "p99", "us", z.p99Us, a.p99Us, 1, 1000, true);
    m_report.addCompared("commands_cpu_us_per_line", formatNumber(sessions, 0) + " sessions typing: server CPU a line",
                         "us", z.cpuUsPerLine, a.cpuUsPerLine, 1);
    // The same traffic answered by the least any server does: what the
    // machine's loopback and scheduler leave for a server to win.
    const CommandFigures floor =
        typing(Server::Floor, "typing", typingMap, routers, typingSessions, typingLines, typingInterval);
    m_report.addInfo("commands_floor_median_us", typingName + "floor server, median", "us", floor.medianUs, 1);
    m_report.addInfo("commands_floor_p99_us", typingName + "floor server, p99", "us", floor.p99Us, 1);
    m_report.addInfo("commands_over_floor_median", typingName + "median over the floor's", "x",
                     z.medianUs / floor.medianUs, 2);

    const CommandMap few = commandMap(fewCommands);
    const CommandMap many = commandMap(manyCommands);
    const auto [fewZ, fewA] = both([&](Server server) {
        return typing(server, "match10", few, 1, matchSessions, matchLines, matchInterval);
    });
    const auto [manyZ, manyA] = both([&](Server server) {
        return typing(server, "match5000", many, 1, matchSessions, matchLines, matchInterval);
    });
    m_report.addCompared("commands_match10_median_us", "a mode of 10 commands: answer after line, median", "us",
                         fewZ.medianUs, fewA.medianUs, 1);
    m_report.addCompared("commands_match5000_median_us", "a mode of 5,000 commands: answer after line, median",
                         "us", manyZ.medianUs, manyA.medianUs, 1);
    m_report.addCompared("commands_match_ratio", "matching: 5,000 commands over 10, median", "x",
                         manyZ.medianUs / fewZ.medianUs, manyA.medianUs / fewA.medianUs, 2, 2, true);
    m_report.addCompared("commands_match_cpu_ratio", "matching: 5,000 commands over 10, server CPU a line", "x",
                         manyZ.cpuUsPerLine / fewZ.cpuUsPerLine, manyA.cpuUsPerLine / fewA.cpuUsPerLine, 2);

    const int idleFleet = scaled(idleRouters);
    const auto [idleZ, idleA] = both([&](Server server) {
        return idleSessions(server, typingMap, idleFleet, idleSessionsPerRouter);
    });
    m_report.addCompared("commands_idle_kib_per_session",
                         formatNumber(idleFleet * idleSessionsPerRouter, 0) + " idle sessions: resident/session", "KiB",
                         idleZ.idleKiBPerSession, idleA.idleKiBPerSession, 2, 20, true);
}

} // namespace zentrel::bench

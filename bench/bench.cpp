// bench.cpp: starting and stopping Zentrel for a phase, checking streams, the memory figures.
#include "bench.h"

#include "clock.h"
#include "proc_stats.h"

#include <cstdio>

namespace zentrel::bench {

namespace {

// Long enough for the offscreen platform's start-up to settle before the
// idle resident set is read.
constexpr double settleSeconds = 0.5;

} // namespace

Bench::Bench(Options options, std::string workRoot, Report &report)
    : m_options(std::move(options)), m_workRoot(std::move(workRoot)), m_report(report)
{
}

int Bench::rounds(int phaseDefault) const
{
    return m_options.maxRounds > 0 ? std::min(m_options.maxRounds, phaseDefault) : phaseDefault;
}

std::unique_ptr<ZentrelProcess> Bench::launch(const std::string &phase, const Script &script,
                                              const std::string &delay)
{
    std::vector<std::string> command = m_options.wrapper;
    command.push_back(m_options.program);
    command.insert(command.end(), m_options.arguments.begin(), m_options.arguments.end());
    auto process = std::make_unique<ZentrelProcess>(command, m_workRoot + "/" + phase);
    std::string error;
    const double startLimit = m_options.wrapper.empty() ? 20 : 120;
    if (!process->start(script, delay, error) || !process->waitListening(startLimit, error)) {
        m_report.fail(phase + ": " + error);
        const std::string log = process->logTail();
        if (!log.empty())
            std::printf("  %s: Zentrel's output:\n%s\n", phase.c_str(), log.c_str());
        return nullptr;
    }
    m_startMs.push_back(process->startSeconds() * 1000);
    sleepFor(settleSeconds);
    m_idleMiB.push_back(mebibytes(residentKiB(process->pid())));
    std::printf("  %s: Zentrel pid %d listening on %s port %d after %.0f ms, idle %.1f MiB\n",
                phase.c_str(), int(process->pid()), process->host().c_str(), process->port(),
                process->startSeconds() * 1000, m_idleMiB.back());
    std::fflush(stdout);
    return process;
}

bool Bench::stillRunning(ZentrelProcess &process, const std::string &phase)
{
    std::string how;
    if (process.running(&how))
        return true;
    m_report.fail(phase + ": Zentrel ended during the phase (" + how + ")");
    const std::string log = process.logTail();
    if (!log.empty())
        std::printf("  Zentrel's output:\n%s\n", log.c_str());
    return false;
}

void Bench::finish(ZentrelProcess &process, const std::string &phase)
{
    if (!stillRunning(process, phase))
        return;
    const StopOutcome outcome = process.stop(m_options.wrapper.empty() ? 5 : 60);
    std::printf("  %s: Zentrel %s\n", phase.c_str(), outcome.description.c_str());
    if (!outcome.clean)
        m_report.fail(phase + ": no clean stop on SIGTERM: " + outcome.description);
}

bool Bench::check(const StreamResult &result, const std::string &what)
{
    ++m_streams;
    if (result.exact)
        return true;
    // Every wrong stream fails the run; the first few are spelled out.
    if (m_wrongStreams < 5) {
        m_report.fail(what + ": " + result.problem);
        std::printf("  FAULT %s: %s\n", what.c_str(), result.problem.c_str());
    }
    ++m_wrongStreams;
    return false;
}

void Bench::memoryFigures()
{
    m_report.addInfo("start_ms", "start to listening (median)", "ms", median(m_startMs), 0);
    m_report.add("rss_idle_mib", "resident set, idle", "MiB", median(m_idleMiB), 1, 40, true);
    if (m_throughputRan)
        m_report.add("rss_after_throughput_mib", "resident set after 200,000 items", "MiB",
                     m_afterThroughputMiB, 1, 80, true);
    if (m_turnaroundRan) {
        m_report.addInfo("rss_after_turnaround_mib", "resident set after turnaround", "MiB",
                         m_afterTurnaroundMiB, 1);
        m_report.add("rss_growth_per_1000_mib", "resident growth per 1,000 connections", "MiB",
                     m_growthPerThousandMiB, 2, 1, true);
    }
    if (m_wrongStreams > 5)
        m_report.note(std::to_string(m_wrongStreams) + " wrong streams in all; the first 5 are listed");
}

} // namespace zentrel::bench

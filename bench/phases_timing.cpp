// phases_timing.cpp: phase 1, pacing at Delay 0.1, and phase 2, CPU cost while pausing at Delay 1.0.
#include "bench.h"

#include "clock.h"
#include "proc_stats.h"

#include <cmath>
#include <cstdio>

namespace zentrel::bench {

namespace {

constexpr int pacingItems = 40;
constexpr double pacingDelay = 0.1;
constexpr int idleItems = 5;
constexpr double idleDelay = 1.0;

} // namespace

void Bench::pacing()
{
    std::printf("phase 1, pacing: Delay %.1f s, %d items\n", pacingDelay, pacingItems);
    const Script script = pacingScript(pacingItems);
    auto process = launch("pacing", script, "0.1");
    if (!process)
        return;
    const Endpoint endpoint{process->host(), process->port()};
    std::vector<double> medians, maxima, gaps;
    const double budgetEnd = now() + 30;
    for (int round = 1; round <= rounds(7) && now() < budgetEnd; ++round) {
        const StreamResult result =
            receiveStream(endpoint, script, pacingItems * pacingDelay + 3, true);
        if (!check(result, "pacing round " + std::to_string(round)))
            continue;
        // Item k (from 1) is due k pauses after the connection was made.
        std::vector<double> errors;
        for (std::size_t k = 0; k < result.itemArrivals.size(); ++k) {
            const double due = result.connected + double(k + 1) * pacingDelay;
            errors.push_back(std::fabs(result.itemArrivals[k] - due) * 1000);
        }
        const double last = result.itemArrivals.back() - result.connected;
        const double gap = (last / double(script.items()) - pacingDelay) * 1000;
        medians.push_back(median(errors));
        maxima.push_back(maxOf(errors));
        gaps.push_back(gap);
        std::printf("  round %d: error median %.2f ms, max %.2f ms, mean gap error %+.3f ms\n",
                    round, medians.back(), maxima.back(), gap);
        m_report.addRound("pacing", "{\"round\": " + std::to_string(round) + ", \"median_ms\": "
                          + jsonNumber(medians.back(), 3) + ", \"max_ms\": " + jsonNumber(maxima.back(), 3)
                          + ", \"mean_gap_error_ms\": " + jsonNumber(gap, 4) + "}");
        sleepFor(0.05);
    }
    finish(*process, "pacing");
    m_report.add("pacing_median_error_ms", "pacing error, median", "ms", median(medians), 2, 2, true);
    m_report.add("pacing_max_error_ms", "pacing error, max", "ms", median(maxima), 2, 4, true);
    m_report.addInfo("pacing_worst_max_error_ms", "pacing error, worst of all rounds", "ms",
                     maxOf(maxima), 2);
    m_report.addInfo("pacing_mean_gap_error_ms", "pacing mean gap error per item", "ms",
                     median(gaps), 3);
}

void Bench::idleCost()
{
    std::printf("phase 2, idle cost: Delay %.1f s, %d items\n", idleDelay, idleItems);
    const Script script = pacingScript(idleItems);
    auto process = launch("idle", script, "1.0");
    if (!process)
        return;
    const Endpoint endpoint{process->host(), process->port()};
    // Summed over the rounds: utime+stime counts whole clock ticks only.
    double statCpu = 0, schedCpu = 0, wall = 0;
    const double budgetEnd = now() + 20;
    for (int round = 1; round <= rounds(3) && now() < budgetEnd; ++round) {
        const double stat0 = cpuSecondsFromStat(process->pid());
        const double sched0 = cpuSecondsFromSchedstat(process->pid());
        const StreamResult result = receiveStream(endpoint, script, idleItems * idleDelay + 3, false);
        const double stat1 = cpuSecondsFromStat(process->pid());
        const double sched1 = cpuSecondsFromSchedstat(process->pid());
        if (!check(result, "idle round " + std::to_string(round)))
            continue;
        statCpu += stat1 - stat0;
        schedCpu += sched1 - sched0;
        wall += result.seconds();
        std::printf("  round %d: %.3f s connected, CPU %.3f s (stat), %.4f s (schedstat)\n", round,
                    result.seconds(), stat1 - stat0, sched1 - sched0);
        m_report.addRound("idle", "{\"round\": " + std::to_string(round) + ", \"wall_s\": "
                          + jsonNumber(result.seconds(), 4) + ", \"cpu_stat_s\": "
                          + jsonNumber(stat1 - stat0, 3) + ", \"cpu_schedstat_s\": "
                          + jsonNumber(sched1 - sched0, 6) + "}");
    }
    finish(*process, "idle");
    const double none = std::nan("");
    m_report.add("idle_cpu_per_s", "idle cost, utime+stime", "CPU s/s", wall > 0 ? statCpu / wall : none,
                 4, 0.002, true);
    m_report.add("idle_cpu_per_s_schedstat", "idle cost, scheduler run time", "CPU s/s",
                 wall > 0 ? schedCpu / wall : none, 5, 0.002, true);
}

} // namespace zentrel::bench

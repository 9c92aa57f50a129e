// phases_load.cpp: phase 3, throughput of a 200,000-item script, and phase 4, connection turnaround.
#include "bench.h"

#include "clock.h"
#include "proc_stats.h"
#include "raw_sender.h"

#include <algorithm>
#include <cstdio>

namespace zentrel::bench {

namespace {

constexpr int throughputItems = 200000;
constexpr std::uint32_t throughputSeed = 20240607;
constexpr int connectionsPerRound = 1000;
constexpr int connectionsPerBlock = 100;

} // namespace

void Bench::throughput()
{
    m_throughputRan = true;
    const Script script = throughputScript(throughputItems, throughputSeed);
    std::printf("phase 3, throughput: Delay 0, %zu items, %zu bytes on the wire (%zu in the file)\n",
                script.items(), script.wire.size(), script.file.size());
    auto process = launch("throughput", script, "0");
    if (!process)
        return;
    RawSender raw(script.wire);
    if (!raw.ok()) {
        m_report.fail("throughput: the raw sender could not listen");
        return;
    }
    const Endpoint endpoint{process->host(), process->port()};
    const Endpoint rawEndpoint{"127.0.0.1", raw.port()};
    const double megabytes = double(script.wire.size()) / 1e6;
    std::vector<double> itemRates, byteRates, rawByteRates, ratios;
    const double budgetEnd = now() + 45;
    for (int round = 1; round <= rounds(7) && now() < budgetEnd; ++round) {
        // One raw stream before Zentrel's and two after, so both see the same machine.
        std::vector<double> rawSeconds;
        const auto rawStream = [&] {
            const StreamResult rawResult = receiveStream(rawEndpoint, script, 30, false);
            if (check(rawResult, "raw sender stream"))
                rawSeconds.push_back(rawResult.seconds());
        };
        rawStream();
        const StreamResult result =
            receiveStream(endpoint, script, std::max(5.0, budgetEnd - now()), false);
        const bool exact = check(result, "throughput round " + std::to_string(round));
        rawStream();
        rawStream();
        sleepFor(0.2);   // lets the end of script finish before the resident set is read
        const long rss = residentKiB(process->pid());
        if (round == 1) {
            m_afterThroughputMiB = mebibytes(rss);
            std::printf("  after one playback: resident %.1f MiB, peak %.1f MiB\n",
                        m_afterThroughputMiB, mebibytes(peakResidentKiB(process->pid())));
        }
        if (!exact || rawSeconds.empty() || !stillRunning(*process, "throughput"))
            break;
        const double seconds = result.seconds();
        const double rawTime = median(rawSeconds);
        itemRates.push_back(double(script.items()) / seconds);
        byteRates.push_back(megabytes / seconds);
        rawByteRates.push_back(megabytes / rawTime);
        ratios.push_back(seconds / rawTime);
        std::printf("  round %d: Zentrel %.3f s (%s items/s), raw sender %.4f s, ratio %.1f, "
                    "resident %.1f MiB\n",
                    round, seconds, formatNumber(itemRates.back(), 0).c_str(), rawTime, ratios.back(),
                    mebibytes(rss));
        std::fflush(stdout);
        m_report.addRound("throughput", "{\"round\": " + std::to_string(round) + ", \"zentrel_s\": "
                          + jsonNumber(seconds, 5) + ", \"raw_s\": " + jsonNumber(rawTime, 6)
                          + ", \"rss_mib\": " + jsonNumber(mebibytes(rss), 1) + "}");
    }
    finish(*process, "throughput");
    m_report.add("throughput_items_per_s", "throughput", "items/s", median(itemRates), 0, 1e6, false);
    m_report.addInfo("throughput_mb_per_s", "throughput", "MB/s", median(byteRates), 1);
    m_report.addInfo("raw_mb_per_s", "raw sender throughput", "MB/s", median(rawByteRates), 1);
    m_report.add("throughput_ratio_to_raw", "throughput time, Zentrel/raw", "x", median(ratios), 1,
                 100, true);
}

void Bench::turnaround()
{
    std::printf("phase 4, turnaround: Delay 0, one item, %d sequential connections a round\n",
                connectionsPerRound);
    m_turnaroundRan = true;
    const Script script = oneItemScript();
    auto process = launch("turnaround", script, "0");
    if (!process)
        return;
    RawSender raw(script.wire);
    if (!raw.ok()) {
        m_report.fail("turnaround: the raw sender could not listen");
        return;
    }
    const Endpoint endpoint{process->host(), process->port()};
    const Endpoint rawEndpoint{"127.0.0.1", raw.port()};

    // Zentrel and the raw sender take turns in blocks, so a burst of load
    // from elsewhere on the machine falls on both alike.
    struct Side
    {
        Endpoint endpoint;
        std::string name;
        double seconds = 0;
        int done = 0;
        int wrong = 0;
        int stalled = 0;
    };
    const auto runBlock = [&](Side &side) {
        const double start = now();
        for (int i = 0; i < connectionsPerBlock && side.stalled < 3; ++i) {
            const StreamResult result = receiveStream(side.endpoint, script, 3, false);
            side.stalled += result.timedOut || result.connected == result.ended ? 1 : 0;
            if (!check(result, side.name + " connection " + std::to_string(side.done + 1)))
                ++side.wrong;
            ++side.done;
        }
        side.seconds += now() - start;
    };

    std::vector<double> rates, rawRates, ratios, residents, served;
    int total = 0;
    const double budgetEnd = now() + 35;
    for (int round = 1; round <= rounds(5) && now() < budgetEnd; ++round) {
        Side zentrel{endpoint, "turnaround round " + std::to_string(round)};
        Side rawSide{rawEndpoint, "raw sender"};
        while (zentrel.done < connectionsPerRound && zentrel.stalled < 3 && now() < budgetEnd + 10) {
            runBlock(zentrel);
            runBlock(rawSide);
        }
        sleepFor(0.05);
        total += zentrel.done;
        residents.push_back(mebibytes(residentKiB(process->pid())));
        served.push_back(total);
        // A round cut short by the time budget still gives a rate; a stalled one does not.
        if (!stillRunning(*process, "turnaround") || zentrel.done == 0 || zentrel.stalled >= 3)
            break;
        if (zentrel.done < connectionsPerRound)
            m_report.note("turnaround round " + std::to_string(round) + " cut short by the time budget after "
                          + std::to_string(zentrel.done) + " connections");
        const double rate = zentrel.done / zentrel.seconds;
        const double rawRate = rawSide.done / rawSide.seconds;
        rates.push_back(rate);
        rawRates.push_back(rawRate);
        ratios.push_back(rate / rawRate);
        std::printf("  round %d: Zentrel %s connections/s, raw sender %s connections/s, ratio %.2f, "
                    "resident %.2f MiB%s\n",
                    round, formatNumber(rate, 0).c_str(), formatNumber(rawRate, 0).c_str(),
                    ratios.back(), residents.back(),
                    zentrel.wrong ? (", " + std::to_string(zentrel.wrong) + " wrong streams").c_str() : "");
        std::fflush(stdout);
        m_report.addRound("turnaround", "{\"round\": " + std::to_string(round)
                          + ", \"connections_per_s\": " + jsonNumber(rate, 1)
                          + ", \"raw_connections_per_s\": " + jsonNumber(rawRate, 1)
                          + ", \"rss_mib\": " + jsonNumber(residents.back(), 3)
                          + ", \"wrong_streams\": " + std::to_string(zentrel.wrong) + "}");
    }
    if (!residents.empty())
        m_afterTurnaroundMiB = residents.back();
    // The first round's allocations are start-up cost; growth is what comes after.
    if (residents.size() >= 2 && served.back() > served.front())
        m_growthPerThousandMiB =
            (residents.back() - residents.front()) / (served.back() - served.front()) * 1000;
    finish(*process, "turnaround");
    m_report.add("turnaround_connections_per_s", "turnaround", "conn/s", median(rates), 0, 10000, false);
    m_report.addInfo("raw_connections_per_s", "raw sender turnaround", "conn/s", median(rawRates), 0);
    m_report.add("turnaround_ratio_to_raw", "turnaround rate, Zentrel/raw", "x", median(ratios), 2,
                 0.7, false);
}

} // namespace zentrel::bench

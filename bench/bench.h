// bench.h: the benchmark's phases and what they share.
#pragma once
#include "report.h"
#include "script.h"
#include "stream_client.h"
#include "zentrel_process.h"

#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace zentrel::bench {

struct Options
{
    std::string program;                  // the Zentrel to measure
    std::vector<std::string> arguments;   // only the stand-in takes any
    // A command put in front of the program, such as a profiler; its run is
    // for the profile, not for the figures.
    std::vector<std::string> wrapper;
    std::string json;
    std::vector<int> phases{1, 2, 3, 4, 6, 7};
    int maxRounds = 0;                    // 0: each phase's own count
    // Working directories: kept when a run fails, unless discard; always with keep.
    bool keep = false;
    bool discard = false;
};

class Bench
{
public:
    Bench(Options options, std::string workRoot, Report &report);

    void pacing();       // 1: Delay 0.1, arrival of each item against k x 0.1 s
    void idleCost();     // 2: Delay 1.0, CPU seconds per wall second
    void throughput();   // 3: Delay 0, 200,000 items, against the raw sender
    void turnaround();   // 4: Delay 0, 1,000 sequential connections per round
    void memoryFigures();// 5: resident set idle, after 3, after 4

    int streams() const { return m_streams; }

private:
    std::unique_ptr<ZentrelProcess> launch(const std::string &phase, const Script &script,
                                           const std::string &delay);
    void finish(ZentrelProcess &process, const std::string &phase);
    // Records a wrong stream as a fault; true when the stream was exact.
    bool check(const StreamResult &result, const std::string &what);
    bool stillRunning(ZentrelProcess &process, const std::string &phase);
    int rounds(int phaseDefault) const;

    Options m_options;
    std::string m_workRoot;
    Report &m_report;
    int m_streams = 0;
    int m_wrongStreams = 0;
    std::vector<double> m_idleMiB;
    std::vector<double> m_startMs;
    bool m_throughputRan = false;
    bool m_turnaroundRan = false;
    double m_afterThroughputMiB = std::nan("");
    double m_afterTurnaroundMiB = std::nan("");
    double m_growthPerThousandMiB = std::nan("");
};

} // namespace zentrel::bench

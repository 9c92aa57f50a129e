// main.cpp: zentrel_bench, which measures a real Zentrel and prints one row per figure.
#include "bench.h"
#include "clock.h"
#include "fleet.h"
#include "proc_stats.h"
#include "report.h"
#include "stand_in.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace zentrel::bench;

namespace {

const char usage[] =
    "usage: zentrel_bench [--zentrel PATH] [--json PATH] [--phases 1,2,3,4,6,7] [--rounds N] [--keep]\n"
    "                     [--discard] [--wrapper 'COMMAND ARGS']\n"
    "                     [--serve PATH] [--peer SCRIPT] [--python PATH] [--fleet-scale F] [--chart SVG]\n"
    "       zentrel_bench --self-check\n"
    "  Starts PATH (default: the zentrel built beside this program) headless, once per phase,\n"
    "  measures pacing, idle cost, throughput, turnaround and memory, prints one row per\n"
    "  figure and writes them as JSON. Exit status 1 when any stream was not byte-exact or\n"
    "  Zentrel failed to start, serve or stop; missed targets alone do not fail the run.\n"
    "  Phase 6, the fleet, runs zentrel-serve (--serve) and the asyncio peer (--peer, run by\n"
    "  --python) through the same scenarios side by side, draws the figures into --chart, and\n"
    "  with --fleet-scale runs that fraction of the routers, for a quick look. Phase 7 does\n"
    "  the same with command-driven routers: each line's answer timed (also against\n"
    "  zentrel_floor_peer, the least any server does), a mode of 5,000 commands against\n"
    "  one of 10, idle sessions' memory.\n"
    "  --wrapper runs Zentrel under a profiler (e.g. 'valgrind --tool=callgrind'); the\n"
    "  figures of such a run mean nothing, the profile does. --self-check runs the bench\n"
    "  against a stand-in for Zentrel, exact and then with faults made on purpose, to prove\n"
    "  that a wrong stream is caught.\n";

std::string commandOutput(const std::string &command)
{
    std::string text;
    if (FILE *pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        std::size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
            text.append(buffer, n);
        pclose(pipe);
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

std::string cpuModel()
{
    std::ifstream cpuinfo("/proc/cpuinfo");
    std::string line;
    while (std::getline(cpuinfo, line)) {
        if (line.rfind("model name", 0) == 0)
            return line.substr(line.find(':') + 2);
    }
    return "unknown";
}

// CPU time of the bench and of every Zentrel it has stopped and reaped.
double ownCpuSeconds()
{
    double seconds = 0;
    for (int who : {RUSAGE_SELF, RUSAGE_CHILDREN}) {
        rusage usage{};
        getrusage(who, &usage);
        seconds += double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
            + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
    }
    return seconds;
}

std::string selfPath()
{
    std::error_code error;
    return std::filesystem::read_symlink("/proc/self/exe", error).string();
}

// What the rest of the machine was doing: the machine is shared, and
// other work running at the same time shows in every figure.
struct MachineLoad
{
    double loadBefore = 0;
    double loadAfter = 0;
    double busyFraction = 0;     // all CPUs, the bench and Zentrel included
    double othersFraction = 0;   // the same, less the bench and the Zentrels it ran
    double stealFraction = 0;

    std::string text() const
    {
        char line[160];
        std::snprintf(line, sizeof line,
                      "machine: %u CPUs, load average %.2f before and %.2f after; during the run "
                      "CPUs %.0f%% busy, %.0f%% with other work (steal %.1f%%)",
                      std::thread::hardware_concurrency(), loadBefore, loadAfter,
                      busyFraction * 100, othersFraction * 100, stealFraction * 100);
        return line;
    }
};

std::string jsonHeader(const Options &options, double seconds, const MachineLoad &load)
{
    const std::time_t t = std::time(nullptr);
    char date[32];
    std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%SZ", std::gmtime(&t));
    const std::string source = ZENTREL_SOURCE_DIR;
    const std::string commit = commandOutput("git -C '" + source + "' rev-parse --short=12 HEAD 2>/dev/null");
    const bool dirty = !commandOutput("git -C '" + source + "' status --porcelain --untracked-files=no 2>/dev/null").empty();
    std::ostringstream out;
    out << "  \"date\": " << jsonString(date) << ",\n"
        << "  \"commit\": " << jsonString(commit) << ",\n"
        << "  \"tree_modified\": " << (dirty ? "true" : "false") << ",\n"
        << "  \"machine\": {\"nproc\": " << std::thread::hardware_concurrency()
        << ", \"cpu\": " << jsonString(cpuModel()) << ", \"load_before\": "
        << jsonNumber(load.loadBefore, 2) << ", \"load_after\": " << jsonNumber(load.loadAfter, 2)
        << ", \"busy_fraction\": " << jsonNumber(load.busyFraction, 3)
        << ", \"others_fraction\": " << jsonNumber(load.othersFraction, 3)
        << ", \"steal_fraction\": " << jsonNumber(load.stealFraction, 3) << "},\n"
        << "  \"zentrel\": " << jsonString(options.program) << ",\n"
        << "  \"seconds\": " << jsonNumber(seconds, 1) << ",\n";
    return out.str();
}

// Under the chart's title: when, at which commit, and how busy the machine was.
std::string chartCaption(const MachineLoad &load)
{
    const std::time_t t = std::time(nullptr);
    char date[32];
    std::strftime(date, sizeof date, "%Y-%m-%d", std::gmtime(&t));
    const std::string commit = commandOutput("git -C '" ZENTREL_SOURCE_DIR "' rev-parse --short HEAD 2>/dev/null");
    char text[256];
    std::snprintf(text, sizeof text,
                  "%s at %s; %u CPUs, %.0f%% busy with other work; lower is better "
                  "except connections/s",
                  date, commit.c_str(), std::thread::hardware_concurrency(), load.othersFraction * 100);
    return text;
}

bool phasesGiven = false;

bool parse(int argc, char **argv, Options &options, FleetOptions &fleet, std::string &python,
           std::string &standIn, bool &selfCheck)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const auto value = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
        if (arg == "--zentrel") {
            options.program = value();
        } else if (arg == "--json") {
            options.json = value();
        } else if (arg == "--phases") {
            phasesGiven = true;
            options.phases.clear();
            std::istringstream list(value());
            std::string phase;
            while (std::getline(list, phase, ','))
                options.phases.push_back(std::atoi(phase.c_str()));
        } else if (arg == "--rounds") {
            options.maxRounds = std::atoi(value().c_str());
        } else if (arg == "--wrapper") {
            std::istringstream words(value());
            std::string word;
            while (words >> word)
                options.wrapper.push_back(word);
        } else if (arg == "--serve") {
            fleet.serve = value();
        } else if (arg == "--peer") {
            fleet.peer.back() = value();
        } else if (arg == "--python") {
            python = value();
        } else if (arg == "--fleet-scale") {
            fleet.scale = std::atof(value().c_str());
            if (!(fleet.scale > 0 && fleet.scale <= 1)) {
                std::fputs("zentrel_bench: --fleet-scale takes a fraction above 0, at most 1\n", stderr);
                return false;
            }
        } else if (arg == "--chart") {
            fleet.chart = value();
        } else if (arg == "--keep") {
            options.keep = true;
        } else if (arg == "--discard") {
            options.discard = true;
        } else if (arg == "--stand-in" || arg.rfind("--stand-in=", 0) == 0) {
            // Hidden: measures the stand-in instead of Zentrel, to prove the checks.
            standIn = arg.size() > 11 ? arg.substr(11) : "exact";
        } else if (arg == "--self-check") {
            selfCheck = true;
        } else {
            std::fputs(usage, stderr);
            return false;
        }
    }
    return true;
}

// Runs the bench against the stand-in: once exact, where every stream must
// pass, then once per fault, where the run must fail and name the fault.
int selfCheck(const std::string &json)
{
    const std::string self = selfPath();
    int wrong = 0;
    std::printf("self-check: the stand-in, exact\n");
    std::fflush(stdout);
    const int exactStatus = std::system(("'" + self + "' --stand-in --phases 1,2,3,4 --json '" + json + "'").c_str());
    const bool exactPassed = WIFEXITED(exactStatus) && WEXITSTATUS(exactStatus) == 0;
    std::printf("self-check: exact stand-in %s\n\n", exactPassed ? "passed, as it must" : "FAILED");
    wrong += exactPassed ? 0 : 1;
    for (const std::string &fault : standInFaults()) {
        const std::string output = commandOutput("'" + self + "' --stand-in=" + fault
                                                 + " --phases 3,4 --rounds 1 --discard --json /dev/null 2>&1; echo \"status=$?\"");
        const bool failed = output.find("status=1") != std::string::npos;
        const auto at = output.find("FAULT");
        const std::string first = at == std::string::npos ? "no fault reported"
                                                          : output.substr(at, output.find('\n', at) - at);
        std::printf("self-check: fault %-12s %s: %s\n", fault.c_str(),
                    failed ? "caught" : "MISSED", first.c_str());
        wrong += failed && at != std::string::npos ? 0 : 1;
    }
    std::printf("self-check: %s\n", wrong ? "FAILED" : "every fault caught, exact run passed");
    return wrong ? 1 : 0;
}

} // namespace

int main(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--act-as-zentrel" || arg.rfind("--act-as-zentrel=", 0) == 0)
            return runStandIn(arg.size() > 17 ? arg.substr(17) : "exact");
    }
    std::signal(SIGPIPE, SIG_IGN);
    setvbuf(stdout, nullptr, _IOLBF, 0);

    Options options;
    options.program = ZENTREL_BINARY;
    options.json = ZENTREL_BUILD_DIR "/bench-results.json";
    FleetOptions fleet;
    fleet.serve = ZENTREL_BUILD_DIR "/zentrel-serve";
    fleet.peer = {"", ZENTREL_SOURCE_DIR "/bench/asyncio_peer.py"};
    fleet.floor = ZENTREL_FLOOR_PEER;
    fleet.chart = ZENTREL_BUILD_DIR "/bench-fleet.svg";
    std::string python = "/usr/bin/python3";
    std::string standIn;
    bool runSelfCheck = false;
    if (!parse(argc, argv, options, fleet, python, standIn, runSelfCheck))
        return 2;
    fleet.peer.front() = python;
    if (runSelfCheck)
        return selfCheck(ZENTREL_BUILD_DIR "/bench-self-check.json");
    if (!standIn.empty()) {
        options.program = selfPath();
        options.arguments = {"--act-as-zentrel=" + standIn};
    }
    // Without --phases, a build that has no zentrel-serve yet still runs the single-router phases.
    // The stand-in plays only the window's part.
    if (!phasesGiven && (!standIn.empty() || access(fleet.serve.c_str(), X_OK) != 0)) {
        if (standIn.empty())
            std::printf("zentrel_bench: no %s: the fleet and command phases are left out\n", fleet.serve.c_str());
        options.phases.erase(std::remove_if(options.phases.begin(), options.phases.end(),
                                            [](int phase) { return phase == 6 || phase == 7; }),
                             options.phases.end());
    }
    const auto wanted = [&](int phase) {
        return std::find(options.phases.begin(), options.phases.end(), phase) != options.phases.end();
    };
    const bool singleRouter = wanted(1) || wanted(2) || wanted(3) || wanted(4);
    std::vector<std::string> programs;
    if (singleRouter)
        programs.push_back(options.program);
    if (wanted(6) || wanted(7))
        programs.insert(programs.end(), {fleet.serve, python});
    if (wanted(7))
        programs.push_back(fleet.floor);
    for (const std::string &program : programs) {
        if (access(program.c_str(), X_OK) != 0) {
            std::fprintf(stderr, "zentrel_bench: cannot run %s\n", program.c_str());
            return 2;
        }
    }

    const char *tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/zentrel-bench-XXXXXX";
    if (!mkdtemp(pattern.data())) {
        std::perror("zentrel_bench: mkdtemp");
        return 2;
    }
    const std::string workRoot = pattern;

    std::printf("zentrel_bench: %s%s\n", options.program.c_str(),
                standIn.empty() ? "" : (" (stand-in, " + standIn + ")").c_str());
    MachineLoad load;
    load.loadBefore = loadAverage();
    const MachineTimes timesBefore = machineTimes();
    const double ownBefore = ownCpuSeconds();
    const double started = now();
    Report report;
    Bench bench(options, workRoot, report);
    FleetBench fleetBench(fleet, workRoot, report);
    if (wanted(1))
        bench.pacing();
    if (wanted(2))
        bench.idleCost();
    if (wanted(3))
        bench.throughput();
    if (wanted(4))
        bench.turnaround();
    if (singleRouter)
        bench.memoryFigures();
    if (wanted(6))
        fleetBench.run();
    if (wanted(7))
        fleetBench.commands();
    const double seconds = now() - started;
    const MachineTimes timesAfter = machineTimes();
    load.loadAfter = loadAverage();
    const double total = timesAfter.total - timesBefore.total;
    if (total > 0) {
        load.busyFraction = (timesAfter.busy - timesBefore.busy) / total;
        // Interrupt time (the loopback traffic's, mostly the bench's own) is left out.
        const double tasks = timesAfter.tasks - timesBefore.tasks;
        load.othersFraction = std::max(0.0, (tasks - (ownCpuSeconds() - ownBefore)) / total);
        load.stealFraction = (timesAfter.steal - timesBefore.steal) / total;
    }

    if (load.othersFraction > 0.25)
        report.note("other work kept the CPUs " + std::to_string(int(load.othersFraction * 100))
                    + "% busy during the run: the timings are not representative");
    report.printTable();
    std::printf("%s\n", load.text().c_str());
    if (wanted(6) && !fleet.chart.empty()) {
        if (writeFleetChart(fleet.chart, report.figures(), chartCaption(load)))
            std::printf("fleet chart: %s\n", fleet.chart.c_str());
        else
            std::fprintf(stderr, "zentrel_bench: cannot write the chart %s\n", fleet.chart.c_str());
    }
    if (!options.json.empty() && !report.writeJson(options.json, jsonHeader(options, seconds, load)))
        std::fprintf(stderr, "zentrel_bench: cannot write %s\n", options.json.c_str());
    if (options.keep || (report.failed() && !options.discard))
        std::printf("working directories kept in %s\n", workRoot.c_str());
    else
        std::filesystem::remove_all(workRoot);
    std::printf("%s\n", report.summary(bench.streams() + fleetBench.streams(), seconds).c_str());
    return report.failed() ? 1 : 0;
}

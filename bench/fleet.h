// fleet.h: the fleet phase: zentrel-serve and the asyncio peer, side by side, under many routers and sessions.
#pragma once
#include "command_map.h"
#include "report.h"
#include "script.h"
#include "serve_process.h"

#include <cmath>
#include <memory>
#include <string>
#include <vector>

namespace zentrel::bench {

// Sessions open at this rate (or over one Delay, if longer): a fleet's CI jobs
// do not all connect in the same 100 ms, and the storm of that case is what
// the connection rate measures on its own.
constexpr double connectsPerSecond = 5000;

struct FleetOptions
{
    std::string serve;                 // the zentrel-serve to measure
    std::vector<std::string> peer;     // the asyncio peer's command: python3 and its script
    std::string floor;                 // the floor peer: the least any server does (command phase)
    double scale = 1;                  // routers (and so sessions) times this, for a quick look
    int readyRounds = 3;
    std::string chart;                 // SVG of the figures; empty for none
};

// What one server did in one scenario; NaN where it was not measured.
struct FleetFigures
{
    double readyMs = std::nan("");
    double lateMedianMs = std::nan("");
    double lateP99Ms = std::nan("");
    double cpuPerSecond = std::nan("");
    double peakRssKiBPerSession = std::nan("");
    double peakDescriptors = std::nan("");
    double connectionsPerSecond = std::nan("");
};

// What one server did in one scenario of the command phase; NaN where it was not measured.
struct CommandFigures
{
    double medianUs = std::nan("");         // from a line's end to the first byte of its answer
    double p99Us = std::nan("");
    double cpuUsPerLine = std::nan("");     // the server's CPU time over the lines typed
    double idleKiBPerSession = std::nan("");
};

class FleetBench
{
public:
    FleetBench(FleetOptions options, std::string workRoot, Report &report);

    // Every scenario, each on zentrel-serve and then on the asyncio peer.
    void run();
    // Phase 7, command-driven routers (phases_commands.cpp), the same way.
    void commands();
    int streams() const { return m_streams; }

private:
    enum class Server { Zentrel, Asyncio, Floor };

    std::unique_ptr<ServeProcess> launch(Server server, const std::string &scenario, const Script &script,
                                         const std::string &delay, int routers, int sessions);
    std::unique_ptr<ServeProcess> launch(Server server, const std::string &scenario, const RouterFiles &files,
                                         int routers, int sessions);
    CommandFigures typing(Server server, const std::string &scenario, const CommandMap &map, int routers,
                          int perRouter, int lines, double interval);
    CommandFigures idleSessions(Server server, const CommandMap &map, int routers, int perRouter);
    void finish(ServeProcess &process, const std::string &what);
    FleetFigures ready(Server server, int routers);
    FleetFigures sessions(Server server, const std::string &scenario, int routers, int perRouter,
                          int items, double delay);
    FleetFigures rate(Server server, int routers, int connections);
    void countStreams(int exact, int wrong, const std::vector<std::string> &problems,
                      const std::string &what);
    int scaled(int routers) const;
    static const char *label(Server server);

    FleetOptions m_options;
    std::string m_workRoot;
    Report &m_report;
    int m_streams = 0;
    int m_runs = 0;
};

// The fleet rows of the report drawn as bars, Zentrel beside the asyncio peer.
bool writeFleetChart(const std::string &path, const std::vector<Figure> &figures,
                     const std::string &caption);

} // namespace zentrel::bench

// tst_fleet_figures.cpp: what the fleet phase makes of its measurements: lateness, the side-by-side rows, the chart.
#include "fleet.h"
#include "fleet_lateness.h"
#include "report.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

using namespace zentrel::bench;

namespace {

ServerEvent sessionStart(const std::string &router, const std::string &peer, double time)
{
    std::ostringstream line;
    line.precision(17);
    line << R"({"event":"session-start","router":")" << router << R"(","session":1,"peer":")" << peer
         << R"(","time":)" << time << "}";
    return *ServerEvent::parse(line.str());
}

FleetConnection connection(int endpoint, int port, double connected, std::vector<double> arrivals)
{
    FleetConnection c;
    c.endpoint = endpoint;
    c.localPort = port;
    c.connected = connected;
    c.arrivals = std::move(arrivals);
    c.exact = true;
    return c;
}

std::string readAll(const std::string &path)
{
    std::ifstream file(path);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

} // namespace

// Wall-clock event times land on the monotonic clock through the offset;
// each session is timed from its own accept, matched by router and port.
TEST(Lateness, eachItemAgainstItsOwnSessionsAccept)
{
    const double offset = 1765000000.0;
    SessionStarts starts(offset);
    starts.add(sessionStart("r-1", "127.0.0.1:5001", offset + 10.0));
    starts.add(sessionStart("r-2", "127.0.0.1:5001", offset + 20.0));   // same port, other router
    starts.add(*ServerEvent::parse(R"({"event":"session-end","router":"r-1","peer":"127.0.0.1:5002","time":1})"));

    const std::vector<FleetConnection> connections = {
        connection(0, 5001, 9.999, {10.1005, 10.2010}),
        connection(1, 5001, 19.990, {20.1000}),
        connection(0, 5002, 30.000, {30.1030}),   // no session-start: timed from connect
    };
    const Lateness late = measureLateness(connections, {"r-1", "r-2"}, starts, 0.1);
    ASSERT_EQ(late.itemsMs.size(), 4u);
    EXPECT_NEAR(late.itemsMs[0], 0.5, 1e-6);
    EXPECT_NEAR(late.itemsMs[1], 1.0, 1e-6);
    EXPECT_NEAR(late.itemsMs[2], 0.0, 1e-6);
    EXPECT_NEAR(late.itemsMs[3], 3.0, 1e-6);
    EXPECT_EQ(late.unmatched, 1);
    EXPECT_EQ(late.firstItemsMs.size(), 3u);
    ASSERT_EQ(late.lastItemsMs.size(), 3u);
    EXPECT_NEAR(late.firstItemsMs[0], 0.5, 1e-6);
    EXPECT_NEAR(late.lastItemsMs[0], 1.0, 1e-6);
    ASSERT_EQ(late.acceptLagMs.size(), 2u);
    EXPECT_NEAR(late.acceptLagMs[0], 1.0, 1e-6);
    EXPECT_NEAR(late.acceptLagMs[1], 10.0, 1e-6);
}

TEST(Lateness, wrongStreamsAndUnknownRoutersAreLeftOut)
{
    SessionStarts starts(0);
    starts.add(sessionStart("r-1", "[::1]:6000", 1.0));
    FleetConnection wrong = connection(0, 6000, 0.9, {1.5});
    wrong.exact = false;
    const Lateness late = measureLateness({wrong, connection(3, 6000, 2.0, {3.0})}, {"r-1"}, starts, 1.0);
    ASSERT_EQ(late.itemsMs.size(), 1u);   // the unknown router's, timed from its connect
    EXPECT_NEAR(late.itemsMs[0], 0.0, 1e-9);
    EXPECT_EQ(late.unmatched, 1);
    EXPECT_TRUE(std::isnan(starts.startOf("r-1", 6001)));
    EXPECT_DOUBLE_EQ(starts.startOf("r-1", 6000), 1.0);
}

TEST(Report, comparedRowsCarryThePeerAndTheRatio)
{
    Report report;
    report.add("plain", "a window figure", "ms", 2.0, 1, 4, true);
    report.addCompared("fleet_x_ms", "x, median", "ms", 0.5, 2.0, 3, 1, true);
    report.addCompared("fleet_rate", "rate", "conn/s", 100, std::nan(""), 0);
    const auto &figures = report.figures();
    ASSERT_EQ(figures.size(), 3u);
    EXPECT_FALSE(figures[0].peer);
    EXPECT_EQ(figures[1].met, true);
    EXPECT_EQ(figures[1].target, "<= 1");
    EXPECT_FALSE(figures[2].met);   // information only

    const std::string path = std::filesystem::temp_directory_path().string() + "/tst-fleet-report.json";
    ASSERT_TRUE(report.writeJson(path, ""));
    const std::string json = readAll(path);
    std::filesystem::remove(path);
    EXPECT_NE(json.find(R"("id": "fleet_x_ms", "figure": "x, median", "unit": "ms", "value": 0.500000, )"
                        R"("target": "<= 1", "met": true, "asyncio": 2.000000, "ratio_asyncio": 4.0000})"),
              std::string::npos)
        << json;
    EXPECT_NE(json.find(R"("met": null, "asyncio": null, "ratio_asyncio": null})"), std::string::npos) << json;
    EXPECT_NE(json.find(R"("id": "plain", "figure": "a window figure", "unit": "ms", "value": 2.000000, )"
                        R"("target": "<= 4", "met": true})"),
              std::string::npos)
        << json;
}

TEST(FleetChart, onePanelPerComparedFleetFigure)
{
    Report report;
    report.add("pacing_median_error_ms", "pacing error, median", "ms", 0.5, 2, 2, true);
    report.addCompared("fleet_ready_ms", "1,000 routers: start to ready", "ms", 120, 240, 0, 500, true);
    report.addCompared("fleet2k_rss_kib_per_session", "2,000 sessions: <peak> & more", "KiB", 4, std::nan(""), 1, 20, true);
    const std::string path = std::filesystem::temp_directory_path().string() + "/tst-fleet-chart.svg";
    ASSERT_TRUE(writeFleetChart(path, report.figures(), "caption"));
    const std::string svg = readAll(path);
    std::filesystem::remove(path);
    EXPECT_EQ(svg.rfind("<svg ", 0), 0u);
    EXPECT_NE(svg.find("</svg>"), std::string::npos);
    EXPECT_EQ(svg.find("pacing error"), std::string::npos);
    EXPECT_NE(svg.find("1,000 routers: start to ready (ms)"), std::string::npos);
    EXPECT_NE(svg.find("&lt;peak&gt; &amp; more"), std::string::npos);   // escaped, so the file stays valid
    EXPECT_NE(svg.find("240 (\u00d72.00)"), std::string::npos);
    EXPECT_NE(svg.find("n/a"), std::string::npos);
    EXPECT_NE(svg.find("target &lt;= 500"), std::string::npos);

    Report single;
    single.add("pacing_median_error_ms", "pacing error, median", "ms", 0.5, 2, 2, true);
    EXPECT_FALSE(writeFleetChart(path, single.figures(), "caption"));
}

// tst_fleet_client.cpp: the fleet bench's own checks: event lines, the many-connection client, the asyncio peer.
#include "clock.h"
#include "command_client.h"
#include "fleet_client.h"
#include "raw_sender.h"
#include "serve_process.h"
#include "server_events.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace zentrel::bench;

namespace {

struct TempDir
{
    std::string path;
    TempDir()
    {
        std::string pattern = std::filesystem::temp_directory_path().string() + "/tst-fleet-XXXXXX";
        path = mkdtemp(pattern.data()) ? pattern : "";
    }
    ~TempDir() { std::filesystem::remove_all(path); }
};

std::vector<std::string> peerCommand(int routers, int sessions)
{
    return {"/usr/bin/python3", ZENTREL_SOURCE_DIR "/bench/asyncio_peer.py", "--port", "0", "--copies",
            std::to_string(routers), "--sessions", std::to_string(sessions)};
}

} // namespace

TEST(ServerEvent, readsFlatLinesAndRefusesOthers)
{
    const auto event = ServerEvent::parse(
        R"({"event": "session-start", "router":"r-2", "session":3, "peer":"127.0.0.1:40312", "time":1765130000.123456, "note":"Caf\u00e9 \"x\"\\"})");
    ASSERT_TRUE(event);
    EXPECT_EQ(event->kind(), "session-start");
    EXPECT_EQ(event->text("router"), "r-2");
    EXPECT_DOUBLE_EQ(event->number("session"), 3);
    EXPECT_DOUBLE_EQ(event->number("time"), 1765130000.123456);
    EXPECT_EQ(event->text("note"), "Caf\xE9 \"x\"\\");
    EXPECT_TRUE(std::isnan(event->number("router")));
    EXPECT_TRUE(std::isnan(event->number("missing")));
    EXPECT_TRUE(ServerEvent::parse("{}"));
    // zentrel-serve's session-end carries the typed lines as a list.
    const auto ended = ServerEvent::parse(R"({"event":"session-end","typed":["admin","a,b]"],"none":[],"verdict":"none"})");
    ASSERT_TRUE(ended);
    EXPECT_EQ(ended->text("typed"), R"(["admin","a,b]"])");
    EXPECT_EQ(ended->text("none"), "[]");
    EXPECT_EQ(ended->text("verdict"), "none");

    for (const char *bad : {"", "event", R"({"a":1)", R"({"a":[1})", R"({"a":[{"b":1}]})", R"({"a":{"b":1}})",
                            R"({"a":1} trailing)", R"({"a":"open)", R"({a:1})"})
        EXPECT_FALSE(ServerEvent::parse(bad)) << bad;
}

TEST(ServerEvent, peerPortOfBothFamilies)
{
    EXPECT_EQ(peerPort("127.0.0.1:40312"), 40312);
    EXPECT_EQ(peerPort("[::1]:80"), 80);
    EXPECT_EQ(peerPort("127.0.0.1"), -1);
    EXPECT_EQ(peerPort("127.0.0.1:"), -1);
    EXPECT_EQ(peerPort("127.0.0.1:99999"), -1);
    EXPECT_EQ(peerPort("127.0.0.1:12x"), -1);
}

TEST(EventsTail, keepsAnUnfinishedLineForLater)
{
    TempDir dir;
    const std::string path = dir.path + "/events.jsonl";
    EventsTail tail(path);
    EXPECT_FALSE(tail.nextLine());   // not written yet
    std::ofstream out(path);
    out << "{\"event\":\"listening\"}\n{\"event\":\"re" << std::flush;
    EXPECT_EQ(tail.nextLine(), "{\"event\":\"listening\"}");
    EXPECT_FALSE(tail.nextLine());
    out << "ady\"}\n" << std::flush;
    EXPECT_EQ(tail.nextLine(), "{\"event\":\"ready\"}");
    EXPECT_FALSE(tail.nextLine());
}

TEST(Statistics, percentileIsTheNearestRank)
{
    std::vector<double> hundred;
    for (int i = 100; i >= 1; --i)
        hundred.push_back(i);
    EXPECT_EQ(percentile(hundred, 0.99), 99);
    EXPECT_EQ(percentile(hundred, 0.5), 50);
    EXPECT_EQ(percentile(hundred, 1.0), 100);
    EXPECT_EQ(percentile({7}, 0.99), 7);
    EXPECT_EQ(percentile({1, 2}, 0.0), 1);
    EXPECT_TRUE(std::isnan(percentile({}, 0.5)));
}

// The client must tell every kind of wrong stream from a right one.
TEST(FleetClient, catchesEveryWrongStream)
{
    std::signal(SIGPIPE, SIG_IGN);
    const Script script = pacingScript(8);
    std::string flipped = script.wire;
    flipped[flipped.size() / 2] ^= 0x20;
    const std::map<std::string, std::pair<std::string, std::string>> cases = {
        {"exact", {script.wire, ""}},
        {"flipped byte", {flipped, "wrong byte at offset"}},
        {"cut short", {script.wire.substr(0, script.wire.size() - 3), "connection closed after"}},
        {"byte added", {script.wire + "x", "after the last item"}},
        {"nothing", {"", "connection closed after 0 of"}},
    };
    for (const auto &[name, sentAndProblem] : cases) {
        RawSender sender(sentAndProblem.first);
        ASSERT_TRUE(sender.ok());
        FleetPlan plan;
        plan.endpoints = {{"127.0.0.1", sender.port()}};
        plan.total = 3;
        plan.inFlight = 1;   // the raw sender serves one client at a time
        plan.timeout = 10;
        const FleetResult result = runFleet(plan, script);
        EXPECT_EQ(result.made, 3) << name;
        if (sentAndProblem.second.empty()) {
            EXPECT_EQ(result.exact, 3) << name;
            EXPECT_EQ(result.wrong, 0) << name;
        } else {
            EXPECT_EQ(result.wrong, 3) << name;
            ASSERT_FALSE(result.problems.empty()) << name;
            EXPECT_NE(result.problems.front().find(sentAndProblem.second), std::string::npos)
                << name << ": " << result.problems.front();
        }
    }
}

TEST(FleetClient, reportsARouterThatDoesNotListen)
{
    int port = 0;
    {
        RawSender gone("x");   // a port that was just free
        port = gone.port();
    }
    FleetPlan plan;
    plan.endpoints = {{"127.0.0.1", port}};
    plan.perEndpoint = 2;
    plan.timeout = 5;
    const FleetResult result = runFleet(plan, oneItemScript());
    EXPECT_EQ(result.wrong, 2);
    ASSERT_FALSE(result.problems.empty());
    EXPECT_NE(result.problems.front().find("connect"), std::string::npos) << result.problems.front();
}

// The asyncio peer plays the bench's scripts byte for byte, one session per
// client at the set pace, and names each session's peer so it can be timed.
TEST(AsyncioPeer, servesPacedSessionsThatTheClientCanMatch)
{
    TempDir dir;
    const double delay = 0.05;
    const Script script = pacingScript(6);
    ServeProcess peer(peerCommand(2, 3), dir.path + "/paced");
    std::string error;
    ASSERT_TRUE(peer.start(script, "0.05", error)) << error;
    ASSERT_TRUE(peer.waitReady(20, error)) << error << peer.logTail();
    ASSERT_EQ(peer.routers().size(), 2u);
    EXPECT_EQ(peer.routers()[0].name, "router-1");
    EXPECT_EQ(peer.routers()[1].name, "router-2");

    FleetPlan plan;
    plan.endpoints = endpointsOf(peer);
    plan.perEndpoint = 3;
    plan.spread = delay;
    plan.timeout = 20;
    plan.wantArrivals = true;
    const FleetResult result = runFleet(plan, script);
    EXPECT_EQ(result.exact, 6) << (result.problems.empty() ? "" : result.problems.front());
    sleepFor(0.2);
    std::map<std::pair<std::string, int>, int> started;
    int exhausted = 0;
    peer.readEvents([&](const ServerEvent &event) {
        if (event.kind() == "session-start")
            ++started[{event.text("router"), peerPort(event.text("peer"))}];
        exhausted += event.kind() == "session-end" && event.text("reason") == "script-exhausted";
    });
    EXPECT_EQ(exhausted, 6);
    for (const FleetConnection &connection : result.connections) {
        const std::string &router = peer.routers()[std::size_t(connection.endpoint)].name;
        EXPECT_EQ((started[{router, connection.localPort}]), 1) << router << " " << connection.localPort;
        ASSERT_EQ(connection.arrivals.size(), script.items());
        // No item can come before its pause is over. Counted from the dial, as
        // the client may notice its connect well after the server accepted.
        for (std::size_t k = 0; k < connection.arrivals.size(); ++k)
            EXPECT_GE(connection.arrivals[k] - connection.dialled, double(k + 1) * delay - 0.001);
    }
    EXPECT_TRUE(peer.stop(5).clean);
}

TEST(AsyncioPeer, readsEveryKindOfItemAsZentrelDoes)
{
    TempDir dir;
    const Script script = throughputScript(3000, 99);
    ServeProcess peer(peerCommand(1, 4), dir.path + "/mixed");
    std::string error;
    ASSERT_TRUE(peer.start(script, "0", error)) << error;
    ASSERT_TRUE(peer.waitReady(20, error)) << error << peer.logTail();
    FleetPlan plan;
    plan.endpoints = endpointsOf(peer);
    plan.total = 8;
    plan.inFlight = 4;
    plan.timeout = 20;
    const FleetResult result = runFleet(plan, script);
    EXPECT_EQ(result.exact, 8) << (result.problems.empty() ? "" : result.problems.front());
    EXPECT_TRUE(peer.stop(5).clean);
}

TEST(FleetClient, spreadsItsConnectsAndGivesUpOnAStreamThatNeverEnds)
{
    // A listener that never accepts: the kernel completes each handshake and
    // the stream neither brings a byte nor ends.
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 16), 0);
    ASSERT_EQ(::getsockname(listener, reinterpret_cast<sockaddr *>(&address), &length), 0);

    FleetPlan plan;
    plan.endpoints = {{"127.0.0.1", ntohs(address.sin_port)}};
    plan.perEndpoint = 4;
    plan.spread = 0.2;
    plan.timeout = 0.6;
    plan.wantArrivals = true;
    const FleetResult result = runFleet(plan, oneItemScript());
    ::close(listener);
    EXPECT_TRUE(result.timedOut);
    EXPECT_EQ(result.wrong, 4);
    ASSERT_FALSE(result.problems.empty());
    EXPECT_NE(result.problems.front().find("no end of stream"), std::string::npos) << result.problems.front();
    ASSERT_EQ(result.connections.size(), 4u);
    for (std::size_t k = 0; k < 4; ++k)
        EXPECT_GE(result.connections[k].connected - result.started, 0.05 * double(k) - 0.001) << k;
}

// With --sessions 1 a second client waits its turn, accepted, and is then
// served from its own start: the queueing rule the bench's sessions rely on.
TEST(AsyncioPeer, aClientBeyondTheSessionsWaitsItsTurn)
{
    TempDir dir;
    const Script script = pacingScript(3);
    ServeProcess peer(peerCommand(1, 1), dir.path + "/queue");
    std::string error;
    ASSERT_TRUE(peer.start(script, "0.05", error)) << error;
    ASSERT_TRUE(peer.waitReady(20, error)) << error << peer.logTail();
    FleetPlan plan;
    plan.endpoints = endpointsOf(peer);
    plan.perEndpoint = 2;
    plan.timeout = 20;
    plan.wantArrivals = true;
    const FleetResult result = runFleet(plan, script);
    ASSERT_EQ(result.exact, 2) << (result.problems.empty() ? "" : result.problems.front());
    auto first = result.connections[0].arrivals;
    auto second = result.connections[1].arrivals;
    if (second.front() < first.front())
        std::swap(first, second);
    // The second session starts when the first has sent its three items, and
    // its own first comes a pause later: four pauses after both clients dialled.
    // (Read times only err late, so a bound from below holds on a busy machine;
    // one from the first session's last read would not.)
    const double dialled = std::min(result.connections[0].dialled, result.connections[1].dialled);
    EXPECT_GE(second.front() - dialled, 4 * 0.05 - 0.001);
    EXPECT_TRUE(peer.stop(5).clean);
}

TEST(AsyncioPeer, stopsDuringAPauseAndSaysSo)
{
    TempDir dir;
    ServeProcess peer(peerCommand(1, 1), dir.path + "/stop");
    std::string error;
    ASSERT_TRUE(peer.start(pacingScript(3), "30", error)) << error;
    ASSERT_TRUE(peer.waitReady(20, error)) << error << peer.logTail();
    const int client = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(std::uint16_t(peer.routers().front().port));
    ASSERT_EQ(::connect(client, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    bool started = false;
    for (int i = 0; i < 2000 && !started; ++i) {
        peer.readEvents([&](const ServerEvent &event) { started = started || event.kind() == "session-start"; });
        sleepFor(0.005);
    }
    ASSERT_TRUE(started);
    const StopOutcome outcome = peer.stop(5);
    EXPECT_TRUE(outcome.clean) << outcome.description;
    std::string reason;
    peer.readEvents([&](const ServerEvent &event) {
        if (event.kind() == "session-end")
            reason = event.text("reason") + "/" + event.text("items_sent");
    });
    EXPECT_EQ(reason, "stopped/0");
    char byte;
    EXPECT_EQ(::recv(client, &byte, 1, 0), 0);   // closed, no item sent
    ::close(client);
}

// The command phase's client and the asyncio peer's command map: every
// typed line gets its echo, answer and prompt byte for byte and is timed; a
// reply that differs from the map fails its session; idle sessions are held
// until the measurement is done.
TEST(CommandClient, typesTimesAndChecksEveryReply)
{
    TempDir dir;
    const CommandMap map = commandMap(12);
    ServeProcess peer(peerCommand(2, 2), dir.path + "/commands");
    std::string error;
    ASSERT_TRUE(peer.start({{"commands.yaml", map.yaml}}, error)) << error;
    ASSERT_TRUE(peer.waitReady(20, error)) << error << peer.logTail();

    CommandPlan plan;
    plan.endpoints = endpointsOf(peer);
    plan.perEndpoint = 2;
    plan.lines = 5;
    plan.interval = 0.01;
    plan.timeout = 20;
    const CommandResult typed = runCommands(plan, map);
    EXPECT_EQ(typed.exact, 4) << (typed.problems.empty() ? "" : typed.problems.front());
    EXPECT_EQ(typed.latencies.size(), 20u);

    // Sessions 1 and 3 type line 3 of the map (their fourth and second lines).
    CommandMap wrong = map;
    wrong.replies[3][wrong.echoSize(3) + 4] ^= 1;
    const CommandResult caught = runCommands(plan, wrong);
    EXPECT_EQ(caught.wrong, 2);
    ASSERT_FALSE(caught.problems.empty());
    EXPECT_NE(caught.problems.front().find("show g0 x3"), std::string::npos) << caught.problems.front();

    plan.lines = 0;
    int held = 0;
    plan.whileIdle = [&] {
        peer.readEvents([&](const ServerEvent &event) { held += event.kind() == "session-start"; });
    };
    EXPECT_EQ(runCommands(plan, map).exact, 4);
    EXPECT_EQ(held, 12) << "every session had started before the client let go";
    EXPECT_TRUE(peer.stop(5).clean);
}

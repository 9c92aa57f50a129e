// tst_serve.cpp: zentrel-serve as a real process, served to real loopback clients.
#include "serve_rig.h"

#include <gtest/gtest.h>

#include <csignal>
#include <memory>

using namespace zentrel::tests;

namespace {

const char *const LoginScript = "\"Router>\",\"Password:\",\"Welcome\r\n\"\r\n";
const std::string LoginBytes = "Router>Password:Welcome\r\n";

std::string ini(double delay, int port = 1101)
{
    return "[Settings]\r\nTCP-Port=" + std::to_string(port) + "\r\nDelay=" + std::to_string(delay) + "\r\n";
}

std::vector<Event> named(const std::vector<Event> &events, const std::string &name)
{
    std::vector<Event> found;
    for (const Event &event : events)
        if (event.is(name))
            found.push_back(event);
    return found;
}

} // namespace

TEST(Serve, playsTheScriptAtItsPaceAndReportsTheSession)
{
    ScratchDir scratch;
    const std::string dir = scratch.router("edge", LoginScript, ini(0.2));
    const std::string events = scratch.path() + "/events.jsonl";
    ServeProcess serve({"--port", "0", "--events", events, "--connections", "1", dir}, false);

    // The events file is written as things happen: "ready" is there before any client.
    std::string text;
    for (int i = 0; i < 200 && text.find("\"ready\"") == std::string::npos; ++i) {
        usleep(10000);
        text = scratch.read("events.jsonl");
    }
    const Event listening = parseEvent(text.substr(0, text.find('\n')));
    ASSERT_TRUE(listening.is("listening")) << text;
    EXPECT_EQ(listening["router"], "edge");
    EXPECT_EQ(listening["address"], "127.0.0.1");
    EXPECT_EQ(listening["protocol"], "telnet");

    Client client(listening.number("port"));
    ASSERT_TRUE(client.connected());
    client.send("admin\r\n");
    const auto chunks = client.readAll();
    EXPECT_EQ(joined(chunks), LoginBytes);
    // Each item after its own pause: never early, never all at once.
    ASSERT_GE(chunks.size(), 2u);
    EXPECT_GE(chunks.front().at, 0.19);
    EXPECT_GE(chunks.back().at, 0.59);
    EXPECT_EQ(serve.wait(), 0);

    std::vector<Event> all;
    std::size_t from = 0;
    text = scratch.read("events.jsonl");
    for (std::size_t end; (end = text.find('\n', from)) != std::string::npos; from = end + 1)
        all.push_back(parseEvent(text.substr(from, end - from)));
    const auto starts = named(all, "session-start");
    const auto ends = named(all, "session-end");
    ASSERT_EQ(starts.size(), 1u);
    ASSERT_EQ(ends.size(), 1u);
    EXPECT_EQ(starts[0]["session"], "1");
    EXPECT_EQ(starts[0]["peer"].rfind("127.0.0.1:", 0), 0u);
    EXPECT_GT(std::stod(starts[0]["time"]), 1.5e9);
    EXPECT_EQ(ends[0]["peer"], starts[0]["peer"]);
    EXPECT_EQ(ends[0]["reason"], "script-exhausted");
    EXPECT_EQ(ends[0]["items_sent"], "3");
    EXPECT_EQ(ends[0]["items"], "3");
    EXPECT_EQ(ends[0]["bytes_out"], std::to_string(LoginBytes.size()));
    EXPECT_EQ(ends[0]["bytes_in"], "7");
    EXPECT_GE(std::stod(ends[0]["seconds"]), 0.59);
    EXPECT_TRUE(all.back().is("exit")) << all.back().line;
}

TEST(Serve, servesSeveralRoutersAndCopiesEachWithItsOwnScript)
{
    ScratchDir scratch;
    const std::string alpha = scratch.router("alpha", "\"alpha\"\r\n", ini(0));
    const std::string beta = scratch.router("beta", "\"beta\"\r\n", ini(0));
    ServeProcess serve({"--port", "0", "--copies", "2", alpha, beta});
    const auto ports = serve.ports();
    ASSERT_EQ(ports.size(), 4u) << serve.stderrText();
    for (const auto &[router, port] : ports) {
        Client client(port);
        EXPECT_EQ(joined(client.readAll()), router.substr(0, router.find('-'))) << router;
    }
    EXPECT_TRUE(ports.count("alpha-1") && ports.count("alpha-2") && ports.count("beta-2"));
    serve.signal(SIGTERM);
    EXPECT_EQ(serve.wait(), 0);
}

TEST(Serve, runsSessionsSideBySideAndLetsFurtherClientsWaitInOrder)
{
    ScratchDir scratch;
    const std::string dir = scratch.router("r", "a,b\r\n", ini(0.3));
    ServeProcess serve({"--port", "0", "--sessions", "2", "--connections", "4", dir});
    const int port = serve.ports().at("r");

    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < 3; ++i) {
        clients.push_back(std::make_unique<Client>(port));
        serve.until("session-start", 2);
    }
    // One that gives up while it waits costs the others nothing and gets no session.
    { Client leaver(port); }
    clients.push_back(std::make_unique<Client>(port));
    for (auto &client : clients)
        EXPECT_EQ(joined(client->readAll()), "ab");
    EXPECT_EQ(serve.wait(), 0);

    const auto starts = named(serve.events(), "session-start");
    const auto ends = named(serve.events(), "session-end");
    ASSERT_EQ(starts.size(), 4u);
    ASSERT_EQ(ends.size(), 4u);
    // Two at once: both started before the first ended.
    EXPECT_LT(&*std::find_if(serve.events().begin(), serve.events().end(),
                             [](const Event &e) { return e.is("session-start") && e["session"] == "2"; }),
              &*std::find_if(serve.events().begin(), serve.events().end(),
                             [](const Event &e) { return e.is("session-end"); }));
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(starts[i]["session"], std::to_string(i + 1));
    EXPECT_LT(std::stod(starts[2]["time"]), std::stod(starts[3]["time"]));
    for (const Event &end : ends)
        EXPECT_EQ(end["reason"], "script-exhausted") << end.line;
}

TEST(Serve, stopsOnSignalOrTimeoutWithoutSendingAnotherItem)
{
    struct Case {
        std::vector<std::string> extra;
        int signo;
        int status;
    };
    for (const Case &c : {Case{{}, SIGTERM, 0}, Case{{}, SIGINT, 0}, Case{{"--timeout", "0.8"}, 0, 124}}) {
        ScratchDir scratch;
        const std::string dir = scratch.router("r", "one,two,three\r\n", ini(0.5));
        std::vector<std::string> arguments{"--port", "0", dir};
        arguments.insert(arguments.end(), c.extra.begin(), c.extra.end());
        ServeProcess serve(arguments);
        Client client(serve.ports().at("r"));
        EXPECT_EQ(client.readSome(3), "one");
        if (c.signo)
            serve.signal(c.signo);
        EXPECT_EQ(serve.wait(), c.status) << serve.stderrText();
        EXPECT_EQ(joined(client.readAll()), "");
        const auto ends = named(serve.events(), "session-end");
        ASSERT_EQ(ends.size(), 1u);
        EXPECT_EQ(ends[0]["reason"], "stopped");
        EXPECT_EQ(serve.events().back()["status"], std::to_string(c.status));
    }
}

TEST(Serve, readsTheScriptAfreshAndServesAClientThatOnlyStoppedSending)
{
    ScratchDir scratch;
    const std::string dir = scratch.router("r", "first\r\n", ini(0.05));
    ServeProcess serve({"--port", "0", dir});
    const int port = serve.ports().at("r");
    {
        Client client(port);
        EXPECT_EQ(joined(client.readAll()), "first");
    }
    scratch.write("r/RESPONSE.TXT", "second,third\r\n");
    Client client(port);
    client.send("admin\r\n");
    client.shutdownWrite();
    EXPECT_EQ(joined(client.readAll()), "secondthird");

    ::unlink((dir + "/RESPONSE.TXT").c_str());
    Client late(port);
    EXPECT_EQ(joined(late.readAll()), "");
    serve.signal(SIGTERM);
    EXPECT_EQ(serve.wait(), 0);
}

TEST(Serve, warnsOfAMissingScriptAndWritesHumanLinesWithoutEvents)
{
    ScratchDir scratch;
    const std::string dir = scratch.router("quiet", nullptr, ini(0));
    ServeProcess serve({"--port", "0", "--connections", "1", dir}, false);
    std::string text;
    for (int i = 0; i < 200 && text.find("listening on 127.0.0.1:") == std::string::npos; ++i) {
        usleep(10000);
        text = serve.stderrText();
    }
    EXPECT_NE(text.find("RESPONSE.TXT is missing"), std::string::npos) << text;
    const std::size_t at = text.find("listening on 127.0.0.1:") + 23;
    Client client(std::stoi(text.substr(at)));
    EXPECT_EQ(joined(client.readAll()), "");
    EXPECT_EQ(serve.wait(), 0);
    EXPECT_NE(serve.stderrText().find("quiet session 1 from 127.0.0.1:"), std::string::npos)
        << serve.stderrText();
}

TEST(Serve, refusesBadInputWithOneLineAndStatus2BeforeListening)
{
    ScratchDir scratch;
    const std::string dir = scratch.router("r", "x\r\n", ini(0));
    const std::string badPort = scratch.router("p", "x\r\n", ini(0, 70000));
    const struct {
        std::vector<std::string> arguments;
        const char *names;
    } cases[] = {
        {{"--copies", "0", dir}, "--copies"},
        {{"--sessions", "-1", dir}, "--sessions"},
        {{"--connections", "x", dir}, "--connections"},
        {{"--timeout", "0", dir}, "--timeout"},
        {{"--port", "65536", dir}, "--port"},
        {{"--port", "65535", "--copies", "2", dir}, "port 65536"},
        {{"--listen", "localhost", dir}, "--listen"},
        {{"--bogus", dir}, "--bogus"},
        {{"--port"}, "--port"},
        {{dir + "/nowhere"}, "nowhere"},
        {{badPort}, "TCP-Port 70000"},
        {{"--events", scratch.path() + "/no/such/dir/e.jsonl", dir}, "--events"},
    };
    for (const auto &c : cases) {
        ServeProcess serve(c.arguments, false);
        EXPECT_EQ(serve.wait(), 2) << c.names;
        const std::string text = serve.stderrText();
        EXPECT_NE(text.find(c.names), std::string::npos) << text;
        EXPECT_EQ(text.find('\n'), text.size() - 1) << text;
    }

    // A port in use stops the whole fleet: the router before it does not listen either.
    ServeProcess holder({"--port", "0", dir});
    const int taken = holder.ports().at("r");
    ServeProcess serve({"--port", std::to_string(taken - 1), "--copies", "2", dir});
    EXPECT_EQ(serve.wait(), 2);
    EXPECT_NE(serve.stderrText().find("'r-2': cannot listen on 127.0.0.1:" + std::to_string(taken)),
              std::string::npos) << serve.stderrText();
    EXPECT_TRUE(named(serve.events(), "listening").empty());
    EXPECT_FALSE(Client(taken - 1).connected());
}

TEST(Serve, listensOnIpv6Loopback)
{
    ScratchDir scratch;
    const std::string dir = scratch.router("six", "v6\r\n", ini(0));
    ServeProcess serve({"--port", "0", "--listen", "::1", "--connections", "1", dir});
    const auto ports = serve.ports();
    EXPECT_EQ(named(serve.events(), "listening").at(0)["address"], "::1");
    Client client(ports.at("six"), "::1");
    EXPECT_EQ(joined(client.readAll()), "v6");
    EXPECT_EQ(serve.wait(), 0);
    EXPECT_EQ(named(serve.events(), "session-start").at(0)["peer"].rfind("[::1]:", 0), 0u);
}

// tst_serve_faults.cpp: routers that end sessions with a reset or a close on purpose, trickle, and refuse nonsense.
#include "serve_rig.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace zentrel::tests;

namespace {

const char *const Script = "\"Router#\",\"\r\nVersion 1.0\r\nRouter#\"\r\n";

// What a plain client got: the bytes, in how many reads, and how the stream ended.
struct Received {
    std::string bytes;
    int reads = 0;
    int error = 0;   // 0: an orderly close; ECONNRESET: a reset
    double seconds = 0;
};

Received receive(int port)
{
    Received got;
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    ::inet_pton(AF_INET, "127.0.0.1", &to.sin_addr);
    const timeval limit{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    const auto start = std::chrono::steady_clock::now();
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&to), sizeof to) == 0) {
        for (char buffer[4096];;) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) {
                got.error = n < 0 ? errno : 0;
                break;
            }
            got.bytes.append(buffer, std::size_t(n));
            ++got.reads;
        }
    }
    got.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ::close(fd);
    return got;
}

} // namespace

TEST(Faults, aResetAfterTheFirstItemTrickledAndACloseBeforeAny)
{
    ScratchDir scratch;
    const std::string resetting = scratch.router(
        "resetting", Script, "[Settings]\r\nDelay=0\r\nFault=Reset\r\nFaultAfter=1\r\nRate=100\r\nJitter=0.01\r\n");
    const std::string closing = scratch.router("closing", Script, "[Settings]\r\nDelay=0\r\nFault=close\r\nFaultAfter=0\r\n");
    ServeProcess serve({"--port", "0", "--connections", "1", "--seed", "42", resetting, closing});
    const auto ports = serve.ports();
    EXPECT_EQ(field(named(serve.events(), "ready").at(0), "seed"), "42");

    // 7 bytes at 100 a second: a few reads over most of 70 ms, then the reset.
    const Received reset = receive(ports.at("resetting"));
    EXPECT_EQ(reset.bytes, "Router#");
    EXPECT_EQ(reset.error, ECONNRESET);
    EXPECT_GT(reset.reads, 1);
    EXPECT_GE(reset.seconds, 0.05);
    const Received closed = receive(ports.at("closing"));
    EXPECT_EQ(closed.bytes, "");
    EXPECT_EQ(closed.error, 0);
    EXPECT_EQ(serve.wait(), 0);

    const auto faults = named(serve.events(), "fault");
    ASSERT_EQ(faults.size(), 2u);
    EXPECT_EQ(field(faults[0], "fault"), "reset");
    EXPECT_EQ(field(faults[0], "item"), "1");
    EXPECT_EQ(field(faults[1], "fault"), "close");
    EXPECT_EQ(field(faults[1], "item"), "0");
    for (const auto &end : named(serve.events(), "session-end"))
        EXPECT_EQ(field(end, "reason"), "fault") << end;
}

TEST(Faults, nonsenseStopsTheRunBeforeListening)
{
    ScratchDir scratch;
    for (const char *bad : {"Fault=Explode", "Rate=-5", "Jitter=-1", "FaultAfter=-2"}) {
        const std::string dir = scratch.router("r", Script, std::string("[Settings]\r\n") + bad + "\r\n");
        ServeProcess serve({"--port", "0", dir});
        EXPECT_EQ(serve.wait(), 2) << bad;
        EXPECT_TRUE(named(serve.events(), "listening").empty()) << bad;
        EXPECT_NE(serve.stderrText().find("router 'r'"), std::string::npos) << serve.stderrText();
    }
}

namespace {

// A command-driven router in the scratch directory: commands.yaml with an exec mode whose commands follow.
std::string commandRouter(ScratchDir &scratch, const std::string &name, const std::string &commands,
                          const std::string &routerKeys = "")
{
    const std::string dir = scratch.router(name, nullptr, "[Settings]\r\nDelay=0\r\n");
    scratch.write(name + "/commands.yaml",
                  routerKeys + "modes:\n  exec:\n    prompt: \"R1#\"\n    commands:\n" + commands);
    return dir;
}

} // namespace

TEST(Faults, aCommandsFaultIsAnEventAndATranscriptMark)
{
    ScratchDir scratch;
    const std::string dir = commandRouter(scratch, "cmd", "      show tech: {answer: \"0123456789abcdef\\n\", cut: 12}\n");
    ServeProcess serve({"--port", "0", "--connections", "1", "--transcripts", scratch.path() + "/casts", dir});
    Client client(serve.ports().at("cmd"));
    client.send("show tech\r\n");
    const std::string got = client.readAll();
    client.close();
    EXPECT_TRUE(got.ends_with("show tech\r\n0123456789ab")) << got;
    EXPECT_EQ(serve.wait(), 0);
    const auto faults = named(serve.events(), "fault");
    ASSERT_EQ(faults.size(), 1u);
    EXPECT_EQ(field(faults[0], "fault"), "cut");
    EXPECT_EQ(field(faults[0], "command"), "show tech");
    EXPECT_EQ(field(named(serve.events(), "session-end").at(0), "reason"), "fault");
    EXPECT_NE(scratch.read("casts/cmd-1.cast").find("fault: cut in the answer to \\\"show tech\\\""), std::string::npos)
        << scratch.read("casts/cmd-1.cast");
}

// The run's --timeout ends a session that stalls past it.
TEST(Faults, aStallLongerThanTheTimeoutEndsWithTheRun)
{
    ScratchDir scratch;
    const std::string dir = commandRouter(scratch, "slow", "      show log: {answer: \"one\\ntwo\\n\", stall: 600}\n");
    ServeProcess serve({"--port", "0", "--timeout", "1", dir});
    Client client(serve.ports().at("slow"));
    client.send("show log\r\n");
    EXPECT_TRUE(client.readAll(5).ends_with("show log\r\none\r\nt")) << "half the answer, then the close at the timeout";
    client.close();
    EXPECT_EQ(serve.wait(5), 124);
    EXPECT_EQ(field(named(serve.events(), "session-end").at(0), "reason"), "stopped");
}

TEST(Faults, aCommandsNonsenseIsPlacedAndStopsTheRunAndTheLint)
{
    struct Row {
        std::string commands;
        std::string routerKeys;
        std::string place;   // in the message: ":LINE:COLUMN: error: "
    };
    const std::vector<Row> rows = {
        {"      show: {cut: -1}\n", "", "commands.yaml:5:19: error: cut must be"},
        {"      show: {rate: -10}\n", "", "commands.yaml:5:20: error: rate must be"},
        {"      show: {fault: explode}\n", "", "commands.yaml:5:21: error: fault: is close"},
        {"", "faults: [{after: 1, fault: crash}]\n", "commands.yaml:1:28: error: fault: is close"},
    };
    ScratchDir scratch;
    for (const Row &row : rows) {
        const std::string dir = commandRouter(scratch, "bad", row.commands, row.routerKeys);
        for (const bool lint : {false, true}) {
            std::vector<std::string> arguments{"--port", "0", dir};
            if (lint)
                arguments.insert(arguments.begin(), "--lint");
            ServeProcess serve(arguments, !lint);
            EXPECT_EQ(serve.wait(), 2) << row.place << (lint ? " (lint)" : "");
            EXPECT_TRUE(named(serve.events(), "listening").empty());
            std::string said = serve.stderrText();
            for (const std::string &line : serve.events())   // --lint tells on stdout
                said += line + "\n";
            EXPECT_NE(said.find(row.place), std::string::npos) << said;
        }
    }
}

// tst_verdict_e2e.cpp: real expect, telnet and nc clients typing right and wrong lines against zentrel-serve.
#include "serve_rig.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

using namespace zentrel::tests;

namespace {

const char *const Script = "\"Username: \",\"Password: \",\"Router#\",\"\r\nVersion 1.0\r\nRouter#\"\r\n";
const std::string ScriptBytes = "Username: Password: Router#\r\nVersion 1.0\r\nRouter#";
const std::string Expect = "admin\r\n~secret[0-9]*\r\n\r\nshow version\r\n";

std::string ini(double delay)
{
    return "[Settings]\r\nTCP-Port=1101\r\nDelay=" + std::to_string(delay) + "\r\n";
}

// Runs a shell command; its stdout and exit status.
std::pair<std::string, int> shell(const std::string &command)
{
    std::string out;
    FILE *pipe = ::popen(command.c_str(), "r");
    char buffer[4096];
    for (std::size_t n; pipe && (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        out.append(buffer, n);
    const int status = pipe ? ::pclose(pipe) : -1;
    return {out, WIFEXITED(status) ? WEXITSTATUS(status) : -1};
}

// A telnet client driven by expect, typing what EXPECT.TXT asks for.
int loginWithExpect(const ScratchDir &scratch, int port)
{
    scratch.write("login.exp", "set timeout 10\n"
                               "spawn telnet 127.0.0.1 " + std::to_string(port) + "\n"
                               "expect \"Username: \"; send \"admin\\r\"\n"
                               "expect \"Password: \"; send \"secret42\\r\"\n"
                               "expect \"Router#\"; send \"\\r\"; send \"show version\\r\"\n"
                               "expect \"Version 1.0\"\n"
                               "expect eof\n");
    return shell("expect " + scratch.path() + "/login.exp >/dev/null 2>&1").second;
}

std::vector<std::string> sessionEnds(const ServeProcess &serve)
{
    return named(serve.events(), "session-end");
}

} // namespace

TEST(Verdicts, rightAndWrongClientsGetTheirVerdictsTranscriptsAndReport)
{
    ScratchDir scratch;
    const std::string dir = scratch.router("edge", Script, ini(0.3));
    scratch.write("edge/EXPECT.TXT", Expect);
    const std::string casts = scratch.path() + "/casts";   // made by zentrel-serve
    const std::string report = scratch.path() + "/report.xml";
    ServeProcess serve({"--port", "0", "--connections", "2", "--transcripts", casts, "--junit", report, dir});
    const int port = serve.ports().at("edge");

    EXPECT_EQ(loginWithExpect(scratch, port), 0);
    // nc types everything at once, one line wrong, and reads to the close.
    const auto [received, ncStatus] = shell("printf 'admin\\r\\nsecret\\r\\nshow run\\r\\n' | nc 127.0.0.1 "
                                            + std::to_string(port));
    EXPECT_EQ(ncStatus, 0);
    EXPECT_EQ(received, ScriptBytes);
    EXPECT_EQ(serve.wait(), 1);

    const auto ends = sessionEnds(serve);
    ASSERT_EQ(ends.size(), 2u);
    EXPECT_EQ(field(ends[0], "verdict"), "pass");
    EXPECT_EQ(field(ends[1], "verdict"), "fail");
    EXPECT_NE(ends[1].find(",\"typed\":[\"admin\",\"secret\",\"show run\"],"), std::string::npos) << ends[1];
    EXPECT_NE(ends[1].find("\"first_difference\":{\"position\":3,\"expect_line\":4,\"expected\":\"show "
                           "version\",\"typed\":\"show run\"}"),
              std::string::npos)
        << ends[1];
    const std::string errors = serve.stderrText();
    EXPECT_NE(errors.find("edge session 2 from 127.0.0.1:"), std::string::npos) << errors;
    EXPECT_NE(errors.find("-show version\n+show run\n"), std::string::npos) << errors;

    // What the nc client received, played back from its transcript.
    const auto cat = shell("/usr/bin/python3 " ZENTREL_SERVE_TESTS "/cast_cat.py " + casts + "/edge-2.cast "
                           + scratch.path() + "/played && cat " + scratch.path() + "/played");
    EXPECT_EQ(cat.second, 0);
    EXPECT_EQ(cat.first, ScriptBytes);

    const auto junit = shell("/usr/bin/python3 " ZENTREL_SERVE_TESTS "/check_junit.py " + report
                             + " | grep -E '^(suite|case)'");
    EXPECT_EQ(junit.second, 0);
    EXPECT_NE(junit.first.find("suite edge tests=1 failures=0 errors=0\n"), std::string::npos) << junit.first;
    EXPECT_NE(junit.first.find("suite edge tests=1 failures=1 errors=0\n"), std::string::npos) << junit.first;
    // The header names the port --port 0 got, not 0.
    EXPECT_NE(scratch.read("casts/edge-1.cast").find("\"port\": " + std::to_string(port) + ","), std::string::npos);
    EXPECT_NE(junit.first.find("Failure(ExpectMismatch: line 3: expected \"show version\", typed \"show run\")"),
              std::string::npos)
        << junit.first;
}

TEST(Verdicts, timeoutStillWinsOverAFailedCheck)
{
    ScratchDir scratch;
    const std::string dir = scratch.router("edge", "Router#\r\n", ini(0.1));
    scratch.write("edge/EXPECT.TXT", "show version\r\n");
    ServeProcess serve({"--port", "0", "--timeout", "2", dir});
    const int port = serve.ports().at("edge");
    EXPECT_EQ(shell("printf 'reload\\r\\n' | nc 127.0.0.1 " + std::to_string(port)).second, 0);
    EXPECT_EQ(serve.wait(), 124);
    ASSERT_EQ(sessionEnds(serve).size(), 1u);
    EXPECT_EQ(field(sessionEnds(serve)[0], "verdict"), "fail");
}

TEST(Verdicts, badPatternOrUnwritablePlacesStopBeforeListening)
{
    ScratchDir scratch;
    const std::string dir = scratch.router("edge", "Router#\r\n", ini(0.1));
    scratch.write("edge/EXPECT.TXT", "admin\r\n~show (version\r\n");
    ServeProcess bad({"--port", "0", dir});
    EXPECT_EQ(bad.wait(), 2);
    EXPECT_TRUE(named(bad.events(), "listening").empty());
    EXPECT_NE(bad.stderrText().find("edge/EXPECT.TXT:2: the pattern show (version does not compile"),
              std::string::npos)
        << bad.stderrText();

    scratch.write("edge/EXPECT.TXT", "admin\r\n");
    ServeProcess noCasts({"--port", "0", "--transcripts", scratch.path() + "/missing/casts", dir});
    EXPECT_EQ(noCasts.wait(), 2);
    EXPECT_NE(noCasts.stderrText().find("--transcripts"), std::string::npos);
    ServeProcess noReport({"--port", "0", "--junit", scratch.path() + "/missing/report.xml", dir});
    EXPECT_EQ(noReport.wait(), 2);
    EXPECT_NE(noReport.stderrText().find("--junit"), std::string::npos);
}

TEST(Verdicts, lintListsWithoutListening)
{
    ScratchDir scratch;
    const std::string clean = scratch.router("clean", "Router>\r\n\"Password: \"\r\n", ini(0.5));
    const std::string odd = scratch.router("odd", "User,Password:\n", "[Settings]\r\nDelay=1,5\r\n");
    const auto cleanRun = shell(ZENTREL_SERVE_BINARY " --lint " + clean);
    EXPECT_EQ(cleanRun.second, 0) << cleanRun.first;
    EXPECT_NE(cleanRun.first.find("    2  at 1 s  line 2  \"Password:\\x20\"\n"), std::string::npos) << cleanRun.first;
    const auto oddRun = shell(ZENTREL_SERVE_BINARY " --lint " + clean + " " + odd);
    EXPECT_EQ(oddRun.second, 1);
    EXPECT_NE(oddRun.first.find("odd/zentrel.ini:2: warning: Delay=1,5 is read as 1 s"), std::string::npos)
        << oddRun.first;
    EXPECT_EQ(shell(ZENTREL_SERVE_BINARY " --lint " + scratch.path() + "/none").second, 2);
}

// A line that breaks the file is told at once; with Mismatch=Close it also ends the
// session, so the client meets the close instead of waiting out its read timeout.
TEST(Verdicts, aBrokenRuleIsToldAtOnceAndMismatchCloseEndsTheSession)
{
    ScratchDir scratch;
    const char *const script = "\"Router#\",\"\r\nVersion 1.0\r\nRouter#\",\"\r\nbye\r\n\"\r\n";
    const std::string closing =
        scratch.router("closing", script, ini(0.1) + "Pace=Enter\r\nMismatch=Close\r\n");
    scratch.write("closing/EXPECT.TXT", "show version\r\nexit\r\n");
    const std::string going = scratch.router("going", script, ini(0.1) + "Pace=Enter\r\n");
    scratch.write("going/EXPECT.TXT", "never: reload\r\nonce: show version\r\n");
    ServeProcess serve({"--port", "0", "--connections", "1", closing, going});
    const auto ports = serve.ports();

    Client early(ports.at("closing"));
    std::string prompt;
    for (const Client::Chunk &chunk : early.read(7))
        prompt += chunk.bytes;
    EXPECT_EQ(prompt, "Router#");
    early.send("show run\r\n");
    EXPECT_EQ(early.readAll(), "");   // the close, with no answer to the wrong line
    Client late(ports.at("going"));
    late.send("reload\r\nshow version\r\n");
    EXPECT_EQ(late.readAll(), "Router#\r\nVersion 1.0\r\nRouter#\r\nbye\r\n");
    early.close();
    late.close();
    EXPECT_EQ(serve.wait(), 1);

    const auto told = named(serve.events(), "check-failed");
    ASSERT_EQ(told.size(), 2u);
    EXPECT_NE(field(told[0], "reason").find("closing/EXPECT.TXT:1: expected show version"), std::string::npos);
    EXPECT_NE(told[0].find("\"closing\":true"), std::string::npos) << told[0];
    EXPECT_NE(field(told[1], "reason").find("going/EXPECT.TXT:1: never: reload"), std::string::npos);
    EXPECT_EQ(told[1].find("\"closing\""), std::string::npos) << told[1];

    const auto ends = sessionEnds(serve);
    ASSERT_EQ(ends.size(), 2u);
    const auto &closed = field(ends[0], "router") == "closing" ? ends[0] : ends[1];
    const auto &went = field(ends[0], "router") == "closing" ? ends[1] : ends[0];
    EXPECT_EQ(field(closed, "reason"), "mismatch");
    EXPECT_EQ(field(went, "reason"), "script-exhausted");
    EXPECT_NE(went.find("going/EXPECT.TXT:1: never: reload (typed as line 1)\"]"),
              std::string::npos)
        << went;
    EXPECT_NE(serve.stderrText().find("going/EXPECT.TXT:1: never: reload (typed as line 1)\n"), std::string::npos)
        << serve.stderrText();
}

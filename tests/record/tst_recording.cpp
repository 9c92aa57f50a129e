// tst_recording.cpp: how a relayed session becomes items, typed lines, Echo and Delay.
#include "console/item_reader.h"
#include "record/recording.h"
#include "record/router_dir.h"
#include "console/line_editor.h"
#include "serve/expect_file.h"
#include "serve/typed_lines.h"
#include "tests/support/string_stream.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace zentrel::record;
using namespace std::string_literals;   // byte strings with NULs inside, their length exact
using Items = std::vector<std::string>;

namespace {

// A session script: the router and the client take turns at the given times.
struct Script {
    SessionLog log{10.0};
    Script &router(double t, std::string bytes) { log.fromRouter(10.0 + t, bytes); return *this; }
    Script &client(double t, std::string bytes) { log.fromClient(10.0 + t, bytes); return *this; }
};

std::vector<std::string> lineTexts(const Recording &recording)
{
    std::vector<std::string> texts;
    for (const auto &line : recording.lines)
        texts.push_back(line.text);
    return texts;
}

Items readBack(const std::string &text)
{
    zentrel::tests::StringStream in(text, 7);
    Items items;
    std::string item;
    while (!in.atEnd()) {
        zentrel::console::readItem(in, item);
        items.push_back(item);
    }
    return items;
}

} // namespace

TEST(Recording, echoingRouterGivesItemsWithoutEchoAndPromptRepeats)
{
    Script s;
    s.router(0.5, "\r\nUser Access Verification\r\n\r\nUsername: ")
        .client(1.0, "admin\r\n").router(1.001, "admin\r\n").router(1.3, "Password: ")
        .client(2.0, "secret\r\n").router(2.001, "\r\n").router(2.3, "\r\nRouter>")   // no echo but the line end
        .client(3.0, "\r\n").router(3.001, "\r\nRouter>")                 // a bare Enter
        .client(4.0, "\r").client(4.1, "\n").router(4.101, "\r\nRouter>") // split CR LF
        .client(5.0, "show version\r\n").router(5.001, "show version\r\n")
        .router(5.4, "\r\nIOS 15.2, \"c\"\r\nRouter>")
        .client(6.0, "exit\r\n").router(6.001, "exit\r\n");
    const Recording r = buildRecording(s.log);

    EXPECT_EQ(r.items, (Items{"\r\nUser Access Verification\r\n\r\nUsername: ", "Password: ",
                              "\r\nRouter>", "\r\nIOS 15.2, \"c\"\r\nRouter>", ""}));
    EXPECT_EQ(lineTexts(r), (std::vector<std::string>{"admin", "secret", "show version", "exit"}));
    EXPECT_FALSE(r.lines[0].password);
    EXPECT_TRUE(r.lines[1].password);
    EXPECT_TRUE(r.echo);
    EXPECT_DOUBLE_EQ(r.delay, 0.3);   // gaps 0.3, 0.3, 0.4: the echo is not the answer
    EXPECT_TRUE(r.warnings.empty()) << r.warnings.front();

    EXPECT_EQ(expectText(r, false), "admin\n~.*\nshow version\nexit\n");
    EXPECT_EQ(expectText(r, true), "admin\nsecret\nshow version\nexit\n");
    EXPECT_EQ(readBack(responseText(r)), r.items);
    EXPECT_EQ(settingsText(r, {2323}), "[Settings]\r\nTCP-Port=2323\r\nDelay=0.3\r\nPace=Enter\r\nEcho=Yes\r\n");
    EXPECT_EQ(settingsText(r, {2222, true}), "[Settings]\r\nSSH-Port=2222\r\nDelay=0.3\r\nPace=Enter\r\nEcho=Yes\r\n");
}

TEST(Recording, silentRouterAndClientsThatTypeOddly)
{
    Script s;
    // A client with local echo: the router never echoes; lines end every way a client ends them.
    s.router(0.2, "Login: ").client(1.0, std::string("ad\bdmim\x7fn\r\0", 11)).router(1.25, "Pass\xe9: ")
        .client(2.0, "x\n").router(2.25, "> ").client(3.0, "y\r").router(3.25, "\r\n> ")
        .client(4.0, "~z\r\n").router(4.25, "bye\r\n");
    const Recording r = buildRecording(s.log);
    EXPECT_EQ(r.items, (Items{"Login: ", "Pass\xe9: ", "> ", "\r\n> ", "bye\r\n"}));
    EXPECT_EQ(lineTexts(r), (std::vector<std::string>{"admin", "x", "y", "~z"}));
    EXPECT_FALSE(r.echo);
    EXPECT_DOUBLE_EQ(r.delay, 0.25);
    EXPECT_TRUE(r.warnings.empty());
    EXPECT_EQ(expectText(r, false), "admin\nx\ny\n\\~z\n");
}

// Every typed line, whatever it starts with, passes the EXPECT.TXT written for it.
TEST(Recording, everyTypedLineRoundTripsThroughExpectText)
{
    const std::vector<std::string> typed = {"~z", "\\~z", "\\\\~z", "\\", "\\z", "a\\~", "~", "\\~",
                                            "~.*", "plain", "\\\\"};
    Recording r;
    for (const std::string &line : typed)
        r.lines.push_back({line, false});
    const std::string text = expectText(r, false);
    const auto expect = zentrel::serve::ExpectFile::parse(text, "EXPECT.TXT");
    EXPECT_TRUE(expect.check(typed).pass) << text;
    for (std::size_t i = 0; i < typed.size(); ++i) {
        std::vector<std::string> other = typed;
        other[i] += "!";
        EXPECT_FALSE(expect.check(other).pass) << "line " << i << " matched more than itself:\n" << text;
    }
}

TEST(Recording, characterAtATimeEchoIsTakenFromBothSidesOfTheCut)
{
    Script s;
    s.router(0.1, "R>");
    double t = 1.0;
    for (const char c : std::string("show")) {
        s.client(t, std::string(1, c)).router(t + 0.001, std::string(1, c));
        t += 0.1;
    }
    s.client(2.0, "\r\n").router(2.001, "\r\n").router(2.5, "out\r\nR>");
    const Recording r = buildRecording(s.log);
    EXPECT_EQ(r.items, (Items{"R>", "out\r\nR>"}));
    EXPECT_TRUE(r.echo);
    EXPECT_DOUBLE_EQ(r.delay, 0.5);
}

TEST(Recording, telnetNegotiationIsLeftOutButEscapesStay)
{
    Script s;
    // WILL ECHO, a subnegotiation split over chunks, an escaped 255, a GA.
    s.router(0.1, "\xff\xfb\x01Hi \xff\xff!\xff\xfa\x18").router(0.2, "\x01\xff\xf0R>\xff\xf9")
        .client(1.0, "\xff\xfd\x01go\xff").client(1.01, "\xfe\x03\r\n").router(1.3, "done");
    const Recording r = buildRecording(s.log);
    EXPECT_EQ(r.items, (Items{"Hi \xff\xff!R>\xff\xf9", "done"}));
    EXPECT_EQ(lineTexts(r), (std::vector<std::string>{"go"}));
    EXPECT_EQ(r.telnetCommands, 2u);
    ASSERT_EQ(r.warnings.size(), 1u);
    EXPECT_NE(r.warnings[0].find("negotiation"), std::string::npos);

    // A command-driven router offers WILL ECHO and WILL SUPPRESS-GO-AHEAD
    // itself: only what goes beyond them is worth a warning.
    const Recording commands = buildRecording(s.log, Playback::Commands);
    ASSERT_EQ(commands.warnings.size(), 1u);
    EXPECT_NE(commands.warnings[0].find("1 Telnet negotiation commands from the router other than"),
              std::string::npos) << commands.warnings[0];
    Script offers;
    offers.router(0.1, "\xff\xfb\x01\xff\xfb\x03R>").client(1.0, "go\r\n").router(1.3, "\xff\xfd\x1f" "done");
    EXPECT_EQ(buildRecording(offers.log).warnings.size(), 1u);
    const Recording echoOffer = buildRecording(offers.log, Playback::Commands);
    ASSERT_EQ(echoOffer.warnings.size(), 1u) << "DO NAWS is not offered back";
    EXPECT_NE(echoOffer.warnings[0].find("1 Telnet"), std::string::npos) << echoOffer.warnings[0];
    offers.log = SessionLog(10.0);
    offers.router(0.1, "\xff\xfb\x01\xff").router(0.2, "\xfb\x03R>").client(1.0, "go\r\n").router(1.3, "done");
    EXPECT_TRUE(buildRecording(offers.log, Playback::Commands).warnings.empty());
}

TEST(Recording, overSshEveryByteIsData)
{
    SessionLog log(10.0, zentrel::console::Carrier::Ssh);
    log.fromRouter(10.1, "\xff\xfb\x01Hi\r\nR>");
    log.fromClient(11.0, "go\xff\r\n");
    log.fromRouter(11.001, "go\xff\r\n");
    log.fromRouter(11.3, "done\r\nR>");
    const Recording r = buildRecording(log);
    EXPECT_EQ(r.items, (Items{"\xff\xfb\x01Hi\r\nR>", "done\r\nR>"}));
    EXPECT_EQ(lineTexts(r), (std::vector<std::string>{"go\xff"}));
    EXPECT_TRUE(r.echo);
    EXPECT_EQ(r.telnetCommands, 0u);
    EXPECT_TRUE(r.warnings.empty());
}

// A Telnet recording that finds SSH or TLS at the start of either side stops.
TEST(Recording, theFirstBytesTellSshAndTlsFromTelnet)
{
    const std::pair<std::string, Start> rows[] = {
        {"", Start::Undecided},
        {"SS", Start::Undecided},
        {"SSH-", Start::Ssh},
        {"SSH-2.0-OpenSSH_9.2\r\n", Start::Ssh},
        {"\x16", Start::Undecided},
        {"\x16\x03", Start::Tls},
        {"\x16\x03\x01\x02", Start::Tls},
        {"SSH:", Start::Plain},
        {"\x16\x04", Start::Plain},
        {"\xff\xfb\x01", Start::Plain},   // Telnet negotiation
        {"\r\nUser Access", Start::Plain},
        {"ssh-", Start::Plain},
    };
    for (const auto &[head, start] : rows)
        EXPECT_EQ(classifyStart(head), start) << head;
}

TEST(Recording, sessionsWithoutLinesOrWithSurprises)
{
    {
        Script s;   // no client line: one item holding all the output
        s.router(0.4, "a,b\r\n").client(0.5, "\r\n").router(0.6, "c");
        const Recording r = buildRecording(s.log);
        EXPECT_EQ(r.items, (Items{"a,b\r\nc"})) << "the bare Enter's answer is not the prompt";
        EXPECT_TRUE(r.lines.empty());
        EXPECT_DOUBLE_EQ(r.delay, 0.4);   // from the connection to the first byte
        EXPECT_EQ(r.warnings.size(), 0u) << "nothing was shown before the Enter";
    }
    {
        Script s;   // a bare Enter answered with something else than the prompt
        s.router(0.1, "R>").client(1.0, "\r\n").router(1.1, "\r\n% idle\r\nR>");
        const Recording r = buildRecording(s.log);
        EXPECT_EQ(r.items, (Items{"R>\r\n% idle\r\nR>"}));
        ASSERT_EQ(r.warnings.size(), 1u);
        EXPECT_NE(r.warnings[0].find("bare Enter"), std::string::npos);
    }
    {
        Script s;   // two lines at once: the first one's answer comes with the second's
        s.router(0.1, "R>").client(1.0, "a\rb\r").router(1.2, "a\r\nb\r\nA\r\nR>B\r\nR>");
        const Recording r = buildRecording(s.log);
        EXPECT_EQ(r.items.size(), 3u);
        EXPECT_EQ(r.items[1], "");
        EXPECT_FALSE(r.warnings.empty());
    }
    {
        const Recording r = buildRecording(SessionLog(0));
        EXPECT_EQ(r.items, (Items{""}));
        EXPECT_EQ(r.delay, 0);
    }
}

// A client that types before the router answered (netmiko's configuration
// lines): an echoing router echoes such a line when it reads it, after the
// prompt that ends the answer before, and the items are cut there.
TEST(Recording, linesTypedAheadAreCutWhereTheRouterEchoesThem)
{
    Script s;
    s.router(0.1, "R#").client(1.0, "conf\r\n").router(1.001, "conf\r\n").router(1.1, "Enter.\r\nR(config)#")
        .client(2.0, "int e1\r\n").router(2.001, "int e1\r\n")
        .client(2.01, "desc x\r\n").client(2.02, "end\r\n")       // two lines ahead
        .router(2.1, "R(config-if)#").router(2.101, "desc x\r\n")
        .router(2.2, "R(config-if)#end\r\n")                        // an answer and an echo in one chunk
        .router(2.3, "R#")
        .client(3.0, "show run\r\n").router(3.001, "show run\r\n").client(3.01, "end\r\n")
        .router(3.2, "!\r\nend\r\nR#end\r\n")                       // "end" echoed only after the prompt
        .router(3.4, "R#");
    const Recording r = buildRecording(s.log);
    EXPECT_EQ(r.items, (Items{"R#", "Enter.\r\nR(config)#", "R(config-if)#", "R(config-if)#", "R#",
                              "!\r\nend\r\nR#", "R#"}));
    EXPECT_EQ(lineTexts(r), (std::vector<std::string>{"conf", "int e1", "desc x", "end", "show run", "end"}));
    EXPECT_TRUE(r.warnings.empty()) << r.warnings.front();
    // A line typed ahead is answered from when the router echoed it.
    EXPECT_DOUBLE_EQ(r.delay, 0.1);

    Script other;   // a router that never echoes the line typed ahead: cut by time, as before
    other.router(0.1, "R>").client(1.0, "a\r\n").router(1.001, "a\r\n").client(1.01, "b\r\n")
        .router(1.2, "A\r\nR>").router(1.3, "B\r\nR>")
        .client(2.0, "c\r\n").router(2.001, "c\r\n").router(2.2, "C\r\nR>");
    const Recording cut = buildRecording(other.log);
    EXPECT_EQ(cut.items, (Items{"R>", "A\r\nR>B\r\nR>", "", "C\r\nR>"}));
    EXPECT_FALSE(cut.warnings.empty());

    Script pasted;   // lines pasted where the router shows no prompt: each echo right after the one before
    pasted.router(0.1, "R(config)#").client(1.0, "banner motd ^\r\n").router(1.001, "banner motd ^\r\n")
        .router(1.1, "Enter TEXT message.\r\n").client(2.0, "one\r\ntwo\r\n^\r\n")
        .router(2.001, "one\r\n").router(2.002, "two\r\n^\r\n").router(2.1, "R(config)#");
    const Recording banner = buildRecording(pasted.log);
    EXPECT_EQ(banner.items, (Items{"R(config)#", "Enter TEXT message.\r\n", "", "", "R(config)#"}));
}

TEST(Recording, echoMissingOnSomeLinesIsNamed)
{
    Script s;
    s.router(0.1, "R>").client(1.0, "show\r\n").router(1.2, "\r\nR>")
        .client(2.0, "ver\r\n").router(2.01, "ver\r\n").router(2.2, "x\r\nR>");
    const Recording r = buildRecording(s.log);
    EXPECT_EQ(r.items, (Items{"R>", "\r\nR>", "x\r\nR>"}));
    EXPECT_TRUE(r.echo);
    ASSERT_EQ(r.warnings.size(), 1u);
    EXPECT_NE(r.warnings[0].find("line 1 \"show\" was not echoed"), std::string::npos) << r.warnings[0];
}

// A router that shows a password as it is typed: played back, only its line end comes back.
TEST(Recording, aPasswordEchoedByTheRouterIsNamed)
{
    Script s;
    s.router(0.1, "Password: ").client(1.0, "pw\r\n").router(1.01, "pw\r\n").router(1.2, "R>")
        .client(2.0, "show\r\n").router(2.01, "show\r\n").router(2.2, "x\r\nR>");
    const Recording r = buildRecording(s.log);
    ASSERT_EQ(r.lines.size(), 2u);
    EXPECT_TRUE(r.lines[0].password);
    ASSERT_EQ(r.warnings.size(), 1u);
    EXPECT_NE(r.warnings[0].find("line 1 (a password answer)"), std::string::npos) << r.warnings[0];
    EXPECT_EQ(r.warnings[0].find("pw"), std::string::npos) << r.warnings[0];
}

TEST(Recording, theTranscriptShowsAPasswordAsStars)
{
    ClientMask mask;
    mask.fromRouter("\r\nUsername: ");
    EXPECT_EQ(mask.fromClient("admin\r\n"), "admin\r\n");
    mask.fromRouter("\r\nPassword: \xff\xfb\x01");   // and WILL ECHO, as routers say
    EXPECT_EQ(mask.fromClient("s3cret\r"), "******\r");
    EXPECT_EQ(mask.fromClient("\n"), "\n");
    mask.fromRouter("\r\nRouter>");
    EXPECT_EQ(mask.fromClient("show\r\n"), "show\r\n");
}

// EXPECT.TXT is checked against the lines zentrel-serve's line editor reads:
// the recorder reads a client's bytes into the same lines, however the chunks fall.
TEST(Recording, linesAreTheTypedLinesZentrelServeChecks)
{
    const std::vector<std::string> streams = {
        "admin\r\nsec\bret\r\0show ver\x7f\x7fversion\n\r\nx\ry\r\n"s,
        "\xff\xfd\x03\xff\xfb\x18go\xff\xff!\xff\xfa\x18\x00xterm\xff\xf0\r\xff\xf1\nnext\r\n"s,
        "\b\bkeep\r\r\n\n~tilde\r\n\xe9t\xe9\r\nno end",
    };
    for (const std::string &bytes : streams) {
        zentrel::console::LineEditor editor({zentrel::console::Carrier::Telnet, false});
        std::vector<std::string> expected;
        for (const auto &line : editor.feed(bytes).lines)
            if (!line.text.empty())
                expected.push_back(line.text);
        for (std::size_t cut = 0; cut <= bytes.size(); ++cut) {
            SessionLog log(0);
            log.fromRouter(0.1, "R>");
            log.fromClient(1, bytes.substr(0, cut));
            log.fromClient(2, bytes.substr(cut));
            EXPECT_EQ(lineTexts(buildRecording(log)), expected) << "cut at " << cut;
        }
    }
}

TEST(Recording, floodBeyondTheLimitIsCutAndSaid)
{
    SessionLog log(0, zentrel::console::Carrier::Telnet, 10);
    log.fromRouter(0.1, "R>");
    log.fromClient(1, "show\r\n");
    log.fromRouter(1.1, "0123456789");
    const Recording r = buildRecording(log);
    EXPECT_EQ(log.dropped(), 8u);
    EXPECT_EQ(r.items, (Items{"R>", "01"}));
    ASSERT_EQ(r.warnings.size(), 1u);
    EXPECT_NE(r.warnings[0].find("the last 8 bytes"), std::string::npos);
}

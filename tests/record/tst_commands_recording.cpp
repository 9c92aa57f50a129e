// tst_commands_recording.cpp: a recorded session written as commands.yaml, loaded by the engine and asked in another order.
#include "record/commands_writer.h"
#include "record/recording.h"
#include "tests/engine/commands/commands_rig.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace zentrel::record;
using namespace zentrel::console::commands;
using zentrel::tests::CommandsRig;

namespace {

struct Script {
    SessionLog log;
    double t = 0;
    explicit Script(zentrel::console::Carrier carrier = zentrel::console::Carrier::Telnet) : log(0, carrier) {}
    // The client types a line; an echoing router sends it back, then its answer after 0.2 s.
    Script &exchange(const std::string &line, const std::string &answer, bool secret = false)
    {
        log.fromClient(t += 1, line + "\r\n");
        log.fromRouter(t + 0.001, secret ? "\r\n" : line + "\r\n");
        if (!answer.empty())
            log.fromRouter(t + 0.2, answer);
        return *this;
    }
};

// A Telnet session with a login, an enable password, three prompts, a line
// typed twice with different answers, one that would read as a variable, an
// answer with bare line feeds, and a router that closes at exit.
Script telnetSession()
{
    Script s;
    s.log.fromRouter(0.1, "\r\nUser Access Verification\r\n\r\nUsername: ");
    s.exchange("admin", "Password: ")
        .exchange("secret", "\r\nR1>", true)
        .exchange("show clock", "*10:00:00 UTC\r\nR1>")
        .exchange("enable", "Password: ")
        .exchange("s3cret", "R1#", true)
        .exchange("show clock", "*10:00:05 UTC\r\nR1#")
        .exchange("configure terminal", "Enter configuration commands.\r\nR1(config)#")
        .exchange("hostname {x}", "R1(config)#")
        .exchange("end", "R1#")
        .exchange("show  clock", "*10:00:09 UTC\r\nR1#")
        .exchange("show raw", "a\nb\xe9\x01\r\nR1#")
        .exchange("exit", "");
    return s;
}

struct Loaded {
    CommandsRig rig;
    CommandsRecording written;
};

void load(Loaded &loaded, const SessionLog &log, bool ssh)
{
    loaded.written = buildCommands(buildRecording(log), ssh);
    loaded.rig.dir.write("commands.yaml", loaded.written.yaml);
    loaded.rig.load();
}

} // namespace

TEST(CommandsRecording, answersEachLineAsRecordedInAnotherOrder)
{
    Loaded loaded;
    ASSERT_NO_THROW(load(loaded, telnetSession().log, false)) << loaded.written.yaml;
    EXPECT_EQ(loaded.written.modes, 3u) << loaded.written.yaml;
    EXPECT_TRUE(loaded.written.warnings.empty()) << loaded.written.warnings.front();
    EXPECT_EQ(loaded.written.yaml.find("secret"), std::string::npos) << loaded.written.yaml;
    EXPECT_EQ(loaded.written.yaml.find("s3cret"), std::string::npos);
    EXPECT_DOUBLE_EQ(loaded.rig.model->delay.value_or(0), 0.2);

    auto session = loaded.rig.session(false);
    EXPECT_EQ(session->start().bytes, "\r\nUser Access Verification\r\n\r\nUsername: ");
    EXPECT_EQ(session->line("someone").bytes, "Password: ");
    EXPECT_EQ(session->line("other").bytes, "\r\nR1>");
    const std::pair<std::string, std::string> rows[] = {
        {"enable", "Password: "},
        {"anything", "R1#"},
        {"configure terminal", "Enter configuration commands.\r\nR1(config)#"},
        {"hostname {x}", "R1(config)#"},
        {"end", "R1#"},
        {"show raw", "a\nb\xe9\x01\r\nR1#"},
        {"show clock", "*10:00:05 UTC\r\nR1#"},   // the answers of a line typed twice, in turn
        {"show clock", "*10:00:09 UTC\r\nR1#"},
    };
    for (const auto &[line, answer] : rows)
        EXPECT_EQ(session->line(line).bytes, answer) << line;
    const Reply exit = session->line("exit");
    EXPECT_EQ(exit.bytes, "");
    EXPECT_EQ(exit.end, Ending::Closed);

    // The first mode keeps its own answer to the line typed there.
    auto ssh = loaded.rig.session(true);
    EXPECT_EQ(ssh->start().bytes, "\r\nR1>");
    EXPECT_EQ(ssh->line("show clock").bytes, "*10:00:00 UTC\r\nR1>");
}

TEST(CommandsRecording, overSshThereIsNoLoginDialog)
{
    Script s(zentrel::console::Carrier::Ssh);
    s.log.fromRouter(0.3, "Welcome\r\nsw1# ");
    s.exchange("terminal length 0", "sw1# ").exchange("show version", "EOS 4.28\r\nsw1# ");
    Loaded loaded;
    ASSERT_NO_THROW(load(loaded, s.log, true)) << loaded.written.yaml;
    EXPECT_EQ(loaded.written.yaml.find("login:"), std::string::npos) << loaded.written.yaml;
    auto session = loaded.rig.session(true);
    EXPECT_EQ(session->start().bytes, "Welcome\r\nsw1# ");
    EXPECT_EQ(session->line("show version").bytes, "EOS 4.28\r\nsw1# ");
    EXPECT_EQ(session->line("terminal length 0").bytes, "sw1# ");
}

TEST(CommandsRecording, answersWithoutPromptsAreOneModeAndAWarning)
{
    Script s;
    s.log.fromRouter(0.1, "ready\r\n");
    s.exchange("a", "A!\r\n").exchange("b", "B!\r\n").exchange("c", "C!\r\n");
    Loaded loaded;
    ASSERT_NO_THROW(load(loaded, s.log, false)) << loaded.written.yaml;
    EXPECT_EQ(loaded.written.modes, 1u);
    ASSERT_EQ(loaded.written.warnings.size(), 1u);
    EXPECT_NE(loaded.written.warnings[0].find("no prompt tells the modes apart (what the router sent before "
                                              "the first line ends with a line end"),
              std::string::npos) << loaded.written.warnings[0];
    auto session = loaded.rig.session(false);
    EXPECT_EQ(session->start().bytes, "ready\r\n");
    EXPECT_EQ(session->line("c").bytes, "C!\r\n");
    EXPECT_EQ(session->line("a").bytes, "A!\r\n") << loaded.written.yaml;
}

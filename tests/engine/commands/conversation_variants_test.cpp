// conversation_variants_test.cpp: routers shaped otherwise: logins without a user, unique keys,
// errors in other words, candidate configs, prompts that show words, Ctrl-Z,
// interface names typed short, config lines in full, ? and Tab, line ends.
#include "tests/engine/commands/commands_rig.h"

#include <gtest/gtest.h>

using namespace zentrel::console::commands;
using zentrel::tests::CommandsRig;

namespace {

TEST(LoginVariants, passwordOnlyAndAnyUser)
{
    CommandsRig passwordOnly(R"(
login: {password: "Password: ", users: {a: one, b: two}}
modes: {exec: {prompt: ">"}}
)");
    passwordOnly.load();
    auto session = passwordOnly.session(false);
    EXPECT_EQ(session->start().bytes, "Password: ");
    EXPECT_EQ(session->line("three").bytes, "% Login invalid\r\nPassword: ");
    EXPECT_EQ(session->line("two").bytes, ">");

    CommandsRig anyone(R"(
login: {}
modes: {exec: {prompt: ">"}}
)");
    anyone.load();
    session = anyone.session(false);
    EXPECT_EQ(session->start().bytes, "Password: ");
    EXPECT_EQ(session->line("whatever").bytes, ">");
}

TEST(Hostname, changesAlsoWithUniqueKeysOfItsOwn)
{
    CommandsRig rig(R"(
hostname: A
unique: [description]
modes: {config: {prompt: "{hostname}(config)#", config: true}}
)");
    rig.load();
    auto session = rig.session();
    session->start();
    EXPECT_EQ(session->line("hostname B").bytes, "B(config)#");
    EXPECT_EQ(rig.router->runningConfig(), "hostname B\n");
}

struct WordingCase {
    const char *name;
    std::string line;
    std::string bytes;
};

class Wording : public ::testing::TestWithParam<WordingCase> {};

// Errors that name the word and its place, and tell an unknown first word apart.
TEST_P(Wording, errorsInThePlatformsWords)
{
    CommandsRig rig(R"(
modes:
  exec:
    prompt: "> "
    commands:
      show version: v
      set clock {t}: c
      terminal length {n}: {paging: "{n}"}
errors:
  caret: false
  unknown: "unknown '{word}'\n"
  invalid: "bad '{word}' at {position} in {line}\n"
  ambiguous: "'{word}' is ambiguous\n"
)");
    rig.load();
    auto session = rig.session();
    session->start();
    EXPECT_EQ(session->line(GetParam().line).bytes, GetParam().bytes);
}

std::string wordingName(const ::testing::TestParamInfo<WordingCase> &info) { return info.param.name; }
void PrintTo(const WordingCase &row, std::ostream *out) { *out << row.line; }

INSTANTIATE_TEST_SUITE_P(Errors, Wording, ::testing::Values(
    WordingCase{"unknownFirstWord", " bogus x", "unknown 'bogus'\r\n> "},
    WordingCase{"laterWord", "show  bogus x", "bad 'bogus' at 1 in show  bogus x\r\n> "},
    WordingCase{"wordTooMany", "sh ver extra", "bad 'extra' at 2 in sh ver extra\r\n> "},
    WordingCase{"ambiguousFirstWord", "s", "'s' is ambiguous\r\n> "},
    WordingCase{"valueNoNumber", "terminal length many", "bad 'many' at 2 in terminal length many\r\n> "}),
    wordingName);

TEST(Candidates, sharedByTheRoutersSessionsOwnedBySessions)
{
    CommandsRig rig(R"(
modes:
  exec:
    prompt: ">"
    commands:
      conf: {mode: cand}
      sess {n}: {mode: s, session: "{n}"}
      show run: "{config}"
  cand:
    prompt: "(c)#"
    candidate: shared
    commands:
      commit: {commit: true}
      discard: {discard: true}
      cmp: "{compare}"
      show: "{candidate}"
      end: {mode: exec, confirm: {question: "Sure? ", default: "yes", cancel: "no", when: uncommitted}}
  s:
    prompt: "(s-{session})#"
    candidate: session
    commands:
      commit: {commit: true, mode: exec}
      abort: {discard: true, mode: exec}
      cmp: "{compare}"
      end: {mode: exec}
)");
    rig.dir.write("ROUTER.CFG", "hostname R\n");
    rig.load();
    auto a = rig.session();
    auto b = rig.session();
    a->start();
    b->start();
    EXPECT_EQ(zentrel::tests::typeLines(*a, {"conf", "ip domain lab", "show"}).bytes,
              "hostname R\r\nip domain lab\r\n(c)#");
    EXPECT_EQ(zentrel::tests::typeLines(*b, {"conf", "cmp"}).bytes,
              "--- system:/running-config\r\n+++ session:/-session-config\r\n@@ -1 +1,2 @@\r\n hostname R\r\n"
              "+ip domain lab\r\n(c)#")
        << "one candidate for all sessions";
    EXPECT_EQ(b->line("end").bytes, "Sure? ");
    EXPECT_EQ(b->line("No").bytes, "(c)#");
    EXPECT_EQ(b->mode(), "cand");
    EXPECT_EQ(rig.router->runningConfig(), "hostname R\n");
    EXPECT_FALSE(a->changedConfig());
    a->line("commit");
    EXPECT_EQ(rig.router->runningConfig(), "hostname R\nip domain lab\n");
    EXPECT_TRUE(a->changedConfig());
    EXPECT_EQ(b->line("end").bytes, ">") << "nothing uncommitted: no question";

    zentrel::tests::typeLines(*a, {"conf", "ip name-server 1.1.1.1", "discard", "end"});
    EXPECT_EQ(a->mode(), "exec") << "discarded: nothing uncommitted";

    // A session candidate is the session's own, kept under its name until commit or abort.
    EXPECT_EQ(a->line("sess x").bytes, "(s-x)#");
    a->line("snmp community lab");
    EXPECT_EQ(zentrel::tests::typeLines(*b, {"sess x", "cmp"}).bytes, "(s-x)#");
    b->line("end");
    a->line("end");
    EXPECT_EQ(a->line("show run").bytes, "hostname R\r\nip domain lab\r\n>");
    EXPECT_NE(zentrel::tests::typeLines(*a, {"sess x", "cmp"}).bytes.find("+snmp community lab"), std::string::npos);
    a->line("abort");
    EXPECT_EQ(zentrel::tests::typeLines(*a, {"sess x", "cmp"}).bytes, "(s-x)#");
    a->line("end");

    // At most MaxSessionCandidates wait: the oldest gives way.
    for (std::size_t i = 0; i <= MaxSessionCandidates; ++i)
        zentrel::tests::typeLines(*a, {"sess n" + std::to_string(i), "line " + std::to_string(i), "end"});
    EXPECT_EQ(zentrel::tests::typeLines(*a, {"sess n0", "cmp"}).bytes, "(s-n0)#");
    // n0 opened anew, n1 gave way to it.
    EXPECT_NE(zentrel::tests::typeLines(*a, {"end", "sess n2", "cmp"}).bytes.find("+line 2"), std::string::npos);
    a->line("commit");
    EXPECT_EQ(rig.router->runningConfig(), "hostname R\nip domain lab\nline 2\n");
}

TEST(Prompts, showTheWordsThatEnteredTheMode)
{
    CommandsRig rig(R"(
modes:
  exec:
    prompt: ">"
    commands:
      edit {path...}: {mode: edit}
      go: {mode: edit}
  edit:
    prompt: "[edit {path}]\n{user}# "
    commands: {top: {mode: exec}}
)");
    rig.load();
    auto session = rig.session();
    session->start();
    EXPECT_EQ(session->line("edit interfaces  ge-0/0/1").bytes, "[edit interfaces  ge-0/0/1]\r\nadmin# ");
    EXPECT_EQ(session->line("bogus").bytes, std::string(7, ' ') + "^\r\n% Invalid input detected at '^' marker.\r\n"
                                                "[edit interfaces  ge-0/0/1]\r\nadmin# ");
    EXPECT_EQ(zentrel::tests::typeLines(*session, {"top", "go"}).bytes, "[edit ]\r\nadmin# ")
        << "a command without the word leaves it empty";

    CommandsRig unknown("modes: {exec: {prompt: \"{path}>\", commands: {go: {mode: exec}}}}\n");
    EXPECT_THROW(unknown.load(), ModelError) << "no command entering the mode has {path}";
}

TEST(RunningSection, oneSectionOfTheRunningConfigAsItIsNow)
{
    CommandsRig rig(R"(
hostname: R1
modes:
  exec:
    prompt: "{hostname}#"
    commands:
      conf: {mode: config}
      show running-config interface {name}: {running-section: "interface {name}"}
      show section {name}: {running-section: "interface {name}", answer: "[{config}]", missing: "none\n"}
  config:
    prompt: "{hostname}(config)#"
    config: true
    commands:
      interface {name}: {mode: config-if, section: "interface {name}"}
      end: {mode: exec}
  config-if:
    prompt: "{hostname}(config-if)#"
    config: true
    parent: config
)");
    rig.dir.write("ROUTER.CFG", "hostname R1\n!\ninterface Eth0\n description old\n!\nend\n");
    rig.load();
    auto session = rig.session();
    session->start();
    EXPECT_EQ(session->line("show running-config interface Eth0").bytes,
              "Building configuration...\r\n\r\nCurrent configuration : 38 bytes\r\n"
              "!\r\ninterface Eth0\r\n description old\r\nend\r\nR1#");
    EXPECT_EQ(session->line("show section Eth0").bytes, "[interface Eth0\r\n description old\r\n]\r\nR1#");

    // What the sessions change shows at once; a section that is not there is
    // the invalid error under the name, or what missing: says.
    EXPECT_EQ(session->line("show running-config interface Eth1").bytes,
              std::string(3 + 30, ' ') + "^\r\n% Invalid input detected at '^' marker.\r\nR1#");
    EXPECT_EQ(session->line("show section Eth1").bytes, "none\r\nR1#");
    zentrel::tests::typeLines(*session, {"conf", "interface Eth1", "description new", "end"});
    EXPECT_EQ(session->line("show section Eth1").bytes, "[interface Eth1\r\n description new\r\n]\r\nR1#");

    CommandsRig fromFile("modes: {exec: {prompt: \">\", commands: {s: {running-section: x, file: f}}}}\n");
    EXPECT_THROW(fromFile.load(), ModelError) << "a file is no configuration to narrow";
}

TEST(CtrlZ, runsTheLineThenLeavesTheConfigModes)
{
    CommandsRig rig(R"(
hostname: R1
modes:
  enable:
    prompt: "{hostname}#"
    commands:
      conf: {mode: config}
      ask: {confirm: {question: "Sure? "}, answer: "done\n"}
  config:
    prompt: "{hostname}(config)#"
    config: true
    ctrl-z: end
    commands:
      interface {name}: {mode: config-if, section: "interface {name}"}
      end: {mode: enable}
      do {command...}: {run-in: enable}
  config-if:
    prompt: "{hostname}(config-if)#"
    config: true
    parent: config
)");
    rig.load();
    auto session = rig.session();
    session->start();
    EXPECT_FALSE(session->ctrlZEndsLine()) << "not in a mode without ctrl-z:";
    session->line("conf");
    const Reply bare = session->line("\x1a");
    EXPECT_EQ(bare.bytes, "R1#");
    EXPECT_EQ(bare.record->line, "\x1a");
    EXPECT_EQ(bare.record->matched, "end");

    // The line before it is applied, also in a mode that has ctrl-z: from its parent.
    zentrel::tests::typeLines(*session, {"conf", "interface Eth0"});
    EXPECT_EQ(session->line("description up\x1a").bytes, "R1#");
    session->line("conf");
    EXPECT_EQ(session->line("hostname R2\x1a").bytes, "R2#");
    EXPECT_EQ(session->commands(), 7u) << "a line and its Ctrl-Z are one command";
    EXPECT_EQ(rig.router->runningConfig(), "hostname R2\ninterface Eth0\n description up\n");

    // An error keeps its caret and still leaves; a question waits for its reply.
    session->line("conf");
    EXPECT_EQ(session->line("do nothing\x1a").bytes,
              std::string(3 + 11, ' ') + "^\r\n% Invalid input detected at '^' marker.\r\nR2#");
    session->line("conf");
    EXPECT_EQ(session->line("do ask\x1a").bytes, "Sure? ");
    EXPECT_FALSE(session->ctrlZEndsLine());
    EXPECT_EQ(session->line("y").bytes, "done\r\nR2(config)#");

    CommandsRig wrong("modes: {config: {prompt: \"#\", ctrl-z: end}}\n");
    EXPECT_THROW(wrong.load(), ModelError) << "ctrl-z: names no command of the mode";
}

TEST(InterfaceNames, typedShortTakenInFull)
{
    CommandsRig rig(R"(
hostname: R1
interfaces: [GigabitEthernet, Loopback, Port-channel]
modes:
  config:
    prompt: "{hostname}(config)#"
    config: true
    commands:
      interface {name:interface}: {mode: config-if, section: "interface {name}"}
      show {name:interface} {what}: {answer: "{name} {what}\n"}
      do {command...}: {run-in: config}
  config-if:
    prompt: "{hostname}(config-if)#"
    config: true
    parent: config
    commands:
      exit: {mode: config}
)");
    rig.load();
    auto session = rig.session();
    session->start();
    struct Case {
        const char *typed;
        std::string bytes;
    };
    const std::string invalidAtName = std::string(11 + 10, ' ') + "^\r\n% Invalid input detected at '^' marker.\r\nR1(config)#";
    for (const Case &step : {
             Case{"interface gi0/1", "R1(config-if)#"}, Case{"exit", "R1(config)#"},
             Case{"int GIGABITETHERNET0/1.100", "R1(config-if)#"}, Case{"exit", "R1(config)#"},
             Case{"int po1", "R1(config-if)#"}, Case{"exit", "R1(config)#"},
             Case{"show lo0 x", "Loopback0 x\r\nR1(config)#"},
             Case{"do show l7 y", "Loopback7 y\r\nR1(config)#"},
             Case{"interface fa0/1", invalidAtName},
             Case{"interface Gi", "% Incomplete command.\r\nR1(config)#"},
             Case{"interface 0/1", invalidAtName},
         })
        EXPECT_EQ(session->line(step.typed).bytes, step.bytes) << step.typed;
    EXPECT_EQ(rig.router->runningConfig(),
              "hostname R1\ninterface GigabitEthernet0/1\ninterface GigabitEthernet0/1.100\ninterface Port-channel1\n")
        << "a name of no type is no config line";

    CommandsRig digits("interfaces: [Gig1]\nmodes: {config: {prompt: \"#\"}}\n");
    EXPECT_THROW(digits.load(), ModelError) << "a type's number is the typed name's";
}

TEST(ConfigCommands, keepTheLineInFullAndBelongToTheirMode)
{
    CommandsRig rig(R"(
hostname: R1
modes:
  config:
    prompt: "{hostname}(config)#"
    config: true
    commands:
      interface {name:interface}: {mode: config-if, section: "interface {name}"}
      hostname {name}: {config: true}
  config-if:
    prompt: "{hostname}(config-if)#"
    config: true
    parent: config
    commands:
      description {text...}: {config: true}
      shutdown: {config: true}
      no shutdown: {config: true}
      ip address {address...}: {config: true}
)");
    rig.dir.write("ROUTER.CFG", "interface GigabitEthernet0/1\n shutdown\n");
    rig.load();
    auto session = rig.session();
    session->start();
    struct Case {
        const char *typed;
        std::string bytes;
    };
    for (const Case &step : {
             Case{"int gi0/1", "R1(config-if)#"},
             Case{"desc  to  core ", "R1(config-if)#"},
             Case{"no shut", "R1(config-if)#"},
             Case{"ip add dhcp", "R1(config-if)#"},
             Case{"ip ospf cost 5", "R1(config-if)#"},   // no command: kept as typed
             Case{"ip", "% Incomplete command.\r\nR1(config-if)#"},
             Case{"host R2", "R2(config)#"},             // the parent's line leaves the interface
             Case{"mtu 1400", "R2(config)#"},
         })
        EXPECT_EQ(session->line(step.typed).bytes, step.bytes) << step.typed;
    EXPECT_EQ(rig.router->runningConfig(), "interface GigabitEthernet0/1\n no shutdown\n description to core\n"
                                           " ip address dhcp\n ip ospf cost 5\nhostname R2\nmtu 1400\n");
    session->line("int gi0/1");
    const Reply line = session->line("desc x");
    EXPECT_TRUE(line.record->config && line.record->matched == "description {text...}");

    CommandsRig exec("modes: {exec: {prompt: \">\", commands: {x: {config: true}}}}\n");
    EXPECT_THROW(exec.load(), ModelError) << "a config line where nothing keeps one";
}

TEST(Help, questionMarkListsTabCompletes)
{
    CommandsRig rig(R"(
help: true
modes: {exec: {prompt: "R>", commands: {show clock: x, show version: x, enable: x, exit: x}}}
)");
    rig.load();
    auto session = rig.session();
    session->start();
    EXPECT_EQ(session->help("show ").bytes, "\r\n  clock\r\n  version\r\n\r\nR>show ");
    EXPECT_EQ(session->help("e").bytes, "\r\nenable  exit  \r\n\r\nR>e");
    EXPECT_EQ(session->help("shw ").bytes, "\r\n% Unrecognized command\r\nR>shw ");
    const Reply unique = session->complete("show v");
    EXPECT_EQ(unique.typeIn, "ersion ");
    EXPECT_EQ(unique.bytes, "ersion ");
    const Reply two = session->complete("e");
    EXPECT_EQ(two.typeIn, "");
    EXPECT_EQ(two.bytes, "\r\nR>e") << "the line again, to type on";
    EXPECT_EQ(session->commands(), 0u) << "neither is a command";
}

TEST(LineEnds, crLfAsATerminalSendsIt)
{
    EXPECT_EQ(crLf("a\nb"), "a\r\nb");
    EXPECT_EQ(crLf("a\r\nb\r\n"), "a\r\nb\r\n");
    EXPECT_EQ(crLf("a\rb"), "a\rb");
    EXPECT_EQ(crLf("\n\n"), "\r\n\r\n");
}

} // namespace

// conversation_test.cpp: what a session sends back to each typed line: answers, templates, errors, login, records.
#include "tests/engine/commands/commands_rig.h"

#include <gtest/gtest.h>

using namespace zentrel::console::commands;
using zentrel::tests::CommandsRig;

namespace {

constexpr std::string_view Router = R"(
hostname: R1
login:
  banner: "Welcome\n"
  username: "Username: "
  password: "Password: "
  users: {admin: secret}
  failed: "% Login invalid\n"
motd: "MOTD {hostname}\n"
modes:
  exec:
    prompt: "{hostname}>"
    commands:
      enable: {mode: enable, password: en}
      show clock: {answers: ["one\n", "two\n"]}
      show cycle: {answers: ["a\n", "b\n"], cycle: true}
      show line {word}: "you typed {line}; word {word}; {{brace}\n"
      show raw: {answer: "a\nb{x}\r\n", raw: true}
      show crlf: "a\nb\r\nc"
      show file {name}: {file: "files/{name}.txt", missing: invalid}
      show text {name}: {file: "files/{name}.txt", missing: "no such {name}\n"}
      show warn {name}: {file: "files/{name}.txt"}
      slow: {answer: "ok\n", delay: 2}
      quit: {answer: "bye\n", close: true}
      show sections: "a\n x\nb\n y\n z\nc\n"
      show braces: "{{a}} b}\n"
      whoami: "{user} on {hostname}\n"
      boss: {mode: enable, password: any}
      copy run {what}:
        confirm: {question: "Destination for {what}? ", default: start, cancel: [no, n]}
        answer: "copied to {reply}\n"
  enable:
    prompt: "{hostname}#"
    parent: exec
    commands:
      configure terminal: {mode: config}
      show running-config: "{running-config}"
      show startup-config: "{startup-config}"
      write memory: {answer: "[OK]\n", save: true}
  config:
    prompt: "{hostname}(config)#"
    config: true
    commands:
      interface {name}: {mode: config-if, section: "interface {name}"}
      end: {mode: enable}
      do {what...}: {run-in: enable}
  config-if:
    prompt: "{hostname}(config-if)#"
    parent: config
    config: true
    commands:
      exit: {mode: config}
      end: {mode: enable}
filters: [include, exclude, begin, section, count]
delay: 0.25
)";

constexpr std::string_view Config = "hostname R1\n!\ninterface Eth0\n description old\n!\nend\n";

class Conversing : public ::testing::Test
{
protected:
    void SetUp() override
    {
        rig.dir.write("ROUTER.CFG", Config);
        rig.dir.write("files/Eth0.txt", "Eth0 is up\nMTU 1500\n");
        rig.load();
    }
    CommandsRig rig{Router};
};

struct LineCase {
    const char *name;
    std::vector<std::string> lines;   // typed after the SSH login
    std::string bytes;                // the reply to the last one
    std::string mode;                 // the mode then
};

class Answers : public Conversing, public ::testing::WithParamInterface<LineCase> {};

TEST_P(Answers, lastLineGetsItsAnswerAndThePrompt)
{
    auto session = rig.session();
    session->start();
    const Reply reply = zentrel::tests::typeLines(*session, GetParam().lines);
    EXPECT_EQ(reply.bytes, GetParam().bytes);
    EXPECT_EQ(session->mode(), GetParam().mode);
}

std::string caseName(const ::testing::TestParamInfo<LineCase> &info) { return info.param.name; }

const std::string Invalid = "% Invalid input detected at '^' marker.\r\n";

INSTANTIATE_TEST_SUITE_P(Texts, Answers, ::testing::Values(
    LineCase{"emptyLine", {"  "}, "R1>", "exec"},
    LineCase{"answersWalkThenStay", {"show clock", "show clock", "show clock"}, "two\r\nR1>", "exec"},
    LineCase{"answersCycle", {"show cycle", "show cycle", "show cycle"}, "a\r\nR1>", "exec"},
    LineCase{"variables", {" sh line  foo "}, "you typed sh line  foo; word foo; {brace}\r\nR1>", "exec"},
    LineCase{"doubledBraces", {"show braces"}, "{a} b}\r\nR1>", "exec"},
    LineCase{"user", {"whoami"}, "admin on R1\r\nR1>", "exec"},
    LineCase{"rawAsWritten", {"show raw"}, "a\nb{x}\r\nR1>", "exec"},
    LineCase{"lineEndsAndLastLine", {"show crlf"}, "a\r\nb\r\nc\r\nR1>", "exec"},
    LineCase{"file", {"show file Eth0"}, "Eth0 is up\r\nMTU 1500\r\nR1>", "exec"},
    LineCase{"missingFileIsInvalid", {"show file Eth9"}, std::string(13, ' ') + "^\r\n" + Invalid + "R1>", "exec"},
    LineCase{"slashNeverLeavesTheDirectory", {"show file ../files/Eth0"}, std::string(13, ' ') + "^\r\n" + Invalid + "R1>", "exec"},
    LineCase{"missingText", {"show text Eth9"}, "no such Eth9\r\nR1>", "exec"},
    LineCase{"missingWarns", {"show warn Eth9"}, "R1>", "exec"},
    LineCase{"closes", {"quit"}, "bye\r\n", "exec"}), caseName);

INSTANTIATE_TEST_SUITE_P(Errors, Answers, ::testing::Values(
    LineCase{"caretUnderTheWord", {"show bogus"}, std::string(8, ' ') + "^\r\n" + Invalid + "R1>", "exec"},
    LineCase{"caretAfterLeadingBlanks", {"  bogus"}, std::string(5, ' ') + "^\r\n" + Invalid + "R1>", "exec"},
    LineCase{"ambiguous", {"s"}, "% Ambiguous command:  \"s\"\r\nR1>", "exec"},
    LineCase{"incomplete", {"show"}, "% Incomplete command.\r\nR1>", "exec"},
    LineCase{"parentCommandInEnable", {"enable", "en", "sh cl"}, "one\r\nR1#", "enable"}), caseName);

INSTANTIATE_TEST_SUITE_P(Modes, Answers, ::testing::Values(
    LineCase{"passwordAsked", {"enable"}, "Password: ", "exec"},
    LineCase{"passwordRight", {"enable", "en"}, "R1#", "enable"},
    LineCase{"passwordWrong", {"enable", "EN"}, "% Bad secrets\r\nR1>", "exec"},
    LineCase{"submode", {"enable", "en", "conf t", "int Eth1"}, "R1(config-if)#", "config-if"},
    LineCase{"submodeExit", {"enable", "en", "conf t", "int Eth1", "exit"}, "R1(config)#", "config"},
    LineCase{"configLineGivesThePrompt", {"enable", "en", "conf t", "ip domain-name lab"}, "R1(config)#", "config"},
    LineCase{"hostnameChangesThePrompt", {"enable", "en", "conf t", "hostname R9"}, "R9(config)#", "config"},
    LineCase{"caretMovesWithThePrompt", {"enable", "en", "conf t", "hostname Core", "end", "show x"},
             std::string(10, ' ') + "^\r\n" + Invalid + "Core#", "enable"},
    LineCase{"anyPasswordAsked", {"boss"}, "Password: ", "exec"},
    LineCase{"anyPasswordTaken", {"boss", "whatever"}, "R1#", "enable"},
    LineCase{"questionAsked", {"copy run start"}, "Destination for start? ", "exec"},
    LineCase{"enterTakesTheDefault", {"copy run start", ""}, "copied to start\r\nR1>", "exec"},
    LineCase{"replyInTheAnswer", {"copy run start", " flash "}, "copied to flash\r\nR1>", "exec"},
    LineCase{"replyCancels", {"copy run start", "NO"}, "R1>", "exec"},
    LineCase{"doAnswersAsTheOtherMode", {"enable", "en", "conf t", "do sh clo"}, "one\r\nR1(config)#", "config"},
    LineCase{"doLeavesTheModeAlone", {"enable", "en", "conf t", "int Eth1", "do conf t"}, "R1(config-if)#", "config-if"},
    LineCase{"doCaretUnderItsLine", {"enable", "en", "conf t", "do show bogus"},
             std::string(19, ' ') + "^\r\n" + Invalid + "R1(config)#", "config"},
    LineCase{"doNeedsALine", {"enable", "en", "conf t", "do"}, "% Incomplete command.\r\nR1(config)#", "config"}), caseName);

const std::string Sections = "show sections";

INSTANTIATE_TEST_SUITE_P(Filters, Answers, ::testing::Values(
    LineCase{"include", {Sections + " | include ^[ab]"}, "a\r\nb\r\nR1>", "exec"},
    LineCase{"abbreviated", {Sections + " | inc c"}, "c\r\nR1>", "exec"},
    LineCase{"exclude", {Sections + " | exclude ^\\s"}, "a\r\nb\r\nc\r\nR1>", "exec"},
    LineCase{"begin", {Sections + " | begin y"}, " y\r\n z\r\nc\r\nR1>", "exec"},
    LineCase{"sectionWithAMatchInside", {Sections + " | section z"}, "b\r\n y\r\n z\r\nR1>", "exec"},
    LineCase{"count", {Sections + " | count ^\\s"}, "Number of lines which match regexp = 3\r\nR1>", "exec"},
    LineCase{"chained", {Sections + " | section b | exclude y"}, "b\r\n z\r\nR1>", "exec"},
    LineCase{"quotedPattern", {Sections + " | include \" y\""}, " y\r\nR1>", "exec"},
    LineCase{"inADoLine", {"enable", "en", "conf t", "do show sections | include c"}, "c\r\nR1(config)#", "config"},
    LineCase{"filterThePlatformLacks", {Sections + " | grep a"}, std::string(19, ' ') + "^\r\n" + Invalid + "R1>", "exec"},
    LineCase{"noPattern", {Sections + " | include"}, "% Incomplete command.\r\nR1>", "exec"},
    LineCase{"nothingAfterTheBar", {Sections + " |"}, "% Incomplete command.\r\nR1>", "exec"},
    LineCase{"patternRe2Refuses", {Sections + " | include (a"}, std::string(27, ' ') + "^\r\n" + Invalid + "R1>", "exec"},
    LineCase{"patternTooLong", {Sections + " | include " + std::string(MaxFilterPattern + 1, 'a')},
             std::string(27, ' ') + "^\r\n" + Invalid + "R1>", "exec"},
    LineCase{"tooManyFilters", {Sections + [] { std::string bars; for (std::size_t i = 0; i <= MaxFilters; ++i) bars += " | include a"; return bars; }()},
             std::string(3 + Sections.size() + 1 + 12 * MaxFilters, ' ') + "^\r\n" + Invalid + "R1>", "exec"},
    LineCase{"commandBeforeTheBarUnknown", {"show bogus | include a"}, std::string(8, ' ') + "^\r\n" + Invalid + "R1>", "exec"}),
    caseName);

TEST_F(Conversing, configLinesStickInTheirSections)
{
    auto session = rig.session();
    session->start();
    const Reply reply = zentrel::tests::typeLines(*session, {
        "enable", "en", "conf t", "int Eth0", "description new", "shutdown", "exit",
        "interface Eth1", "ip address 10.0.0.1 255.0.0.0", "end", "show run"});
    const std::string text = "hostname R1\n!\ninterface Eth0\n description new\n shutdown\n!\n"
                             "interface Eth1\n ip address 10.0.0.1 255.0.0.0\n!\nend\n";
    EXPECT_EQ(reply.bytes, crLf("Building configuration...\n\nCurrent configuration : "
                                + std::to_string(text.size()) + " bytes\n" + text) + "R1#");
    EXPECT_TRUE(session->changedConfig());
}

TEST_F(Conversing, sessionsShareTheRunningConfigAndSaveCopiesIt)
{
    auto first = rig.session();
    auto second = rig.session();
    first->start();
    second->start();
    zentrel::tests::typeLines(*first, {"enable", "en", "conf t", "hostname Core"});
    EXPECT_EQ(second->line("").bytes, "Core>");
    EXPECT_EQ(rig.router->hostname(), "Core");
    EXPECT_FALSE(second->changedConfig());

    EXPECT_EQ(rig.router->startupConfig(), Config);
    zentrel::tests::typeLines(*second, {"enable", "en", "write memory"});
    EXPECT_EQ(rig.router->startupConfig(), rig.router->runningConfig());

    // A copy of the router keeps a running config of its own.
    RouterState copy(*rig.model);
    EXPECT_EQ(copy.hostname(), "R1");
}

TEST_F(Conversing, generationCountsChanges)
{
    auto session = rig.session();
    session->start();
    const auto before = rig.router->generation();
    zentrel::tests::typeLines(*session, {"enable", "en", "conf t", "ip domain-name lab", "ip domain-name lab"});
    EXPECT_EQ(rig.router->generation(), before + 1) << "the second line was there already";
}

TEST_F(Conversing, recordsSayWhatEachLineWas)
{
    auto session = rig.session();
    session->start();
    EXPECT_FALSE(session->line("").record);

    Reply reply = session->line("sh clo");
    ASSERT_TRUE(reply.record);
    EXPECT_EQ(reply.record->mode, "exec");
    EXPECT_EQ(reply.record->line, "sh clo");
    EXPECT_EQ(reply.record->matched, "show clock");
    EXPECT_EQ(reply.delay, 0.25);

    reply = session->line("show bogus");
    EXPECT_FALSE(reply.record->matched);
    EXPECT_EQ(reply.record->error, MatchError::Invalid);

    reply = session->line("show file Eth9");
    EXPECT_FALSE(reply.record->matched) << "missing: invalid answers as no command";
    EXPECT_EQ(reply.record->error, MatchError::Invalid);

    EXPECT_EQ(session->line("slow").delay, 2);

    session->line("enable");
    EXPECT_TRUE(session->nextLineSecret());
    reply = session->line("en");
    EXPECT_FALSE(session->nextLineSecret());
    EXPECT_TRUE(reply.record->secret);
    EXPECT_EQ(reply.record->line, "***");
    EXPECT_EQ(reply.record->mode, "exec");

    session->line("conf t");
    reply = session->line("ip domain-name lab");
    EXPECT_TRUE(reply.record->config);
    EXPECT_FALSE(reply.record->matched);
    EXPECT_EQ(reply.record->error, MatchError::None);

    EXPECT_EQ(session->commands(), 7u) << "the password and the empty line are no commands";
    EXPECT_EQ(session->errors(), 2u);
}

TEST_F(Conversing, aQuestionsReplyHasARecordOfItsOwn)
{
    auto session = rig.session();
    session->start();
    Reply reply = session->line("copy run start");
    EXPECT_TRUE(session->asking());
    EXPECT_EQ(reply.record->matched, "copy run {what}");
    reply = session->line("");
    EXPECT_FALSE(session->asking());
    ASSERT_TRUE(reply.record);
    EXPECT_TRUE(reply.record->reply);
    EXPECT_EQ(reply.record->line, "");
    EXPECT_EQ(reply.record->matched, "copy run {what}");
    EXPECT_EQ(session->commands(), 1u) << "a reply is no command";

    session->line("boss");
    reply = session->line("any password at all");
    EXPECT_TRUE(reply.record->secret);
    EXPECT_EQ(reply.record->line, "***");
}

TEST_F(Conversing, unreadableFileIsAWarningForTheProgram)
{
    auto session = rig.session();
    session->start();
    const Reply reply = session->line("show warn Eth9");
    EXPECT_NE(reply.warning.find("files/Eth9.txt"), std::string::npos) << reply.warning;
}

TEST_F(Conversing, closingAnswerEndsTheSession)
{
    auto session = rig.session();
    session->start();
    EXPECT_EQ(session->line("quit").end, Ending::Closed);
    EXPECT_TRUE(session->ended());
    EXPECT_EQ(session->line("show clock").bytes, "");
}

struct LoginCase {
    const char *name;
    std::vector<std::string> lines;
    std::string bytes;
    Ending end = Ending::None;
    bool secretNext = false;
};

class Login : public Conversing, public ::testing::WithParamInterface<LoginCase> {};

TEST_P(Login, dialogOverTelnet)
{
    auto session = rig.session(false);
    EXPECT_EQ(session->start().bytes, "Welcome\r\nUsername: ");
    const Reply reply = zentrel::tests::typeLines(*session, GetParam().lines);
    EXPECT_EQ(reply.bytes, GetParam().bytes);
    EXPECT_EQ(reply.end, GetParam().end);
    EXPECT_FALSE(reply.record) << "login lines are no commands";
    EXPECT_EQ(session->nextLineSecret(), GetParam().secretNext);
}

std::string loginName(const ::testing::TestParamInfo<LoginCase> &info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(Lines, Login, ::testing::Values(
    LoginCase{"asksThePassword", {"admin"}, "Password: ", Ending::None, true},
    LoginCase{"bareEnterAsksAgain", {""}, "Username: "},
    LoginCase{"letsIn", {"admin", "secret"}, "MOTD R1\r\nR1>"},
    LoginCase{"wrongPassword", {"admin", "Secret"}, "% Login invalid\r\nUsername: "},
    LoginCase{"unknownUser", {"root", "secret"}, "% Login invalid\r\nUsername: "},
    LoginCase{"thirdFailureEnds", {"a", "b", "a", "b", "a", "b"}, "% Login invalid\r\n", Ending::AuthFailed},
    LoginCase{"secondTryLetsIn", {"a", "b", "admin", "secret"}, "MOTD R1\r\nR1>"}), loginName);

TEST_F(Conversing, sshStartsAfterTheLogin)
{
    EXPECT_EQ(rig.session(true)->start().bytes, "MOTD R1\r\nR1>");
}

// An SSH exec request: the command's answer alone, then the close; a
// question the command asks is still asked, and its reply answered.
struct ExecCase {
    const char *name;
    std::vector<std::string> lines;
    std::string bytes;                // the reply to the last line
    Ending end = Ending::Closed;
};

class Exec : public Conversing, public ::testing::WithParamInterface<ExecCase> {};

TEST_P(Exec, answersTheOneCommandAndCloses)
{
    Conversation session(rig.model, rig.router, rig.files,
                         ConversationOptions{.ssh = true, .user = "admin", .exec = true});
    const Reply start = session.start();
    EXPECT_EQ(start.bytes, "") << "no motd, no prompt";
    EXPECT_EQ(start.delay, 0);
    const Reply reply = zentrel::tests::typeLines(session, GetParam().lines);
    EXPECT_EQ(reply.bytes, GetParam().bytes);
    EXPECT_EQ(reply.end, GetParam().end);
    EXPECT_EQ(session.ended(), GetParam().end == Ending::Closed);
}

std::string execName(const ::testing::TestParamInfo<ExecCase> &info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(Lines, Exec, ::testing::Values(
    ExecCase{"answer", {"sh file Eth0"}, "Eth0 is up\r\nMTU 1500\r\n"},
    ExecCase{"invalid", {"show bogus"}, std::string(5, ' ') + "^\r\n" + Invalid},
    ExecCase{"emptyLine", {""}, ""},
    ExecCase{"closingCommand", {"quit"}, "bye\r\n"},
    ExecCase{"passwordAsked", {"enable"}, "Password: ", Ending::None},
    ExecCase{"passwordThenClose", {"enable", "en"}, ""},
    ExecCase{"questionThenAnswer", {"copy run x", ""}, "copied to start\r\n"}), execName);

} // namespace

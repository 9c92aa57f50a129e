// match_test.cpp: which command a typed line reaches in a mode: abbreviations, variables, patterns, parents, errors;
// what `?` lists.
#include "tests/engine/commands/commands_rig.h"

#include <gtest/gtest.h>

using namespace zentrel::console::commands;
using zentrel::tests::CommandsRig;

namespace {

// Each command answers with a label of its own, so that a row can tell two
// commands of the same words in different modes apart.
constexpr std::string_view Commands = R"(
modes:
  exec:
    prompt: "R>"
    commands:
      enable: {mode: enable, answer: enable}
      exit: {answer: exit}
      show version: version
      show ip route: ip route
      show ipv6 route: ipv6 route
      show interfaces {name}: one interface
      show interfaces summary: summary
      show interfaces {name} counters: counters
      ping {host}: ping
      echo {text...}: echo
      "~traceroute (?P<host>\\S+)( ttl (?P<ttl>\\d+))?": trace
      "~sh(ow)? logg(ing)?": logging
      clear counters: clear
      clock set {time}: clock
  enable:
    prompt: "R#"
    parent: exec
    commands:
      show version: enable version
      show running-config: running
      disable: {mode: exec, answer: disable}
  config:
    prompt: "R(config)#"
    config: true
    commands:
      interface {name}: {mode: config-if, answer: interface}
      exit: {mode: enable, answer: config exit}
      router ospf {id}: ospf
  config-if:
    prompt: "R(config-if)#"
    parent: config
    config: true
    commands:
      exit: {mode: config, answer: config-if exit}
      shutdown: shutdown
)";

struct MatchCase {
    const char *name;
    const char *mode;
    std::string line;
    std::string label;                  // the command's answer; "" when an error is expected
    MatchError error = MatchError::None;
    std::size_t offset = 0;             // for Invalid
    std::vector<std::string> values = {};
};

class Matching : public ::testing::TestWithParam<MatchCase>
{
protected:
    static void SetUpTestSuite()
    {
        rig = new CommandsRig(Commands);
        rig->load();
    }
    static void TearDownTestSuite() { delete rig; }
    static CommandsRig *rig;
};
CommandsRig *Matching::rig = nullptr;

TEST_P(Matching, findsTheCommandOfTheLine)
{
    const MatchCase &row = GetParam();
    const Mode *mode = rig->model->findMode(row.mode);
    ASSERT_NE(mode, nullptr);
    const Match match = mode->index.match(row.line);
    if (row.label.empty()) {
        EXPECT_EQ(match.command, nullptr) << match.command->text;
        EXPECT_EQ(match.error, row.error);
        if (row.error == MatchError::Invalid) {
            EXPECT_EQ(match.offset, row.offset);
        }
        return;
    }
    ASSERT_NE(match.command, nullptr) << "error " << int(match.error);
    ASSERT_TRUE(match.command->answer);
    EXPECT_EQ(match.command->answer->render({}), row.label);
    std::vector<std::string> values;
    for (const MatchedValue &value : match.values)
        values.emplace_back(value.text);
    EXPECT_EQ(values, row.values);
}

std::string caseName(const ::testing::TestParamInfo<MatchCase> &info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(Words, Matching, ::testing::Values(
    MatchCase{"inFull", "exec", "show version", "version"},
    MatchCase{"abbreviated", "exec", "sh ver", "version"},
    MatchCase{"blanksAround", "exec", " \tsh   ver  ", "version"},
    MatchCase{"prefixOfTwoWords", "exec", "e", "", MatchError::Ambiguous},
    MatchCase{"longerPrefixDecides", "exec", "ex", "exit"},
    MatchCase{"fullWordBeatsItsLongerSibling", "exec", "show ip route", "ip route"},
    MatchCase{"abbreviatesTheLongerSibling", "exec", "sh ipv r", "ipv6 route"},
    MatchCase{"ambiguousMidLine", "exec", "sh i route", "", MatchError::Ambiguous},
    MatchCase{"ambiguousFirstWordStopsTheLine", "exec", "cl set 10:00", "", MatchError::Ambiguous},
    MatchCase{"secondLetterDecides", "exec", "clo set 10:00", "clock", MatchError::None, 0, {"10:00"}},
    MatchCase{"onlyTheStart", "exec", "show interfaces", "", MatchError::Incomplete},
    MatchCase{"oneWordOnly", "exec", "show", "", MatchError::Incomplete},
    MatchCase{"unknownFirstWord", "exec", "bogus", "", MatchError::Invalid, 0},
    MatchCase{"unknownSecondWord", "exec", "show bogus", "", MatchError::Invalid, 5},
    MatchCase{"wordTooMany", "exec", "sh  ver extra", "", MatchError::Invalid, 8}), caseName);

INSTANTIATE_TEST_SUITE_P(Variables, Matching, ::testing::Values(
    MatchCase{"oneWord", "exec", "ping 10.0.0.1", "ping", MatchError::None, 0, {"10.0.0.1"}},
    MatchCase{"fixedWordBeatsVariable", "exec", "show interfaces summary", "summary"},
    MatchCase{"abbreviatedFixedWordBeatsVariable", "exec", "sh int sum", "summary"},
    MatchCase{"variableTakesOtherWords", "exec", "sh int Eth0", "one interface", MatchError::None, 0, {"Eth0"}},
    MatchCase{"wordsAfterAVariable", "exec", "sh int Eth0 c", "counters", MatchError::None, 0, {"Eth0"}},
    MatchCase{"restOfTheLine", "exec", "echo hello  big world ", "echo", MatchError::None, 0, {"hello  big world"}},
    MatchCase{"restNeedsAWord", "exec", "echo", "", MatchError::Incomplete}), caseName);

INSTANTIATE_TEST_SUITE_P(Patterns, Matching, ::testing::Values(
    MatchCase{"namedGroups", "exec", "traceroute 10.1.1.1 ttl 5", "trace", MatchError::None, 0, {"10.1.1.1", "5"}},
    MatchCase{"groupNotTaken", "exec", "traceroute 10.1.1.1", "trace", MatchError::None, 0, {"10.1.1.1", ""}},
    MatchCase{"answersWhatWordsLeaveInvalid", "exec", "show logging", "logging"},
    MatchCase{"wholeLineOnly", "exec", "show logging now", "", MatchError::Invalid, 5}), caseName);

INSTANTIATE_TEST_SUITE_P(Modes, Matching, ::testing::Values(
    MatchCase{"modeBeatsParent", "enable", "sh ver", "enable version"},
    MatchCase{"parentAnswersToo", "enable", "sh ip route", "ip route"},
    MatchCase{"parentWordsAbbreviateWithTheMode", "enable", "sh r", "running"},
    MatchCase{"notInTheChildMode", "exec", "show running-config", "", MatchError::Invalid, 5},
    MatchCase{"submodeExit", "config-if", "exit", "config-if exit"},
    MatchCase{"parentCommandFromSubmode", "config-if", "int Eth1", "interface", MatchError::None, 0, {"Eth1"}},
    MatchCase{"configLineIsInvalid", "config", "ip address 10.0.0.1 255.0.0.0", "", MatchError::Invalid, 0},
    MatchCase{"startOfACommandIsIncomplete", "config", "router ospf", "", MatchError::Incomplete}), caseName);

// What `?` lists after a partial line: words as match() walks them.
TEST(Choices, whatMayComeNext)
{
    CommandsRig rig(Commands);
    rig.load();
    const CommandIndex &exec = rig.model->findMode("exec")->index;
    const CommandIndex &enable = rig.model->findMode("enable")->index;
    using Words = std::vector<std::string>;
    EXPECT_EQ(exec.choices("sh ip").words, Words({"ip", "ipv6"})) << "within a word";
    EXPECT_EQ(exec.choices("sh ").words, Words({"interfaces", "ip", "ipv6", "version"})) << "patterns are not listed";
    EXPECT_EQ(exec.choices("show interfaces ").words, Words({"WORD", "summary"}));
    EXPECT_EQ(exec.choices("show int x ").words, Words({"<cr>", "counters"}));
    EXPECT_EQ(exec.choices("echo a b ").words, Words({"<cr>", "LINE"}));
    EXPECT_EQ(enable.choices("show r").words, Words{"running-config"}) << "the mode's and its parent's";
    EXPECT_EQ(exec.choices("e ").error, MatchError::Ambiguous);
    EXPECT_EQ(exec.choices("show bogus ").error, MatchError::Invalid);
    EXPECT_EQ(exec.choices("show interfaces x counters ").words, Words{"<cr>"});
}

// A pattern that would backtrack for ever in a backtracking engine; RE2
// takes the megabyte line in one pass.
TEST(MatchingCost, aLongLineAgainstAHeavyPatternEnds)
{
    CommandsRig rig(R"(
modes:
  exec:
    prompt: ">"
    commands:
      "~(a+)+b": never
      "~(?P<all>.*)c": c at the end
)");
    rig.load();
    const std::string line(1 << 20, 'a');
    const Match match = rig.model->modes[0].index.match(line);
    EXPECT_EQ(match.command, nullptr);
    EXPECT_EQ(match.error, MatchError::Invalid);
}

} // namespace

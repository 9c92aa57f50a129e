// expect_file_test.cpp: EXPECT.TXT lines, patterns and escapes, and the verdict a session gets.
#include "serve/expect_file.h"

#include "temp_dir.h"

#include <gtest/gtest.h>

using zentrel::serve::ExpectError;
using zentrel::serve::ExpectFile;
using Lines = std::vector<std::string>;

namespace {

ExpectFile expectOf(std::string_view bytes)
{
    return ExpectFile::parse(bytes, "r1/EXPECT.TXT");
}

TEST(Expect, passesOnExactLinesPatternsAndEscapes)
{
    const ExpectFile expect = expectOf("admin\r\n~secret[0-9]+\r\n\r\n\\~home\r\nshow version\n~\\~.*");
    EXPECT_EQ(expect.size(), 5u);
    // Bare Enters between the commands are not commands.
    EXPECT_TRUE(expect.check({"", "admin", "secret42", "", "~home", "show version", "~x"}).pass);
}

TEST(Expect, patternMustMatchTheWholeLine)
{
    const ExpectFile expect = expectOf("~show ver\n");
    EXPECT_FALSE(expect.check({"show version"}).pass);
    EXPECT_TRUE(expect.check({"show ver"}).pass);
}

TEST(Expect, escapedTildeIsLiteralNotAPattern)
{
    const ExpectFile expect = expectOf("\\~.*\n");
    EXPECT_TRUE(expect.check({"~.*"}).pass);
    EXPECT_FALSE(expect.check({"~home"}).pass);
}

TEST(Expect, firstDifferenceNamesBothLines)
{
    const ExpectFile expect = expectOf("admin\n\nsecret\nshow version\nexit\n");
    const auto verdict = expect.check({"admin", "secret", "show ver", "exit"});
    EXPECT_FALSE(verdict.pass);
    EXPECT_EQ(verdict.position, 3u);
    EXPECT_EQ(verdict.expectLine, 4u);
    EXPECT_EQ(verdict.expected, "show version");
    EXPECT_EQ(verdict.typed, "show ver");
    EXPECT_EQ(verdict.diff, "--- r1/EXPECT.TXT\n+++ typed\n@@ -1,4 +1,4 @@\n admin\n secret\n"
                            "-show version\n+show ver\n exit\n");
}

TEST(Expect, missingAndExtraLinesFail)
{
    const ExpectFile expect = expectOf("a\nb\n");
    const auto missing = expect.check({"a"});
    EXPECT_FALSE(missing.pass);
    EXPECT_EQ(missing.position, 2u);
    EXPECT_EQ(missing.expected, "b");
    EXPECT_EQ(missing.typed, std::nullopt);
    EXPECT_EQ(missing.diff, "--- r1/EXPECT.TXT\n+++ typed\n@@ -1,2 +1 @@\n a\n-b\n");

    const auto extra = expect.check({"a", "b", "reload"});
    EXPECT_FALSE(extra.pass);
    EXPECT_EQ(extra.expected, std::nullopt);
    EXPECT_EQ(extra.typed, "reload");
    EXPECT_NE(extra.diff.find("\n+reload\n"), std::string::npos);
}

TEST(Expect, diffShowsControlBytesAndStaysShort)
{
    Lines typed;
    for (int i = 0; i < 500; ++i)
        typed.push_back("junk " + std::to_string(i));
    typed.push_back("\x1b[A");
    const auto verdict = expectOf("show version\n").check(typed);
    EXPECT_FALSE(verdict.pass);
    EXPECT_LT(std::count(verdict.diff.begin(), verdict.diff.end(), '\n'), 45);
    EXPECT_NE(verdict.diff.find("more lines of diff"), std::string::npos);
    EXPECT_EQ(expectOf("x\n").check({"\x1b[A"}).diff.find('\x1b'), std::string::npos);
}

TEST(Expect, patternsMatchInLinearTimeWhateverTheLine)
{
    // A backtracking engine never ends on the first, and recurses per byte
    // (out of stack) on the second.
    EXPECT_FALSE(expectOf("~(a+)+$\n").check({std::string(41, 'a') + "!"}).pass);
    EXPECT_TRUE(expectOf("~.*\n").check({std::string(2'000'000, 'a')}).pass);
    // Bytes are characters of their own, 0x80 and up included.
    EXPECT_TRUE(expectOf("~R\xe9.\n").check({"R\xe9\xff"}).pass);
}

TEST(Expect, refusesWhatRe2Refuses)
{
    for (const char *pattern : {"~(a\n", "~(a)\\1\n", "~(?=a)\n", "~a{1001}\n"})
        EXPECT_THROW(expectOf(pattern), ExpectError) << pattern;
}

TEST(Expect, diffOfManyPatternsAgainstAFloodIsBounded)
{
    // Every cell of an alignment table would scan a long typed line: past
    // the bound the diff shows the lines without aligning them.
    std::string file;
    for (int i = 0; i < 1000; ++i)
        file += "~.*#\n";
    const Lines typed(1000, std::string(1000, 'x'));
    const auto verdict = expectOf(file).check(typed);
    EXPECT_FALSE(verdict.pass);
    EXPECT_EQ(verdict.position, 1u);
    EXPECT_EQ(verdict.diff.rfind("(too many lines to align", 0), 0u) << verdict.diff.substr(0, 200);
    EXPECT_NE(expectOf("~a\n~b\n").check({"a", "c"}).diff.find("-~b\n+c\n"), std::string::npos);
}

TEST(Expect, invalidPatternNamesFileLineAndReason)
{
    try {
        expectOf("admin\n\n~show (version\n");
        FAIL() << "no error";
    } catch (const ExpectError &error) {
        const std::string what = error.what();
        EXPECT_EQ(what.rfind("r1/EXPECT.TXT:3: the pattern show (version does not compile: ", 0), 0u) << what;
    }
}

TEST(Expect, unreadableFileIsAnError)
{
    zentrel::tests::TempDir dir;
    EXPECT_EQ(zentrel::serve::loadRouterExpect(dir.path()), nullptr);   // no file: no check
    EXPECT_THROW(ExpectFile::load(dir.path("EXPECT.TXT")), ExpectError);
    EXPECT_THROW(ExpectFile::load(dir.path()), ExpectError);   // a directory
    dir.write("EXPECT.TXT", "~a+\n");
    EXPECT_TRUE(zentrel::serve::loadRouterExpect(dir.path())->check({"aaa"}).pass);
}

} // namespace

namespace {

// Each row: the rules, the session's non-empty typed lines, its running
// config, whether it paged, and the rules it broke ("" for none).
struct RuleRow {
    const char *name;
    const char *file;
    Lines typed;
    const char *config;   // null: a router without one
    bool paged;
    Lines broken;
};

class Rules : public testing::TestWithParam<RuleRow> {};

TEST_P(Rules, eachRuleGivesItsVerdict)
{
    const RuleRow &row = GetParam();
    const std::string config = row.config ? row.config : "";
    const auto verdict = expectOf(row.file).check(row.typed, {row.config ? &config : nullptr, row.paged});
    EXPECT_EQ(verdict.rulesFailed, row.broken);
    EXPECT_EQ(verdict.pass, row.broken.empty());
}

const char *const Running = "hostname R1\n!\ninterface Gi0/1\n description uplink\n shutdown\n!\n"
                            "interface Gi0/2\n no shutdown\n";

INSTANTIATE_TEST_SUITE_P(
    Table, Rules,
    testing::Values(
        RuleRow{"neverKept", "never: reload\nnever: ~write erase.*\n", {"show version", "reload now"}, nullptr,
                false, {}},
        RuleRow{"neverBroken", "never: ~write erase.*\n", {"conf t", "write erase all"}, nullptr, false,
                {"r1/EXPECT.TXT:1: never: ~write erase.* (typed as line 2)"}},
        RuleRow{"onceAndCount", "once: write memory\ncount: 2 ~sh(ow)? ver(sion)?\n",
                {"show version", "write memory", "sh ver", "write memory"}, nullptr, false,
                {"r1/EXPECT.TXT:1: once: write memory (typed 2 times)"}},
        RuleRow{"countNever", "count: 0 reload\nonce: exit\n", {"show run"}, nullptr, false,
                {"r1/EXPECT.TXT:2: once: exit (never typed)"}},
        RuleRow{"beforeKeptAndVacuous", "before: configure terminal, write memory\nbefore: a, b\n",
                {"configure terminal", "write memory", "a"}, nullptr, false, {}},
        RuleRow{"beforeBroken", "before: configure terminal, write memory\n",
                {"write memory", "configure terminal", "write memory"}, nullptr, false,
                {"r1/EXPECT.TXT:1: before: configure terminal, write memory (the second typed as line 1, "
                 "the first only as line 2)"}},
        RuleRow{"configSections", "config-has: interface Gi0/1 > description uplink\n"
                                  "config-lacks: interface Gi0/2 > shutdown\nconfig-has: hostname R1\n",
                {}, Running, false, {}},
        RuleRow{"configBroken", "config-has: interface Gi0/2 > description uplink\nconfig-lacks: hostname R1\n"
                                "config-has: description uplink\n",
                {}, Running, false,
                {"r1/EXPECT.TXT:1: config-has: interface Gi0/2 > description uplink (not in the running config)",
                 "r1/EXPECT.TXT:2: config-lacks: hostname R1 (in the running config)",
                 "r1/EXPECT.TXT:3: config-has: description uplink (not in the running config)"}},
        RuleRow{"configWithoutOne", "config-has: hostname R1\n", {}, nullptr, false,
                {"r1/EXPECT.TXT:1: config-has: hostname R1 (the router keeps no running config (it has no "
                 "commands.yaml))"}},
        RuleRow{"paging", "paging: never\n", {"show run"}, nullptr, true,
                {"r1/EXPECT.TXT:1: paging: never (an answer was paged)"}}),
    [](const testing::TestParamInfo<RuleRow> &info) { return std::string(info.param.name); });

TEST(Expect, rulesBesideTheOrderAndEscapedRuleWords)
{
    // The order is checked as ever; a rule line is not one of its lines, an escaped one is.
    const ExpectFile expect = expectOf("enable\n\\never: x\nnever: reload\n");
    EXPECT_EQ(expect.size(), 2u);
    EXPECT_TRUE(expect.check({"enable", "never: x"}).pass);
    const auto verdict = expect.check({"enable", "reload"});
    EXPECT_FALSE(verdict.pass);
    EXPECT_EQ(verdict.position, 2u);
    EXPECT_EQ(verdict.rulesFailed, Lines{"r1/EXPECT.TXT:3: never: reload (typed as line 2)"});
    EXPECT_NE(verdict.diff.find("rules broken:\n  r1/EXPECT.TXT:3: never: reload"), std::string::npos) << verdict.diff;
}

TEST(Expect, aLineBreaksTheFileTheMomentItIsTyped)
{
    const ExpectFile expect = expectOf("enable\nshow version\nnever: reload\n");
    EXPECT_EQ(expect.breaks(0, "enable"), "");
    EXPECT_EQ(expect.breaks(1, "show run"), "r1/EXPECT.TXT:2: expected show version");
    EXPECT_EQ(expect.breaks(1, "show run", false), "");
    EXPECT_EQ(expect.breaks(2, "exit"), "r1/EXPECT.TXT: a line more than its 2");
    EXPECT_EQ(expect.breaks(0, "reload", false), "r1/EXPECT.TXT:3: never: reload");
    // A file of rules alone checks no order.
    EXPECT_EQ(expectOf("once: exit\n").breaks(5, "anything"), "");
}

TEST(Expect, rulesThatMakeNoSenseNameTheirLine)
{
    for (const char *bad : {"count: x reload\n", "count: -1 reload\n", "never: \n", "before: a\n",
                            "config-has: a >  > b\n", "paging: sometimes\n", "never: ~(x\n"}) {
        try {
            expectOf(std::string("enable\n") + bad);
            ADD_FAILURE() << "accepted " << bad;
        } catch (const ExpectError &error) {
            EXPECT_EQ(std::string(error.what()).rfind("r1/EXPECT.TXT:2: ", 0), 0u) << error.what();
        }
    }
}

} // namespace

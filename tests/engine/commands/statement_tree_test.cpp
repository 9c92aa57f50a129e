// statement_tree_test.cpp: Junos statements changed by set and delete, shown in braces and as set lines, compared; unified diffs.
#include "console/commands/statement_tree.h"
#include "console/commands/text_diff.h"

#include <gtest/gtest.h>

using namespace zentrel::console::commands;
using Change = StatementTree::Change;

namespace {

constexpr std::string_view Base = "## Last commit: yesterday\n"
                                  "system {\n"
                                  "    host-name vmx1;\n"
                                  "    services {\n"
                                  "        ssh;\n"
                                  "    }\n"
                                  "}\n"
                                  "/* the uplinks */\n"
                                  "interfaces {\n"
                                  "    ge-0/0/0 {\n"
                                  "        description \"link to R1\";\n"
                                  "        unit 0 {\n"
                                  "            family inet {\n"
                                  "                address 10.0.0.1/30;\n"
                                  "            }\n"
                                  "        }\n"
                                  "    }\n"
                                  "}\n"
                                  "set protocols lldp interface all\n";

const UniqueKeys Unique{{"host-name"}, {"description"}};

struct StatementCase {
    const char *name;
    std::string line;
    std::string edit;
    Change change;
    std::string setLines;   // all of them after the line
};

class Statements : public ::testing::TestWithParam<StatementCase> {};

TEST_P(Statements, changeTheTree)
{
    StatementTree tree = StatementTree::parse(Base);
    EXPECT_EQ(tree.apply(GetParam().line, GetParam().edit, Unique), GetParam().change);
    EXPECT_EQ(tree.setLines(), GetParam().setLines);
    EXPECT_EQ(tree.bytes(), std::max(tree.text().size(), tree.setLines().size()));
    // What the braces say, read again, is the same tree.
    EXPECT_EQ(StatementTree::parse(tree.text()).setLines(), tree.setLines());
}

std::string caseName(const ::testing::TestParamInfo<StatementCase> &info) { return info.param.name; }

const std::string HostName = "set system host-name vmx1\n";
const std::string Ssh = "set system services ssh\n";
const std::string Description = "set interfaces ge-0/0/0 description \"link to R1\"\n";
const std::string Address = "set interfaces ge-0/0/0 unit 0 family inet address 10.0.0.1/30\n";
const std::string Lldp = "set protocols lldp interface all\n";
const std::string BaseSet = HostName + Ssh + Description + Address + Lldp;

INSTANTIATE_TEST_SUITE_P(Set, Statements, ::testing::Values(
    StatementCase{"leafUnderAContainer", "set system domain-name lab", "", Change::Added,
                  HostName + Ssh + "set system domain-name lab\n" + Description + Address + Lldp},
    StatementCase{"alreadyThere", "set system services ssh", "", Change::None, BaseSet},
    StatementCase{"uniqueKeyReplaces", "set system host-name vmx9", "", Change::Replaced,
                  "set system host-name vmx9\n" + Ssh + Description + Address + Lldp},
    StatementCase{"quotedWordStaysOne", "set interfaces  ge-0/0/0 description \"to  core\"", "", Change::Replaced,
                  HostName + Ssh + "set interfaces ge-0/0/0 description \"to  core\"\n" + Address + Lldp},
    StatementCase{"newLevelsInPairs", "set interfaces ge-0/0/1 unit 0 family inet address 10.1.1.1/24", "", Change::Added,
                  HostName + Ssh + Description + Address
                      + "set interfaces ge-0/0/1 unit 0 family inet address 10.1.1.1/24\n" + Lldp},
    StatementCase{"underTheEditPath", "set address 10.0.0.5/30", "interfaces ge-0/0/0 unit 0 family inet", Change::Added,
                  HostName + Ssh + Description + Address
                      + "set interfaces ge-0/0/0 unit 0 family inet address 10.0.0.5/30\n" + Lldp},
    StatementCase{"newTopLevel", "set snmp community public authorization read-only", "", Change::Added,
                  BaseSet + "set snmp community public authorization read-only\n"},
    StatementCase{"neitherSetNorDelete", "show system", "", Change::Refused, BaseSet},
    StatementCase{"setAlone", "set", "", Change::Refused, BaseSet}), caseName);

INSTANTIATE_TEST_SUITE_P(Delete, Statements, ::testing::Values(
    StatementCase{"lastLeafLeavesItsContainer", "delete system services ssh", "", Change::Removed,
                  HostName + "set system services\n" + Description + Address + Lldp},
    StatementCase{"aBranch", "delete interfaces ge-0/0/0 unit 0", "", Change::Removed,
                  HostName + Ssh + Description + Lldp},
    StatementCase{"byItsKeyword", "delete interfaces ge-0/0/0 description", "", Change::Removed,
                  HostName + Ssh + Address + Lldp},
    StatementCase{"notThere", "delete interfaces ge-0/0/9", "", Change::None, BaseSet},
    StatementCase{"aWholeTopLevel", "delete protocols", "", Change::Removed, HostName + Ssh + Description + Address}),
    caseName);

TEST(StatementTree, bracesAsJunosShowsThem)
{
    const StatementTree tree = StatementTree::parse(Base);
    EXPECT_EQ(tree.text(), "system {\n    host-name vmx1;\n    services {\n        ssh;\n    }\n}\n"
                           "interfaces {\n    ge-0/0/0 {\n        description \"link to R1\";\n        unit 0 {\n"
                           "            family inet {\n                address 10.0.0.1/30;\n            }\n        }\n"
                           "    }\n}\nprotocols {\n    lldp {\n        interface all;\n    }\n}\n");
    EXPECT_EQ(tree.value({"system"}, "host-name"), "vmx1");
    EXPECT_EQ(tree.value({"chassis"}, "host-name"), "");
}

TEST(StatementTree, aSetLineInsideBracesSpeaksFromTheTop)
{
    std::string text = "a {\n    b;\n";
    std::string expected = "set a b\n";
    for (int i = 0; i < 20; ++i) {   // enough new top-level statements to move the ones open
        text += "set t" + std::to_string(i) + " v\n";
        expected += "set t" + std::to_string(i) + " v\n";
    }
    text += "    c;\n}\n";
    EXPECT_EQ(StatementTree::parse(text).setLines(), expected + "set c\n");
}

TEST(StatementTree, neverPastItsBounds)
{
    StatementTree tree;
    std::string deep = "set";
    for (std::size_t i = 0; i < 2 * StatementTree::MaxDepth + 2; ++i)
        deep += " level" + std::to_string(i);
    EXPECT_EQ(tree.apply(deep, "", {}), Change::Full);
    const std::string word(StatementTree::MaxBytes / 3, 'x');
    EXPECT_EQ(tree.apply("set a b " + word, "", {}), Change::Added);
    EXPECT_EQ(tree.apply("set a c " + word, "", {}), Change::Added);
    EXPECT_EQ(tree.apply("set a d " + word, "", {}), Change::Full);
    EXPECT_LE(tree.bytes(), StatementTree::MaxBytes);
    EXPECT_EQ(tree.bytes(), std::max(tree.text().size(), tree.setLines().size()));
    // A file deeper than the bound loses what lies below it, nothing above or after.
    std::string braces;
    for (std::size_t i = 0; i < StatementTree::MaxDepth + 4; ++i)
        braces += "l" + std::to_string(i) + " {\n";
    braces += "leaf;\n";
    for (std::size_t i = 0; i < StatementTree::MaxDepth + 4; ++i)
        braces += "}\n";
    braces += "after;\n";
    const std::string parsed = StatementTree::parse(braces).setLines();
    EXPECT_TRUE(parsed.starts_with("set l0 l1 l2 ")) << parsed;
    EXPECT_EQ(parsed.find("leaf"), std::string::npos) << parsed;
    EXPECT_TRUE(parsed.ends_with("\nset after\n")) << parsed;
}

struct CompareCase {
    const char *name;
    std::vector<std::string> lines;   // applied to Base
    std::string compare;
};

class Compare : public ::testing::TestWithParam<CompareCase> {};

TEST_P(Compare, showsWhatACommitWouldChange)
{
    const StatementTree running = StatementTree::parse(Base);
    StatementTree candidate = running;
    for (const std::string &line : GetParam().lines)
        candidate.apply(line, "", Unique);
    EXPECT_EQ(StatementTree::compare(running, candidate), GetParam().compare);
}

std::string compareName(const ::testing::TestParamInfo<CompareCase> &info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(Junos, Compare, ::testing::Values(
    CompareCase{"nothing", {}, ""},
    CompareCase{"setAndDeletedAgain", {"set system domain-name lab", "delete system domain-name"}, ""},
    CompareCase{"aLeafAdded", {"set interfaces ge-0/0/0 mtu 9000"}, "[edit interfaces ge-0/0/0]\n+   mtu 9000;\n"},
    CompareCase{"aLeafReplaced", {"set system host-name vmx9"},
                "[edit system]\n-   host-name vmx1;\n+   host-name vmx9;\n"},
    CompareCase{"aBranchAdded", {"set interfaces ge-0/0/1 unit 0 family inet address 10.1.1.1/24"},
                "[edit interfaces]\n+   ge-0/0/1 {\n+       unit 0 {\n+           family inet {\n"
                "+               address 10.1.1.1/24;\n+           }\n+       }\n+   }\n"},
    CompareCase{"twoLevels", {"delete protocols", "set system services netconf"},
                "[edit system services]\n+   netconf;\n[edit]\n-   protocols {\n-       lldp {\n-           interface all;\n"
                "-       }\n-   }\n"}), compareName);

struct DiffCase {
    const char *name;
    std::string from;
    std::string to;
    std::string diff;   // after the two label lines
};

class UnifiedDiff : public ::testing::TestWithParam<DiffCase> {};

TEST_P(UnifiedDiff, hunksWithThreeLinesOfContext)
{
    const std::string diff = unifiedDiff(GetParam().from, GetParam().to, "a", "b");
    EXPECT_EQ(diff, GetParam().diff.empty() ? "" : "--- a\n+++ b\n" + GetParam().diff);
}

std::string diffName(const ::testing::TestParamInfo<DiffCase> &info) { return info.param.name; }

std::string numbered(int from, int to, std::string_view prefix = "")
{
    std::string out;
    for (int i = from; i <= to; ++i)
        out += std::string(prefix) + std::to_string(i) + "\n";
    return out;
}

INSTANTIATE_TEST_SUITE_P(Lines, UnifiedDiff, ::testing::Values(
    DiffCase{"equal", numbered(1, 9), numbered(1, 9), ""},
    DiffCase{"oneAdded", numbered(1, 9), numbered(1, 5) + "new\n" + numbered(6, 9),
             "@@ -3,6 +3,7 @@\n" + numbered(3, 5, " ") + "+new\n" + numbered(6, 8, " ")},
    DiffCase{"oneReplacedAtTheStart", numbered(1, 9), "one\n" + numbered(2, 9),
             "@@ -1,4 +1,4 @@\n-1\n+one\n" + numbered(2, 4, " ")},
    DiffCase{"removedAtTheEnd", numbered(1, 9), numbered(1, 8), "@@ -6,4 +6,3 @@\n" + numbered(6, 8, " ") + "-9\n"},
    DiffCase{"twoHunks", numbered(1, 20), numbered(1, 2) + numbered(4, 17) + "x\n" + numbered(18, 20),
             "@@ -1,6 +1,5 @@\n" + numbered(1, 2, " ") + "-3\n" + numbered(4, 6, " ") + "@@ -15,6 +14,7 @@\n"
                 + numbered(15, 17, " ") + "+x\n" + numbered(18, 20, " ")},
    DiffCase{"fromNothing", "", "a\n", "@@ -0,0 +1 @@\n+a\n"}), diffName);

TEST(UnifiedDiff, pastMaxEditsTheMiddleIsOneHunk)
{
    const std::string from = numbered(1, int(MaxEdits) + 10, "a");
    const std::string to = numbered(1, int(MaxEdits) + 10, "b");
    const std::string diff = unifiedDiff("same\n" + from, "same\n" + to, "a", "b");
    EXPECT_TRUE(diff.starts_with("--- a\n+++ b\n@@ -1," + std::to_string(MaxEdits + 11) + " +1,"
                                 + std::to_string(MaxEdits + 11) + " @@\n same\n-a1\n"))
        << diff.substr(0, 80);
    EXPECT_NE(diff.find("-a" + std::to_string(MaxEdits + 10) + "\n+b1\n"), std::string::npos);
}

} // namespace

// config_tree_test.cpp: a typed configuration line applied to the running config, row by row.
#include "console/commands/config_tree.h"

#include <gtest/gtest.h>

using namespace zentrel::console::commands;
using Change = ConfigTree::Change;

namespace {

constexpr std::string_view Base = "hostname R1\n"
                                  "!\n"
                                  "interface Eth0\n"
                                  " description office\n"
                                  " ip address 10.0.0.1 255.0.0.0\n"
                                  " no shutdown\n"
                                  "!\n"
                                  "interface Eth1\n"
                                  " shutdown\n"
                                  "!\n"
                                  "ip route 0.0.0.0 0.0.0.0 10.0.0.254\n"
                                  "end\n";

struct TreeCase {
    const char *name;
    std::string section;
    std::string line;
    Change change;
    std::string text;   // Base with the change made
};

class ConfigLines : public ::testing::TestWithParam<TreeCase> {};

TEST_P(ConfigLines, applyToTheRunningConfig)
{
    ConfigTree tree = ConfigTree::parse(Base);
    EXPECT_EQ(tree.apply(GetParam().line, GetParam().section, defaultUniqueKeys()), GetParam().change);
    EXPECT_EQ(tree.text(), GetParam().text);
    EXPECT_EQ(tree.bytes(), tree.text().size());
}

std::string caseName(const ::testing::TestParamInfo<TreeCase> &info) { return info.param.name; }

std::string replaced(std::string_view from, std::string_view to)
{
    std::string text(Base);
    const std::size_t at = text.find(from);
    return text.replace(at, from.size(), to);
}

INSTANTIATE_TEST_SUITE_P(TopLevel, ConfigLines, ::testing::Values(
    TreeCase{"addedBeforeEnd", "", "ip name-server 10.0.0.53", Change::Added,
             replaced("end\n", "ip name-server 10.0.0.53\nend\n")},
    TreeCase{"blanksTidied", "", "  ip   name-server\t10.0.0.53 ", Change::Added,
             replaced("end\n", "ip name-server 10.0.0.53\nend\n")},
    TreeCase{"notTwice", "", "ip route 0.0.0.0 0.0.0.0 10.0.0.254", Change::None, std::string(Base)},
    TreeCase{"noRemovesTheLine", "", "no ip route 0.0.0.0 0.0.0.0 10.0.0.254", Change::Removed,
             replaced("ip route 0.0.0.0 0.0.0.0 10.0.0.254\n", "")},
    TreeCase{"noRemovesASection", "", "no interface Eth1", Change::Removed, replaced("interface Eth1\n shutdown\n!\n", "")},
    TreeCase{"noWithNothingToRemove", "", "no ip name-server 1.2.3.4", Change::None, std::string(Base)},
    TreeCase{"uniqueKeyReplaces", "", "hostname Core", Change::Replaced, replaced("hostname R1", "hostname Core")}),
    caseName);

INSTANTIATE_TEST_SUITE_P(Sections, ConfigLines, ::testing::Values(
    TreeCase{"addedUnderTheSection", "interface Eth1", "mtu 9000", Change::Added,
             replaced("Eth1\n shutdown\n", "Eth1\n shutdown\n mtu 9000\n")},
    TreeCase{"oneDescription", "interface Eth0", "description lab floor", Change::Replaced,
             replaced("description office", "description lab floor")},
    TreeCase{"oneAddress", "interface Eth0", "ip address 10.9.9.9 255.255.0.0", Change::Replaced,
             replaced("10.0.0.1 255.0.0.0", "10.9.9.9 255.255.0.0")},
    TreeCase{"shutdownReplacesNoShutdown", "interface Eth0", "shutdown", Change::Replaced,
             replaced(" no shutdown", " shutdown")},
    TreeCase{"noShutdownReplacesShutdown", "interface Eth1", "no shutdown", Change::Replaced,
             replaced(" shutdown\n!\nip", " no shutdown\n!\nip")},
    TreeCase{"noKeyRemovesItsLine", "interface Eth0", "no description", Change::Removed,
             replaced(" description office\n", "")},
    TreeCase{"newSectionBeforeEnd", "interface Eth2", "description spare", Change::Added,
             replaced("end\n", "interface Eth2\n description spare\n!\nend\n")},
    TreeCase{"sameLineElsewhereIsNoMatter", "interface Eth1", "description office", Change::Added,
             replaced("Eth1\n shutdown\n", "Eth1\n shutdown\n description office\n")},
    TreeCase{"negatedKeyReplacesItsValue", "interface Eth0", "no ip address", Change::Replaced,
             replaced("ip address 10.0.0.1 255.0.0.0", "no ip address")},
    TreeCase{"negatedKeyDropsItsValues", "interface Eth0", "no ip address 10.0.0.1 255.0.0.0", Change::Replaced,
             replaced("ip address 10.0.0.1 255.0.0.0", "no ip address")}), caseName);

TEST(ConfigTree, negatedKeyGivesWayToAValue)
{
    ConfigTree tree = ConfigTree::parse("interface Eth2\n no ip address\n shutdown\n");
    EXPECT_EQ(tree.apply("ip address 10.2.0.1 255.255.0.0", "interface Eth2", defaultUniqueKeys()), Change::Replaced);
    EXPECT_EQ(tree.text(), "interface Eth2\n ip address 10.2.0.1 255.255.0.0\n shutdown\n");
}

TEST(ConfigTree, sectionsKeepTheRoutersIndentation)
{
    ConfigTree tree = ConfigTree::parse("interface Ethernet1\n   description a\n      deeper\n!\nend\n", 3);
    EXPECT_EQ(tree.apply("mtu 9000", "interface Ethernet1", defaultUniqueKeys()), Change::Added);
    EXPECT_EQ(tree.apply("description b", "interface Ethernet2", defaultUniqueKeys()), Change::Added);
    EXPECT_EQ(tree.text(), "interface Ethernet1\n   description a\n      deeper\n   mtu 9000\n!\n"
                           "interface Ethernet2\n   description b\n!\nend\n");
    EXPECT_EQ(tree.bytes(), tree.text().size());
}

TEST(ConfigTree, withoutEndLinesGoLast)
{
    ConfigTree tree = ConfigTree::parse("hostname R1\r\n");
    tree.apply("ip domain-name lab", "", defaultUniqueKeys());
    EXPECT_EQ(tree.enterSection("interface Eth0"), Change::Added);
    EXPECT_EQ(tree.enterSection("interface Eth0"), Change::None);
    EXPECT_EQ(tree.text(), "hostname R1\nip domain-name lab\ninterface Eth0\n");
    EXPECT_EQ(tree.topValue("hostname"), "R1");
}

TEST(ConfigTree, neverGrowsPastItsBound)
{
    ConfigTree tree = ConfigTree::parse("end\n");
    const std::string line(ConfigTree::MaxBytes / 2, 'x');
    EXPECT_EQ(tree.apply(line, "", {}), Change::Added);
    EXPECT_EQ(tree.apply(line + "y", "", {}), Change::Full);
    EXPECT_EQ(tree.apply(line + "y", "interface Eth0", {}), Change::Full);
    EXPECT_LE(tree.bytes(), ConfigTree::MaxBytes);
    EXPECT_EQ(tree.bytes(), tree.text().size());
}

TEST(ConfigTree, ownUniqueKeys)
{
    ConfigTree tree = ConfigTree::parse("router bgp 1\n neighbor 10.0.0.1 remote-as 2\n");
    const UniqueKeys unique{{"neighbor 10.0.0.1"}};
    EXPECT_EQ(tree.apply("neighbor 10.0.0.1 remote-as 3", "router bgp 1", unique), Change::Replaced);
    EXPECT_EQ(tree.apply("description x", "router bgp 1", unique), Change::Added);
    EXPECT_EQ(tree.apply("description y", "router bgp 1", unique), Change::Added) << "not a unique key here";
}

} // namespace

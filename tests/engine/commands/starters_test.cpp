// starters_test.cpp: the starter routers load clean and answer the lines their client libraries send, in their order.
#include "tests/engine/commands/commands_rig.h"

#include <re2/re2.h>

#include <gtest/gtest.h>

using namespace zentrel::console::commands;

namespace {

const std::string Routers = std::string(ZENTREL_SOURCE_DIR) + "/routers/";

// A line typed and what the reply to it holds (an RE2 pattern over the
// reply with LF line ends; `(?m)` where lines matter), and what it must not.
struct Step {
    std::string line;
    std::string holds;
    std::string lacks = {};
};

struct ClientCase {
    const char *name;
    const char *router;
    std::vector<Step> steps;
    bool telnet = false;   // a Telnet login first (the steps start at the user name); else SSH as admin
};

void PrintTo(const ClientCase &row, std::ostream *out) { *out << row.name; }

std::string lfOnly(std::string text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
            out.push_back(text[i]);
    return out;
}

class Clients : public ::testing::TestWithParam<ClientCase> {};

TEST_P(Clients, answerWhatTheClientExpects)
{
    zentrel::platform::PosixTextFiles files;
    const ModelPtr model = loadModel(Routers + GetParam().router, files);
    auto router = std::make_shared<RouterState>(*model);
    Conversation session(model, router, files, {.ssh = !GetParam().telnet, .user = "admin"});
    session.start();
    for (const Step &step : GetParam().steps) {
        const Reply reply = session.line(step.line);
        const std::string bytes = lfOnly(reply.bytes);
        EXPECT_TRUE(RE2::PartialMatch(bytes, step.holds)) << "'" << step.line << "' gave:\n" << bytes;
        if (!step.lacks.empty()) {
            EXPECT_FALSE(RE2::PartialMatch(bytes, step.lacks)) << "'" << step.line << "' gave:\n" << bytes;
        }
        EXPECT_EQ(reply.warning, "") << step.line;
        ASSERT_FALSE(session.wantsKeys()) << "'" << step.line << "' pages";
    }
}

std::string caseName(const ::testing::TestParamInfo<ClientCase> &info) { return info.param.name; }

// netmiko: Enter, paging and width off, enable (its secret always sent), two shows, an
// error, a description in configuration mode, the save, the config read back.
INSTANTIATE_TEST_SUITE_P(Netmiko, Clients, ::testing::Values(
    ClientCase{"cisco_ios", "cisco_ios", {
        {"", "^R1>$"}, {"terminal length 0", "^R1>$"}, {"terminal width 511", "^R1>$"},
        {"enable", "^Password: $"}, {"any-secret", "^R1#$"}, {"", "^R1#$"},
        {"show version", "Version 15\\.9\\(3\\)M6(?s:.*)\\nR1 uptime is"},
        {"show ip interface brief", "GigabitEthernet0/1"},
        {"show bogus", "^ {8}\\^\\n% Invalid input detected at '\\^' marker\\.\\nR1#$"},
        {"config term", "R1\\(config\\)#$"}, {"interface GigabitEthernet0/2", "^R1\\(config-if\\)#$"},
        {"description set by netmiko", "^R1\\(config-if\\)#$"}, {"end", "^R1#$"},
        {"write mem", "\\[OK\\]\\nR1#$"},
        {"show running-config", "(?m)^interface GigabitEthernet0/2\\n(?: .*\\n)* description set by netmiko$"},
        {"show running-config interface GigabitEthernet0/2", "^Building configuration\\.\\.\\.\\n\\nCurrent configuration : "
         "\\d+ bytes\\n!\\ninterface GigabitEthernet0/2\\n(?: .*\\n)* description set by netmiko\\n(?: .*\\n)*end\\nR1#$"},
        {"show startup-config", "(?m)^interface GigabitEthernet0/2\\n(?: .*\\n)* description set by netmiko$"}}},
    ClientCase{"cisco_nxos", "cisco_nxos", {
        {"", "^nx1# $"}, {"terminal length 0", "^nx1# $"},
        {"show version", "NXOS: version 9\\.3\\(10\\)(?s:.*)Device name: nx1"},
        {"show interface brief", "Eth1/3"},
        {"show bogus", "% Invalid command at '\\^' marker\\."},
        {"config term", "nx1\\(config\\)# $"}, {"interface Ethernet1/3", "^nx1\\(config-if\\)# $"},
        {"description set by netmiko", "^nx1\\(config-if\\)# $"}, {"end", "^nx1# $"},
        {"copy running-config startup-config", "Copy complete\\.\\nnx1# $"},
        {"show running-config", "(?m)^!Command: show running-config\\n(?s:.*)^interface Ethernet1/3\\n  description set by netmiko$",
         "Building configuration"},
        {"sh run int Ethernet1/3", "(?m)\\A\\n!Command: show running-config interface Ethernet1/3\\n(?s:.*)"
         "^interface Ethernet1/3\\n(?:  .*\\n)*  description set by netmiko\\n(?:  .*\\n)*\\nnx1# $"},
        {"show startup-config", "(?m)^interface Ethernet1/3\\n  description set by netmiko$"}}},
    ClientCase{"arista_eos", "arista_eos", {
        {"", "^eos1>$"}, {"terminal length 0", "Pagination disabled\\.\\neos1>$"},
        {"terminal width 511", "^Width set to 511 columns\\.\\neos1>$"},
        {"enable", "^Password: $"}, {"any-secret", "^eos1#$"},
        {"show version", "Software image version: 4\\.28\\.3M"}, {"show ip interface brief", "Management1"},
        {"show bogus", "^% Invalid input \\(at token 1: 'bogus'\\)\\neos1#$"},
        {"config term", "^eos1\\(config\\)#$"}, {"interface Ethernet2", "^eos1\\(config-if\\)#$"},
        {"description set by netmiko", "^eos1\\(config-if\\)#$"}, {"end", "^eos1#$"},
        {"copy running-config startup-config", "Copy completed successfully\\.\\neos1#$"},
        {"show running-config interfaces Ethernet2", "^interface Ethernet2\\n(?:   .*\\n)*   description set by netmiko\\n"
         "(?:   .*\\n)*eos1#$"},
        {"show running-config", "(?m)^! device: eos1 \\(vEOS-lab(?s:.*)^interface Ethernet2\\n   description set by netmiko\\n!$"}}},
    ClientCase{"juniper_junos", "juniper_junos", {
        {"", "^admin@vmx1> $"}, {"set cli screen-length 0", "Screen length set to 0"},
        {"set cli screen-width 511", "Screen width set to 511"},
        {"show version", "Hostname: vmx1\\n(?s:.*)Junos: 21\\.4R3\\.15"}, {"show interfaces terse", "ge-0/0/2"},
        {"bogus", "^ {12}\\^\\nunknown command\\.\\nadmin@vmx1> $"},
        {"configure", "^Entering configuration mode\\n\\n\\[edit\\]\\nadmin@vmx1# $"},
        {"set interfaces ge-0/0/2 description \"set by netmiko\"", "^\\n\\[edit\\]\\nadmin@vmx1# $"},
        {"commit and-quit", "^commit complete\\nExiting configuration mode\\n\\nadmin@vmx1> $"},
        {"show configuration | display set", "(?m)^set interfaces ge-0/0/2 description \"set by netmiko\"$"}}},
    ClientCase{"juniper_junos_telnet", "juniper_junos", {
        {"netops", "^Password:$"}, {"any", "Last login(?s:.*)\\nnetops@vmx1> $"},
        {"configure", "netops@vmx1# $"}, {"set system host-name vmx7", "netops@vmx1# $"},
        {"exit configuration-mode", "Exit with uncommitted changes\\? \\[yes,no\\] \\(yes\\) $"},
        {"yes", "Exiting configuration mode\\n\\nnetops@vmx1> $"}}, true}), caseName);

// Ansible network_cli: the shell opened, become, device info, the *_config module's reads
// and writes (twice: changed, then not), facts.
INSTANTIATE_TEST_SUITE_P(Ansible, Clients, ::testing::Values(
    ClientCase{"ios", "cisco_ios", {
        {"terminal length 0", "^R1>$"}, {"terminal width 512", "^R1>$"}, {"terminal width 0", "^R1>$"},
        {"enable", "^Password: $"}, {"any-secret", "^R1#$"}, {"show privilege", "Current privilege level is 15"},
        {"show version", "image file is \"flash0:/vios-adventerprisek9-m\""}, {"show vlan", "% Invalid input"},
        {"show running-config", "interface GigabitEthernet0/3"},
        {"configure terminal", "R1\\(config\\)#$"}, {"interface GigabitEthernet0/3", "R1\\(config-if\\)#$"},
        {"description set by ansible", "^R1\\(config-if\\)#$"}, {"end", "^R1#$"},
        {"show running-config", "(?m)^interface GigabitEthernet0/3\\n(?: .*\\n)* description set by ansible$"},
        {"copy running-config startup-config", "^Destination filename \\[startup-config\\]\\? $"},
        {"", "^Building configuration\\.\\.\\.\\n\\[OK\\]\\nR1#$"},
        {"show startup-config", "description set by ansible"},
        {"show running-config | section ^interface", "^interface Loopback0\\n(?s:.*) description set by ansible\\n(?s:.*)R1#$",
         "hostname|router ospf"},
        {"show inventory", "PID: IOSv"}}},
    ClientCase{"nxos", "cisco_nxos", {
        {"terminal length 0", "^nx1# $"}, {"terminal width 511", "^nx1# $"},
        {"show version", "NXOS image file is: bootflash:///nxos"}, {"show inventory", "NAME: \"Chassis\""},
        {"show running-config", "interface Ethernet1/4"},
        {"configure terminal", "nx1\\(config\\)# $"}, {"interface Ethernet1/4", "^nx1\\(config-if\\)# $"},
        {"description set by ansible", "^nx1\\(config-if\\)# $"}, {"end", "^nx1# $"},
        {"show running-config", "(?m)^interface Ethernet1/4\\n  description set by ansible$"},
        {"show license host-id", "License hostid: VDH="}}},
    ClientCase{"eos", "arista_eos", {
        {"terminal length 0", "eos1>$"}, {"terminal width 512", "eos1>$"},
        {"enable", "^Password: $"}, {"any-secret", "^eos1#$"},
        {"show version | json", "^\\{\\n(?s:.*)\"version\": \"4\\.28\\.3M\""},
        {"show hostname | json", "^\\{\\n    \"hostname\": \"eos1\",\\n(?s:.*)\\}\\neos1#$"},
        {"bash timeout 5 cat /mnt/flash/boot-config", "SWI=flash:/vEOS-lab\\.swi"},
        {"show running-config", "interface Ethernet3"},
        {"show configuration sessions", "Maximum number of pending sessions: 5"},
        {"configure session ansible_1", "^eos1\\(config-s\\)#$"}, {"interface Ethernet3", "^eos1\\(config-s-if\\)#$"},
        {"description set by ansible", "^eos1\\(config-s-if\\)#$"},
        {"show session-config diffs", "^--- system:/running-config\\n\\+\\+\\+ session:/ansible_1-session-config\\n@@ -\\d+,6 \\+\\d+,7 @@\\n"
                                      "(?: .*\\n){3}\\+   description set by ansible\\n(?: .*\\n){3}eos1\\(config-s-if\\)#$"},
        {"do show running-config", "eos1\\(config-s-if\\)#$", "set by ansible"},
        {"commit", "^eos1#$"},
        {"show running-config", "(?m)^interface Ethernet3\\n   description set by ansible\\n!$"},
        {"show running-config | section Ethernet3", "^interface Ethernet3\\n   description set by ansible\\neos1#$"},
        // The module's discard: out of the session, back into it by name, abort.
        {"configure session ansible_2", "^eos1\\(config-s\\)#$"}, {"interface Ethernet3", "config-s-if"},
        {"description not kept", "config-s-if"}, {"end", "^eos1#$"},
        {"configure session ansible_2", "^eos1\\(config-s\\)#$"},
        {"show session-config diffs", "\\+   description not kept"}, {"abort", "^eos1#$"},
        {"show running-config", "description set by ansible", "not kept"},
        {"configure session ansible_3", "config-s"}, {"show session-config diffs", "^eos1\\(config-s\\)#$"}}},
    ClientCase{"junos", "juniper_junos", {
        {"set cli timestamp disable", "^admin@vmx1> $"}, {"set cli screen-length 0", "admin@vmx1> $"},
        {"set cli screen-width 1024", "admin@vmx1> $"},
        {"show version", "Model: vmx\\nJunos: 21\\.4R3\\.15"},
        {"show configuration", "^## Last commit: (?s:.*)\\n    host-name vmx1;\\n(?s:.*)admin@vmx1> $"},
        {"configure", "admin@vmx1# $"},
        {"set interfaces ge-0/0/2 description set-by-ansible", "^\\n\\[edit\\]\\nadmin@vmx1# $"},
        {"show | compare", "^\\[edit interfaces ge-0/0/2\\]\\n\\+   description set-by-ansible;\\n\\n\\[edit\\]\\nadmin@vmx1# $"},
        {"commit and-quit", "^commit complete\\nExiting configuration mode\\n\\nadmin@vmx1> $"},
        {"show configuration", "ge-0/0/2 \\{\\n        disable;\\n        description set-by-ansible;\\n    \\}"},
        {"configure", "admin@vmx1# $"},
        {"set interfaces ge-0/0/2 description set-by-ansible", "^\\n\\[edit\\]\\nadmin@vmx1# $"},
        {"show | compare", "^\\n\\[edit\\]\\nadmin@vmx1# $"},
        {"top", "^\\n\\[edit\\]\\nadmin@vmx1# $"}, {"rollback 0", "^load complete\\n"},
        {"exit", "^Exiting configuration mode\\n\\nadmin@vmx1> $"},
        {"show configuration | display set", "(?m)^set interfaces ge-0/0/2 description set-by-ansible\\n"}}}),
    caseName);

// What the starters model beyond the clients' own lines.
INSTANTIATE_TEST_SUITE_P(Platform, Clients, ::testing::Values(
    ClientCase{"iosNegatedAddressAndDo", "cisco_ios", {
        {"enable", "Password: "}, {"x", "R1#"}, {"conf t", "R1\\(config\\)#$"},
        {"interface GigabitEthernet0/2", "config-if"}, {"ip address 10.0.99.1 255.255.255.0", "config-if"},
        {"do show running-config | section GigabitEthernet0/2",
         "^interface GigabitEthernet0/2\\n ip address 10\\.0\\.99\\.1 255\\.255\\.255\\.0\\n shutdown\\n(?s:.*)R1\\(config-if\\)#$",
         "no ip address"},
        {"no ip address 10.0.99.1 255.255.255.0", "config-if"},
        {"do show running-config | include address", "(?m)^ no ip address\\n(?s:.*)R1\\(config-if\\)#$"},
        {"do show running-config | count interface", "^Number of lines which match regexp = 6\\n"},
        {"do bogus", "^ {17}\\^\\n% Invalid input"},
        {"do show running-config | include (", "^ {47}\\^\\n% Invalid input"},
        {"do show running-config | frobnicate", "^ {39}\\^\\n% Invalid input"}}},
    ClientCase{"nxosLogin", "cisco_nxos", {
        {"admin", "^Password: $"}, {"x", "Cisco NX-OS Software(?s:.*)nx1# $"},
        {"show running-config | include hostname", "^hostname nx1\\nnx1# $"},
        {"show running-config | count", "^\\d+\\nnx1# $"}}, true},
    ClientCase{"junosStatements", "juniper_junos", {
        {"s", "^'s' is ambiguous\\.\\nadmin@vmx1> $"}, {"show bogus", "^ {17}\\^\\nsyntax error, expecting <command>\\."},
        {"show interfaces terse | match ge-0/0/0", "^ge-0/0/0 .*\\nge-0/0/0\\.0 .*\\nadmin@vmx1> $"},
        {"show configuration | display set | count", "^Count: \\d+ lines\\n"},
        {"configure", "#"},
        {"set system host-name vmx9", "^\\n\\[edit\\]\\nadmin@vmx1# $"},
        {"delete interfaces ge-0/0/2 disable", "admin@vmx1# $"},
        {"set protocols ospf area 0.0.0.0 interface ge-0/0/2.0", "admin@vmx1# $"},
        {"show | compare", "^\\[edit system\\]\\n-   host-name vmx1;\\n\\+   host-name vmx9;\\n\\[edit interfaces ge-0/0/2\\]\\n"
                           "-   disable;\\n\\[edit protocols ospf area 0\\.0\\.0\\.0\\]\\n\\+   interface ge-0/0/2\\.0;\\n"},
        {"show | display set | match ospf", "(?m)^set protocols ospf area 0\\.0\\.0\\.0 interface ge-0/0/2\\.0$"},
        {"edit interfaces ge-0/0/1", "^\\n\\[edit interfaces ge-0/0/1\\]\\nadmin@vmx1# $"},
        {"set mtu 9000", "^\\n\\[edit interfaces ge-0/0/1\\]\\nadmin@vmx1# $"},
        {"top", "^\\n\\[edit\\]\\nadmin@vmx1# $"},
        {"show | display set | match mtu", "^set interfaces ge-0/0/1 mtu 9000\\n"},
        {"bogus", "unknown command\\.\\n\\n\\[edit\\]"},
        {"exit", "^The configuration has been changed but not committed\\nExit with uncommitted changes\\? \\[yes,no\\] \\(yes\\) $"},
        {"no", "^\\n\\[edit\\]\\nadmin@vmx1# $"},
        {"commit", "^commit complete\\n\\n\\[edit\\]\\nadmin@vmx9# $"},
        {"run show version", "Hostname: vmx9(?s:.*)\\[edit\\]\\nadmin@vmx9# $"},
        {"exit", "^Exiting configuration mode\\n\\nadmin@vmx9> $"},
        {"show configuration | match ge-0/0/2", "ge-0/0/2", "disable"}}}), caseName);

class Starter : public ::testing::TestWithParam<const char *> {};

TEST_P(Starter, lintsClean)
{
    zentrel::platform::PosixTextFiles files;
    for (const Finding &finding : lintModel(Routers + GetParam(), files))
        ADD_FAILURE() << finding.toString();
}

INSTANTIATE_TEST_SUITE_P(Routers, Starter,
                         ::testing::Values("cisco_ios", "cisco_nxos", "arista_eos", "juniper_junos"));

} // namespace

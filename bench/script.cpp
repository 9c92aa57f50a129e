// script.cpp: builds the bench's response scripts and the byte streams they must produce.
#include "script.h"

#include <algorithm>
#include <array>

namespace zentrel::bench {

namespace {

const std::string lineEnd = "\r\n";

// Item texts must never start with a blank, hold a quote, a CR or an LF,
// end with a blank, or (outside quotes) hold a comma: the generators below
// keep to that so every item reads back exactly as written.
const std::array<const char *, 24> fragments = {
    "Router>", "Password:", "Demo-Router#", "interface Ethernet0/1",
    "ip address 10.0.0.1", "no shutdown", "Building configuration...",
    "[OK]", "% Invalid input", "show ip route", "Gateway of last resort",
    "Eth0 Activated", "Wan0 Activated", "Eth1 Sleeping", "line vty 0 4",
    "login local", "Memory : 128 Mb", "Flash Memory 4 Mb", "Username:",
    "hostname Demo-Router", "end", "exit", "Temp 41\xB0" "C", "Caf\xE9 Wan link up",
};

// A small xorshift generator: the same seed gives the same script everywhere.
class Random
{
public:
    explicit Random(std::uint32_t seed) : m_state(seed ? seed : 1) {}
    std::uint32_t next()
    {
        m_state ^= m_state << 13;
        m_state ^= m_state >> 17;
        m_state ^= m_state << 5;
        return m_state;
    }
    std::uint32_t below(std::uint32_t bound) { return next() % bound; }

private:
    std::uint32_t m_state;
};

std::string itemText(Random &random)
{
    std::string text = fragments[random.below(fragments.size())];
    if (random.below(2)) {
        text += ' ';
        text += std::to_string(random.below(1000));
    }
    return text;
}

} // namespace

std::size_t Script::itemAt(std::size_t offset) const
{
    const auto it = std::upper_bound(itemEnds.begin(), itemEnds.end(), offset);
    return std::size_t(it - itemEnds.begin());
}

void ScriptBuilder::addItem(const std::string &item)
{
    m_script.wire += item;
    m_script.itemEnds.push_back(m_script.wire.size());
}

void ScriptBuilder::plain(const std::string &item)
{
    m_script.file += item + lineEnd;
    addItem(item);
}

void ScriptBuilder::indented(int spaces, const std::string &item)
{
    m_script.file += std::string(std::size_t(spaces), ' ') + item + lineEnd;
    addItem(item);
}

void ScriptBuilder::pair(const std::string &first, const std::string &second, bool spaceAfterComma)
{
    m_script.file += first + (spaceAfterComma ? ", " : ",") + second + lineEnd;
    addItem(first);
    addItem(second);
}

void ScriptBuilder::quoted(const std::string &item)
{
    m_script.file += '"' + item + '"' + lineEnd;
    addItem(item);
}

Script pacingScript(int items)
{
    ScriptBuilder builder;
    for (int i = 0; i < items;) {
        const std::string tag = "p" + std::to_string(i + 1);
        switch (i % 4) {
        case 0: builder.plain(tag + " Router>"); ++i; break;
        case 1: builder.indented(3, tag + " Password:"); ++i; break;
        case 2:
            if (i + 1 < items) {
                builder.pair(tag + " Demo", "p" + std::to_string(i + 2) + " Router#", i % 8 == 2);
                i += 2;
            } else {
                builder.plain(tag + " end");
                ++i;
            }
            break;
        default: builder.quoted(tag + " Memory : 128 Mb, Flash 4 Mb"); ++i; break;
        }
    }
    return builder.take();
}

Script throughputScript(int items, std::uint32_t seed)
{
    Random random(seed);
    ScriptBuilder builder;
    for (int i = 0; i < items;) {
        const std::uint32_t kind = random.below(100);
        if (kind < 40) {
            builder.plain(itemText(random));
            ++i;
        } else if (kind < 60) {
            builder.indented(1 + int(random.below(8)), itemText(random));
            ++i;
        } else if (kind < 85 && i + 1 < items) {
            const std::string first = itemText(random);
            builder.pair(first, itemText(random), random.below(4) == 0);
            i += 2;
        } else {
            builder.quoted(itemText(random) + ", " + itemText(random));
            ++i;
        }
    }
    return builder.take();
}

Script oneItemScript()
{
    ScriptBuilder builder;
    builder.plain("Router>");
    return builder.take();
}

std::string routerConfig()
{
    static const std::array<const char *, 17> lines = {
        "Router Configurator: v 0.8b", "OS: 12.3.0 Rev .3C (09/12/2000)",
        "Last Update: February 2001", "Memory : 128 Mb", "Flash Memory 4 Mb",
        "Memory Used : 8 Mb", "Eth0 Activated", "Wan0 Activated", "Eth1 Sleeping",
        "Eth2 Sleeping", "Speed Span : 8200 Rpm", "Protocol Used : TCP-IP",
        "Lan Administration : Yes", "ACL configuration : Yes", "Radius Authentication : No",
        "Router Name : Demo-Router", "Demo-Router >",
    };
    std::string text;
    for (const char *line : lines)
        text += std::string(line) + lineEnd;
    return text;
}

} // namespace zentrel::bench

// router_config.cpp: the 17 default lines of the emulated router's configuration file.
#include "app/router_config.h"

#include "platform/error.h"

#include <utility>

namespace zentrel::app {
namespace {

void checkSlot(int slot)
{
    if (slot < 0 || slot >= DefaultConfigLines::SlotCount)
        throw platform::Error(SubscriptOutOfRange,
                              "configuration line " + std::to_string(slot) + " out of range");
}

} // namespace

void DefaultConfigLines::fill()
{
    set(0, "Router Configurator: v 0.8b");
    set(1, "OS: 12.3.0 Rev .3C (09/12/2000)");
    set(2, "Last Update: February 2001");
    set(3, "Memory : 128 Mb");
    set(4, "Flash Memory 4 Mb");
    set(5, "Memory Used : 8 Mb");
    set(6, "Eth0 Activated");
    set(7, "Wan0 Activated");
    set(8, "Eth1 Sleeping");
    set(9, "Eth2 Sleeping");
    set(10, "Speed Span : 8200 Rpm");
    set(11, "Protocol Used : TCP-IP");
    set(12, "Lan Administration : Yes");
    set(13, "ACL configuration : Yes");
    set(14, "Radius Authentication : No");
    set(15, "Router Name : Demo-Router");
    set(16, "Demo-Router >");
}

const std::string &DefaultConfigLines::at(int slot) const
{
    checkSlot(slot);
    return m_slots[static_cast<std::size_t>(slot)];
}

void DefaultConfigLines::set(int slot, std::string text)
{
    checkSlot(slot);
    m_slots[static_cast<std::size_t>(slot)] = std::move(text);
}

void createRouterConfig(platform::TextFiles &files, const DefaultConfigLines &lines)
{
    // Only under a free name: a link planted while the question waited, or
    // a file that appeared meanwhile, is refused and left as it is.
    auto file = files.createOutput(RouterConfigName, platform::TextFiles::Creation::New);
    try {
        for (int slot = 0; slot < DefaultConfigLines::LineCount; ++slot)
            file->writeLine(lines.at(slot));
        file->commit();
    } catch (...) {
        file->discard();   // the file this call created, and nothing else
        throw;
    }
}

} // namespace zentrel::app

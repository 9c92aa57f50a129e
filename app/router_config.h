// router_config.h: the default content of ROUTER.CFG and its writer.
#pragma once
#include "platform/text_files.h"

#include <array>
#include <string>

namespace zentrel::app {

inline constexpr const char *RouterConfigName = "ROUTER.CFG";   // in the current directory
inline constexpr int SubscriptOutOfRange = 9;   // the error of a slot outside the table

// The table of default configuration lines: 51 slots, of which fill() sets
// the first 17; the rest stay empty and are never written.
class DefaultConfigLines
{
public:
    static constexpr int SlotCount = 51;
    static constexpr int LineCount = 17;

    void fill();
    // Error 9 for a slot outside 0..50.
    const std::string &at(int slot) const;
    void set(int slot, std::string text);

private:
    std::array<std::string, SlotCount> m_slots;
};

// Creates ROUTER.CFG under a free name only (never through a link, never
// over a file: Error 58 then) and writes the 17 lines, each closed with
// CR LF. When a write, the flush or the close fails, the file it created is
// removed and the Error passed on; when the creation fails nothing is touched.
void createRouterConfig(platform::TextFiles &files, const DefaultConfigLines &lines);

} // namespace zentrel::app

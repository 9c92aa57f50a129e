// router_config.h: the default content of ROUTER.CFG and its writer.
#pragma once
#include "platform/text_files.h"

#include <array>
#include <string>

namespace zentrel::app {

inline constexpr const char *RouterConfigName = "ROUTER.CFG";   // in the current directory
inline constexpr int RouterConfigFile = 1;      // the file number of every reader and writer
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

// Creates ROUTER.CFG as file number 1, writes the 17 lines, each closed
// with CR LF, and closes it again (closing it once more does nothing). When a write
// fails the file is closed, the half-written file removed and the Error
// passed on; when the open fails nothing is touched.
void createRouterConfig(platform::TextFiles &files, const DefaultConfigLines &lines);

} // namespace zentrel::app

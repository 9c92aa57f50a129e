// text_diff.h: two configurations' texts compared line by line, as a unified diff.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace zentrel::console::commands {

// The unified diff from `from` to `to` (`---`/`+++` lines with the labels,
// hunks with three lines of context); empty when the texts are equal.
//
// Cost: the lines both share at the start and at the end are passed over
// at once; the lines between are compared with Myers's algorithm up to
// MaxEdits lines added or removed, in time linear in the lines times the
// edits. Past that the lines between are one hunk: all removed, all added.
inline constexpr std::size_t MaxEdits = 256;
std::string unifiedDiff(std::string_view from, std::string_view to, std::string_view fromLabel,
                        std::string_view toLabel);

} // namespace zentrel::console::commands

// line_diff.h: a short unified diff of two lists of lines, for a person reading a failed check.
#pragma once
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace zentrel::serve {

struct DiffInput {
    std::string fromLabel;            // "--- " line
    std::string toLabel;              // "+++ " line
    std::vector<std::string> from;    // as shown, already made visible
    std::vector<std::string> to;
    // Whether from[i] and to[j] count as the same line (a pattern may match
    // a line that reads differently).
    std::function<bool(std::size_t i, std::size_t j)> same;
    // What one call of same(i, j) scans, about: the bytes of the line behind
    // to[j]; to[j].size() when left empty.
    std::vector<std::size_t> toBytes;
};

// Hunks with three lines of context, cut after `maxLines` lines with a note
// saying how many were left out. The lines are aligned only while that takes
// a bounded amount of work (a table of at most 65,536 cells, 16 MiB of typed
// bytes compared); past that the differing middle is shown as removed then
// added, after a line saying so.
std::string unifiedDiff(const DiffInput &input, std::size_t maxLines = 40);

} // namespace zentrel::serve

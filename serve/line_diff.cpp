// line_diff.cpp: longest common subsequence on the differing middle, then hunks as diff -u prints them.
#include "serve/line_diff.h"

#include <algorithm>
#include <cstdint>

namespace zentrel::serve {

namespace {

constexpr std::size_t Context = 3;
constexpr std::size_t MaxTableCells = 1 << 16;
constexpr std::size_t MaxCompared = std::size_t(16) << 20;   // bytes scanned by same() over the table

struct Op {
    char kind;          // ' ', '-' or '+'
    std::size_t from;   // index in `from` (for ' ' and '-')
    std::size_t to;     // index in `to` (for ' ' and '+')
};

// Whether aligning from[head, head+rows) with to[head, head+cols) stays within the bounds.
bool affordable(const DiffInput &in, std::size_t head, std::size_t rows, std::size_t cols)
{
    if ((rows + 1) * (cols + 1) > MaxTableCells)
        return false;
    std::size_t bytes = 0;
    for (std::size_t j = head; j < head + cols; ++j)
        bytes += j < in.toBytes.size() ? in.toBytes[j] : in.to[j].size();
    return bytes <= MaxCompared / rows;
}

std::vector<Op> editScript(const DiffInput &in, bool &aligned)
{
    const std::size_t n = in.from.size();
    const std::size_t m = in.to.size();
    std::size_t head = 0;
    while (head < n && head < m && in.same(head, head))
        ++head;
    std::size_t tail = 0;
    while (tail < n - head && tail < m - head && in.same(n - 1 - tail, m - 1 - tail))
        ++tail;

    std::vector<Op> ops;
    for (std::size_t k = 0; k < head; ++k)
        ops.push_back({' ', k, k});

    const std::size_t rows = n - head - tail;
    const std::size_t cols = m - head - tail;
    aligned = rows == 0 || cols == 0 || affordable(in, head, rows, cols);
    if (rows > 0 && cols > 0 && aligned) {
        // common[i][j]: the longest common run of from[head+i..] and to[head+j..].
        std::vector<std::uint32_t> common((rows + 1) * (cols + 1), 0);
        auto at = [&](std::size_t i, std::size_t j) -> std::uint32_t & { return common[i * (cols + 1) + j]; };
        for (std::size_t i = rows; i-- > 0;)
            for (std::size_t j = cols; j-- > 0;)
                at(i, j) = in.same(head + i, head + j) ? at(i + 1, j + 1) + 1
                                                       : std::max(at(i + 1, j), at(i, j + 1));
        std::size_t i = 0, j = 0;
        while (i < rows || j < cols) {
            if (i < rows && j < cols && in.same(head + i, head + j)) {
                ops.push_back({' ', head + i++, head + j++});
            } else if (i < rows && (j == cols || at(i + 1, j) >= at(i, j + 1))) {
                ops.push_back({'-', head + i++, head + j});   // removed before added, as diff -u shows
            } else {
                ops.push_back({'+', head + i, head + j++});
            }
        }
    } else {
        for (std::size_t i = 0; i < rows; ++i)
            ops.push_back({'-', head + i, head});
        for (std::size_t j = 0; j < cols; ++j)
            ops.push_back({'+', head + rows, head + j});
    }
    for (std::size_t k = 0; k < tail; ++k)
        ops.push_back({' ', n - tail + k, m - tail + k});
    return ops;
}

// "start,count" of a hunk side; an empty side names the line before it.
std::string range(std::size_t first, std::size_t count)
{
    const std::size_t start = count == 0 ? first : first + 1;
    return count == 1 ? std::to_string(start) : std::to_string(start) + "," + std::to_string(count);
}

} // namespace

std::string unifiedDiff(const DiffInput &in, std::size_t maxLines)
{
    bool aligned = true;
    const std::vector<Op> ops = editScript(in, aligned);
    std::vector<std::string> lines;
    std::size_t k = 0;
    while (k < ops.size()) {
        while (k < ops.size() && ops[k].kind == ' ')
            ++k;
        if (k == ops.size())
            break;
        // A hunk runs from a change to the last change followed by more than
        // twice the context of unchanged lines.
        const std::size_t begin = k >= Context ? k - Context : 0;
        std::size_t end = k;
        while (end < ops.size()) {
            std::size_t next = end;
            while (next < ops.size() && ops[next].kind != ' ')
                ++next;
            std::size_t same = next;
            while (same < ops.size() && ops[same].kind == ' ')
                ++same;
            end = next;
            if (same == ops.size() || same - next > 2 * Context)
                break;
            end = same;
        }
        const std::size_t stop = std::min(ops.size(), end + Context);

        std::size_t fromCount = 0, toCount = 0;
        for (std::size_t h = begin; h < stop; ++h) {
            fromCount += ops[h].kind != '+';
            toCount += ops[h].kind != '-';
        }
        lines.push_back("@@ -" + range(ops[begin].from, fromCount) + " +" + range(ops[begin].to, toCount)
                        + " @@");
        for (std::size_t h = begin; h < stop; ++h) {
            const Op &op = ops[h];
            lines.push_back(op.kind + (op.kind == '+' ? in.to[op.to] : in.from[op.from]));
        }
        k = stop;
    }
    if (lines.empty())
        return {};

    std::string out = aligned ? "" : "(too many lines to align: from the first difference on, every line is "
                                     "shown as differing)\n";
    out += "--- " + in.fromLabel + "\n+++ " + in.toLabel + "\n";
    const std::size_t shown = std::min(lines.size(), maxLines);
    for (std::size_t i = 0; i < shown; ++i)
        out += lines[i] + "\n";
    if (shown < lines.size())
        out += "... " + std::to_string(lines.size() - shown) + " more lines of diff\n";
    return out;
}

} // namespace zentrel::serve

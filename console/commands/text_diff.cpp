// text_diff.cpp: a unified diff of two texts: shared ends passed over, Myers's algorithm between them, hunks with context.
#include "console/commands/text_diff.h"

#include <algorithm>
#include <vector>

namespace zentrel::console::commands {

namespace {

constexpr std::size_t Context = 3;
enum Op : char { Same = ' ', Removed = '-', Added = '+' };

std::vector<std::string_view> linesOf(std::string_view text)
{
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// The shortest edit from a to b, when it takes at most MaxEdits lines.
bool shortestEdit(const std::string_view *a, long n, const std::string_view *b, long m, std::vector<char> &ops)
{
    const long most = std::min<long>(n + m, long(MaxEdits));
    const long offset = most + 1;
    std::vector<long> reach(std::size_t(2 * most + 3), 0);
    std::vector<std::vector<long>> trace;
    for (long d = 0; d <= most; ++d) {
        trace.push_back(reach);
        for (long k = -d; k <= d; k += 2) {
            const bool down = k == -d || (k != d && reach[std::size_t(offset + k - 1)] < reach[std::size_t(offset + k + 1)]);
            long x = down ? reach[std::size_t(offset + k + 1)] : reach[std::size_t(offset + k - 1)] + 1;
            long y = x - k;
            while (x < n && y < m && a[x] == b[y])
                ++x, ++y;
            reach[std::size_t(offset + k)] = x;
            if (x < n || y < m)
                continue;
            // Walk back from the end through the steps taken.
            std::vector<char> reversed;
            for (long step = d; step >= 0; --step) {
                const std::vector<long> &before = trace[std::size_t(step)];
                const long kk = x - y;
                const bool wasDown = kk == -step
                    || (kk != step && before[std::size_t(offset + kk - 1)] < before[std::size_t(offset + kk + 1)]);
                const long prevK = wasDown ? kk + 1 : kk - 1;
                const long prevX = before[std::size_t(offset + prevK)];
                const long prevY = prevX - prevK;
                while (x > prevX && y > prevY) {
                    reversed.push_back(Same);
                    --x, --y;
                }
                if (step > 0)
                    reversed.push_back(x == prevX ? Added : Removed);
                x = prevX;
                y = prevY;
            }
            ops.insert(ops.end(), reversed.rbegin(), reversed.rend());
            return true;
        }
    }
    return false;
}

std::string range(std::size_t before, std::size_t count)
{
    if (count == 0)
        return std::to_string(before) + ",0";
    if (count == 1)
        return std::to_string(before + 1);
    return std::to_string(before + 1) + "," + std::to_string(count);
}

} // namespace

std::string unifiedDiff(std::string_view from, std::string_view to, std::string_view fromLabel,
                        std::string_view toLabel)
{
    const std::vector<std::string_view> a = linesOf(from);
    const std::vector<std::string_view> b = linesOf(to);
    std::size_t head = 0;
    while (head < a.size() && head < b.size() && a[head] == b[head])
        ++head;
    std::size_t tail = 0;
    while (tail < a.size() - head && tail < b.size() - head && a[a.size() - 1 - tail] == b[b.size() - 1 - tail])
        ++tail;
    if (head == a.size() && head == b.size())
        return {};

    std::vector<char> ops(head, Same);
    const long n = long(a.size() - head - tail);
    const long m = long(b.size() - head - tail);
    if (!shortestEdit(a.data() + head, n, b.data() + head, m, ops)) {
        ops.insert(ops.end(), std::size_t(n), Removed);
        ops.insert(ops.end(), std::size_t(m), Added);
    }
    ops.insert(ops.end(), tail, Same);

    // Lines of a and of b before each op.
    std::vector<std::size_t> inA(ops.size() + 1, 0), inB(ops.size() + 1, 0);
    for (std::size_t i = 0; i < ops.size(); ++i) {
        inA[i + 1] = inA[i] + (ops[i] != Added);
        inB[i + 1] = inB[i] + (ops[i] != Removed);
    }
    std::string out;
    out.append("--- ").append(fromLabel).append("\n+++ ").append(toLabel).append("\n");
    std::size_t i = 0;
    while (i < ops.size()) {
        if (ops[i] == Same) {
            ++i;
            continue;
        }
        const std::size_t start = i >= Context ? i - Context : 0;
        std::size_t j = i;
        std::size_t end = 0;
        for (;;) {
            while (j < ops.size() && ops[j] != Same)
                ++j;
            std::size_t same = j;
            while (same < ops.size() && ops[same] == Same)
                ++same;
            if (same < ops.size() && same - j <= 2 * Context) {
                j = same;
                continue;
            }
            end = std::min(ops.size(), j + Context);
            break;
        }
        out.append("@@ -").append(range(inA[start], inA[end] - inA[start]));
        out.append(" +").append(range(inB[start], inB[end] - inB[start])).append(" @@\n");
        for (std::size_t k = start; k < end; ++k) {
            out.push_back(ops[k]);
            out.append(ops[k] == Added ? b[inB[k]] : a[inA[k]]).push_back('\n');
        }
        i = end;
    }
    return out;
}

} // namespace zentrel::console::commands

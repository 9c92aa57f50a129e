// fuzz_statements.cpp: libFuzzer target for the Junos statement tree and the unified diff of configurations.
//
// The input is a configuration text and lines typed into it. Beyond "no crash":
// - the tree's byte count is the size of its larger rendering (braces or set
//   lines), and never passes StatementTree::MaxBytes;
// - a tree compared with itself shows nothing;
// - a unified diff applied to the text it was made from gives the other
//   text: for the braces before and after the lines, and for the bytes of
//   the input against the braces read from them.
#include "console/commands/statement_tree.h"
#include "console/commands/text_diff.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using namespace zentrel::console::commands;

constexpr std::size_t Large = 8192;

void check(bool holds)
{
    if (!holds)
        std::abort();
}

void checkTree(const StatementTree &tree)
{
    const std::size_t braces = tree.text().size();
    const std::size_t set = tree.setLines().size();
    check(tree.bytes() == std::max(braces, set));
    check(tree.bytes() <= StatementTree::MaxBytes);
}

std::vector<std::string> linesOf(const std::string &text)
{
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

// The first number of "-A,B" or "+A": the lines before the hunk.
std::size_t hunkStart(const std::string &range)
{
    const std::size_t comma = range.find(',');
    const std::size_t first = std::stoul(range.substr(1, comma - 1));
    const bool empty = comma != std::string::npos && range.substr(comma + 1) == "0";
    return empty ? first : first - 1;
}

void checkDiff(const std::string &from, const std::string &to)
{
    const std::string diff = unifiedDiff(from, to, "a", "b");
    const std::vector<std::string> a = linesOf(from);
    const std::vector<std::string> b = linesOf(to);
    if (diff.empty()) {
        check(a == b);
        return;
    }
    const std::vector<std::string> lines = linesOf(diff);
    check(lines.size() >= 3 && lines[0] == "--- a" && lines[1] == "+++ b");
    std::vector<std::string> patched;
    std::size_t at = 0;
    for (std::size_t i = 2; i < lines.size(); ++i) {
        const std::string &line = lines[i];
        check(!line.empty());
        if (line.starts_with("@@ ")) {
            const std::size_t start = hunkStart(line.substr(3, line.find(' ', 3) - 3));
            check(start >= at && start <= a.size());
            patched.insert(patched.end(), a.begin() + std::ptrdiff_t(at), a.begin() + std::ptrdiff_t(start));
            at = start;
        } else if (line[0] == ' ' || line[0] == '-') {
            check(at < a.size() && a[at] == line.substr(1));
            if (line[0] == ' ')
                patched.push_back(a[at]);
            ++at;
        } else {
            check(line[0] == '+');
            patched.push_back(line.substr(1));
        }
    }
    patched.insert(patched.end(), a.begin() + std::ptrdiff_t(at), a.end());
    check(patched == b);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *bytes, std::size_t size)
{
    FuzzedDataProvider data(bytes, size);
    const std::string text = data.ConsumeRandomLengthString(Large);
    StatementTree tree = StatementTree::parse(text, data.ConsumeIntegralInRange<std::size_t>(1, 8));
    checkTree(tree);
    const std::string before = tree.text();
    const UniqueKeys unique{{"host-name"}, {"description"}};
    for (int i = 0; i < 16 && data.remaining_bytes() > 0; ++i) {
        const std::string line = data.ConsumeRandomLengthString(512);
        const std::string edit = data.ConsumeBool() ? data.ConsumeRandomLengthString(64) : std::string();
        tree.apply(line, edit, unique);
        checkTree(tree);
    }
    check(StatementTree::compare(tree, tree).empty());
    StatementTree::compare(StatementTree::parse(before), tree);
    checkDiff(before, tree.text());
    checkDiff(text, before);
    return 0;
}

// fuzz_item_reader.cpp: libFuzzer target for the item reader that splits scripts into items.
//
// Beyond "no crash", the items must be those of a plain reading of the item
// rules over the whole text at once (whatever the stream's refill size), and
// three round trips must give back the items read:
// - every item in double quotes, its own quotes doubled, one a line with
//   CR LF (a quoted item runs to the next lone quote, so commas, CRs and LFs
//   inside it survive);
// - every item bare, one a line with CR LF, whenever no item holds a comma,
//   a CR, an LF or a double quote and none starts with a blank (those are
//   the only bytes the bare form cannot carry);
// - the items as the item writer writes them.
#include "console/item_reader.h"
#include "console/item_writer.h"
#include "tests/support/string_stream.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::vector<std::string> readAll(const std::string &bytes, std::size_t piece)
{
    zentrel::tests::StringStream in(bytes, piece);
    std::vector<std::string> items;
    std::string item;
    // Every item takes at least one byte, so this ends; the count bound
    // only turns a reader that stops taking bytes into a finding.
    while (!in.atEnd()) {
        zentrel::console::readItem(in, item);
        items.push_back(item);
        if (items.size() > bytes.size())
            std::abort();
    }
    return items;
}

// The item rules read over the whole text, with no stream and no state
// carried between items.
std::vector<std::string> plainReading(const std::string &text)
{
    std::vector<std::string> items;
    std::size_t pos = 0;
    const std::size_t size = text.size();
    while (pos < size) {
        while (pos < size && (text[pos] == ' ' || text[pos] == '\t'))
            ++pos;
        const bool quoted = pos < size && text[pos] == '"';
        std::size_t rest = pos;   // where the separator is looked for
        if (quoted) {
            std::string item;
            std::size_t close = pos + 1;
            for (;; close += 2) {
                const std::size_t quote = text.find('"', close);
                item += text.substr(close, quote == std::string::npos ? std::string::npos
                                                                      : quote - close);
                close = quote;
                if (quote == std::string::npos || quote + 1 >= size || text[quote + 1] != '"')
                    break;
                item += '"';
            }
            items.push_back(item);
            if (close == std::string::npos)
                break;
            rest = close + 1;
        }
        const std::size_t separator = text.find_first_of(",\r\n", rest);
        if (!quoted)
            items.push_back(text.substr(pos, separator == std::string::npos ? std::string::npos
                                                                              : separator - pos));
        if (separator == std::string::npos)
            break;
        pos = separator + 1;
        if (text[separator] == '\r' && pos < size && text[pos] == '\n')
            ++pos;
    }
    return items;
}

void expectSame(const std::vector<std::string> &want, const std::vector<std::string> &got,
                const char *form)
{
    if (want == got)
        return;
    std::fprintf(stderr, "%s: %zu items wanted, %zu read\n", form, want.size(), got.size());
    std::abort();
}

std::string doubledQuotes(const std::string &item)
{
    std::string out;
    for (const char c : item) {
        if (c == '"')
            out += '"';
        out += c;
    }
    return out;
}

bool bare(const std::string &item)
{
    return item.find_first_of(",\r\n\"") == std::string::npos
        && (item.empty() || (item.front() != ' ' && item.front() != '\t'));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    // The first byte picks the refill size: 1 to 64 bytes, or everything at once.
    const std::size_t piece = data[0] < 64 ? std::size_t(data[0]) + 1 : size;
    const std::string bytes(reinterpret_cast<const char *>(data) + 1, size - 1);

    const std::vector<std::string> items = readAll(bytes, piece);
    expectSame(plainReading(bytes), items, "plain reading of the rules");

    bool allBare = true;
    std::string quoted, plain;
    for (const std::string &item : items) {
        allBare = allBare && bare(item);
        quoted += '"' + doubledQuotes(item) + "\"\r\n";
        plain += item + "\r\n";
    }
    expectSame(items, readAll(quoted, piece), "quoted round trip");
    if (allBare)
        expectSame(items, readAll(plain, piece), "bare round trip");
    expectSame(items, readAll(zentrel::console::writeItems(items), piece), "written round trip");
    return 0;
}

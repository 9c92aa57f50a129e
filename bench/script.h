// script.h: response scripts built from a list of items, with the bytes a client must receive.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace zentrel::bench {

// A RESPONSE.TXT and what its playback puts on the wire. Built line by line
// from known items, so the expected stream never depends on a second reader.
struct Script
{
    std::string file;                    // RESPONSE.TXT, byte for byte
    std::string wire;                    // every item's bytes, back to back
    std::vector<std::size_t> itemEnds;   // wire offset just past each item

    std::size_t items() const { return itemEnds.size(); }
    // Index of the item that holds wire offset `offset`.
    std::size_t itemAt(std::size_t offset) const;
};

class ScriptBuilder
{
public:
    // One item on a line of its own.
    void plain(const std::string &item);
    // An item behind `spaces` blanks, which the reader skips.
    void indented(int spaces, const std::string &item);
    // Two items on one line; `spaceAfterComma` puts a blank before the second.
    void pair(const std::string &first, const std::string &second, bool spaceAfterComma);
    // One item between double quotes; it may hold commas and loses the quotes.
    void quoted(const std::string &item);

    Script take() { return std::move(m_script); }

private:
    void addItem(const std::string &item);
    Script m_script;
};

// 40-odd short, distinct prompts for the pacing phase.
Script pacingScript(int items);
// The large mixed script of the throughput phase, deterministic for a seed.
Script throughputScript(int items, std::uint32_t seed);
// One prompt, for connection turnaround.
Script oneItemScript();

// The 17 default lines of ROUTER.CFG, CR LF after each: 376 bytes. Any other
// content would make Zentrel ask the operator a question at start-up.
std::string routerConfig();
constexpr std::size_t routerConfigSize = 376;

} // namespace zentrel::bench

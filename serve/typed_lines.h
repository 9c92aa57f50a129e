// typed_lines.h: the lines a client typed, as a router's line editor would read them.
#pragma once
#include "console/line_splitter.h"
#include "console/telnet.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zentrel::serve {

// Fed with the client's chunks exactly as they arrive. A line ends at CR LF,
// CR NUL, a lone CR or a lone LF, also when the pair is split across chunks.
// Telnet commands (IAC sequences, subnegotiations included) are taken out;
// IAC IAC is a literal 0xFF. Backspace (08) and DEL (7F) erase the byte
// before them on the same line, nothing once the line is empty.
//
// Memory stays bounded whatever the client sends: only the first
// `maxLines` lines and `maxBytes` bytes are kept, and cut() says when more
// came. The line being typed when the budget runs out is kept as far as it
// got.
class TypedLines
{
public:
    static constexpr std::size_t DefaultMaxLines = 10'000;
    static constexpr std::size_t DefaultMaxBytes = 1 << 20;

    explicit TypedLines(std::size_t maxLines = DefaultMaxLines, std::size_t maxBytes = DefaultMaxBytes)
        : m_maxLines(maxLines), m_maxBytes(maxBytes)
    {
    }

    void feed(std::string_view chunk);
    // The client is gone: a last line typed without a line end counts when
    // it is not empty. Feeding after finish() starts a new line.
    void finish();

    const std::vector<std::string> &lines() const { return m_lines; }
    // What is on the line being typed, not yet ended.
    const std::string &pending() const { return m_line; }
    bool cut() const { return m_cut; }

private:
    void takeData(unsigned char byte);
    void endLine();

    std::size_t m_maxLines;
    std::size_t m_maxBytes;
    std::vector<std::string> m_lines;
    std::string m_line;
    std::size_t m_bytes = 0;   // kept so far, finished lines and m_line
    console::TelnetScanner m_telnet;
    console::EnterPairs m_enter;
    bool m_cut = false;
};

// The Telnet commands in a chunk, spelled out for a person: "IAC DO
// SUPPRESS-GO-AHEAD, IAC WILL TERMINAL-TYPE, IAC SB NAWS 0 80 0 24 IAC SE".
// Options and commands the registry names by their name, others by number.
// "" when the chunk holds none. A sequence cut off by the end of the chunk is
// spelled as far as it goes.
std::string spellTelnetCommands(std::string_view chunk);

} // namespace zentrel::serve

// typed_lines.h: what a report keeps of the lines a client typed, and its Telnet commands spelled out.
#pragma once
#include "console/line_editor.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zentrel::serve {

// What a report keeps of a session's typed lines, as the line editor read
// them. Memory stays bounded whatever the client sends: only the first
// `maxLines` lines and `maxBytes` bytes are kept, and cut() says when more
// came (or a line was longer than the editor keeps). The line the budget
// runs out in is kept as far as it got.
class TypedLines
{
public:
    static constexpr std::size_t DefaultMaxLines = 10'000;
    static constexpr std::size_t DefaultMaxBytes = 1 << 20;

    explicit TypedLines(std::size_t maxLines = DefaultMaxLines, std::size_t maxBytes = DefaultMaxBytes)
        : m_maxLines(maxLines), m_maxBytes(maxBytes)
    {
    }

    void add(const console::TypedLine &line);

    // As typed, passwords included: what EXPECT.TXT checks.
    const std::vector<std::string> &lines() const { return m_lines; }
    // As reports show them: a password that is not empty as "***".
    std::vector<std::string> shown() const;
    bool cut() const { return m_cut; }

private:
    std::size_t m_maxLines;
    std::size_t m_maxBytes;
    std::vector<std::string> m_lines;
    std::vector<std::size_t> m_secrets;   // which of them are passwords
    std::size_t m_bytes = 0;
    bool m_full = false;   // the byte budget ran out
    bool m_cut = false;
};

// Telnet commands back to back, as the line editor takes them out, spelled
// for a person: "IAC DO SUPPRESS-GO-AHEAD, IAC WILL TERMINAL-TYPE, IAC SB
// NAWS 0 80 0 24 IAC SE". Options and commands the registry names by their
// name, others by number. A sequence cut off by the end is spelled as far as
// it goes; bytes outside a command are passed over.
std::string spellTelnetCommands(std::string_view chunk);

} // namespace zentrel::serve

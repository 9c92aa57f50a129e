// line_splitter.h: the lines a client types, cut out of the chunks as they arrive.
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace zentrel::console {

// An Enter arrives as CR LF, CR NUL, a lone CR or a lone LF. Tells the byte
// that is the second half of a pair already taken as one line end, also when
// the pair is split across chunks.
class EnterPairs
{
public:
    bool secondHalf(char c)
    {
        const bool afterCr = m_afterCr;
        m_afterCr = c == '\r';
        return afterCr && (c == '\n' || c == '\0');
    }
    // Something came between the CR and what follows it.
    void breakPair() { m_afterCr = false; }

private:
    bool m_afterCr = false;
};

// CR, LF, CR LF and CR NUL each end one line, also when split across
// chunks; backspace and DEL take back the last character of the line, as
// the echo showed it. The line ends themselves are not part of a line.
class LineSplitter
{
public:
    // The lines that this chunk completes, in order.
    std::vector<std::string> feed(std::string_view chunk);
    // What was typed after the last line end.
    const std::string &partial() const { return m_line; }

private:
    std::string m_line;
    EnterPairs m_enter;
};

} // namespace zentrel::console

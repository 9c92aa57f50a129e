// line_splitter.h: the lines a client types, cut out of the chunks as they arrive.
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace zentrel::console {

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
    bool m_afterCr = false;
};

} // namespace zentrel::console

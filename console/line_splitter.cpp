// line_splitter.cpp: the lines a client types, cut out of the chunks as they arrive.
#include "console/line_splitter.h"

namespace zentrel::console {

std::vector<std::string> LineSplitter::feed(std::string_view chunk)
{
    std::vector<std::string> lines;
    for (const char c : chunk) {
        if (m_enter.secondHalf(c))
            continue;
        switch (c) {
        case '\r':
        case '\n':
            lines.push_back(std::move(m_line));
            m_line.clear();
            break;
        case '\b':
        case '\x7f':
            if (!m_line.empty())
                m_line.pop_back();
            break;
        default:
            m_line.push_back(c);
        }
    }
    return lines;
}

} // namespace zentrel::console

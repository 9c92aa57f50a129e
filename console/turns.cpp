// turns.cpp: turn-taking: the lines a client has typed and not yet had answered, and its prompt.
#include "console/turns.h"

namespace zentrel::console {

Turns::Line Turns::take()
{
    if (m_lines.empty())
        return Line::None;
    const bool command = m_lines.front();
    m_lines.pop_front();
    return command ? Line::Command : Line::Empty;
}

void Turns::sent(std::string_view item)
{
    // An empty item shows the client nothing, so its prompt stays.
    if (item.empty())
        return;
    const std::size_t lineEnd = item.find_last_of("\r\n");
    m_prompt = lineEnd == std::string_view::npos ? item : item.substr(lineEnd + 1);
}

} // namespace zentrel::console

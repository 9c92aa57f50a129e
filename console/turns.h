// turns.h: turn-taking: the lines a client has typed and not yet had answered, and its prompt.
#pragma once
#include <cstddef>
#include <deque>
#include <string>
#include <string_view>

namespace zentrel::console {

// Lines are answered in the order they were typed: a bare Enter typed while
// an answer is on its way is answered after it, as a router's console does.
class Turns
{
public:
    enum class Line { None, Empty, Command };

    // The client ended a line.
    void typed(bool empty) { m_lines.push_back(!empty); }
    // Takes the oldest line not yet answered.
    Line take();
    // Lines typed and not yet answered.
    std::size_t pending() const { return m_lines.size(); }
    // Remembers the prompt the client sees after this item.
    void sent(std::string_view item);
    // The text after the last line end of the last item that sent bytes.
    const std::string &prompt() const { return m_prompt; }

private:
    std::deque<bool> m_lines;   // true for a line that is not empty
    std::string m_prompt;
};

} // namespace zentrel::console

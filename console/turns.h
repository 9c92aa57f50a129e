// turns.h: turn-taking: the lines a client has typed and not yet had answered, and its prompt.
#pragma once
#include "console/line_splitter.h"
#include "console/pace.h"

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

    void typed(std::string_view chunk);
    // Takes the oldest line not yet answered.
    Line take();
    // Remembers the prompt the client sees after this item.
    void sent(std::string_view item);
    // The text after the last line end of the last item that sent bytes.
    const std::string &prompt() const { return m_prompt; }

private:
    LineSplitter m_splitter;
    std::deque<bool> m_lines;   // true for a line that is not empty
    std::string m_prompt;
};

} // namespace zentrel::console

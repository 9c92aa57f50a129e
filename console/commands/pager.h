// pager.h: a long answer cut into pages, shown a page or a line at a time as the client asks.
#pragma once
#include <cstddef>
#include <string>

namespace zentrel::console::commands {

// One session's answer in progress. The text keeps its line ends; a line
// is what runs up to an LF. Between pages the `more` text waits on the
// client's screen; whatever comes next first erases it with backspaces,
// blanks and backspaces again, as a router's pager does.
class Pager
{
public:
    enum class Key {
        Page,   // Space: the next page
        Line,   // Enter: the next line
        Quit,   // q, or any other key: the rest is dropped
    };

    // What goes out now: the whole text when `pageLines` is 0 or the text
    // holds no more lines than that; else its first `pageLines` lines and
    // `more`, and the rest waits for next().
    std::string begin(std::string text, std::size_t pageLines, std::string more);
    // Erases the more text, then sends what the key asks for, with the
    // more text again while lines remain. Nothing when not active().
    std::string next(Key key);
    bool active() const { return m_active; }

private:
    void take(std::size_t lines, std::string &out);
    std::string erase() const;
    void stop();

    std::string m_text;
    std::size_t m_pos = 0;
    std::size_t m_pageLines = 0;
    std::string m_more;
    bool m_active = false;
};

} // namespace zentrel::console::commands

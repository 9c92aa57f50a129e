// expect_line.h: how a line of EXPECT.TXT says "exactly this text" when the text itself starts with `~`.
#pragma once
#include <string>
#include <string_view>

namespace zentrel::serve {

// A line that starts with `~` is a pattern. A line of one or more
// backslashes then `~` is exact text with its first backslash taken off, so
// every typed line has a spelling: `~x` is written `\~x`, `\~x` is `\\~x`.

// Whether `line` (as written in the file) is an escaped exact line.
inline bool isEscapedLine(std::string_view line)
{
    const std::size_t slashes = line.find_first_not_of('\\');
    return slashes != 0 && slashes != std::string_view::npos && line[slashes] == '~';
}

// The file's spelling of a typed line that must come exactly as it is.
inline std::string exactLine(std::string_view typed)
{
    if (typed.starts_with('~') || isEscapedLine(typed))
        return "\\" + std::string(typed);
    return std::string(typed);
}

} // namespace zentrel::serve

// expect_line.h: how a line of EXPECT.TXT says "exactly this text" when the text itself reads as a pattern or a rule.
#pragma once
#include <array>
#include <string>
#include <string_view>

namespace zentrel::serve {

// A line that starts with `~` is a pattern, one that starts with a rule's
// word and ": " is a rule (expect_rules.h). A line of one or more
// backslashes then either is exact text with its first backslash taken off,
// so every typed line has a spelling: `~x` is written `\~x`, `never: x`
// `\never: x`, `\~x` `\\~x`.

inline constexpr std::array<std::string_view, 7> RuleWords = {
    "never: ", "once: ", "count: ", "before: ", "config-has: ", "config-lacks: ", "paging: "};

// The rule word `line` starts with ("never: "), or "".
inline std::string_view ruleWord(std::string_view line)
{
    for (std::string_view word : RuleWords)
        if (line.starts_with(word))
            return word;
    return {};
}

// Whether `line` (as written in the file) is an escaped exact line.
inline bool isEscapedLine(std::string_view line)
{
    const std::size_t slashes = line.find_first_not_of('\\');
    if (slashes == 0 || slashes == std::string_view::npos)
        return false;
    const std::string_view rest = line.substr(slashes);
    return rest.front() == '~' || !ruleWord(rest).empty();
}

// The file's spelling of a typed line that must come exactly as it is.
inline std::string exactLine(std::string_view typed)
{
    if (typed.starts_with('~') || !ruleWord(typed).empty() || isEscapedLine(typed))
        return "\\" + std::string(typed);
    return std::string(typed);
}

} // namespace zentrel::serve

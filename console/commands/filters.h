// filters.h: what follows `|` on a typed line: include, exclude, begin, section, count, display set, no-more.
#pragma once
#include "console/commands/command_index.h"
#include "console/commands/template.h"

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace re2 {
class RE2;
}

namespace zentrel::console::commands {

enum class FilterKind {
    Include,      // the lines a pattern matches
    Exclude,      // the lines it does not
    Begin,        // from the first line it matches on
    Section,      // the sections (a line and the lines indented under it) with a line it matches
    Count,        // the number of lines (that the pattern matches, when one is given), in the filter's text
    DisplaySet,   // configurations shown as `set` lines
    NoMore,       // no paging for this answer
};

// A filter the platform has (`filters:` in commands.yaml).
struct Filter {
    std::vector<std::string> words;   // as a client types them after `|`, each of them abbreviable
    FilterKind kind = FilterKind::Include;
    Template answer;                  // Count: the text, with {count}
};

// The kind a name in commands.yaml stands for ("include", "display-set", ...).
bool filterKindNamed(std::string_view name, FilterKind &kind);

inline constexpr std::size_t MaxFilters = 8;          // `|` steps on one line
inline constexpr std::size_t MaxFilterPattern = 256;  // bytes of a typed pattern

// The filters typed on one line, ready to apply to its answer.
class FilterChain
{
public:
    FilterChain();
    ~FilterChain();
    FilterChain(FilterChain &&) noexcept;
    FilterChain &operator=(FilterChain &&) noexcept;

    // Where the command ends and the filters begin: the first `|` word
    // followed by a word that starts one of `filters`, else the first `|`
    // word; npos when the line has none.
    static std::size_t split(std::string_view line, const std::vector<Filter> &filters);

    // Reads the filters from the `|` word at `at` on. A word that is no
    // filter, a pattern RE2 refuses or longer than MaxFilterPattern, more
    // than MaxFilters steps: Invalid, with `error.offset` at the word or
    // pattern. A filter without the pattern it needs: Incomplete. A word
    // that starts two filters: Ambiguous.
    bool parse(std::string_view line, std::size_t at, const std::vector<Filter> &filters, Match &error);

    bool empty() const { return m_steps.empty(); }
    bool setLines() const { return m_setLines; }
    bool noMore() const { return m_noMore; }

    // The answer through each filter in turn, in time linear in the text
    // for each; `values` fill a count's text.
    std::string apply(std::string text, const TemplateValues &values) const;

private:
    struct Step {
        const Filter *filter;
        std::unique_ptr<re2::RE2> pattern;   // none: the filter takes no pattern, or count without one
    };
    std::vector<Step> m_steps;
    bool m_setLines = false;
    bool m_noMore = false;
};

} // namespace zentrel::console::commands

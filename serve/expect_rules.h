// expect_rules.h: what a session must never type, type a set number of times or in an order, and what its router's config holds at its end.
#pragma once
#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace re2 {
class RE2;
}

namespace zentrel::serve {

// One typed line as EXPECT.TXT writes it: exact text, or after `~` a
// pattern in RE2's syntax for the whole line, matched byte for byte in time
// linear in the line.
struct LineMatcher {
    std::string literal;                       // what an exact line must equal
    std::shared_ptr<const re2::RE2> pattern;   // null for an exact line

    bool matches(const std::string &typed) const;
};

// Patterns written many times are compiled once.
class PatternCache
{
public:
    // The matcher of `text` as a line of the file writes it (`~`, `\~`, ...);
    // "" and `error` set when its pattern does not compile.
    LineMatcher matcher(std::string_view text, std::string &error);

private:
    std::map<std::string, std::shared_ptr<const re2::RE2>, std::less<>> m_compiled;
};

// What a rule may need besides the typed lines.
struct SessionFacts {
    const std::string *runningConfig = nullptr;   // null: the router keeps none
    bool paged = false;                            // an answer was cut into pages
};

// The rules of one EXPECT.TXT, each a line of its own:
//   never: LINE            the session fails when it is typed
//   once: LINE             typed exactly once
//   count: N LINE          typed exactly N times
//   before: A, B           A typed before B (split at the first ", ")
//   config-has: LINE       the running config at the end holds it; a line
//   config-lacks: LINE     of a section as `interface Gi0/1 > description x`
//   paging: never          no answer was paged
class ExpectRules
{
public:
    // `text` starts with a rule's word (expect_line.h). Throws ExpectError
    // "FILE:N: ..." for a rule that makes no sense.
    void add(std::string_view text, std::size_t number, const std::string &fileName, PatternCache &patterns);
    bool empty() const { return m_rules.empty(); }

    // The never: rule `typed` breaks, as "FILE:N: never: LINE"; "" for none.
    std::string brokenBy(const std::string &typed) const;
    // The rules the session broke, one line each, "FILE:N: RULE (why)".
    // `typed` holds the lines that are not empty.
    std::vector<std::string> failed(const std::vector<const std::string *> &typed, const SessionFacts &facts) const;

private:
    enum class Kind { Never, Count, Before, ConfigHas, ConfigLacks, PagingNever };
    struct Rule {
        Kind kind;
        std::string where;                 // "FILE:N: " and the rule as written
        LineMatcher first, second;         // before: A, B
        std::size_t count = 0;
        std::vector<std::string> path;     // config-has/lacks: a section's lines, then the line
    };

    std::string verdictOf(const Rule &rule, const std::vector<const std::string *> &typed,
                          const SessionFacts &facts) const;

    std::vector<Rule> m_rules;
};

} // namespace zentrel::serve

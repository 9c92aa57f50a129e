// expect_file.h: EXPECT.TXT, the lines a router's client should type, and the check of a session against it.
#pragma once
#include "serve/expect_rules.h"

#include <cstddef>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace zentrel::serve {

inline constexpr const char *ExpectFileName = "EXPECT.TXT";

// A file that cannot be read, or a pattern that does not compile. what()
// names the file, the line and the reason: "r1/EXPECT.TXT:3: ...".
class ExpectError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

struct Verdict {
    bool pass = true;
    // On a fail: the first position (from 1, among the compared lines) where
    // expected and typed part, with both texts; nullopt where one side has
    // no line left. expectLine is that expected line's line in the file.
    std::size_t position = 0;
    std::size_t expectLine = 0;
    std::optional<std::string> expected;
    std::optional<std::string> typed;
    // A unified diff of expected against typed lines, a few dozen lines at
    // most; "" on a pass.
    std::string diff;
    // The rules the session broke, "FILE:N: RULE (why)" each.
    std::vector<std::string> rulesFailed;
};

class ExpectFile
{
public:
    // The file's lines, split at LF with a CR before it dropped. A line
    // starting with `~` is a pattern in RE2's syntax for the whole typed line,
    // matched byte for byte (Latin-1) in time linear in the line. A line of
    // backslashes then `~` loses its first backslash and is exact: `\~x`
    // stands for `~x`, `\\~x` for `\~x`. A line that starts with a rule's
    // word is a rule (expect_rules.h), `\never: x` the exact line `never: x`.
    // Empty lines are ignored. Throws ExpectError for a pattern RE2 does not
    // take or a rule that makes no sense.
    static ExpectFile parse(std::string_view bytes, const std::string &fileName);
    // Throws ExpectError also when the file cannot be read.
    static ExpectFile load(const std::string &path);

    // Typed lines that are empty are left out; the rest must match the
    // file's lines one to one (a file of rules alone checks no order), and
    // every rule must hold.
    Verdict check(const std::vector<std::string> &typed, const SessionFacts &facts = {}) const
    {
        return check(typed, typed, facts);
    }
    // The same, with the typed lines the verdict shows (a password as ***)
    // beside those checked, one for one.
    Verdict check(const std::vector<std::string> &typed, const std::vector<std::string> &shown,
                  const SessionFacts &facts = {}) const;

    // As the session goes: why the typed line that is the `position`th (from
    // 0) not empty one breaks the file the moment it is typed (a never: rule,
    // or with `order` a line out of the order), as "FILE:N: ..."; "" when it
    // does not.
    std::string breaks(std::size_t position, const std::string &typed, bool order = true) const;
    bool breaksRule(const std::string &typed) const { return !m_rules.brokenBy(typed).empty(); }

    std::size_t size() const { return m_lines.size(); }

private:
    struct Line {
        std::size_t number = 0;     // in the file, from 1
        std::string text;           // as written, `~` included, for the diff
        LineMatcher matcher;
    };

    Verdict compare(const std::vector<const std::string *> &typed, const std::vector<const std::string *> &shown) const;

    std::string m_fileName;
    std::vector<Line> m_lines;
    ExpectRules m_rules;
};

// DIR/EXPECT.TXT when it exists, null when it does not; ExpectError when it
// cannot be read or holds a pattern that does not compile.
std::shared_ptr<const ExpectFile> loadRouterExpect(const std::string &dir);

} // namespace zentrel::serve

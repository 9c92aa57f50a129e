// expect_rules.cpp: reading the rules of EXPECT.TXT and the verdict of each on a session.
#include "serve/expect_rules.h"

#include "platform/posix/posix_ini_scan.h"
#include "serve/expect_file.h"
#include "serve/expect_line.h"
#include "serve/visible.h"

#include <re2/re2.h>

#include <algorithm>
#include <charconv>

namespace zentrel::serve {

namespace {

// Each pattern's compiled program and its DFA cache stay within this; a
// pattern that needs more does not compile.
constexpr int64_t PatternMemory = 1 << 20;
constexpr std::size_t MostCount = 1'000'000;

std::vector<std::string> split(std::string_view text, std::string_view separator)
{
    std::vector<std::string> parts;
    for (;;) {
        const std::size_t at = text.find(separator);
        parts.emplace_back(platform::ini::trimmed(text.substr(0, at)));
        if (at == std::string_view::npos)
            return parts;
        text.remove_prefix(at + separator.size());
    }
}

// Whether the config holds the line `path.back()` under the section lines
// before it, each level one indentation deeper.
bool configHolds(std::string_view config, const std::vector<std::string> &path)
{
    std::vector<std::pair<std::size_t, std::string_view>> open;   // indentation, line
    while (!config.empty()) {
        const std::size_t end = std::min(config.find('\n'), config.size());
        std::string_view line = config.substr(0, end);
        config.remove_prefix(std::min(end + 1, config.size()));
        const std::size_t indent = line.find_first_not_of(' ');
        line = platform::ini::trimmed(line);
        if (line.empty())
            continue;
        while (!open.empty() && open.back().first >= indent)
            open.pop_back();
        open.emplace_back(indent, line);
        if (open.size() == path.size()
            && std::equal(open.begin(), open.end(), path.begin(),
                          [](const auto &level, const std::string &want) { return level.second == want; }))
            return true;
    }
    return false;
}

std::string times(std::size_t n)
{
    return n == 1 ? "once" : std::to_string(n) + " times";
}

} // namespace

bool LineMatcher::matches(const std::string &typed) const
{
    return pattern ? re2::RE2::FullMatch(typed, *pattern) : typed == literal;
}

LineMatcher PatternCache::matcher(std::string_view text, std::string &error)
{
    LineMatcher matcher;
    if (!text.starts_with('~')) {
        matcher.literal = std::string(isEscapedLine(text) ? text.substr(1) : text);
        return matcher;
    }
    const std::string_view source = text.substr(1);
    auto found = m_compiled.find(source);
    if (found == m_compiled.end()) {
        re2::RE2::Options options;
        options.set_encoding(re2::RE2::Options::EncodingLatin1);   // one byte, one character
        options.set_log_errors(false);
        options.set_max_mem(PatternMemory);
        auto pattern =
            std::make_shared<const re2::RE2>(re2::StringPiece(source.data(), source.size()), options);
        if (!pattern->ok()) {
            error = pattern->error();
            return matcher;
        }
        found = m_compiled.emplace(std::string(source), std::move(pattern)).first;
    }
    matcher.pattern = found->second;
    return matcher;
}

void ExpectRules::add(std::string_view text, std::size_t number, const std::string &fileName,
                      PatternCache &patterns)
{
    const std::string where = fileName + ":" + std::to_string(number) + ": ";
    auto refuse = [&](const std::string &why) { throw ExpectError(where + why); };
    auto matcher = [&](std::string_view line) {
        if (line.empty())
            refuse(std::string(ruleWord(text)) + "needs a line");
        std::string error;
        LineMatcher made = patterns.matcher(line, error);
        if (!error.empty())
            refuse("the pattern " + visibleText(line.substr(1)) + " does not compile: " + error);
        return made;
    };

    const std::string_view word = ruleWord(text);
    const std::string_view rest = platform::ini::trimmed(text.substr(word.size()));
    Rule rule{Kind::Never, where + visibleText(text), {}, {}, 0, {}};
    if (word == "never: ") {
        rule.first = matcher(rest);
    } else if (word == "once: ") {
        rule.kind = Kind::Count;
        rule.count = 1;
        rule.first = matcher(rest);
    } else if (word == "count: ") {
        rule.kind = Kind::Count;
        const std::size_t blank = rest.find(' ');
        const std::string_view n = rest.substr(0, blank);
        const auto [end, error] = std::from_chars(n.data(), n.data() + n.size(), rule.count);
        if (n.empty() || error != std::errc() || end != n.data() + n.size() || rule.count > MostCount)
            refuse("count: needs a whole number from 0 to 1000000, then the line");
        rule.first = matcher(blank == std::string_view::npos ? std::string_view() : platform::ini::trimmed(rest.substr(blank)));
    } else if (word == "before: ") {
        rule.kind = Kind::Before;
        const std::size_t comma = rest.find(", ");
        if (comma == std::string_view::npos)
            refuse("before: needs two lines, \"before: A, B\"");
        rule.first = matcher(platform::ini::trimmed(rest.substr(0, comma)));
        rule.second = matcher(platform::ini::trimmed(rest.substr(comma + 2)));
    } else if (word == "config-has: " || word == "config-lacks: ") {
        rule.kind = word == "config-has: " ? Kind::ConfigHas : Kind::ConfigLacks;
        rule.path = split(rest, " > ");
        if (std::any_of(rule.path.begin(), rule.path.end(), [](const std::string &line) { return line.empty(); }))
            refuse(std::string(word) + "needs a line, or section lines joined by \" > \"");
    } else {
        rule.kind = Kind::PagingNever;
        if (rest != "never")
            refuse("paging: takes only \"never\"");
    }
    m_rules.push_back(std::move(rule));
}

std::string ExpectRules::brokenBy(const std::string &typed) const
{
    for (const Rule &rule : m_rules)
        if (rule.kind == Kind::Never && rule.first.matches(typed))
            return rule.where;
    return {};
}

std::vector<std::string> ExpectRules::failed(const std::vector<const std::string *> &typed,
                                             const SessionFacts &facts) const
{
    std::vector<std::string> failures;
    for (const Rule &rule : m_rules)
        if (std::string why = verdictOf(rule, typed, facts); !why.empty())
            failures.push_back(rule.where + " (" + why + ")");
    return failures;
}

// Why the session broke the rule; "" when it kept it.
std::string ExpectRules::verdictOf(const Rule &rule, const std::vector<const std::string *> &typed,
                                   const SessionFacts &facts) const
{
    auto firstOf = [&](const LineMatcher &matcher) {
        const auto found = std::find_if(typed.begin(), typed.end(),
                                        [&](const std::string *line) { return matcher.matches(*line); });
        return std::size_t(found - typed.begin());
    };
    switch (rule.kind) {
    case Kind::Never:
        if (const std::size_t at = firstOf(rule.first); at < typed.size())
            return "typed as line " + std::to_string(at + 1);
        return {};
    case Kind::Count: {
        const auto n = std::size_t(std::count_if(typed.begin(), typed.end(),
                                                 [&](const std::string *line) { return rule.first.matches(*line); }));
        return n == rule.count ? std::string() : (n == 0 ? "never typed" : "typed " + times(n));
    }
    case Kind::Before: {
        const std::size_t second = firstOf(rule.second);
        if (second == typed.size())
            return {};
        const std::size_t first = firstOf(rule.first);
        if (first < second)
            return {};
        return "the second typed as line " + std::to_string(second + 1)
               + (first == typed.size() ? ", the first never" : ", the first only as line " + std::to_string(first + 1));
    }
    case Kind::ConfigHas:
    case Kind::ConfigLacks:
        if (!facts.runningConfig)
            return "the router keeps no running config (it has no commands.yaml)";
        if (configHolds(*facts.runningConfig, rule.path) != (rule.kind == Kind::ConfigHas))
            return rule.kind == Kind::ConfigHas ? "not in the running config" : "in the running config";
        return {};
    case Kind::PagingNever:
        return facts.paged ? "an answer was paged" : std::string();
    }
    return {};
}

} // namespace zentrel::serve

// filters.cpp: the `|` filters typed after a command, read from the line and applied to its answer line by line.
#include "console/commands/filters.h"

#include "console/commands/pattern_options.h"

#include <re2/re2.h>

#include <algorithm>

namespace zentrel::console::commands {

namespace {

struct Typed {
    std::string_view word;
    std::size_t offset;
};

constexpr struct {
    std::string_view name;
    FilterKind kind;
} KindNames[] = {
    {"include", FilterKind::Include}, {"exclude", FilterKind::Exclude},        {"begin", FilterKind::Begin},
    {"section", FilterKind::Section}, {"count", FilterKind::Count},            {"display-set", FilterKind::DisplaySet},
    {"no-more", FilterKind::NoMore},
};

bool takesPattern(FilterKind kind)
{
    return kind == FilterKind::Include || kind == FilterKind::Exclude || kind == FilterKind::Begin
        || kind == FilterKind::Section;
}

// Calls `take(line)` for each line of the text, its LF with it.
template <class Take>
void eachLine(std::string_view text, Take &&take)
{
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t lf = text.find('\n', start);
        const std::size_t end = lf == std::string_view::npos ? text.size() : lf + 1;
        take(text.substr(start, end - start));
        start = end;
    }
}

bool matches(const re2::RE2 &pattern, std::string_view line)
{
    if (line.ends_with('\n'))
        line.remove_suffix(1);
    return re2::RE2::PartialMatch(line, pattern);
}

bool indented(std::string_view line) { return !line.empty() && (line.front() == ' ' || line.front() == '\t'); }

std::string sections(std::string_view text, const re2::RE2 &pattern)
{
    std::string out;
    std::string_view section;
    bool hit = false;
    auto close = [&] {
        if (hit)
            out.append(section);
    };
    eachLine(text, [&](std::string_view line) {
        if (section.empty() || !indented(line)) {
            close();
            section = line;
            hit = false;
        } else {
            section = std::string_view(section.data(), std::size_t(line.data() + line.size() - section.data()));
        }
        hit = hit || matches(pattern, line);
    });
    close();
    return out;
}

} // namespace

bool filterKindNamed(std::string_view name, FilterKind &kind)
{
    for (const auto &known : KindNames)
        if (known.name == name) {
            kind = known.kind;
            return true;
        }
    return false;
}

FilterChain::FilterChain() = default;
FilterChain::~FilterChain() = default;
FilterChain::FilterChain(FilterChain &&) noexcept = default;
FilterChain &FilterChain::operator=(FilterChain &&) noexcept = default;

std::size_t FilterChain::split(std::string_view line, const std::vector<Filter> &filters)
{
    LineWords words(line);
    std::string_view word;
    std::size_t offset = 0;
    std::size_t first = std::string_view::npos;
    std::size_t bar = std::string_view::npos;
    while (words.next(word, offset)) {
        const bool startsFilter = std::any_of(filters.begin(), filters.end(),
                                              [&](const Filter &f) { return f.words.front().starts_with(word); });
        if (bar != std::string_view::npos && startsFilter)
            return bar;
        bar = word == "|" ? offset : std::string_view::npos;
        if (word == "|" && first == std::string_view::npos)
            first = offset;
    }
    return first;
}

bool FilterChain::parse(std::string_view line, std::size_t at, const std::vector<Filter> &filters, Match &error)
{
    auto fail = [&](MatchError kind, std::size_t offset) {
        error.error = kind;
        error.offset = offset;
        return false;
    };
    LineWords words(line, at);
    std::string_view word;
    std::size_t bar = at;
    words.next(word, bar);   // the `|` itself
    for (;;) {
        if (m_steps.size() == MaxFilters)
            return fail(MatchError::Invalid, bar);
        std::vector<Typed> typed;
        std::size_t offset = 0;
        bool more = false;
        std::size_t nextBar = line.size();
        while (words.next(word, offset)) {
            if (word == "|") {
                more = true;
                nextBar = offset;
                break;
            }
            typed.push_back({word, offset});
        }
        if (typed.empty())
            return fail(MatchError::Incomplete, nextBar);

        // The filter whose words the typed words start; one typed in full beats abbreviations.
        const Filter *chosen = nullptr;
        std::size_t complete = 0;
        std::size_t exactOnes = 0;
        std::size_t furthest = 0;
        bool partial = false;
        for (const Filter &filter : filters) {
            std::size_t i = 0;
            bool exact = true;
            while (i < filter.words.size() && i < typed.size() && filter.words[i].starts_with(typed[i].word)) {
                exact = exact && filter.words[i] == typed[i].word;
                ++i;
            }
            furthest = std::max(furthest, i);
            if (i < filter.words.size()) {
                partial = partial || i == typed.size();
                continue;
            }
            ++complete;
            if (exact)
                ++exactOnes;
            if (!chosen || (exact && exactOnes == 1))
                chosen = &filter;
        }
        if (complete > 1 && exactOnes != 1)
            return fail(MatchError::Ambiguous, typed.front().offset);
        if (!chosen)
            return partial ? fail(MatchError::Incomplete, nextBar)
                           : fail(MatchError::Invalid, typed[std::min(furthest, typed.size() - 1)].offset);

        const std::size_t used = chosen->words.size();
        std::string_view argument;
        if (used < typed.size()) {
            const Typed &last = typed.back();
            argument = line.substr(typed[used].offset, last.offset + last.word.size() - typed[used].offset);
        }
        Step step{chosen, nullptr};
        if (takesPattern(chosen->kind) && argument.empty())
            return fail(MatchError::Incomplete, nextBar);
        if (!argument.empty() && (chosen->kind == FilterKind::DisplaySet || chosen->kind == FilterKind::NoMore))
            return fail(MatchError::Invalid, typed[used].offset);
        if (!argument.empty()) {
            if (argument.size() >= 2 && argument.front() == '"' && argument.back() == '"')
                argument = argument.substr(1, argument.size() - 2);
            RE2::Options options = patternOptions();
            options.set_max_mem(1 << 20);
            if (argument.size() > MaxFilterPattern)
                return fail(MatchError::Invalid, typed[used].offset);
            step.pattern = std::make_unique<re2::RE2>(argument, options);
            if (!step.pattern->ok())
                return fail(MatchError::Invalid, typed[used].offset);
        }
        m_setLines = m_setLines || chosen->kind == FilterKind::DisplaySet;
        m_noMore = m_noMore || chosen->kind == FilterKind::NoMore;
        m_steps.push_back(std::move(step));
        if (!more)
            return true;
        bar = nextBar;
    }
}

std::string FilterChain::apply(std::string text, const TemplateValues &values) const
{
    for (const Step &step : m_steps) {
        std::string out;
        switch (step.filter->kind) {
        case FilterKind::Include:
        case FilterKind::Exclude: {
            const bool keep = step.filter->kind == FilterKind::Include;
            eachLine(text, [&](std::string_view line) {
                if (matches(*step.pattern, line) == keep)
                    out.append(line);
            });
            break;
        }
        case FilterKind::Begin: {
            bool found = false;
            eachLine(text, [&](std::string_view line) {
                found = found || matches(*step.pattern, line);
                if (found)
                    out.append(line);
            });
            break;
        }
        case FilterKind::Section:
            out = sections(text, *step.pattern);
            break;
        case FilterKind::Count: {
            TemplateValues counted = values;
            eachLine(text, [&](std::string_view line) {
                if (!step.pattern || matches(*step.pattern, line))
                    ++counted.count;
            });
            out = step.filter->answer.render(counted);
            break;
        }
        case FilterKind::DisplaySet:
        case FilterKind::NoMore:
            continue;   // at work elsewhere: in the rendering, in the paging
        }
        text = std::move(out);
    }
    return text;
}

} // namespace zentrel::console::commands

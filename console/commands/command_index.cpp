// command_index.cpp: a trie of fixed words per mode, one RE2 set for its patterns, and the ranking of matches.
#include "console/commands/command_index.h"
#include "console/commands/blank.h"

#include "console/commands/model.h"
#include "console/commands/pattern_options.h"

#include <re2/re2.h>
#include <re2/set.h>

#include <algorithm>
#include <stdexcept>
#include <tuple>

namespace zentrel::console::commands {

namespace {

struct Candidate {
    const Command *command;
    unsigned depth;
    unsigned full;    // fixed words typed in full
    unsigned fixed;   // fixed words, typed in full or abbreviated
    auto rank() const { return std::make_tuple(full, fixed, -int(depth)); }
};

struct Active {
    std::uint32_t node;
    unsigned full;
    unsigned fixed;
};

} // namespace

bool LineWords::next(std::string_view &word, std::size_t &offset)
{
    while (m_pos < m_line.size() && blank(m_line[m_pos]))
        ++m_pos;
    if (m_pos >= m_line.size())
        return false;
    offset = m_pos;
    while (m_pos < m_line.size() && !blank(m_line[m_pos]))
        ++m_pos;
    word = m_line.substr(offset, m_pos - offset);
    return true;
}

std::string_view trimmedLine(std::string_view line)
{
    while (!line.empty() && blank(line.front()))
        line.remove_prefix(1);
    while (!line.empty() && blank(line.back()))
        line.remove_suffix(1);
    return line;
}

struct CommandIndex::Patterns {
    RE2::Set set;
    std::vector<Ending> entries;   // by index in the set
    Patterns() : set(patternOptions(), RE2::ANCHOR_BOTH) {}
};

CommandIndex::CommandIndex() : m_nodes(1) {}
CommandIndex::~CommandIndex() = default;
CommandIndex::CommandIndex(CommandIndex &&) noexcept = default;
CommandIndex &CommandIndex::operator=(CommandIndex &&) noexcept = default;

std::uint32_t CommandIndex::child(std::uint32_t node, const std::string &word)
{
    auto &fixed = m_nodes[node].fixed;
    auto at = std::lower_bound(fixed.begin(), fixed.end(), word,
                               [](const auto &entry, const std::string &w) { return entry.first < w; });
    if (at != fixed.end() && at->first == word)
        return at->second;
    const auto created = std::uint32_t(m_nodes.size());
    fixed.insert(at, {word, created});   // `fixed` may move with the next line: not used after it
    m_nodes.emplace_back();
    return created;
}

std::uint32_t CommandIndex::anyChild(std::uint32_t node)
{
    if (m_nodes[node].anyWord == 0) {
        const auto created = std::uint32_t(m_nodes.size());
        m_nodes.emplace_back();
        m_nodes[node].anyWord = created;
    }
    return m_nodes[node].anyWord;
}

void CommandIndex::add(const Command &command, unsigned depth)
{
    if (command.pattern) {
        if (!m_patterns)
            m_patterns = std::make_unique<Patterns>();
        std::string error;
        if (m_patterns->set.Add(command.pattern->pattern(), &error) < 0)
            throw std::runtime_error("the pattern does not compile: " + error);
        m_patterns->entries.push_back({&command, depth});
        return;
    }
    std::uint32_t node = 0;
    for (const Word &word : command.words) {
        switch (word.kind) {
        case Word::Kind::Fixed:
            node = child(node, word.text);
            break;
        case Word::Kind::One:
            node = anyChild(node);
            break;
        case Word::Kind::Rest:
            m_nodes[node].rests.push_back({&command, depth});
            return;
        }
    }
    m_nodes[node].ends.push_back({&command, depth});
}

void CommandIndex::finish()
{
    if (m_patterns && !m_patterns->set.Compile())
        throw std::runtime_error("the patterns of this mode need more memory than RE2 allows");
}

Match CommandIndex::match(std::string_view line) const
{
    std::vector<Candidate> complete;
    std::vector<Active> active{{0, 0, 0}};
    std::vector<Active> next;
    MatchError wordError = MatchError::None;
    std::size_t invalidAt = 0;

    LineWords words(line);
    std::string_view word;
    std::size_t offset = 0;
    bool ranOut = true;
    while (words.next(word, offset)) {
        next.clear();
        bool exact = false;
        for (const Active &a : active) {
            const Node &node = m_nodes[a.node];
            for (const Ending &rest : node.rests)
                complete.push_back({rest.command, rest.depth, a.full, a.fixed});
            auto at = std::lower_bound(node.fixed.begin(), node.fixed.end(), word,
                                       [](const auto &entry, std::string_view w) { return entry.first < w; });
            exact = exact || (at != node.fixed.end() && at->first == word);
        }

        std::string_view abbreviated;
        bool ambiguous = false;
        for (const Active &a : active) {
            const Node &node = m_nodes[a.node];
            auto at = std::lower_bound(node.fixed.begin(), node.fixed.end(), word,
                                       [](const auto &entry, std::string_view w) { return entry.first < w; });
            if (exact) {
                if (at != node.fixed.end() && at->first == word)
                    next.push_back({at->second, a.full + 1, a.fixed + 1});
            } else {
                // Words of one node differ, so a second prefix here is a second word.
                for (; at != node.fixed.end() && at->first.starts_with(word); ++at) {
                    if (abbreviated.empty())
                        abbreviated = at->first;
                    else if (at->first != abbreviated) {
                        ambiguous = true;
                        break;
                    }
                    next.push_back({at->second, a.full, a.fixed + 1});
                }
            }
            if (node.anyWord != 0)
                next.push_back({node.anyWord, a.full, a.fixed});
            if (ambiguous)
                break;
        }
        if (ambiguous) {
            wordError = MatchError::Ambiguous;
            invalidAt = offset;
            complete.clear();   // the abbreviation stops the line, as on a router
            ranOut = false;
            break;
        }
        if (next.empty()) {
            wordError = MatchError::Invalid;
            invalidAt = offset;
            ranOut = false;
            break;
        }
        active.swap(next);
    }
    if (ranOut) {
        for (const Active &a : active)
            for (const Ending &end : m_nodes[a.node].ends)
                complete.push_back({end.command, end.depth, a.full, a.fixed});
        // Words left that only start commands: the line is incomplete.
        wordError = MatchError::Incomplete;
    }

    const std::string_view whole = trimmedLine(line);
    // A pattern ranks below every word command with a fixed word: with such
    // a match in hand, the patterns need not run.
    const bool wordsDecide = std::any_of(complete.begin(), complete.end(), [](const Candidate &c) { return c.fixed > 0; });
    if (m_patterns && !wordsDecide) {
        std::vector<int> hits;
        RE2::Set::ErrorInfo info{};
        if (m_patterns->set.Match(whole, &hits, &info)) {
            for (int hit : hits)
                complete.push_back({m_patterns->entries[std::size_t(hit)].command,
                                    m_patterns->entries[std::size_t(hit)].depth, 0, 0});
        } else if (info.kind == RE2::Set::kOutOfMemory) {
            // The set's automaton outgrew its memory on this line: each
            // pattern alone, still linear in the line.
            for (const Ending &entry : m_patterns->entries)
                if (RE2::FullMatch(whole, *entry.command->pattern))
                    complete.push_back({entry.command, entry.depth, 0, 0});
        }
    }

    Match result;
    if (complete.empty()) {
        result.error = wordError;
        result.offset = invalidAt;
        return result;
    }
    auto best = std::max_element(complete.begin(), complete.end(),
                                 [](const Candidate &a, const Candidate &b) { return a.rank() < b.rank(); });
    const auto tie = std::count_if(complete.begin(), complete.end(),
                                   [&](const Candidate &c) { return c.rank() == best->rank(); });
    if (tie > 1) {
        result.error = MatchError::Ambiguous;
        result.offset = std::size_t(whole.data() - line.data());
        return result;
    }
    result.command = best->command;
    if (result.command->pattern)
        bindPattern(line, whole, result);
    else
        bindWords(line, result);
    return result;
}

CommandIndex::Choices CommandIndex::choices(std::string_view partial) const
{
    std::vector<std::string_view> typed;
    LineWords words(partial);
    std::string_view word;
    std::size_t offset = 0;
    while (words.next(word, offset))
        typed.push_back(word);
    const bool within = !typed.empty() && !blank(partial.back());
    const std::size_t before = typed.size() - (within ? 1 : 0);

    Choices out{.within = within};
    std::vector<std::uint32_t> active{0}, next;
    bool inRest = false;   // a `{name...}` has taken a word: any word may follow
    for (std::size_t i = 0; i < before; ++i) {
        next.clear();
        const auto from = [&](const Node &node) {
            return std::lower_bound(node.fixed.begin(), node.fixed.end(), typed[i],
                                    [](const auto &entry, std::string_view w) { return entry.first < w; });
        };
        bool exact = false;
        for (std::uint32_t at : active) {
            const auto found = from(m_nodes[at]);
            exact = exact || (found != m_nodes[at].fixed.end() && found->first == typed[i]);
        }
        std::string_view abbreviated;
        for (std::uint32_t at : active) {
            const Node &node = m_nodes[at];
            inRest = inRest || !node.rests.empty();
            for (auto entry = from(node); entry != node.fixed.end() && entry->first.starts_with(typed[i]); ++entry) {
                if (exact && entry->first != typed[i])
                    continue;
                if (!exact && !abbreviated.empty() && entry->first != abbreviated)
                    return {{}, MatchError::Ambiguous, within};
                abbreviated = entry->first;
                next.push_back(entry->second);
            }
            if (node.anyWord != 0)
                next.push_back(node.anyWord);
        }
        active.swap(next);
        if (active.empty() && !inRest)
            return {{}, MatchError::Invalid, within};
    }
    for (std::uint32_t at : active) {
        const Node &node = m_nodes[at];
        for (const auto &entry : node.fixed)
            if ((!within || entry.first.starts_with(typed.back())) && out.words.size() < MaxChoices)
                out.words.push_back(entry.first);
        if (within)
            continue;
        if (node.anyWord != 0)
            out.words.emplace_back("WORD");
        if (!node.rests.empty())
            out.words.emplace_back("LINE");
        if (!node.ends.empty())
            out.words.emplace_back("<cr>");
    }
    if (inRest && !within) {
        out.words.emplace_back("LINE");
        out.words.emplace_back("<cr>");
    }
    std::sort(out.words.begin(), out.words.end());
    out.words.erase(std::unique(out.words.begin(), out.words.end()), out.words.end());
    if (out.words.empty())
        out.error = MatchError::Invalid;
    return out;
}

void CommandIndex::bindWords(std::string_view line, Match &match) const
{
    const Command &command = *match.command;
    LineWords words(line);
    std::string_view word;
    std::size_t offset = 0;
    for (const Word &expected : command.words) {
        if (!words.next(word, offset))
            break;
        if (expected.kind == Word::Kind::One)
            match.values.push_back({word, offset});
        else if (expected.kind == Word::Kind::Rest)
            match.values.push_back({trimmedLine(line.substr(offset)), offset});
    }
}

void CommandIndex::bindPattern(std::string_view line, std::string_view whole, Match &match) const
{
    const Command &command = *match.command;
    const RE2 &pattern = *command.pattern;
    std::vector<re2::StringPiece> groups(std::size_t(pattern.NumberOfCapturingGroups()) + 1);
    if (!pattern.Match(whole, 0, whole.size(), RE2::ANCHOR_BOTH, groups.data(), int(groups.size())))
        return;   // the set and the pattern agree; nothing to bind if they did not
    for (int group : command.groups) {
        const re2::StringPiece &piece = groups[std::size_t(group)];
        const std::size_t offset = piece.data() ? std::size_t(piece.data() - line.data()) : 0;
        match.values.push_back({std::string_view(piece.data() ? piece.data() : "", piece.size()), offset});
    }
}

} // namespace zentrel::console::commands

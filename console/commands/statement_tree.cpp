// statement_tree.cpp: Junos statements: read from braces or set lines, changed by set and delete, shown both ways.
#include "console/commands/statement_tree.h"
#include "console/commands/blank.h"

namespace zentrel::console::commands {

namespace {

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && (blank(text.back()) || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

std::string joined(const std::vector<std::string_view> &words, std::size_t from, std::size_t to)
{
    std::string out;
    for (std::size_t i = from; i < to; ++i) {
        if (i > from)
            out.push_back(' ');
        out.append(words[i]);
    }
    return out;
}

std::string normalized(std::string_view text)
{
    const std::vector<std::string_view> words = statementWords(text);
    return joined(words, 0, words.size());
}

// The statement's words are words[at..]'s first ones: how many, else 0.
std::size_t wordsMatch(std::string_view statement, const std::vector<std::string_view> &words, std::size_t at)
{
    const std::vector<std::string_view> own = statementWords(statement);
    if (own.empty() || own.size() > words.size() - at)
        return 0;
    for (std::size_t i = 0; i < own.size(); ++i)
        if (own[i] != words[at + i])
            return 0;
    return own.size();
}

// words[at..] are the first words of the statement.
bool startsStatement(std::string_view statement, const std::vector<std::string_view> &words, std::size_t at)
{
    const std::vector<std::string_view> own = statementWords(statement);
    if (words.size() - at > own.size())
        return false;
    for (std::size_t i = at; i < words.size(); ++i)
        if (own[i - at] != words[i])
            return false;
    return true;
}

bool hasKey(std::string_view statement, std::string_view key)
{
    return statement.starts_with(key) && (statement.size() == key.size() || statement[key.size()] == ' ');
}

const std::vector<std::string> *groupOf(std::string_view statement, const UniqueKeys &unique)
{
    const std::vector<std::string> *best = nullptr;
    std::size_t length = 0;
    for (const std::vector<std::string> &group : unique)
        for (const std::string &key : group)
            if (key.size() > length && hasKey(statement, key)) {
                best = &group;
                length = key.size();
            }
    return best;
}

// The words a `set` opens new levels with, one statement a level.
std::vector<std::string> levelsOf(const std::vector<std::string_view> &words, std::size_t from, bool top)
{
    std::vector<std::string> chain;
    if (top && words.size() - from >= 2)
        chain.emplace_back(words[from++]);
    const std::size_t left = words.size() - from;
    if (left <= 2) {
        chain.push_back(joined(words, from, words.size()));
        return chain;
    }
    const std::size_t leaf = words.size() - 2;
    std::size_t at = from;
    if ((leaf - from) % 2 == 1)
        chain.emplace_back(words[at++]);
    for (; at < leaf; at += 2)
        chain.push_back(joined(words, at, at + 2));
    chain.push_back(joined(words, leaf, words.size()));
    return chain;
}

} // namespace

std::vector<std::string_view> statementWords(std::string_view text)
{
    std::vector<std::string_view> words;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && blank(text[i]))
            ++i;
        const std::size_t start = i;
        bool quoted = false;
        while (i < text.size() && (quoted || !blank(text[i]))) {
            if (text[i] == '"')
                quoted = !quoted;
            ++i;
        }
        if (i > start)
            words.push_back(text.substr(start, i - start));
    }
    return words;
}

StatementTree StatementTree::parse(std::string_view text, std::size_t indent)
{
    StatementTree tree;
    tree.m_indent = std::min(indent, ConfigTree::MaxIndent);
    std::vector<Place> open{{&tree.m_root, 0, 4, true}};
    std::size_t skipped = 0;   // braces opened below MaxDepth, passed over
    bool comment = false;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        const std::string_view line = trimmed(text.substr(start, end - start));
        start = end + 1;
        if (comment || line.starts_with("/*")) {
            comment = line.find("*/") == std::string_view::npos;
            continue;
        }
        if (line.empty() || line.starts_with('#'))
            continue;
        if (skipped > 0) {
            if (line.ends_with('{'))
                ++skipped;
            else if (line == "}")
                --skipped;
            continue;
        }
        if (line == "}") {
            if (open.size() > 1)
                open.pop_back();
            continue;
        }
        if (line.starts_with("set ") || line.starts_with("delete ")) {
            // A set line speaks from the top: it closes the braces still open
            // (whose places its change may move).
            open.resize(1);
            if (tree.apply(line, {}, {}) == Change::Full)
                break;
            continue;
        }
        const bool container = line.ends_with('{');
        std::string statement = normalized(line.substr(0, line.size() - 1));
        if (!container && !line.ends_with(';'))
            statement = normalized(line);
        if (statement.empty())
            continue;
        Place &place = open.back();
        if (container && place.depth + 1 >= MaxDepth) {
            ++skipped;
            continue;
        }
        std::vector<Node> &children = place.node->children;
        auto same = std::find_if(children.begin(), children.end(),
                                 [&](const Node &child) { return child.statement == statement; });
        if (same == children.end()) {
            if (tree.addChain(place, {statement}) == Change::Full)
                break;
            same = children.end() - 1;
        }
        if (container)
            open.push_back({&*same, place.depth + 1, place.prefix + same->statement.size() + 1, false});
    }
    return tree;
}

StatementTree::Change StatementTree::apply(std::string_view line, std::string_view edit, const UniqueKeys &unique)
{
    const std::vector<std::string_view> typed = statementWords(line);
    if (typed.size() < 2 || (typed[0] != "set" && typed[0] != "delete"))
        return Change::Refused;
    std::vector<std::string_view> words = statementWords(edit);
    words.insert(words.end(), typed.begin() + 1, typed.end());
    return typed[0] == "set" ? set(std::move(words), unique) : remove(words);
}

StatementTree::Change StatementTree::set(std::vector<std::string_view> words, const UniqueKeys &unique)
{
    Place place{&m_root, 0, 4, true};
    std::size_t at = 0;
    while (at < words.size()) {
        Node *next = nullptr;
        std::size_t taken = 0;
        for (Node &child : place.node->children)
            if (const std::size_t n = wordsMatch(child.statement, words, at); n > taken) {
                next = &child;
                taken = n;
            }
        if (!next)
            break;
        at += taken;
        if (at == words.size())
            return Change::None;
        place = {next, place.depth + 1, place.prefix + next->statement.size() + 1, false};
    }
    const std::string rest = joined(words, at, words.size());
    if (const std::vector<std::string> *group = groupOf(rest, unique)) {
        for (Node &child : place.node->children) {
            const bool namesake = std::any_of(group->begin(), group->end(),
                                              [&](const std::string &key) { return hasKey(child.statement, key); });
            if (!child.children.empty() || !namesake)
                continue;
            const auto more = std::ptrdiff_t(rest.size()) - std::ptrdiff_t(child.statement.size());
            if (more > 0 && !fits({std::size_t(more), std::size_t(more)}))
                return Change::Full;
            m_braceBytes = std::size_t(std::ptrdiff_t(m_braceBytes) + more);
            m_setBytes = std::size_t(std::ptrdiff_t(m_setBytes) + more);
            child.statement = rest;
            return Change::Replaced;
        }
    }
    return addChain(place, levelsOf(words, at, place.top));
}

StatementTree::Change StatementTree::remove(const std::vector<std::string_view> &words)
{
    Place place{&m_root, 0, 4, true};
    std::size_t at = 0;
    while (at < words.size()) {
        std::vector<Node> &children = place.node->children;
        std::size_t found = children.size();
        std::size_t taken = 0;
        for (std::size_t i = 0; i < children.size(); ++i)
            if (const std::size_t n = wordsMatch(children[i].statement, words, at); n > taken) {
                found = i;
                taken = n;
            }
        if (found == children.size()) {
            for (std::size_t i = 0; i < children.size(); ++i)
                if (startsStatement(children[i].statement, words, at)) {
                    removeChild(place, i);
                    return Change::Removed;
                }
            return Change::None;
        }
        at += taken;
        if (at == words.size()) {
            removeChild(place, found);
            return Change::Removed;
        }
        Node &next = children[found];
        place = {&next, place.depth + 1, place.prefix + next.statement.size() + 1, false};
    }
    return Change::None;
}

StatementTree::Cost StatementTree::costOf(const Node &node, std::size_t depth, std::size_t prefix) const
{
    const std::size_t margin = depth * m_indent;
    if (node.children.empty())
        return {margin + node.statement.size() + 2, prefix + node.statement.size() + 1};
    Cost cost{2 * margin + node.statement.size() + 5, 0};
    for (const Node &child : node.children) {
        const Cost under = costOf(child, depth + 1, prefix + node.statement.size() + 1);
        cost.brace += under.brace;
        cost.set += under.set;
    }
    return cost;
}

// A statement that gains its first statement opens braces, and its own set
// line gives way to those of the statements under it.
StatementTree::Cost StatementTree::leafBecomesContainer(Place place) const
{
    if (place.top || !place.node->children.empty())
        return {};
    return {(place.depth - 1) * m_indent + 3, 0};
}

StatementTree::Change StatementTree::addChain(Place place, const std::vector<std::string> &chain)
{
    if (place.depth + chain.size() > MaxDepth)
        return Change::Full;
    Node added{chain.back(), {}};
    for (std::size_t i = chain.size() - 1; i-- > 0;)
        added = Node{chain[i], {std::move(added)}};
    Cost cost = costOf(added, place.depth, place.prefix);
    const Cost opened = leafBecomesContainer(place);
    cost.brace += opened.brace;
    const std::size_t ownLine = opened.brace > 0 ? place.prefix : 0;   // the set line it loses
    if (!fits({cost.brace, cost.set > ownLine ? cost.set - ownLine : 0}))
        return Change::Full;
    m_braceBytes += cost.brace;
    m_setBytes = m_setBytes + cost.set - ownLine;
    place.node->children.push_back(std::move(added));
    return Change::Added;
}

void StatementTree::removeChild(Place place, std::size_t index)
{
    std::vector<Node> &children = place.node->children;
    const Cost cost = costOf(children[index], place.depth, place.prefix);
    m_braceBytes -= cost.brace;
    m_setBytes -= cost.set;
    children.erase(children.begin() + std::ptrdiff_t(index));
    if (!place.top && children.empty()) {
        m_braceBytes -= (place.depth - 1) * m_indent + 3;
        m_setBytes += place.prefix;
    }
}

void StatementTree::renderNode(const Node &node, std::size_t depth, std::string &out) const
{
    out.append(depth * m_indent, ' ').append(node.statement);
    if (node.children.empty()) {
        out.append(";\n");
        return;
    }
    out.append(" {\n");
    for (const Node &child : node.children)
        renderNode(child, depth + 1, out);
    out.append(depth * m_indent, ' ').append("}\n");
}

std::string StatementTree::text() const
{
    std::string out;
    out.reserve(m_braceBytes);
    for (const Node &node : m_root.children)
        renderNode(node, 0, out);
    return out;
}

void StatementTree::renderSet(const Node &node, std::string &path, std::string &out)
{
    if (node.children.empty()) {
        out.append("set ").append(path).append(node.statement).push_back('\n');
        return;
    }
    const std::size_t length = path.size();
    path.append(node.statement).push_back(' ');
    for (const Node &child : node.children)
        renderSet(child, path, out);
    path.resize(length);
}

std::string StatementTree::setLines() const
{
    std::string out;
    out.reserve(m_setBytes);
    std::string path;
    for (const Node &node : m_root.children)
        renderSet(node, path, out);
    return out;
}

std::string_view StatementTree::value(std::initializer_list<std::string_view> path, std::string_view key) const
{
    const Node *node = &m_root;
    for (std::string_view step : path) {
        auto next = std::find_if(node->children.begin(), node->children.end(),
                                 [&](const Node &child) { return child.statement == step; });
        if (next == node->children.end())
            return {};
        node = &*next;
    }
    for (const Node &child : node->children)
        if (child.statement.size() > key.size() && hasKey(child.statement, key))
            return std::string_view(child.statement).substr(key.size() + 1);
    return {};
}

} // namespace zentrel::console::commands

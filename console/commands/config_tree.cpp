// config_tree.cpp: the configuration's lines and sections, and a typed line applied to them.
#include "console/commands/config_tree.h"
#include "console/commands/blank.h"

#include <algorithm>

namespace zentrel::console::commands {

namespace {

bool hasKey(std::string_view line, std::string_view key)
{
    return line.starts_with(key) && (line.size() == key.size() || line[key.size()] == ' ');
}

// The group whose key the line starts with, and that key; the longest key
// wins, so that "ip address" is told from a shorter key "ip".
const std::vector<std::string> *groupOf(std::string_view line, const UniqueKeys &unique, std::string_view &key)
{
    const std::vector<std::string> *best = nullptr;
    for (const std::vector<std::string> &group : unique)
        for (const std::string &candidate : group)
            if (candidate.size() > key.size() && hasKey(line, candidate)) {
                best = &group;
                key = candidate;
            }
    return best;
}

const std::vector<std::string> *groupNamed(std::string_view key, const UniqueKeys &unique)
{
    for (const std::vector<std::string> &group : unique)
        if (std::find(group.begin(), group.end(), key) != group.end())
            return &group;
    return nullptr;
}

bool inGroup(std::string_view line, const std::vector<std::string> &group)
{
    return std::any_of(group.begin(), group.end(), [&](const std::string &key) { return hasKey(line, key); });
}

// The rules of a typed line over one list of lines, the top level's or a
// section's; the list keeps the byte count and refuses what would not fit.
template <class Lines>
ConfigTree::Change applyRules(Lines &lines, const std::string &line, const UniqueKeys &unique)
{
    using Change = ConfigTree::Change;
    std::string_view key;
    if (const std::vector<std::string> *group = groupOf(line, unique, key)) {
        // A negated key says only that the thing is off: its values go.
        const std::string kept = key.starts_with("no ") ? std::string(key) : line;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            if (!inGroup(lines.text(i), *group))
                continue;
            if (lines.text(i) == kept)
                return Change::None;
            return lines.replace(i, kept) ? Change::Replaced : Change::Full;
        }
        return lines.add(kept) ? Change::Added : Change::Full;
    }
    if (line.starts_with("no ")) {
        const std::string_view target = std::string_view(line).substr(3);
        for (std::size_t i = 0; i < lines.size(); ++i)
            if (lines.text(i) == target) {
                lines.remove(i);
                return Change::Removed;
            }
        if (const std::vector<std::string> *group = groupNamed(target, unique))
            for (std::size_t i = 0; i < lines.size(); ++i)
                if (inGroup(lines.text(i), *group)) {
                    lines.remove(i);
                    return Change::Removed;
                }
        return Change::None;
    }
    for (std::size_t i = 0; i < lines.size(); ++i)
        if (lines.text(i) == line)
            return Change::None;
    return lines.add(line) ? Change::Added : Change::Full;
}

} // namespace

UniqueKeys defaultUniqueKeys()
{
    return {{"hostname"}, {"description"}, {"ip address", "no ip address"}, {"shutdown", "no shutdown"}};
}

std::string normalizedLine(std::string_view line)
{
    std::string out;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && blank(line[i]))
            ++i;
        const std::size_t start = i;
        while (i < line.size() && !blank(line[i]))
            ++i;
        if (i > start) {
            if (!out.empty())
                out.push_back(' ');
            out.append(line.substr(start, i - start));
        }
    }
    return out;
}

ConfigTree ConfigTree::parse(std::string_view text, std::size_t indent)
{
    ConfigTree tree;
    tree.m_indent = std::min(indent, MaxIndent);
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find('\n', start);
        if (end == std::string_view::npos)
            end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        const bool child = !line.empty() && blank(line.front()) && !tree.m_entries.empty();
        if (child) {
            std::size_t cut = 0;
            while (cut < tree.m_indent && cut < line.size() && blank(line[cut]))
                ++cut;
            line.remove_prefix(cut);
        }
        const std::size_t cost = child ? tree.childCost(line.size()) : line.size() + 1;
        if (!tree.fits(cost))
            break;
        if (child)
            tree.m_entries.back().children.emplace_back(line);
        else
            tree.m_entries.push_back(Entry{std::string(line), {}});
        tree.m_bytes += cost;
    }
    return tree;
}

std::string ConfigTree::text() const
{
    std::string out;
    out.reserve(m_bytes);
    for (const Entry &entry : m_entries) {
        out.append(entry.line).push_back('\n');
        for (const std::string &child : entry.children)
            out.append(m_indent, ' ').append(child).push_back('\n');
    }
    return out;
}

std::optional<std::string> ConfigTree::section(std::string_view header) const
{
    const std::string line = normalizedLine(header);
    for (const Entry &entry : m_entries) {
        if (entry.line != line)
            continue;
        std::string out = entry.line + '\n';
        for (const std::string &child : entry.children)
            out.append(m_indent, ' ').append(child).push_back('\n');
        return out;
    }
    return std::nullopt;
}

std::string_view ConfigTree::topValue(std::string_view key) const
{
    for (const Entry &entry : m_entries)
        if (entry.line.size() > key.size() && hasKey(entry.line, key))
            return std::string_view(entry.line).substr(key.size() + 1);
    return {};
}

std::size_t ConfigTree::insertionPoint() const
{
    // New lines go before the closing `end`, as a router lists them.
    if (!m_entries.empty() && m_entries.back().line == "end")
        return m_entries.size() - 1;
    return m_entries.size();
}

void ConfigTree::removeEntry(std::size_t index)
{
    const Entry &entry = m_entries[index];
    m_bytes -= entry.line.size() + 1;
    for (const std::string &child : entry.children)
        m_bytes -= childCost(child.size());
    m_entries.erase(m_entries.begin() + std::ptrdiff_t(index));
    // A removed section leaves one `!` between its neighbours, not two.
    if (index > 0 && index < m_entries.size() && m_entries[index - 1].line == "!" && m_entries[index].line == "!") {
        m_bytes -= 2;
        m_entries.erase(m_entries.begin() + std::ptrdiff_t(index));
    }
}

ConfigTree::Change ConfigTree::enterSection(std::string_view section)
{
    Change change = Change::None;
    scopeFor(normalizedLine(section), true, change);
    return change;
}

std::vector<std::string> *ConfigTree::scopeFor(std::string_view section, bool create, Change &change)
{
    for (Entry &entry : m_entries)
        if (entry.line == section)
            return &entry.children;
    if (!create)
        return nullptr;
    const bool closed = insertionPoint() < m_entries.size();
    const std::size_t cost = section.size() + 1 + (closed ? 2 : 0);
    if (!fits(cost)) {
        change = Change::Full;
        return nullptr;
    }
    const auto at = m_entries.begin() + std::ptrdiff_t(insertionPoint());
    // In a configuration that ends with `end`, a new section is closed with `!`.
    auto inserted = closed ? m_entries.insert(at, {Entry{std::string(section), {}}, Entry{"!", {}}})
                           : m_entries.insert(at, Entry{std::string(section), {}});
    m_bytes += cost;
    change = Change::Added;
    return &inserted->children;
}

ConfigTree::Change ConfigTree::apply(std::string_view typed, std::string_view section, const UniqueKeys &unique)
{
    const std::string line = normalizedLine(typed);
    if (line.empty())
        return Change::None;
    if (section.empty())
        return applyTop(line, unique);
    Change created = Change::None;
    std::vector<std::string> *lines = scopeFor(normalizedLine(section), true, created);
    if (!lines)
        return created;
    const Change change = applyIn(*lines, line, unique);
    return change == Change::None ? created : change;
}

ConfigTree::Change ConfigTree::applyTop(const std::string &line, const UniqueKeys &unique)
{
    struct Top {
        ConfigTree &tree;
        std::size_t size() const { return tree.m_entries.size(); }
        std::string_view text(std::size_t i) const { return tree.m_entries[i].line; }
        bool replace(std::size_t i, const std::string &line)
        {
            std::string &old = tree.m_entries[i].line;
            if (line.size() > old.size() && !tree.fits(line.size() - old.size()))
                return false;
            tree.m_bytes = tree.m_bytes - old.size() + line.size();
            old = line;
            return true;
        }
        void remove(std::size_t i) { tree.removeEntry(i); }
        bool add(const std::string &line)
        {
            if (!tree.fits(line.size() + 1))
                return false;
            tree.m_entries.insert(tree.m_entries.begin() + std::ptrdiff_t(tree.insertionPoint()), Entry{line, {}});
            tree.m_bytes += line.size() + 1;
            return true;
        }
    } top{*this};
    return applyRules(top, line, unique);
}

ConfigTree::Change ConfigTree::applyIn(std::vector<std::string> &children, const std::string &line,
                                       const UniqueKeys &unique)
{
    struct Section {
        ConfigTree &tree;
        std::vector<std::string> &lines;
        std::size_t size() const { return lines.size(); }
        std::string_view text(std::size_t i) const { return lines[i]; }
        bool replace(std::size_t i, const std::string &line)
        {
            if (line.size() > lines[i].size() && !tree.fits(line.size() - lines[i].size()))
                return false;
            tree.m_bytes = tree.m_bytes - lines[i].size() + line.size();
            lines[i] = line;
            return true;
        }
        void remove(std::size_t i)
        {
            tree.m_bytes -= tree.childCost(lines[i].size());
            lines.erase(lines.begin() + std::ptrdiff_t(i));
        }
        bool add(const std::string &line)
        {
            if (!tree.fits(tree.childCost(line.size())))
                return false;
            lines.push_back(line);
            tree.m_bytes += tree.childCost(line.size());
            return true;
        }
    } section{*this, children};
    return applyRules(section, line, unique);
}

} // namespace zentrel::console::commands

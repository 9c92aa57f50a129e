// statement_tree.h: a configuration kept as Junos keeps it: statements nested in braces, changed by `set` and `delete` lines.
#pragma once
#include "console/commands/config_tree.h"

#include <algorithm>
#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

namespace zentrel::console::commands {

// A statement's words as Junos reads them: cut at blanks, except that a
// word in double quotes keeps its blanks ("link to R1" is one word, its
// quotes with it). A quote that is never closed runs to the end.
std::vector<std::string_view> statementWords(std::string_view text);

// Statements, each a few words, with the statements under it. Without a
// schema the tree takes its shape from what it is given: a file in braces
// gives it exactly; a `set` line that opens new levels is cut into them by
// a rule of thumb (see apply). Its `set` lines are always as typed.
//
// Bounded: neither the text in braces nor the `set` lines grow past
// MaxBytes, and no statement lies deeper than MaxDepth levels; a line that
// would take the tree further is refused (Full).
class StatementTree
{
public:
    static constexpr std::size_t MaxBytes = ConfigTree::MaxBytes;
    static constexpr std::size_t MaxDepth = 16;
    using Change = ConfigChange;

    // Braces (`name {`, `statement;`, `}`) and `set` lines, mixed as they
    // come; blank lines, `#` lines and `/* */` comments are passed over.
    // What lies past the bounds is left out.
    static StatementTree parse(std::string_view text, std::size_t indent = 4);

    // `set WORDS` adds the statement WORDS names under `edit` (words; empty:
    // the top). Existing statements are followed word for word; a statement
    // starting with a unique key replaces its namesake beside it; the words
    // left open new levels: at the top the first word alone, then a leaf of
    // the last two words, the words before it in pairs from the end
    // (`interfaces ge-0/0/3 unit 0 family inet address A` gives
    // interfaces { ge-0/0/3 { unit 0 { family inet { address A; } } } }).
    // `delete WORDS` removes the statement or the branch WORDS names, or
    // the statement they are the start of (`delete ... description`).
    // Any other line is Refused.
    Change apply(std::string_view line, std::string_view edit, const UniqueKeys &unique);

    std::string text() const;       // in braces, `indent` blanks a level
    std::string setLines() const;   // a `set` line per statement with none under it
    std::size_t bytes() const { return std::max(m_braceBytes, m_setBytes); }

    // The rest of the statement under `path` that starts with `key`, e.g.
    // ({"system"}, "host-name") → "vmx1"; empty when there is none.
    std::string_view value(std::initializer_list<std::string_view> path, std::string_view key) const;

    // What Junos's `show | compare` prints: under an `[edit PATH]` line
    // for each level that changed, the statements only in `from` with `-`,
    // those only in `to` with `+`. Empty when the trees are equal.
    static std::string compare(const StatementTree &from, const StatementTree &to);

private:
    struct Node {
        std::string statement;        // its words one blank apart
        std::vector<Node> children;
    };
    // Where a node stands, for what its lines cost.
    struct Place {
        Node *node;
        std::size_t depth;    // of its children (the top's children: 0)
        std::size_t prefix;   // bytes before its children's words in their set lines
        bool top;
    };
    struct Cost {
        std::size_t brace = 0;
        std::size_t set = 0;
    };

    Change set(std::vector<std::string_view> words, const UniqueKeys &unique);
    Change remove(const std::vector<std::string_view> &words);
    Change addChain(Place place, const std::vector<std::string> &chain);
    void removeChild(Place place, std::size_t index);
    Cost costOf(const Node &node, std::size_t depth, std::size_t prefix) const;
    Cost leafBecomesContainer(Place place) const;
    bool fits(const Cost &more) const
    {
        return m_braceBytes + more.brace <= MaxBytes && m_setBytes + more.set <= MaxBytes;
    }
    void renderNode(const Node &node, std::size_t depth, std::string &out) const;
    static void renderSet(const Node &node, std::string &path, std::string &out);
    static void compareLevel(const Node &from, const Node &to, std::string &path, std::string &header,
                             std::size_t indent, std::string &out);
    static void emit(const Node &node, char sign, const std::string &path, std::string &header, std::size_t indent,
                     std::string &out);

    Node m_root;
    std::size_t m_indent = 4;
    std::size_t m_braceBytes = 0;
    std::size_t m_setBytes = 0;
};

} // namespace zentrel::console::commands

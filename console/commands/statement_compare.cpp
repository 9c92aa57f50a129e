// statement_compare.cpp: what Junos's `show | compare` prints for two statement trees.
#include "console/commands/statement_tree.h"

#include <unordered_map>
#include <unordered_set>

namespace zentrel::console::commands {

void StatementTree::emit(const Node &node, char sign, const std::string &path, std::string &header,
                         std::size_t indent, std::string &out)
{
    if (header != path) {
        out.append("[edit").append(path.empty() ? "" : " ").append(path).append("]\n");
        header = path;
    }
    StatementTree shape;
    shape.m_indent = indent;
    std::string lines;
    shape.renderNode(node, 1, lines);
    std::size_t start = 0;
    while (start < lines.size()) {
        const std::size_t end = lines.find('\n', start);
        const std::string_view line = std::string_view(lines).substr(start, end - start);
        out.push_back(sign);
        out.append(line.starts_with(' ') ? line.substr(1) : line).push_back('\n');
        start = end + 1;
    }
}

void StatementTree::compareLevel(const Node &from, const Node &to, std::string &path, std::string &header,
                                 std::size_t indent, std::string &out)
{
    std::unordered_map<std::string_view, const Node *> inTo;
    for (const Node &child : to.children)
        inTo.emplace(child.statement, &child);
    std::unordered_set<std::string_view> inFrom;
    for (const Node &child : from.children) {
        inFrom.insert(child.statement);
        const auto same = inTo.find(child.statement);
        if (same == inTo.end()) {
            emit(child, '-', path, header, indent, out);
        } else if (!child.children.empty() || !same->second->children.empty()) {
            const std::size_t length = path.size();
            path.append(path.empty() ? "" : " ").append(child.statement);
            compareLevel(child, *same->second, path, header, indent, out);
            path.resize(length);
        }
    }
    for (const Node &child : to.children)
        if (!inFrom.contains(child.statement))
            emit(child, '+', path, header, indent, out);
}

std::string StatementTree::compare(const StatementTree &from, const StatementTree &to)
{
    std::string out;
    std::string path;
    std::string header(1, '\0');   // no [edit] line written yet
    compareLevel(from.m_root, to.m_root, path, header, to.m_indent, out);
    return out;
}

} // namespace zentrel::console::commands

// yaml_fields.cpp: typed values of commands.yaml's keys, and problems placed at their line and column.
#include "console/commands/yaml_fields.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>

namespace zentrel::console::commands {

void YamlFields::record(const YAML::Mark &mark, const std::string &text, bool error)
{
    Finding finding;
    finding.file = m_file;
    finding.line = mark.line >= 0 ? std::size_t(mark.line) + 1 : 0;
    finding.column = mark.column >= 0 && mark.line >= 0 ? std::size_t(mark.column) + 1 : 0;
    finding.text = text;
    finding.error = error;
    m_findings.push_back(std::move(finding));
}

void YamlFields::fail(const YAML::Mark &mark, const std::string &text)
{
    record(mark, text, true);
    throw BrokenPiece{};
}

void YamlFields::failIn(const std::string &file, std::string_view text, std::size_t offset, const std::string &what)
{
    offset = std::min(offset, text.size());
    const std::string_view before = text.substr(0, offset);
    const std::size_t lineStart = before.rfind('\n') == std::string_view::npos ? 0 : before.rfind('\n') + 1;
    Finding finding;
    finding.file = file;
    finding.line = std::size_t(std::count(before.begin(), before.end(), '\n')) + 1;
    finding.column = offset - lineStart + 1;
    finding.text = what;
    finding.error = true;
    m_findings.push_back(std::move(finding));
    throw BrokenPiece{};
}

void YamlFields::warn(const YAML::Mark &mark, const std::string &text)
{
    record(mark, text, false);
}

void YamlFields::checkKeys(const YAML::Node &map, std::initializer_list<std::string_view> known, std::string_view where)
{
    for (const auto &item : map) {
        const std::string key = item.first.IsScalar() ? item.first.Scalar() : std::string();
        if (std::find(known.begin(), known.end(), key) == known.end())
            warn(item.first.Mark(), "unknown key '" + key + "' in " + std::string(where) + ": it is ignored");
    }
}

std::string YamlFields::text(const YAML::Node &node, std::string_view what)
{
    if (node.IsNull())
        return {};
    if (!node.IsScalar())
        fail(node, std::string(what) + " must be a text, not a list or a map");
    return node.Scalar();
}

bool YamlFields::flag(const YAML::Node &node, std::string_view what)
{
    if (node.IsScalar()) {
        const std::string &value = node.Scalar();
        for (const char *yes : {"true", "True", "TRUE", "yes", "Yes", "on", "On"})
            if (value == yes)
                return true;
        for (const char *no : {"false", "False", "FALSE", "no", "No", "off", "Off"})
            if (value == no)
                return false;
    }
    fail(node, std::string(what) + " must be true or false");
}

double YamlFields::number(const YAML::Node &node, std::string_view what)
{
    const std::string value = text(node, what);
    char *end = nullptr;
    errno = 0;
    const double number = std::strtod(value.c_str(), &end);
    if (value.empty() || end != value.c_str() + value.size() || errno != 0 || !std::isfinite(number) || number < 0)
        fail(node, std::string(what) + " must be a number, 0 or more: '" + value + "'");
    return number;
}

Template YamlFields::compile(const YAML::Node &node, const TemplateScope &scope, std::string_view what)
{
    const std::string value = text(node, what);
    try {
        return Template::compile(value, scope);
    } catch (const TemplateError &error) {
        fail(markAt(node, error.offset()), std::string(error.what()) + " in " + std::string(what));
    }
}

YAML::Mark YamlFields::markAt(const YAML::Node &node, std::size_t offset) const
{
    YAML::Mark mark = node.Mark();
    if (mark.pos < 0 || std::size_t(mark.pos) >= m_source.size() || !node.IsScalar())
        return mark;
    const std::string &value = node.Scalar();
    std::size_t start = std::size_t(mark.pos);
    if (m_source[start] == '"' || m_source[start] == '\'')
        ++start;
    const bool asWritten = value.find('\n') == std::string::npos && m_source.compare(start, value.size(), value) == 0;
    if (asWritten)
        mark.column += int(start - std::size_t(mark.pos) + offset);
    return mark;
}

} // namespace zentrel::console::commands

// yaml_fields.h: reading the values of commands.yaml's keys, each problem placed at its line and column.
#pragma once
#include "console/commands/model.h"
#include "console/commands/template.h"

#include <yaml-cpp/yaml.h>

#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zentrel::console::commands {

// Thrown once a problem is recorded: the reader gives up on the piece it
// was reading. loadModel() stops at the first; lintModel() carries on with
// the next command or key.
struct BrokenPiece {};

// The source and the problems found in it, with the readers of typed
// values that record a problem where it stands and throw BrokenPiece.
class YamlFields
{
public:
    YamlFields(std::string file, std::string source) : m_file(std::move(file)), m_source(std::move(source)) {}

    const std::string &file() const { return m_file; }
    const std::string &source() const { return m_source; }
    std::vector<Finding> &findings() { return m_findings; }

    [[noreturn]] void fail(const YAML::Mark &mark, const std::string &text);
    [[noreturn]] void fail(const YAML::Node &node, const std::string &text) { fail(node.Mark(), text); }
    void warn(const YAML::Mark &mark, const std::string &text);
    // A problem in another file commands.yaml names (an answer file), at
    // the line and column of `offset` in its text.
    [[noreturn]] void failIn(const std::string &file, std::string_view text, std::size_t offset, const std::string &what);
    void record(const YAML::Mark &mark, const std::string &text, bool error);

    // Keys of a map that mean nothing here get a warning each.
    void checkKeys(const YAML::Node &map, std::initializer_list<std::string_view> known, std::string_view where);

    // A scalar's text (null gives ""); a map or list is a problem.
    std::string text(const YAML::Node &node, std::string_view what);
    bool flag(const YAML::Node &node, std::string_view what);
    // A number of seconds or a count: finite and not negative.
    double number(const YAML::Node &node, std::string_view what);
    // A scalar compiled as a template; an unknown variable is placed at its brace.
    Template compile(const YAML::Node &node, const TemplateScope &scope, std::string_view what);
    // The same for map[key], into `into` (a Template or an optional one) when the key is there.
    template <class Into>
    void compileKey(const YAML::Node &map, const char *key, const TemplateScope &scope, Into &into)
    {
        if (const YAML::Node node = map[key])
            into = compile(node, scope, key);
    }

    // Where the character `offset` of a scalar's text stands in the file,
    // when the scalar is written on one line without escapes; else where
    // the scalar starts.
    YAML::Mark markAt(const YAML::Node &node, std::size_t offset) const;

private:
    std::string m_file;
    std::string m_source;
    std::vector<Finding> m_findings;
};

// Runs one piece of the reading; in a lint a broken piece is passed over.
template <class Piece>
void readPiece(bool lint, Piece &&piece)
{
    try {
        piece();
    } catch (const BrokenPiece &) {
        if (!lint)
            throw;
    }
}

} // namespace zentrel::console::commands

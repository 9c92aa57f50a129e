// configuration.h: a router's configuration in the shape of its platform: IOS lines and sections, or Junos statements.
#pragma once
#include "console/commands/config_tree.h"

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace zentrel::console::commands {

// `config-style:` in commands.yaml.
enum class ConfigStyle {
    Ios,     // lines and indented sections; typed lines are applied as they are, `no LINE` removes
    Junos,   // statements in braces; typed `set` and `delete` lines change them
};

// How a router's configuration takes the lines typed into it.
struct ConfigRules {
    ConfigStyle style = ConfigStyle::Ios;
    UniqueKeys unique;
    std::size_t indent = 1;   // blanks a level: a section's lines, a Junos level
};

// The running config, the startup config's source and every candidate are
// one of these. A copy is independent of its original.
class Configuration
{
public:
    virtual ~Configuration() = default;

    // The text of a config file (ROUTER.CFG) in the router's style, bounded
    // as the style's tree is.
    static std::unique_ptr<Configuration> parse(std::string_view text, const ConfigRules &rules);
    virtual std::unique_ptr<Configuration> clone() const = 0;

    // A line typed in a configuration mode, at the top or under `section`
    // (empty: the top): an IOS line (see ConfigTree::apply) or a Junos
    // `set`/`delete` (see StatementTree::apply; `section` is the edit path).
    virtual ConfigChange apply(std::string_view line, std::string_view section) = 0;
    // Entering a section (IOS lists it at once; Junos waits for a statement).
    virtual ConfigChange enterSection(std::string_view section) = 0;
    // Makes `name` the router's name: IOS `hostname`, Junos `system host-name`.
    virtual void setHostname(std::string_view name) = 0;

    virtual std::string text() const = 0;   // as a file holds it: lines, or braces
    // Junos's `| display set`: the statements as `set` lines; IOS: text().
    virtual std::string setLines() const { return text(); }
    virtual std::string hostname() const = 0;   // empty when the configuration names none
    // One section, `show running-config interface X`'s: the line `header`
    // with the lines under it. None when there is no such line, and always
    // in a Junos-style configuration.
    virtual std::optional<std::string> section(std::string_view) const { return std::nullopt; }
    virtual std::size_t bytes() const = 0;

    // What changes `candidate` would bring: Junos's `show | compare` form,
    // or a unified diff labelled with the candidate's name. Empty when the
    // two are the same.
    virtual std::string compare(const Configuration &candidate, std::string_view name) const = 0;
    bool sameAs(const Configuration &other) const { return text() == other.text(); }
};

// The unique keys a style starts with when commands.yaml lists none.
UniqueKeys defaultUniqueKeys(ConfigStyle style);

} // namespace zentrel::console::commands

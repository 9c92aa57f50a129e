// config_tree.h: a router's configuration as lines and sections, changed one typed line at a time.
#pragma once
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zentrel::console::commands {

// Keys of lines a section holds once: a line starting with one of a group's
// keys replaces the line with any key of that group ("shutdown" and
// "no shutdown" form one group, "description" another). A key starting
// with "no " is kept as the key alone: "no ip address 10.0.0.1 255.0.0.0"
// is shown as "no ip address", as a router shows it.
using UniqueKeys = std::vector<std::vector<std::string>>;
UniqueKeys defaultUniqueKeys();

// What a configuration line did to a configuration.
enum class ConfigChange {
    None,       // the line was there already, or `no` found nothing to remove
    Added,
    Replaced,   // a line with the same unique key gave way
    Removed,
    Full,       // refused: the configuration would pass its bound
    Refused,    // not a configuration line of this platform (Junos: neither set nor delete)
};

// The configuration a router shows: top-level lines, each with the lines
// indented under it (its section). Lines are kept as written; a typed line
// is taken with its words one blank apart. The text never grows past
// MaxBytes: a line that would take it further is refused.
class ConfigTree
{
public:
    static constexpr std::size_t MaxBytes = 1 << 20;
    static constexpr std::size_t MaxIndent = 8;
    using Change = ConfigChange;

    // A line starting with a blank belongs to the section of the nearest
    // line above it that does not, and loses up to `indent` of its leading
    // blanks (deeper lines keep the rest); CR before LF is dropped. Text
    // past MaxBytes is cut at the last whole line before it.
    static ConfigTree parse(std::string_view text, std::size_t indent = 1);

    // The text with LF line ends; a section's lines indented by `indent` blanks.
    std::string text() const;
    std::size_t bytes() const { return m_bytes; }

    // Applies a line typed in a configuration mode: at the top level when
    // `section` is empty, else under that section's line (created when
    // new). `no LINE` removes the line, a top-level line with its section;
    // `no KEY` removes the line with that unique key.
    Change apply(std::string_view line, std::string_view section, const UniqueKeys &unique);
    // Creates the section's line when it is not there yet (as a router
    // lists an interface as soon as one enters it). Added or None (or Full).
    Change enterSection(std::string_view section);

    // The rest of the first top-level line that starts with `key` and a
    // blank; empty when there is none.
    std::string_view topValue(std::string_view key) const;
    // The top-level line `header` with the lines of its section, as text()
    // writes them; none when the configuration has no such line.
    std::optional<std::string> section(std::string_view header) const;

private:
    struct Entry {
        std::string line;
        std::vector<std::string> children;   // without the section's indentation
    };

    std::vector<std::string> *scopeFor(std::string_view section, bool create, Change &change);
    Change applyTop(const std::string &line, const UniqueKeys &unique);
    Change applyIn(std::vector<std::string> &lines, const std::string &line, const UniqueKeys &unique);
    std::size_t insertionPoint() const;
    void removeEntry(std::size_t index);
    bool fits(std::size_t more) const { return m_bytes + more <= MaxBytes; }
    std::size_t childCost(std::size_t size) const { return m_indent + size + 1; }

    std::vector<Entry> m_entries;
    std::size_t m_bytes = 0;
    std::size_t m_indent = 1;
};

// The words of a line one blank apart, blanks around them left out.
std::string normalizedLine(std::string_view line);

} // namespace zentrel::console::commands

// config_tree.h: a router's configuration as lines and sections, changed one typed line at a time.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zentrel::console::commands {

// Keys of lines a section holds once: a line starting with one of a group's
// keys replaces the line with any key of that group ("shutdown" and
// "no shutdown" form one group, "description" another).
using UniqueKeys = std::vector<std::vector<std::string>>;
UniqueKeys defaultUniqueKeys();

// The configuration a router shows: top-level lines, each with the lines
// indented under it (its section). Lines are kept as written; a typed line
// is taken with its words one blank apart. The text never grows past
// MaxBytes: a line that would take it further is refused.
class ConfigTree
{
public:
    static constexpr std::size_t MaxBytes = 1 << 20;

    enum class Change {
        None,       // the line was there already, or `no` found nothing to remove
        Added,
        Replaced,   // a line with the same unique key gave way
        Removed,
        Full,       // refused: the configuration would pass MaxBytes
    };

    // A line starting with a blank belongs to the section of the nearest
    // line above it that does not; CR before LF is dropped. Text past
    // MaxBytes is cut at the last whole line before it.
    static ConfigTree parse(std::string_view text);

    // The text with LF line ends; a section's lines indented by one blank.
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

private:
    struct Entry {
        std::string line;
        std::vector<std::string> children;   // without their first blank
    };

    std::vector<std::string> *scopeFor(std::string_view section, bool create, Change &change);
    Change applyTop(const std::string &line, const UniqueKeys &unique);
    Change applyIn(std::vector<std::string> &lines, const std::string &line, const UniqueKeys &unique);
    std::size_t insertionPoint() const;
    void removeEntry(std::size_t index);
    bool fits(std::size_t more) const { return m_bytes + more <= MaxBytes; }

    std::vector<Entry> m_entries;
    std::size_t m_bytes = 0;
};

// The words of a line one blank apart, blanks around them left out.
std::string normalizedLine(std::string_view line);

} // namespace zentrel::console::commands

// posix_ini_scan.h: one streaming pass over a settings file in search of one section and key.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zentrel::platform::ini {

constexpr std::uint64_t Nowhere = UINT64_MAX;

// What one pass over the file found for one section and key.
struct Found {
    bool section = false;
    bool key = false;
    std::string value;                     // at most the cap asked for
    std::uint64_t valueStart = Nowhere;    // the key line's bytes that hold the value
    std::uint64_t valueEnd = Nowhere;
    std::uint64_t sectionEnd = Nowhere;    // just past the section's last non-blank line
    bool sectionEndsWithLineEnd = true;
    std::string lineEnd = "\n";            // the file's own, from its first line
};

// Reads the open file from its start until the key is found or the first
// matching section has ended; a line of any length costs no more memory than
// valueCap. A line ends at LF, CR LF or a lone CR. Names match without regard to ASCII case, white space around
// names and values is left out, lines starting with ';' or '#' are comments.
// False when the file could not be read.
bool scan(int fd, std::string_view section, std::string_view key, std::size_t valueCap, Found &found);

// The text without the blanks (space, tab, CR, VT, FF) at either end.
std::string_view trimmed(std::string_view text);

} // namespace zentrel::platform::ini

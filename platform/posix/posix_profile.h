// posix_profile.h: the private-profile (INI) reader and writer of the settings file.
#pragma once
#include "platform/profile.h"

namespace zentrel::platform {

// The file layout: "[Section]" header lines and "key=value" lines, ended by
// LF, CR LF or a lone CR; lines starting with ';' or '#' are comments. Names match without regard to ASCII
// case; white space around section names, keys and values is ignored; the
// first matching section, and in it the first matching key, count. Values
// are taken as they are, quotes included. Files are streamed, so a huge or
// binary file costs time but no memory.
class PosixProfile : public Profile
{
public:
    std::string getString(std::string_view section, std::string_view key,
                          std::string_view defaultValue, std::size_t size,
                          const std::string &path) override;
    // Replaces the value of the key in place, adds the key after the last
    // non-blank line of its section, or appends the section; every other
    // byte of the file is kept and new lines take the file's own line end.
    // The file is replaced in one step (through its symbolic link, keeping
    // its owner and mode; in place when it has other hard links) and only
    // once the new content was written whole, so a failure such as a full
    // disk leaves it as it was. False, with nothing changed, for a path
    // that is not a writable regular file, and for a section, key or value
    // that would break the line structure (a line end, '=' in a key, ']' in
    // a section name).
    bool writeString(std::string_view section, std::string_view key, std::string_view value,
                     const std::string &path) override;
};

} // namespace zentrel::platform

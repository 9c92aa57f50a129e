// router_files.h: the files of a router's directory that commands.yaml names, read whole and bounded.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

namespace zentrel::platform {
class TextFiles;
}

namespace zentrel::console::commands {

// The whole file, of at most `limit` bytes. Throws platform::Error: 53 when
// it does not exist, 75 when it cannot be read or is bigger than `limit`.
std::string readBoundedFile(platform::TextFiles &files, const std::string &path, std::size_t limit);

// A path as commands.yaml may write it: relative, and with no `..` step,
// so that it names a file of the router's directory.
bool staysInDirectory(std::string_view path);

// A value a client typed may stand in a file's path: not empty, no `/`,
// no `..`, no NUL byte.
bool safePathValue(std::string_view value);

} // namespace zentrel::console::commands

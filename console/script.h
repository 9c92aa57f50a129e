// script.h: a response script read once into items, shared by every session that plays it.
#pragma once
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace zentrel::platform {
class InputStream;
class TextFiles;
}

namespace zentrel::console {

// The script's file name, looked up afresh for every connection.
inline constexpr const char *ResponseFile = "RESPONSE.TXT";

struct Script {
    std::vector<std::string> items;
};
using ScriptPtr = std::shared_ptr<const Script>;

// Splits the bytes of a script file into items with readItem().
ScriptPtr parseScript(std::string_view bytes);
// The same for a stream; a read failure throws platform::Error.
ScriptPtr readScriptItems(platform::InputStream &in);
// Reads the script file whole and closes it before returning. Throws
// platform::Error: 53 when it does not exist, 75 when it cannot be read.
ScriptPtr readScriptFile(platform::TextFiles &files, const std::string &path);

} // namespace zentrel::console

// script.h: a response script read once into items, shared by every session that plays it.
#pragma once
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace zentrel::console {

// The script's file name, looked up afresh for every connection.
inline constexpr const char *ResponseFile = "RESPONSE.TXT";

struct Script {
    std::vector<std::string> items;
};
using ScriptPtr = std::shared_ptr<const Script>;

// Splits the bytes of a script file into items with readItem().
ScriptPtr parseScript(std::string_view bytes);

} // namespace zentrel::console

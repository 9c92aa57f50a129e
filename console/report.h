// report.h: failures the engine contains, told on stderr so they are never silent.
#pragma once
#include <string_view>

namespace zentrel::console {

// One line on stderr: "zentrel: <text>".
void report(std::string_view text);

} // namespace zentrel::console

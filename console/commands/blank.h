// blank.h: what separates the words of a typed line or a configuration line.
#pragma once

namespace zentrel::console::commands {

inline bool blank(char c) { return c == ' ' || c == '\t'; }

} // namespace zentrel::console::commands

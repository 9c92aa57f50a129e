// telnet.h: the Telnet bytes the engine knows by sight.
#pragma once
#include <string_view>

namespace zentrel::console {

// The burst of option negotiation a common Telnet client sends right after
// connecting; the window ignores it when it arrives as one chunk of exactly
// these bytes.
inline constexpr std::string_view TelnetGreeting{
    "\xFF\xFD\x03\xFF\xFB\x18\xFF\xFB\x1F\xFF\xFB\x20\xFF\xFB\x21\xFF\xFB\x22\xFF\xFB\x27"
    "\xFF\xFD\x05",
    24};

} // namespace zentrel::console

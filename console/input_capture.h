// input_capture.h: records what the client sends in the received-commands panel.
#pragma once
#include "console/shared.h"
#include "platform/sockets.h"
#include "ui/window_model.h"

#include <string_view>

namespace zentrel::console {

// The burst of option negotiation a common Telnet client sends right after
// connecting; ignored when it arrives as one chunk of exactly these bytes.
inline constexpr std::string_view TelnetGreeting{
    "\xFF\xFD\x03\xFF\xFB\x18\xFF\xFB\x1F\xFF\xFB\x20\xFF\xFB\x21\xFF\xFB\x22\xFF\xFB\x27"
    "\xFF\xFD\x05",
    24};

// The data-arrival handler: takes everything waiting on the connection socket
// (element shared.connectionIndex, whichever element raised the event) and
// appends it to TXT_Input. A data arrival that finds no bytes does nothing.
void captureInput(ui::ZentrelFRM &form, platform::SocketArray &sockets, const Shared &shared);

} // namespace zentrel::console

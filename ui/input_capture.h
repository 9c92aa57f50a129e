// input_capture.h: records what the client sends in the received-commands panel.
#pragma once
#include "ui/window_model.h"

#include <string_view>

namespace zentrel::ui {

// One chunk as it arrived: the window expands when it is exactly compact,
// the Telnet greeting (as one whole chunk) is ignored, a lone byte is
// appended as it is, anything longer up to its first CR and then CR LF.
void captureInput(ZentrelFRM &form, std::string_view chunk);

} // namespace zentrel::ui

// input_capture.cpp: records what the client sends in the received-commands panel.
#include "console/input_capture.h"

namespace zentrel::console {

namespace {

// What one chunk adds to TXT_Input: nothing for the greeting, a lone byte as
// it is, anything longer up to its first CR and then CR LF.
void recordChunk(platform::TextBox &panel, std::string_view chunk)
{
    if (chunk == TelnetGreeting)
        return;
    if (chunk.size() == 1) {
        // A keystroke: typed commands arrive one byte at a time and stay on one line.
        panel.append(chunk);
    } else {
        // A whole line: what comes after its first CR is not recorded.
        panel.append(chunk.substr(0, chunk.find('\r')));
        panel.append("\r\n");
    }
    // The operator sees each keystroke as it arrives, even during a pause.
    panel.refresh();
}

} // namespace

void captureInput(ui::ZentrelFRM &form, platform::SocketArray &sockets, const Shared &shared)
{
    // Taking the bytes first changes nothing the operator sees, and lets a
    // spurious event without bytes leave the window and the panel alone.
    const std::string chunk = sockets.getData(shared.connectionIndex);
    if (chunk.empty())
        return;
    // Exact comparison on purpose: a window the operator sized otherwise keeps its height.
    if (form.height() == ui::CompactHeight)
        form.setHeight(ui::ExpandedHeight);
    recordChunk(form.TXT_Input, chunk);
}

} // namespace zentrel::console

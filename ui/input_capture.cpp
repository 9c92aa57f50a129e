// input_capture.cpp: records what the client sends in the received-commands panel.
#include "ui/input_capture.h"

#include "console/telnet.h"

namespace zentrel::ui {

namespace {

void recordChunk(ui::TextBox &panel, std::string_view chunk)
{
    if (chunk == console::TelnetGreeting)
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

void captureInput(ZentrelFRM &form, std::string_view chunk)
{
    if (chunk.empty())
        return;
    // Exact comparison on purpose: a window the operator sized otherwise keeps its height.
    if (form.height() == CompactHeight)
        form.setHeight(ExpandedHeight);
    recordChunk(form.TXT_Input, chunk);
}

} // namespace zentrel::ui

// playback.h: plays RESPONSE.TXT to the connected client, item by item at the set pace.
#pragma once
#include "console/shared.h"
#include "platform/platform.h"
#include "ui/window_model.h"

#include <string>

namespace zentrel::console {

// The script, looked up in the current directory afresh for every connection.
inline constexpr const char *ResponseFile = "RESPONSE.TXT";

class Playback
{
public:
    enum class Exit {
        ScriptExhausted,  // Zentrel closed the connection after the last item
        ClientGone,       // the client left; the item read then was dropped
        Stopped,          // the window is unloading; nothing else was touched
        Failed,           // a file or socket operation failed; ended as at the end of the script
    };

    Playback(ui::ZentrelFRM &form, platform::Platform &platform, Shared &shared);

    // Plays the script to the connection socket (element shared.connectionIndex)
    // and returns when the connection has ended. File number 1 is open, and
    // shared.fileOneBusy set, from the start to the return. Never throws.
    Exit run();

    // Closes file 1 (when the playback holds it) and the connection socket,
    // turns the connection lamp green, hides the traffic lamps and gives the
    // operator the buttons back: the window is idle. Never throws.
    void endOfScript();

private:
    Exit play();
    void clientGone();
    void closeFileOne();

    ui::ZentrelFRM &m_form;
    platform::Platform &m_platform;
    Shared &m_shared;
    std::string m_line;   // one item and its CR LF, reused so items cost no allocation
    bool m_fileOpen = false;
};

} // namespace zentrel::console

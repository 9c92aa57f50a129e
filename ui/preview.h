// preview.h: Show Responses plays the response script in the panel, sending nothing.
#pragma once
#include "console/listener.h"
#include "console/shared.h"
#include "platform/platform.h"
#include "ui/window_model.h"

namespace zentrel::ui {

class Preview
{
public:
    Preview(ZentrelFRM &form, platform::Platform &platform, console::Shared &shared,
            console::Listener &listener);

    // Binds the click of CMD_Answers.
    void wire();

    // The click of CMD_Answers. Shows the items of RESPONSE.TXT one by one in
    // TXT_OutPut at the client's pace and returns when the script is over, or
    // at once, closing the file, when the window unloads during a pause. A
    // script that cannot be opened or read ends the preview as an empty one.
    void onClick();

private:
    enum class Outcome { Ended, Stopped };

    // Holds file number 1 from its open to its close, whatever happens between.
    Outcome play();

    ZentrelFRM &m_form;
    platform::Platform &m_platform;
    console::Shared &m_shared;
    console::Listener &m_listener;
};

} // namespace zentrel::ui

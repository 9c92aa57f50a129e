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

private:
    ZentrelFRM &m_form;
    platform::Platform &m_platform;
    console::Shared &m_shared;
    console::Listener &m_listener;
};

} // namespace zentrel::ui

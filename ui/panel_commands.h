// panel_commands.h: the operator's clicks on the pictures, the title and the buttons.
#pragma once
#include "console/shared.h"
#include "platform/platform.h"
#include "ui/window_model.h"

namespace zentrel::ui {

class PanelCommands
{
public:
    PanelCommands(ZentrelFRM &form, platform::Platform &platform, console::Shared &shared);

    // Binds the click handlers of Picture1, FRM_Vert, LBL_ProgName, LBL_titre,
    // CMD_OriginalConfig, CMD_ReceivedCommands and CMD_Quitter.
    void wire();

private:
    ZentrelFRM &m_form;
    platform::Platform &m_platform;
    console::Shared &m_shared;
};

} // namespace zentrel::ui

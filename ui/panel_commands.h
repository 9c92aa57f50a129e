// panel_commands.h: the operator's clicks on the pictures, the title and the buttons.
#pragma once
#include "ui/shared.h"
#include "platform/platform.h"
#include "ui/window_model.h"

namespace zentrel::ui {

class PanelCommands
{
public:
    PanelCommands(ZentrelFRM &form, platform::Platform &platform, Shared &shared);

    // Binds the click handlers of Picture1, FRM_Vert, LBL_ProgName, LBL_titre,
    // CMD_OriginalConfig, CMD_ReceivedCommands and CMD_Quitter.
    void wire();

    // Picture1, FRM_Vert and LBL_ProgName: opens or closes the lower panel,
    // emptying the title and TXT_OutPut; does nothing while the alarm runs.
    void onToggleClick();
    // LBL_titre: closes the lower panel and shows the program name again.
    void onTitleClick();
    // CMD_OriginalConfig: shows ROUTER.CFG item by item in TXT_OutPut. A file
    // that cannot be opened or read leaves the text area empty under the title.
    void onOriginalConfig();
    // CMD_ReceivedCommands: brings TXT_Input, what the last client typed, into view.
    void onReceivedCommands();
    // CMD_Quitter: unloads the window.
    void onExit();

private:
    ZentrelFRM &m_form;
    platform::Platform &m_platform;
    Shared &m_shared;
};

} // namespace zentrel::ui

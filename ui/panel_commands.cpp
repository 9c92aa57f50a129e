// panel_commands.cpp: placeholder until the operator's commands land.
#include "ui/panel_commands.h"

namespace zentrel::ui {

PanelCommands::PanelCommands(ZentrelFRM &form, platform::Platform &platform,
                             console::Shared &shared)
    : m_form(form), m_platform(platform), m_shared(shared)
{
}

void PanelCommands::wire() {}

} // namespace zentrel::ui

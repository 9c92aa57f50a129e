// panel_commands.cpp: the lower panel's views and the operator's commands.
#include "ui/panel_commands.h"

#include "console/item_reader.h"
#include "ui/contained.h"

#include <cstdio>
#include <exception>
#include <string>

namespace zentrel::ui {

namespace {
const std::string RouterConfigFile = "ROUTER.CFG";
} // namespace

PanelCommands::PanelCommands(ZentrelFRM &form, platform::Platform &platform,
                             Shared &shared)
    : m_form(form), m_platform(platform), m_shared(shared)
{
}

void PanelCommands::wire()
{
    auto toggle = contained([this] { onToggleClick(); });
    m_form.Picture1.onClick = toggle;
    m_form.FRM_Vert.onClick = toggle;
    m_form.LBL_ProgName.onClick = toggle;
    m_form.LBL_titre.onClick = contained([this] { onTitleClick(); });
    m_form.CMD_OriginalConfig.onClick = contained([this] { onOriginalConfig(); });
    m_form.CMD_ReceivedCommands.onClick = contained([this] { onReceivedCommands(); });
    m_form.CMD_Quitter.onClick = contained([this] { onExit(); });
}

void PanelCommands::onToggleClick()
{
    // Once the window has unloaded, a click still queued must not bring it back.
    if (m_form.unloaded() || m_form.Timer1.enabled())
        return;
    m_form.LBL_titre.setCaption({});
    m_form.TXT_OutPut.setText({});
    m_form.LBL_titre.setVisible(true);
    // Exact comparison on purpose: any other height counts as expanded.
    if (m_form.height() == CompactHeight) {
        m_form.setHeight(ExpandedHeight);
        return;
    }
    m_form.LBL_ProgName.setVisible(true);
    m_form.setHeight(CompactHeight);
    m_form.LBL_titre.setVisible(false);
}

void PanelCommands::onTitleClick()
{
    if (m_form.unloaded())
        return;
    m_form.setHeight(CompactHeight);
    m_form.LBL_titre.setVisible(false);
    m_form.LBL_ProgName.setVisible(true);
}

void PanelCommands::onOriginalConfig()
{
    // A session or a preview is running; its buttons keep this one
    // disabled, and a click that slips through anyway must not disturb it.
    if (m_form.unloaded() || (m_shared.busy && m_shared.busy()))
        return;

    m_form.TXT_OutPut.setText({});
    m_form.LBL_ProgName.setVisible(false);
    m_form.LBL_titre.setVisible(true);
    m_form.LBL_titre.setCaption("Original Configuration");
    m_form.TXT_Input.setVisible(false);
    m_form.TXT_OutPut.setVisible(true);

    // Nothing yields while the file is read, so the text can be gathered
    // first and shown whole; a file that fails half-way shows nothing. The
    // stream is this view's own: a playback reading its script is no hindrance.
    std::string text;
    try {
        const auto file = m_platform.files.openInput(RouterConfigFile);
        std::string item;
        while (!file->atEnd()) {
            console::readItem(*file, item);
            text += item;
            text += "\r\n";
        }
    } catch (const std::exception &error) {
        text.clear();
        std::fprintf(stderr, "zentrel: the configuration cannot be shown: %s\n", error.what());
    }
    if (!text.empty())
        m_form.TXT_OutPut.setText(std::move(text));
}

void PanelCommands::onReceivedCommands()
{
    if (m_form.unloaded())
        return;
    m_form.LBL_ProgName.setVisible(false);
    m_form.LBL_titre.setCaption("Received Commands");
    m_form.LBL_titre.setVisible(true);
    m_form.TXT_Input.setVisible(true);   // covers TXT_OutPut
}

void PanelCommands::onExit()
{
    // Shutdown runs inside close(); a playback or preview that this click
    // interrupted sees stopRequested when control returns to it.
    m_form.close();
}

} // namespace zentrel::ui

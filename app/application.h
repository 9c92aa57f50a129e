// application.h: Zentrel's handlers, put together on one window and one platform.
#pragma once
#include "console/listener.h"
#include "console/shared.h"
#include "platform/platform.h"
#include "ui/alarm.h"
#include "ui/panel_commands.h"
#include "ui/presenter.h"
#include "ui/preview.h"
#include "ui/window_model.h"

namespace zentrel::app {

class Application
{
public:
    // Binds every handler to its event; nothing runs yet.
    Application(ui::ZentrelFRM &form, platform::Platform &platform);

    // The window's load event: the start-up sequence. When it returns, the
    // window is either unloaded (a refused second copy) or ready to be shown.
    void load();

    console::Shared &shared() { return m_shared; }
    console::Listener &listener() { return m_listener; }
    ui::Preview &preview() { return m_preview; }

private:
    ui::ZentrelFRM &m_form;
    platform::Platform &m_platform;
    console::Shared m_shared;
    ui::Presenter m_presenter;
    console::Listener m_listener;
    ui::PanelCommands m_commands;
    ui::Alarm m_alarm;
    ui::Preview m_preview;
};

} // namespace zentrel::app

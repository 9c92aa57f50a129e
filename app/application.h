// application.h: Zentrel's handlers, put together on one window and one platform.
#pragma once
#include "console/router.h"
#include "platform/platform.h"
#include "ui/alarm.h"
#include "ui/panel_commands.h"
#include "ui/presenter.h"
#include "ui/preview.h"
#include "ui/shared.h"
#include "ui/window_model.h"

namespace zentrel::app {

class Application
{
public:
    // Binds every handler to its event; nothing runs yet.
    Application(ui::ZentrelFRM &form, platform::Platform &platform);
    ~Application();

    // The window's load event: the start-up sequence. When it returns, the
    // window is either unloaded (a refused second copy) or ready to be shown.
    void load();

    ui::Shared &shared() { return m_shared; }
    console::Router &router() { return m_router; }
    ui::Preview &preview() { return m_preview; }

private:
    ui::ZentrelFRM &m_form;
    platform::Platform &m_platform;
    ui::Shared m_shared;
    ui::Presenter m_presenter;
    // One session at a time: later clients wait their turn in arrival order,
    // and one that leaves while it waits is dropped unserved.
    console::Router m_router;
    ui::PanelCommands m_commands;
    ui::Alarm m_alarm;
    ui::Preview m_preview;
};

} // namespace zentrel::app

// application.cpp: wiring of the handlers; start-up and shutdown do the work.
#include "app/application.h"

#include "app/shutdown.h"
#include "app/startup.h"
#include "console/script.h"

namespace zentrel::app {

namespace {

console::RouterSetup windowRouter(platform::Platform &platform, const ui::Shared &shared)
{
    console::RouterSetup setup;
    setup.maxSessions = 1;
    setup.delay = [&shared] { return shared.responseDelay; };
    // Afresh for every connection, read whole and closed before the first
    // pause: a change to the file takes effect at the next connection.
    setup.script = [&platform] { return console::readScriptFile(platform.files, console::ResponseFile); };
    return setup;
}

} // namespace

Application::Application(ui::ZentrelFRM &form, platform::Platform &platform)
    : m_form(form), m_platform(platform), m_presenter(form, m_shared),
      m_router(platform.loop, m_presenter, windowRouter(platform, m_shared)),
      m_commands(form, platform, m_shared), m_alarm(form), m_preview(form, platform, m_shared, m_router)
{
    m_platform.network.setAccepted([this](std::unique_ptr<console::Connection> connection, std::string peer) {
        m_router.connected(std::move(connection), std::move(peer));
    });
    m_commands.wire();
    m_alarm.wire();
    m_preview.wire();
    m_shared.busy = [this] { return m_presenter.serving() || m_preview.running(); };
    m_form.onUnload = [this] {
        // First, so that no session or preview sends or shows anything more;
        // the clients still waiting are let go.
        m_shared.stopRequested = 1;
        m_router.stop();
        m_preview.stop();
        shutdown(m_form, m_platform, m_shared);
    };
}

Application::~Application()
{
    m_platform.network.setAccepted({});
}

void Application::load()
{
    startup(m_form, m_platform, m_shared);
}

} // namespace zentrel::app

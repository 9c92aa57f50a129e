// application.cpp: wiring of the handlers; start-up and shutdown do the work.
#include "app/application.h"

#include "app/shutdown.h"
#include "app/startup.h"

namespace zentrel::app {

Application::Application(ui::ZentrelFRM &form, platform::Platform &platform)
    : m_form(form), m_platform(platform), m_presenter(form, m_shared), m_listener(platform, m_shared, m_presenter),
      m_commands(form, platform, m_shared), m_alarm(form),
      m_preview(form, platform, m_shared, m_listener)
{
    m_listener.wire();
    m_commands.wire();
    m_alarm.wire();
    m_preview.wire();
    m_shared.busy = [this] { return m_listener.busy() || m_preview.running(); };
    m_form.onUnload = [this] {
        // First, so that no session or preview sends or shows anything more.
        m_listener.stop();
        m_preview.stop();
        shutdown(m_form, m_platform, m_shared);
    };
}

void Application::load()
{
    startup(m_form, m_platform, m_shared);
}

} // namespace zentrel::app

// preview.cpp: the local showing of RESPONSE.TXT at the pace a client would get it.
#include "ui/preview.h"

#include "console/report.h"
#include "console/script.h"
#include "ui/contained.h"
#include "ui/presenter.h"

namespace zentrel::ui {

// Each item in TXT_OutPut as it comes; the end puts the window back.
class Preview::Sink : public console::SessionSink
{
public:
    explicit Sink(Preview &preview) : m_preview(preview) {}
    void itemSent(std::size_t, std::string_view item) override
    {
        showItem(m_preview.m_form, m_preview.m_line, item);
    }
    void ended(const console::SessionEnd &end) override { m_preview.sessionEnded(end); }

private:
    Preview &m_preview;
};

Preview::Preview(ZentrelFRM &form, platform::Platform &platform, Shared &shared, console::Router &router)
    : m_form(form), m_platform(platform), m_shared(shared), m_router(router)
{
}

Preview::~Preview() = default;

void Preview::wire()
{
    m_form.CMD_Answers.onClick = contained([this] { onClick(); });
}

void Preview::onClick()
{
    // While a session or another preview runs the button is disabled; a
    // click that slips through anyway must not disturb it.
    if (m_form.unloaded() || m_shared.stopRequested || running() || (m_shared.busy && m_shared.busy()))
        return;

    m_form.LBL_ProgName.setVisible(false);
    m_form.LBL_titre.setVisible(true);
    m_form.LBL_titre.setCaption("Responses");
    m_form.TXT_OutPut.setText({});
    m_form.TXT_Input.setVisible(false);
    m_form.TXT_OutPut.setVisible(true);

    console::ScriptPtr script;
    try {
        script = console::readScriptFile(m_platform.files, console::ResponseFile);
    } catch (const std::exception &failure) {
        // No script to show: over at once, as an empty one.
        console::report(std::string("Show Responses: ") + failure.what());
        ended();
        return;
    }
    m_form.CMD_Answers.setEnabled(false);
    m_form.CMD_OriginalConfig.setEnabled(false);
    // A client connecting from now on waits until we are done.
    m_router.setHeld(true);

    console::SessionSetup setup;
    setup.info.startedClock = m_platform.loop.now();
    setup.script = std::move(script);
    setup.delay = [this] { return m_shared.responseDelay; };
    setup.finished = [this] { m_session.reset(); };
    m_session = std::make_unique<console::Session>(m_platform.loop, static_cast<console::SessionObserver &>(*this), std::move(setup));
    m_session->start();
}

void Preview::stop()
{
    if (m_session)
        m_session->stop();
}

std::unique_ptr<console::SessionSink> Preview::sessionStarted(const console::SessionInfo &)
{
    return std::make_unique<Sink>(*this);
}

void Preview::sessionEnded(const console::SessionEnd &end)
{
    // The window is unloading: nothing else is touched.
    if (end.reason == console::EndReason::Stopped || m_shared.stopRequested)
        return;
    ended();
}

void Preview::ended()
{
    m_form.setTrafficLampsVisible(false);
    restoreFileButtons(m_form, m_shared);
    m_router.setHeld(false);
}

} // namespace zentrel::ui

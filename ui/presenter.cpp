// presenter.cpp: turns what the window's sessions do into lamps, panels and buttons.
#include "ui/presenter.h"

#include "console/report.h"
#include "ui/input_capture.h"

#include <limits>

namespace zentrel::ui {

void showItem(ZentrelFRM &form, std::string &line, std::string_view item)
{
    line.assign(item);
    line += "\r\n";
    form.TXT_OutPut.append(line);
    form.setTrafficLampsVisible(!form.frm_green.visible());
}

void restoreFileButtons(ZentrelFRM &form, const Shared &shared)
{
    // What start-up's probe found: a file it could not find keeps its button off.
    form.CMD_Answers.setEnabled(shared.responsesAvailable);
    form.CMD_OriginalConfig.setEnabled(shared.configAvailable);
}

class Presenter::Sink : public console::SessionSink
{
public:
    explicit Sink(Presenter &presenter) : m_presenter(presenter) {}
    void itemSent(std::size_t, std::string_view item) override
    {
        showItem(m_presenter.m_form, m_presenter.m_line, item);
    }
    void typed(const console::Typed &typed) override { captureInput(m_presenter.m_form, typed.bytes); }
    void clientGone() override
    {
        m_gone = true;
        m_presenter.clientGone();
    }
    // A script that cannot be read: the client gets no byte, as with an empty one.
    void warning(std::string_view text) override { console::report(text); }
    void ended(const console::SessionEnd &end) override
    {
        // A send that found the client gone ends the session before the
        // connection has told it: the window shows the departure all the same.
        if (end.reason == console::EndReason::ClientGone && !m_gone)
            m_presenter.clientGone();
        if (end.reason == console::EndReason::Failed)
            console::report("connection " + std::to_string(m_presenter.m_shared.connectionIndex) + ": "
                            + end.failure);
        m_presenter.sessionEnded(end);
    }

private:
    Presenter &m_presenter;
    bool m_gone = false;
};

std::unique_ptr<console::SessionSink> Presenter::sessionStarted(const console::SessionInfo &)
{
    // Elements are never reused within a run; only after two thousand
    // million connections does the count start again at element 1.
    const std::int32_t last = m_shared.connectionIndex;
    m_shared.connectionIndex = last == std::numeric_limits<std::int32_t>::max() ? 1 : last + 1;
    m_serving = true;
    m_form.TXT_OutPut.setVisible(false);
    m_form.TXT_Input.setVisible(true);
    m_form.CMD_Answers.setEnabled(false);
    m_form.CMD_OriginalConfig.setEnabled(false);
    m_form.CMD_ReceivedCommands.setEnabled(false);
    m_form.TXT_Input.setText({});
    m_form.FRM_Winsock.setBackColour(Yellow);
    return std::make_unique<Sink>(*this);
}

void Presenter::clientGone()
{
    m_form.FRM_Winsock.setBackColour(Green);
    m_form.CMD_Answers.setEnabled(false);
    m_form.CMD_OriginalConfig.setEnabled(false);
    m_form.CMD_ReceivedCommands.setEnabled(true);
}

void Presenter::sessionEnded(const console::SessionEnd &end)
{
    m_serving = false;
    switch (end.reason) {
    case console::EndReason::Stopped:
        return;   // the window is unloading: nothing more is touched
    case console::EndReason::ClientGone:
        // The lamps and Received Commands were set when the client left.
        m_form.TXT_OutPut.setVisible(true);
        m_form.TXT_Input.setVisible(false);
        restoreFileButtons(m_form, m_shared);
        return;
    case console::EndReason::ScriptExhausted:
    case console::EndReason::Failed:
    case console::EndReason::AuthFailed:   // the window has no login of its own
    case console::EndReason::Fault:        // nor faults
    case console::EndReason::Mismatch:     // nor checks of what is typed
    case console::EndReason::Closed:       // nor command-driven routers
        // TXT_Input stays in view with the captured commands.
        m_form.FRM_Winsock.setBackColour(Green);
        m_form.setTrafficLampsVisible(false);
        restoreFileButtons(m_form, m_shared);
        m_form.CMD_ReceivedCommands.setEnabled(!m_form.TXT_Input.text().empty());
        return;
    }
}

} // namespace zentrel::ui

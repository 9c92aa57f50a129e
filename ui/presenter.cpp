// presenter.cpp: turns what the served connection does into lamps, panels and buttons.
#include "ui/presenter.h"

#include "ui/input_capture.h"

namespace zentrel::ui {

void showItem(ZentrelFRM &form, std::string &line, std::string_view item)
{
    line.assign(item);
    line += "\r\n";
    form.TXT_OutPut.append(line);
    form.setTrafficLampsVisible(!form.frm_green.visible());
}

void restoreFileButtons(ZentrelFRM &form, const console::Shared &shared)
{
    // What start-up's probe found: a file it could not find keeps its button off.
    form.CMD_Answers.setEnabled(shared.responsesAvailable);
    form.CMD_OriginalConfig.setEnabled(shared.configAvailable);
}

class Presenter::Sink : public console::SessionSink
{
public:
    explicit Sink(Presenter &presenter) : m_presenter(presenter) {}
    void itemSent(std::size_t, std::string_view item) override { m_presenter.itemSent(item); }
    void clientGone() override { m_presenter.clientGone(); }
    void ended(const console::SessionEnd &end) override { m_presenter.sessionEnded(end); }

private:
    Presenter &m_presenter;
};

std::unique_ptr<console::SessionSink> Presenter::sessionStarted(const console::SessionInfo &)
{
    m_form.TXT_OutPut.setVisible(false);
    m_form.TXT_Input.setVisible(true);
    m_form.CMD_Answers.setEnabled(false);
    m_form.CMD_OriginalConfig.setEnabled(false);
    m_form.CMD_ReceivedCommands.setEnabled(false);
    m_form.TXT_Input.setText({});
    m_form.FRM_Winsock.setBackColour(Yellow);
    return std::make_unique<Sink>(*this);
}

void Presenter::itemSent(std::string_view item)
{
    showItem(m_form, m_line, item);
}

void Presenter::clientTyped(std::string_view chunk)
{
    captureInput(m_form, chunk);
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

// presenter.h: turns what the served connection does into lamps, panels and buttons.
#pragma once
#include "console/observer.h"
#include "console/shared.h"
#include "ui/window_model.h"

#include <string>

namespace zentrel::ui {

class Presenter : public console::SessionObserver
{
public:
    Presenter(ZentrelFRM &form, const console::Shared &shared) : m_form(form), m_shared(shared) {}

    // TXT_Input shown and emptied, TXT_OutPut hidden (it keeps its text),
    // the three command buttons disabled, the connection lamp yellow.
    void sessionStarted(const console::SessionInfo &info) override;
    // The item and CR LF appended to TXT_OutPut (collected even while
    // hidden), and the traffic lamps blink.
    void itemSent(const console::SessionInfo &info, std::size_t index, std::string_view item) override;
    void clientTyped(const console::SessionInfo &info, std::string_view chunk) override;
    // The close event: lamp green, Received Commands at once; the other two
    // buttons come back when the session notices, at its next item.
    void clientGone(const console::SessionInfo &info) override;
    // At the end of the script (or after a failure) the window is idle again;
    // a client seen gone brings TXT_OutPut back; a stop touches nothing.
    void sessionEnded(const console::SessionInfo &info, const console::SessionEnd &end) override;

private:
    ZentrelFRM &m_form;
    const console::Shared &m_shared;
    std::string m_line;   // one item and its CR LF, reused so items cost no allocation
};

// Shows an item in TXT_OutPut and blinks the traffic lamps: every played or
// previewed item does both.
void showItem(ZentrelFRM &form, std::string &line, std::string_view item);

// Show Responses and Original Config back as start-up's probe left them.
void restoreFileButtons(ZentrelFRM &form, const console::Shared &shared);

} // namespace zentrel::ui

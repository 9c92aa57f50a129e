// presenter.h: turns what the served connection does into lamps, panels and buttons.
#pragma once
#include "console/listener.h"
#include "console/shared.h"
#include "ui/window_model.h"

#include <string>

namespace zentrel::ui {

class Presenter : public console::WindowObserver
{
public:
    Presenter(ZentrelFRM &form, const console::Shared &shared) : m_form(form), m_shared(shared) {}

    // TXT_Input shown and emptied, TXT_OutPut hidden (it keeps its text),
    // the three command buttons disabled, the connection lamp yellow. The
    // session's sink:
    // - an item: the item and CR LF appended to TXT_OutPut (collected even
    //   while hidden), and the traffic lamps blink;
    // - the close event: lamp green, Received Commands at once; the other
    //   two buttons come back when the session notices, at its next item;
    // - the end: after the script (or a failure) the window is idle again;
    //   a client seen gone brings TXT_OutPut back; a stop touches nothing.
    std::unique_ptr<console::SessionSink> sessionStarted(const console::SessionInfo &info) override;
    void clientTyped(std::string_view chunk) override;

private:
    class Sink;
    void itemSent(std::string_view item);
    void clientGone();
    void sessionEnded(const console::SessionEnd &end);

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

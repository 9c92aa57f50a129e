// presenter.h: turns what the window's sessions do into lamps, panels and buttons.
#pragma once
#include "console/observer.h"
#include "ui/shared.h"
#include "ui/window_model.h"

#include <string>

namespace zentrel::ui {

// The observer of the window's router: each session that starts is the next
// element of Winsock1 (ConnectionIndex goes up by one) and gets this sink:
// - the start: TXT_Input shown and emptied, TXT_OutPut hidden (it keeps its
//   text), the three command buttons disabled, the connection lamp yellow;
// - what the client typed: recorded in TXT_Input as it arrived (input_capture.h);
// - an item: the item and CR LF appended to TXT_OutPut (collected even
//   while hidden), and the traffic lamps blink;
// - the client gone: lamp green, Received Commands at once; the other two
//   buttons come back when the session notices, at its next item;
// - the end: after the script (or a failure) the window is idle again;
//   a client seen gone brings TXT_OutPut back; a stop touches nothing.
class Presenter : public console::SessionObserver
{
public:
    Presenter(ZentrelFRM &form, Shared &shared) : m_form(form), m_shared(shared) {}

    std::unique_ptr<console::SessionSink> sessionStarted(const console::SessionInfo &info) override;
    // From a session's start to its end.
    bool serving() const { return m_serving; }

private:
    class Sink;
    void clientGone();
    void sessionEnded(const console::SessionEnd &end);

    ZentrelFRM &m_form;
    Shared &m_shared;
    bool m_serving = false;
    std::string m_line;   // one item and its CR LF, reused so items cost no allocation
};

// Shows an item in TXT_OutPut and blinks the traffic lamps: every played or
// previewed item does both.
void showItem(ZentrelFRM &form, std::string &line, std::string_view item);

// Show Responses and Original Config back as start-up's probe left them.
void restoreFileButtons(ZentrelFRM &form, const Shared &shared);

} // namespace zentrel::ui

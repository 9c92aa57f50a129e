// preview.h: Show Responses plays the response script in the panel, sending nothing.
#pragma once
#include "console/observer.h"
#include "console/router.h"
#include "console/session.h"
#include "ui/shared.h"
#include "platform/platform.h"
#include "ui/window_model.h"

#include <memory>
#include <string>

namespace zentrel::ui {

// A session with no connection: the items of RESPONSE.TXT appear one by one
// in TXT_OutPut at the pace a client would get them. Clients that connect
// meanwhile wait until it is over.
class Preview : private console::SessionObserver
{
public:
    // Holds the window's router while it runs.
    Preview(ZentrelFRM &form, platform::Platform &platform, Shared &shared, console::Router &router);
    ~Preview() override;

    // Binds the click of CMD_Answers.
    void wire();
    // The click of CMD_Answers. Returns at once; the preview runs from the
    // event loop. A script that cannot be read ends it as an empty one.
    void onClick();
    // The window is unloading: the preview ends without touching anything.
    void stop();
    bool running() const { return m_session != nullptr; }

private:
    class Sink;
    std::unique_ptr<console::SessionSink> sessionStarted(const console::SessionInfo &info) override;
    void sessionEnded(const console::SessionEnd &end);
    void ended();

    ZentrelFRM &m_form;
    platform::Platform &m_platform;
    Shared &m_shared;
    console::Router &m_router;
    std::unique_ptr<console::Session> m_session;
    std::string m_line;
};

} // namespace zentrel::ui

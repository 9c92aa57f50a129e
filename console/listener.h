// listener.h: the window's router on Winsock1: one connection at a time, later clients wait.
#pragma once
#include "console/observer.h"
#include "console/router.h"
#include "console/shared.h"
#include "platform/platform.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <string_view>

namespace zentrel::console {

class ElementConnection;

// What the window shows of its connections: a sink for each session, and
// what a client sends, which the window records also after its session.
class WindowObserver : public SessionObserver
{
public:
    virtual void clientTyped(std::string_view chunk) = 0;
};

// Element 0 listens; each accepted connection gets the next element and is
// served by the router's one session. What happens is reported to the
// window's observer: the session's reports, and what the client types, which
// the window records even after the session has ended.
class Listener : private SessionObserver
{
public:
    Listener(platform::Platform &platform, Shared &shared, WindowObserver &window);
    ~Listener() override;

    // Hands the three socket events of Winsock1 to their handlers.
    void wire();
    // Ends the session in progress (no further item is sent, its socket is
    // left to the window's unloading) and serves nobody from now on.
    void stop();
    // A session is being served.
    bool busy() const { return m_live; }
    // The preview holds the router while it runs: clients wait meanwhile.
    Router &router() { return m_router; }

    // The handlers of the three socket events. None of them throws.
    void onConnectionRequest(int index, std::int32_t requestId);
    void onDataArrival(int index, long bytesWaiting);
    void onClose(int index);

private:
    void serveWaiting();
    void serve(std::int32_t requestId);
    ScriptPtr readScript();

    class Sink;
    std::unique_ptr<SessionSink> sessionStarted(const SessionInfo &info) override;
    void sessionEnded(SessionSink &window, const SessionEnd &end);

    platform::Platform &m_platform;
    Shared &m_shared;
    WindowObserver &m_window;
    Router m_router;
    std::deque<std::int32_t> m_waiting;   // requests in arrival order
    bool m_servePosted = false;
    // From the accept until the session has ended; a close event outside it
    // belongs to a connection that has already ended.
    bool m_live = false;
    bool m_peerClosed = false;
    ElementConnection *m_connection = nullptr;   // owned by the session
    SessionInfo m_last;                          // of the latest connection
};

} // namespace zentrel::console

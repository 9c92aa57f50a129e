// session.h: one client served: the script played item by item at the set pace.
#pragma once
#include "console/connection.h"
#include "console/observer.h"
#include "console/script.h"
#include "console/task.h"
#include "console/turns.h"
#include "platform/event_loop.h"

#include <coroutine>
#include <functional>
#include <memory>

namespace zentrel::console {

struct SessionSetup {
    SessionInfo info;
    ScriptPtr script;                        // null: nothing to play, the connection just closes
    std::unique_ptr<Connection> connection;  // null: a preview, nothing is sent
    std::function<double()> delay;           // the pause before each item, read afresh each time
    Pace pace = Pace::Clock;
    // Called from the event loop once the session has ended and reported it;
    // the owner may destroy the session from there.
    std::function<void()> finished;
};

// The playback suspends at every pause and resumes from the event loop, so
// any number of sessions (and the window's preview) run side by side on one
// thread. Timing: n items leave about d, 2d, ..., n·d seconds after start(),
// each after its own pause, and the connection is closed right after the
// last one. A pause of 0 does not suspend: the items go out back to back.
// With Pace::Enter every item after the first waits for a line first.
class Session
{
public:
    Session(platform::EventLoop &loop, SessionObserver &observer, SessionSetup setup);
    ~Session();
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    // Reports the start (and what the client typed while it waited for its
    // turn) and begins the first pause.
    void start(std::string earlyInput = {});
    void setFinished(std::function<void()> finished) { m_setup.finished = std::move(finished); }
    // Ends the session at once with Stopped: no further item is sent and the
    // connection is left open for the owner to close.
    void stop();

    bool ended() const { return m_ended; }
    const SessionInfo &info() const { return m_setup.info; }
    Connection *connection() const { return m_setup.connection.get(); }

private:
    struct Pause;
    struct Drain;
    struct Typing;

    Task play();
    void onData(std::string_view chunk);
    void onGone();
    void onEnded();
    bool takeTurn();
    void wake();
    void end(EndReason reason, std::string failure = {});

    platform::EventLoop &m_loop;
    SessionObserver &m_observer;
    SessionSetup m_setup;
    Task m_task;
    std::coroutine_handle<> m_suspended;   // waiting in a pause or for the client to read
    platform::EventLoop::TimerId m_timer = 0;
    bool m_stopping = false;
    bool m_ended = false;
    SessionEnd m_end;
    Turns m_turns;               // with Pace::Enter only
    bool m_typing = false;       // suspended until the client types a line
    bool m_draining = false;     // suspended until the client has read enough
    bool m_inputEnded = false;   // the client will type nothing more
};

} // namespace zentrel::console

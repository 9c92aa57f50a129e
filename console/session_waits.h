// session_waits.h: the pauses a session's coroutines wait in, shared by its two kinds of play.
#pragma once
#include "console/session.h"

namespace zentrel::console {

// The pause before an item or an answer: suspends until the timer fires or the session
// is stopped. A pause of 0 (or one that is not a number) does not suspend.
struct Session::Pause {
    Session &session;
    double delay;

    bool await_ready() const noexcept { return !(delay > 0) || session.m_stopping; }
    void await_suspend(std::coroutine_handle<> handle)
    {
        session.m_suspended = handle;
        session.m_timer = session.m_loop.at(session.m_loop.now() + delay, [this] {
            session.m_timer = 0;
            session.wake();
        });
    }
    // True when the pause is over, false when the session is stopping.
    bool await_resume() const noexcept { return !session.m_stopping; }
};

// Waits while the client has more queued than it reads.
struct Session::Drain {
    Session &session;

    bool await_ready() const noexcept
    {
        const Connection *connection = session.connection();
        return session.m_stopping || !connection || connection->isGone()
               || connection->queued() <= Connection::HighWater;
    }
    void await_suspend(std::coroutine_handle<> handle)
    {
        session.m_draining = true;
        session.m_suspended = handle;
    }
    void await_resume() const noexcept { session.m_draining = false; }
};

// Waits for the client to type; woken by any line, the client leaving, or a stop.
struct Session::Typing {
    Session &session;

    bool await_ready() const noexcept { return false; }
    void await_suspend(std::coroutine_handle<> handle)
    {
        session.m_typing = true;
        session.m_suspended = handle;
    }
    void await_resume() const noexcept { session.m_typing = false; }
};

} // namespace zentrel::console

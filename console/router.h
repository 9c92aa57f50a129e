// router.h: one emulated router: its sessions, and the clients waiting their turn.
#pragma once
#include "console/connection.h"
#include "console/observer.h"
#include "console/pace.h"
#include "console/script.h"
#include "platform/event_loop.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <string>

namespace zentrel::console {

class Session;

struct RouterSetup {
    std::string name;
    std::size_t maxSessions = 1;     // served at the same time; later clients wait
    std::function<double()> delay;   // read afresh before every item
    Pace pace = Pace::Clock;
    // The script for a session about to start, read afresh (or from a cache
    // that checks the file). Throws platform::Error: TooManyFiles (67) makes
    // the client wait and the router try again shortly; any other failure is
    // reported as a warning and the session plays nothing.
    std::function<ScriptPtr()> script;
};

class Router
{
public:
    Router(platform::EventLoop &loop, SessionObserver &observer, RouterSetup setup);
    ~Router();
    Router(const Router &) = delete;
    Router &operator=(const Router &) = delete;

    // A client has connected. Served at once when a session is free (and the
    // router is not held), else it waits its turn, in arrival order; a
    // waiting client that leaves is dropped without being served.
    void connected(std::unique_ptr<Connection> connection, std::string peer);
    // A client that was turned away before its session could start (a failed
    // login): reported as a session of its own that starts and ends at once.
    void refused(const std::string &peer, EndReason reason, std::string failure = {});
    // While held no new session starts; clients keep waiting (the window's
    // preview holds its router). Releasing serves the waiting clients.
    void setHeld(bool held);
    // Ends every session (Stopped) and drops every waiting client.
    void stop();

    bool hasRoom() const;
    std::size_t active() const { return m_sessions.size(); }
    std::size_t waiting() const { return m_waiting.size(); }
    std::uint64_t sessionsStarted() const { return m_started; }
    const RouterSetup &setup() const { return m_setup; }

    // Posted when a session has ended and the router has room again.
    std::function<void()> onRoom;

private:
    struct Waiting;
    void serveWaiting();
    void startSession(std::unique_ptr<Waiting> waiting);
    void drop(Waiting *entry);
    void finish(Session *session);

    platform::EventLoop &m_loop;
    SessionObserver &m_observer;
    RouterSetup m_setup;
    std::list<std::unique_ptr<Session>> m_sessions;
    std::deque<std::unique_ptr<Waiting>> m_waiting;
    std::uint64_t m_started = 0;
    platform::EventLoop::TimerId m_retry = 0;
    bool m_held = false;
    bool m_stopped = false;
    std::shared_ptr<bool> m_alive;   // false once destroyed: posted work checks it
};

} // namespace zentrel::console

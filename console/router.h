// router.h: one emulated router: its sessions, and the clients waiting their turn.
#pragma once
#include "console/connection.h"
#include "console/dialogue.h"
#include "console/line_editor.h"
#include "console/faults.h"
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
    Faults faults;
    // The script for a session about to start, read afresh (or from a cache
    // that checks the file). Throws platform::Error: TooManyFiles (67) makes
    // the client wait and the router try again shortly; any other failure is
    // reported as a warning and the session plays nothing.
    std::function<ScriptPtr()> script;
    // Set for a command-driven router: each session's side of the router,
    // made as the session starts, for the client's carrier and what its
    // terminal asked for; no script is read.
    std::function<std::unique_ptr<Dialogue>(const SessionInfo &info, Carrier carrier, const TerminalRequest &terminal)>
        dialogue;
    // Told from the loop after each session has ended and reported it, a
    // refused client's included.
    std::function<void()> sessionEnded;
    // Told once, from the loop, when the router has been stopped or retired
    // and holds no session and no waiting client any more.
    std::function<void()> idle;
};

// Sessions report to the observer's sink for each; the router itself tells
// its owner only the two things above.
class Router
{
public:
    // What a waiting client may type before its turn (and one chunk more);
    // kept for its session, then its input is held until the session starts.
    static constexpr std::size_t EarlyInputLimit = 64 * 1024;
    // Out of descriptors, a script cannot be opened: the client waits this
    // long and the router tries again, rather than serve it an empty script.
    static constexpr double RetryAfter = 0.05;

    Router(platform::EventLoop &loop, SessionObserver &observer, RouterSetup setup);
    ~Router();
    Router(const Router &) = delete;
    Router &operator=(const Router &) = delete;

    // A client has connected. Served at once when a session is free (and the
    // router is not held), else it waits its turn, in arrival order; a
    // waiting client that leaves is dropped without being served. `typing`
    // says how its bytes are read and whether they are echoed; `user` is
    // the account an SSH client logged in with.
    void connected(std::unique_ptr<Connection> connection, std::string peer,
                   EditorSetup typing = {}, std::string user = {});
    // A client that was turned away before its session could start (a failed
    // login): reported as a session of its own that starts and ends at once.
    void refused(const std::string &peer, EndReason reason, std::string failure = {});
    // While held no new session starts; clients keep waiting (the window's
    // preview holds its router). Releasing serves the waiting clients.
    void setHeld(bool held);
    // No client comes any more: the sessions and the waiting clients are
    // served to their end, then `idle` is told.
    void retire();
    // Ends every session (Stopped) and drops every waiting client; `idle` follows.
    void stop();

    bool hasRoom() const;
    std::size_t active() const { return m_sessions.size(); }
    std::size_t waiting() const { return m_waiting.size(); }
    std::uint64_t sessionsStarted() const { return m_started; }

    // Posted when a session has ended and the router has room again.
    std::function<void()> onRoom;

private:
    struct Waiting;
    void serveWaiting();
    void startSession(std::unique_ptr<Waiting> waiting);
    void drop(Waiting *entry);
    void finish(Session *session);
    void tell(const std::function<void()> &callback);
    void checkIdle();

    platform::EventLoop &m_loop;
    SessionObserver &m_observer;
    RouterSetup m_setup;
    std::list<std::unique_ptr<Session>> m_sessions;
    std::deque<std::unique_ptr<Waiting>> m_waiting;
    std::uint64_t m_started = 0;
    platform::EventLoop::TimerId m_retry = 0;
    bool m_held = false;
    bool m_retired = false;
    bool m_stopped = false;
    bool m_idleTold = false;
    std::shared_ptr<bool> m_alive;   // false once destroyed: posted work checks it
};

} // namespace zentrel::console

// router.cpp: one emulated router: its sessions, and the clients waiting their turn.
#include "console/router.h"

#include "console/session.h"
#include "platform/error.h"

#include <chrono>
#include <utility>

namespace zentrel::console {

namespace {

double unixNow()
{
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

} // namespace

// A client that has connected and waits for a free session.
struct Router::Waiting {
    std::unique_ptr<Connection> connection;
    std::string peer;
    EditorSetup typing;
    std::string user;
    std::string early;   // typed while waiting
    double connectedAt = 0;
    double connectedClock = 0;
};

Router::Router(platform::EventLoop &loop, SessionObserver &observer, RouterSetup setup)
    : m_loop(loop), m_observer(observer), m_setup(std::move(setup)),
      m_alive(std::make_shared<bool>(true))
{
}

Router::~Router()
{
    *m_alive = false;
    if (m_retry)
        m_loop.cancel(m_retry);
    for (auto &waiting : m_waiting)
        waiting->connection->setEvents({});
}

bool Router::hasRoom() const
{
    return !m_held && !m_stopped && m_sessions.size() < m_setup.maxSessions;
}

void Router::connected(std::unique_ptr<Connection> connection, std::string peer, EditorSetup typing,
                       std::string user)
{
    if (m_stopped || m_idleTold) {
        connection->close();
        return;
    }
    auto waiting = std::make_unique<Waiting>();
    waiting->connection = std::move(connection);
    waiting->peer = std::move(peer);
    waiting->typing = typing;
    waiting->user = std::move(user);
    waiting->connectedAt = unixNow();
    waiting->connectedClock = m_loop.now();
    if (hasRoom() && m_waiting.empty() && !m_retry) {
        startSession(std::move(waiting));
        return;
    }
    // A client that leaves before its turn is dropped, so that it costs the
    // clients behind it no pause.
    Waiting *entry = waiting.get();
    Connection::Events events;
    // Past the limit the input is held; a transport that cannot hold it
    // loses what comes after.
    events.data = [entry](std::string_view chunk) {
        if (entry->early.size() < EarlyInputLimit)
            entry->early.append(chunk);
        if (entry->early.size() >= EarlyInputLimit)
            entry->connection->holdInput(true);
    };
    events.gone = [this, entry] { drop(entry); };
    events.ended = [this, entry] {
        if (entry->early.empty())
            drop(entry);
    };
    entry->connection->setEvents(std::move(events));
    m_waiting.push_back(std::move(waiting));
}

void Router::refused(const std::string &peer, EndReason reason, std::string failure)
{
    SessionInfo info;
    info.router = m_setup.name;
    info.number = ++m_started;
    info.peer = peer;
    info.startedAt = unixNow();
    info.startedClock = m_loop.now();
    SessionEnd end;
    end.reason = reason;
    end.failure = std::move(failure);
    if (std::unique_ptr<SessionSink> sink = m_observer.sessionStarted(info))
        sink->ended(end);
    tell(m_setup.sessionEnded);
}

void Router::drop(Waiting *entry)
{
    // Posted: the connection whose event this is must outlive the event.
    m_loop.post([this, entry, alive = m_alive] {
        if (!*alive)
            return;
        for (auto it = m_waiting.begin(); it != m_waiting.end(); ++it) {
            if (it->get() == entry) {
                (*it)->connection->setEvents({});
                (*it)->connection->close();
                m_waiting.erase(it);
                checkIdle();
                return;
            }
        }
    });
}

void Router::setHeld(bool held)
{
    m_held = held;
    if (held)
        return;
    serveWaiting();
    if (hasRoom() && onRoom)
        onRoom();
}

void Router::serveWaiting()
{
    while (hasRoom() && !m_waiting.empty() && !m_retry) {
        std::unique_ptr<Waiting> next = std::move(m_waiting.front());
        m_waiting.pop_front();
        next->connection->setEvents({});
        startSession(std::move(next));
    }
}

void Router::startSession(std::unique_ptr<Waiting> waiting)
{
    ScriptPtr script;
    std::string warning;
    if (m_setup.script && !m_setup.dialogue) {
        try {
            script = m_setup.script();
        } catch (const platform::Error &error) {
            if (error.code() == platform::TooManyFiles) {
                // The client gets its script once a descriptor frees up.
                m_waiting.push_front(std::move(waiting));
                m_retry = m_loop.at(m_loop.now() + RetryAfter, [this] {
                    m_retry = 0;
                    serveWaiting();
                });
                return;
            }
            warning = error.what();
        } catch (const std::exception &error) {
            warning = error.what();
        }
    }

    SessionSetup setup;
    setup.info.router = m_setup.name;
    setup.info.number = ++m_started;
    setup.info.peer = waiting->peer;
    setup.info.startedAt = waiting->connectedAt;
    setup.info.startedClock = waiting->connectedClock;
    setup.info.items = script ? script->size() : 0;
    setup.info.user = std::move(waiting->user);
    setup.script = std::move(script);
    setup.connection = std::move(waiting->connection);
    setup.delay = m_setup.delay;
    setup.pace = m_setup.pace;
    setup.faults = m_setup.faults;
    setup.typing = waiting->typing;
    if (m_setup.dialogue)
        setup.dialogue = m_setup.dialogue(setup.info, setup.typing.carrier, setup.connection->terminal());
    // The session holds the input again if it must.
    setup.connection->holdInput(false);
    m_sessions.push_back(std::make_unique<Session>(m_loop, m_observer, std::move(setup)));
    Session *session = m_sessions.back().get();
    session->setFinished([this, session, alive = m_alive] {
        if (*alive)
            finish(session);
    });
    session->start(std::move(waiting->early), warning);
}

void Router::finish(Session *session)
{
    for (auto it = m_sessions.begin(); it != m_sessions.end(); ++it) {
        if (it->get() == session) {
            m_sessions.erase(it);
            break;
        }
    }
    if (m_setup.sessionEnded)
        m_setup.sessionEnded();
    if (m_stopped) {
        checkIdle();
        return;
    }
    serveWaiting();
    checkIdle();
    if (hasRoom() && onRoom)
        onRoom();
}

void Router::retire()
{
    m_retired = true;
    checkIdle();
}

void Router::stop()
{
    m_stopped = true;
    if (m_retry) {
        m_loop.cancel(m_retry);
        m_retry = 0;
    }
    for (auto &waiting : m_waiting) {
        waiting->connection->setEvents({});
        waiting->connection->close();
    }
    m_waiting.clear();
    for (auto &session : m_sessions)
        session->stop();
    checkIdle();
}

void Router::tell(const std::function<void()> &callback)
{
    if (!callback)
        return;
    m_loop.post([callback, alive = m_alive] {
        if (*alive)
            callback();
    });
}

void Router::checkIdle()
{
    if (m_idleTold || !(m_stopped || m_retired) || !m_sessions.empty() || !m_waiting.empty())
        return;
    m_idleTold = true;
    tell(m_setup.idle);
}

} // namespace zentrel::console

// session.cpp: one client served: the script played item by item at the set pace.
#include "console/session.h"

#include <exception>
#include <utility>

namespace zentrel::console {

// The pause before an item: suspends until the timer fires or the session
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

Session::Session(platform::EventLoop &loop, SessionObserver &observer, SessionSetup setup)
    : m_loop(loop), m_observer(observer), m_setup(std::move(setup))
{
}

Session::~Session()
{
    if (m_timer)
        m_loop.cancel(m_timer);
    if (Connection *connection = m_setup.connection.get())
        connection->setEvents({});
}

void Session::start(std::string earlyInput)
{
    if (Connection *connection = m_setup.connection.get()) {
        Connection::Events events;
        events.data = [this](std::string_view chunk) { onData(chunk); };
        events.gone = [this] { onGone(); };
        // Only a session waiting for room wakes: a pause is never cut short.
        events.drained = [this] {
            if (m_draining)
                wake();
        };
        if (m_setup.pace == Pace::Enter)
            events.ended = [this] { onEnded(); };
        connection->setEvents(std::move(events));
    }
    m_observer.sessionStarted(m_setup.info);
    if (!earlyInput.empty())
        onData(earlyInput);
    m_task = play();
}

void Session::stop()
{
    if (m_ended)
        return;
    m_stopping = true;
    if (m_timer) {
        m_loop.cancel(m_timer);
        m_timer = 0;
    }
    // A session that is not suspended is running right now (stop() came from
    // inside one of its reports): it sees the stop at its next pause.
    wake();
}

void Session::wake()
{
    if (std::coroutine_handle<> handle = std::exchange(m_suspended, {}))
        handle.resume();
}

void Session::onData(std::string_view chunk)
{
    if (m_ended)
        return;
    m_end.bytesIn += chunk.size();
    m_observer.clientTyped(m_setup.info, chunk);
    if (m_setup.pace == Pace::Enter) {
        m_turns.typed(chunk);
        if (m_typing)
            wake();
    }
}

void Session::onEnded()
{
    m_inputEnded = true;
    if (m_typing)
        wake();
}

// Answers each bare Enter with the prompt; true once a command line is taken.
bool Session::takeTurn()
{
    Connection *connection = m_setup.connection.get();
    for (;;) {
        switch (m_turns.take()) {
        case Turns::Line::None:
            return false;
        case Turns::Line::Command:
            return true;
        case Turns::Line::Empty:
            if (connection && !connection->isGone() && !m_turns.prompt().empty()) {
                connection->send(m_turns.prompt());
                m_end.bytesOut += m_turns.prompt().size();
            }
        }
    }
}

void Session::onGone()
{
    if (m_ended)
        return;
    m_observer.clientGone(m_setup.info);
    // A session held up by a full queue notices now; one in a pause at its next item.
    if (!m_timer)
        wake();
}

Task Session::play()
{
    static const std::vector<std::string> noItems;
    const std::vector<std::string> &items = m_setup.script ? m_setup.script->items : noItems;
    Connection *connection = m_setup.connection.get();
    try {
        for (std::size_t index = 0; index < items.size(); ++index) {
            if (m_setup.pace == Pace::Enter && connection && index > 0) {
                bool turn = false;
                while (!(turn = takeTurn()) && !m_stopping && !m_inputEnded
                       && !connection->isGone())
                    co_await Typing{*this};
                if (m_stopping) {
                    end(EndReason::Stopped);
                    co_return;
                }
                // A client that can type no further line never gets the next item.
                if (!turn) {
                    if (!connection->isGone())
                        connection->close();
                    end(EndReason::ClientGone);
                    co_return;
                }
            }
            const double delay = m_setup.delay ? m_setup.delay() : 0.0;
            if (!co_await Pause{*this, delay}) {
                end(EndReason::Stopped);
                co_return;
            }
            // A client that left during the pause: the item is neither sent nor reported.
            if (connection && connection->isGone()) {
                end(EndReason::ClientGone);
                co_return;
            }
            const std::string &item = items[index];
            if (connection && !item.empty()) {
                connection->send(item);
                m_end.bytesOut += item.size();
            }
            if (m_setup.pace == Pace::Enter)
                m_turns.sent(item);
            ++m_end.itemsSent;
            m_observer.itemSent(m_setup.info, index + 1, item);
            if (connection && connection->queued() > Connection::HighWater) {
                co_await Drain{*this};
                if (m_stopping) {
                    end(EndReason::Stopped);
                    co_return;
                }
            }
        }
        // What was sent still goes out before the connection is shut.
        if (connection)
            connection->close();
        end(EndReason::ScriptExhausted);
    } catch (const std::exception &failure) {
        if (connection)
            connection->close();
        end(EndReason::Failed, failure.what());
    }
}

void Session::end(EndReason reason, std::string failure)
{
    if (m_ended)
        return;
    m_ended = true;
    if (m_timer) {
        m_loop.cancel(m_timer);
        m_timer = 0;
    }
    m_end.reason = reason;
    m_end.items = m_setup.script ? m_setup.script->items.size() : 0;
    m_end.seconds = m_loop.now() - m_setup.info.startedClock;
    m_end.failure = std::move(failure);
    m_observer.sessionEnded(m_setup.info, m_end);
    if (m_setup.finished)
        m_loop.post(m_setup.finished);
}

} // namespace zentrel::console

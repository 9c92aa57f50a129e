// listener.cpp: the window's router on Winsock1: one connection at a time, later clients wait.
#include "console/listener.h"

#include "console/report.h"
#include "console/session.h"

#include <limits>
#include <memory>
#include <utility>

namespace zentrel::console {

// One accepted element of Winsock1, as the session sees it.
class ElementConnection : public Connection
{
public:
    ElementConnection(platform::SocketArray &sockets, int index) : m_sockets(sockets), m_index(index) {}

    void setEvents(Events events) override { m_events = std::move(events); }
    // A send the socket refuses throws: the session ends as at the end of its script.
    void send(std::string_view bytes) override { m_sockets.sendData(m_index, bytes); }
    // The socket may read as closed before its close event has been dispatched.
    bool isGone() const override
    {
        return m_peerClosed || m_sockets.state(m_index) == platform::SocketArray::Closed;
    }
    void close() override { closeSocket(m_sockets, m_index); }
    std::string peer() const override { return {}; }
    // A session that finds more than HighWater queued waits for drained.
    std::size_t queued() const override { return m_sockets.queued(m_index); }

    // The kernel took some of what was queued: a session waiting for room
    // goes on once no more than LowWater is left.
    void kernelTook()
    {
        if (queued() <= LowWater && m_events.drained)
            m_events.drained();
    }

    void peerClosed()
    {
        m_peerClosed = true;
        if (m_events.gone)
            m_events.gone();
    }

    // Closing a socket that fails must not keep the window from going back to idle.
    static void closeSocket(platform::SocketArray &sockets, int index)
    {
        try {
            sockets.close(index);
        } catch (const std::exception &failure) {
            report(std::string("closing connection ") + std::to_string(index) + ": " + failure.what());
        }
    }

private:
    platform::SocketArray &m_sockets;
    int m_index;
    Events m_events;
    bool m_peerClosed = false;
};

// The window's sink for the session, with the connection's own bookkeeping.
class Listener::Sink : public SessionSink
{
public:
    Sink(Listener &listener, std::unique_ptr<SessionSink> window)
        : m_listener(listener), m_window(window ? std::move(window) : std::make_unique<SessionSink>())
    {
    }
    void itemSent(std::size_t index, std::string_view item) override { m_window->itemSent(index, item); }
    void clientGone() override { m_window->clientGone(); }
    // A script that cannot be read: the client gets no byte, as with an empty one.
    void warning(std::string_view text) override
    {
        report(text);
        m_window->warning(text);
    }
    void ended(const SessionEnd &end) override { m_listener.sessionEnded(*m_window, end); }

private:
    Listener &m_listener;
    std::unique_ptr<SessionSink> m_window;
};

Listener::Listener(platform::Platform &platform, Shared &shared, WindowObserver &window)
    : m_platform(platform), m_shared(shared), m_window(window),
      m_router(platform.loop, *this,
               RouterSetup{.name = {}, .maxSessions = 1, .delay = [&shared] { return shared.responseDelay; },
                           .pace = Pace::Clock, .script = [this] { return readScript(); },
                           .dialogue = {}, .sessionEnded = {}, .idle = {}})
{
    m_router.onRoom = [this] { serveWaiting(); };
}

Listener::~Listener() = default;

void Listener::wire()
{
    platform::SocketArray::Events events;
    events.connectionRequest = [this](int index, std::int32_t requestId) {
        onConnectionRequest(index, requestId);
    };
    events.dataArrival = [this](int index, long bytesWaiting) { onDataArrival(index, bytesWaiting); };
    events.closed = [this](int index) { onClose(index); };
    events.drained = [this](int index) {
        if (m_live && m_connection && index == m_shared.connectionIndex)
            m_connection->kernelTook();
    };
    m_platform.sockets.setEvents(std::move(events));
}

ScriptPtr Listener::readScript()
{
    // Afresh for every connection, read whole and closed before the first
    // pause: a change to the file takes effect at the next connection.
    return readScriptFile(m_platform.files, ResponseFile);
}

void Listener::onConnectionRequest(int index, std::int32_t requestId)
{
    // Only the listening element has connections to hand over; a request
    // from any other element would only wipe the last client's commands.
    if (index != 0 || m_shared.stopRequested)
        return;
    const bool busy = m_live || !m_router.hasRoom();
    if (busy || !m_waiting.empty()) {
        // Behind a session, a preview, or clients that came first: it waits
        // its turn, and the client being served is not disturbed.
        m_waiting.push_back(requestId);
        if (!busy)
            serveWaiting();
        return;
    }
    serve(requestId);
}

void Listener::serveWaiting()
{
    if (m_servePosted || m_waiting.empty() || m_shared.stopRequested)
        return;
    m_servePosted = true;
    m_platform.loop.post([this] {
        m_servePosted = false;
        if (m_shared.stopRequested || m_live || !m_router.hasRoom())
            return;
        // A client that left while it waited is dropped unserved: the window
        // does not show it, and the clients behind it lose no pause over it.
        while (!m_waiting.empty()) {
            const std::int32_t requestId = m_waiting.front();
            m_waiting.pop_front();
            if (!m_platform.sockets.waitingClientGone(requestId)) {
                serve(requestId);
                return;
            }
        }
    });
}

void Listener::serve(std::int32_t requestId)
{
    // Elements are never reused within a run; only after two thousand
    // million connections does the count start again at element 1.
    const std::int32_t last = m_shared.connectionIndex;
    m_shared.connectionIndex = last == std::numeric_limits<std::int32_t>::max() ? 1 : last + 1;
    const int index = m_shared.connectionIndex;

    platform::SocketArray &sockets = m_platform.sockets;
    try {
        sockets.create(index);
        sockets.setLocalPort(index, 0);
        sockets.accept(index, requestId);
    } catch (const std::exception &failure) {
        // The client is lost; the window shows a connection that ended at once.
        report(std::string("accepting connection ") + std::to_string(index) + ": " + failure.what());
        ElementConnection::closeSocket(sockets, index);
        SessionEnd end;
        end.reason = EndReason::Failed;
        end.failure = failure.what();
        if (std::unique_ptr<SessionSink> sink = m_window.sessionStarted(m_last))
            sink->ended(end);
        serveWaiting();
        return;
    }
    auto connection = std::make_unique<ElementConnection>(sockets, index);
    m_connection = connection.get();
    m_live = true;
    m_peerClosed = false;
    m_router.connected(std::move(connection), {});
}

void Listener::onDataArrival(int, long)
{
    // Taking the bytes first lets a spurious event without bytes leave the
    // window alone. The window records what arrives even after the session.
    std::string chunk;
    try {
        chunk = m_platform.sockets.getData(m_shared.connectionIndex);
    } catch (const std::exception &failure) {
        report(std::string("receiving: ") + failure.what());
        return;
    }
    if (!chunk.empty())
        m_window.clientTyped(chunk);
}

void Listener::onClose(int index)
{
    // Only the connection being served can close under the session; the
    // elements of ended connections were closed by Zentrel itself.
    if (!m_live || index != m_shared.connectionIndex)
        return;
    m_peerClosed = true;
    ElementConnection::closeSocket(m_platform.sockets, index);
    m_connection->peerClosed();   // the session ends at its next item
}

void Listener::stop()
{
    m_shared.stopRequested = 1;
    m_waiting.clear();
    m_router.stop();
}

std::unique_ptr<SessionSink> Listener::sessionStarted(const SessionInfo &info)
{
    m_last = info;
    return std::make_unique<Sink>(*this, m_window.sessionStarted(info));
}

void Listener::sessionEnded(SessionSink &window, const SessionEnd &end)
{
    m_live = false;
    m_connection = nullptr;
    if (end.reason == EndReason::ClientGone && !m_peerClosed) {
        // The socket reported the client gone before its close event was
        // dispatched: that event would come too late, so do its part now.
        ElementConnection::closeSocket(m_platform.sockets, m_shared.connectionIndex);
        window.clientGone();
    }
    if (end.reason == EndReason::Failed)
        report("connection " + std::to_string(m_shared.connectionIndex) + ": " + end.failure);
    window.ended(end);
}

} // namespace zentrel::console

// listener.cpp: the connection lifecycle on Winsock1, one connection at a time.
#include "console/listener.h"

#include "console/input_capture.h"
#include "console/quietly.h"

#include <limits>
#include <utility>

namespace zentrel::console {

Listener::Listener(ui::ZentrelFRM &form, platform::Platform &platform, Shared &shared)
    : m_form(form), m_platform(platform), m_shared(shared), m_playback(form, platform, shared)
{
}

void Listener::wire()
{
    platform::SocketArray::Events events;
    events.connectionRequest = [this](int index, std::int32_t requestId) {
        onConnectionRequest(index, requestId);
    };
    events.dataArrival = [this](int index, long bytesWaiting) { onDataArrival(index, bytesWaiting); };
    events.closed = [this](int index) { onClose(index); };
    m_platform.sockets.setEvents(std::move(events));
}

void Listener::onConnectionRequest(int index, std::int32_t requestId)
{
    // Only the listening element has connections to hand over; a request
    // from any other element would only wipe the last client's commands.
    if (index != 0 || m_shared.stopRequested)
        return;
    const bool busy = m_shared.fileOneBusy || m_live;
    if (busy || !m_waiting.empty()) {
        // Behind a playback, a preview, or clients that came first: it waits
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
    // From the event loop, so that a long run of waiting clients never
    // nests one playback inside another's handler.
    m_platform.loop.post([this] {
        m_servePosted = false;
        serveNextWaiting();
    });
}

void Listener::serveNextWaiting()
{
    if (m_shared.stopRequested) {
        m_waiting.clear();
        return;
    }
    // A preview that still holds file 1 calls serveWaiting() again when it ends.
    if (m_shared.fileOneBusy || m_live || m_waiting.empty())
        return;
    const std::int32_t requestId = m_waiting.front();
    m_waiting.pop_front();
    serve(requestId);
}

void Listener::serve(std::int32_t requestId)
{
    try {
        m_form.TXT_OutPut.setVisible(false);
        m_form.TXT_Input.setVisible(true);
        m_form.CMD_Answers.setEnabled(false);
        m_form.CMD_OriginalConfig.setEnabled(false);
        m_form.CMD_ReceivedCommands.setEnabled(false);
        m_form.TXT_Input.setText({});   // TXT_OutPut keeps its text; the playback appends to it

        acceptOn(requestId);

        const Playback::Exit exit = m_playback.run();
        m_live = false;
        if (exit == Playback::Exit::Stopped)
            return;   // the window is unloading: nothing more is touched or served
        if (exit == Playback::Exit::ClientGone && !m_peerClosed) {
            // The socket reported the client gone before its close event was
            // dispatched: that event would come too late, so do its part now.
            quietly([this] { m_platform.sockets.close(m_shared.connectionIndex); });
            m_form.FRM_Winsock.setBackColour(ui::Green);
            m_form.CMD_ReceivedCommands.setEnabled(true);
        }
    } catch (...) {
        endAfterFailure();
    }
    serveWaiting();
}

void Listener::acceptOn(std::int32_t requestId)
{
    // Elements are never reused within a run; only after two thousand
    // million connections does the count start again at element 1.
    const std::int32_t last = m_shared.connectionIndex;
    m_shared.connectionIndex = last == std::numeric_limits<std::int32_t>::max() ? 1 : last + 1;
    const int connection = m_shared.connectionIndex;

    platform::SocketArray &sockets = m_platform.sockets;
    sockets.create(connection);
    sockets.setLocalPort(connection, 0);
    sockets.accept(connection, requestId);
    m_live = true;
    m_peerClosed = false;
    m_form.FRM_Winsock.setBackColour(ui::Yellow);
}

void Listener::endAfterFailure()
{
    m_live = false;
    if (m_shared.stopRequested)
        return;
    try {
        m_playback.endOfScript();
    } catch (...) {
    }
}

void Listener::onDataArrival(int, long)
{
    try {
        captureInput(m_form, m_platform.sockets, m_shared);
    } catch (...) {
        // A chunk that cannot be taken is lost; the connection goes on.
    }
}

void Listener::onClose(int index)
{
    // Only the connection being served can close under the playback; the
    // elements of ended connections were closed by Zentrel itself.
    if (!m_live || index != m_shared.connectionIndex)
        return;
    try {
        m_peerClosed = true;
        quietly([this] { m_platform.sockets.close(m_shared.connectionIndex); });
        m_form.FRM_Winsock.setBackColour(ui::Green);
        // Given back by the playback when it notices, at its next item.
        m_form.CMD_Answers.setEnabled(false);
        m_form.CMD_OriginalConfig.setEnabled(false);
        m_form.CMD_ReceivedCommands.setEnabled(true);
    } catch (...) {
    }
}

} // namespace zentrel::console

// listener.h: the connection lifecycle on Winsock1, one connection at a time.
#pragma once
#include "console/playback.h"
#include "console/shared.h"
#include "platform/platform.h"
#include "ui/window_model.h"

#include <cstdint>
#include <deque>

namespace zentrel::console {

class Listener
{
public:
    Listener(ui::ZentrelFRM &form, platform::Platform &platform, Shared &shared);

    // Hands the three socket events of Winsock1 to their handlers.
    void wire();
    // Serves the connection requests that waited while file number 1 was
    // busy; the preview calls it when it ends. Returns at once: the serving
    // runs from the event loop.
    void serveWaiting();

    // The handlers of the three socket events. None of them throws.
    void onConnectionRequest(int index, std::int32_t requestId);
    void onDataArrival(int index, long bytesWaiting);
    void onClose(int index);

private:
    void serve(std::int32_t requestId);
    void serveNextWaiting();
    void acceptOn(std::int32_t requestId);
    void endAfterFailure();

    ui::ZentrelFRM &m_form;
    platform::Platform &m_platform;
    Shared &m_shared;
    Playback m_playback;
    std::deque<std::int32_t> m_waiting;   // requests in arrival order
    bool m_servePosted = false;
    // From the accept until the playback returns; a close event outside it
    // belongs to a connection that has already ended.
    bool m_live = false;
    bool m_peerClosed = false;
};

} // namespace zentrel::console

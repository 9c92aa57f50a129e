// observer.h: what a session reports as it runs; the window and zentrel-serve each listen.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zentrel::console {

struct SessionInfo {
    std::string router;        // the router's name ("" in the window)
    std::uint64_t number = 0;  // 1, 2, 3, ... per router
    std::string peer;          // "address:port", "" for a preview
    double startedAt = 0;      // Unix seconds of the accept, with a fraction
    double startedClock = 0;   // the event loop's clock at the accept
};

enum class EndReason {
    ScriptExhausted,   // Zentrel closed the connection after the last item
    ClientGone,        // the client left; the item read then was dropped
    Stopped,           // the program is stopping; no further item was sent
    Failed,            // the session could not go on (a failure it reports)
    AuthFailed,        // the client failed to log in; no item was played
};

const char *reasonName(EndReason reason);   // "script-exhausted", "client-gone", ...

struct SessionEnd {
    EndReason reason = EndReason::ScriptExhausted;
    std::size_t itemsSent = 0;
    std::size_t items = 0;          // in the script
    std::uint64_t bytesIn = 0;
    std::uint64_t bytesOut = 0;
    double seconds = 0;             // from the accept to the end
    std::string failure;            // what went wrong, for Failed
};

// Called from the event loop, in the order things happen. An observer may
// not destroy the session or the router from inside a call.
class SessionObserver
{
public:
    virtual ~SessionObserver() = default;

    virtual void sessionStarted(const SessionInfo &) {}
    // After item `index` (from 1) was handed to the connection; an empty item
    // sends no byte but is reported all the same.
    virtual void itemSent(const SessionInfo &, std::size_t index, std::string_view item)
    {
        (void)index, (void)item;
    }
    // A chunk from the client, exactly as received.
    virtual void clientTyped(const SessionInfo &, std::string_view chunk) { (void)chunk; }
    // The client has gone; the session notices at its next item.
    virtual void clientGone(const SessionInfo &) {}
    virtual void sessionEnded(const SessionInfo &, const SessionEnd &) {}
    // A failure the engine contained (a script that cannot be read, ...).
    virtual void warning(const SessionInfo &, std::string_view text) { (void)text; }
};

} // namespace zentrel::console

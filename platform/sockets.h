// sockets.h: the socket array that the console drives.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace zentrel::platform {

// Element 0 listens; elements 1, 2, 3, ... carry one accepted connection each.
class SocketArray
{
public:
    // Delivered on the UI thread, one at a time, also while a handler yields.
    // A connection request is never delivered from inside another socket
    // operation: it always comes from the event loop.
    struct Events {
        std::function<void(int index, std::int32_t requestId)> connectionRequest;
        std::function<void(int index, long bytesWaiting)> dataArrival;
        std::function<void(int index)> closed;
        // The kernel took queued bytes of a connection it had refused more
        // of: what is still queued may now be small enough to add to.
        std::function<void(int index)> drained;
    };

    // Values of state(); only Closed (0) has a meaning the console relies on.
    enum State : int { Closed = 0, Listening = 2, Connected = 7, Closing = 8, Failed = 9 };

    virtual ~SocketArray() = default;

    virtual void setEvents(Events events) = 0;
    virtual void create(int index) = 0;                  // a new, closed element
    // Throws Error 380 for a port no socket can take (outside 0..65535).
    virtual void setLocalPort(int index, std::int32_t port) = 0;
    // Throws Error 380 when the port cannot be opened (in use, not allowed).
    virtual void listen(int index) = 0;
    // Takes over the waiting connection; throws Error when it is gone.
    virtual void accept(int index, std::int32_t requestId) = 0;
    // Whether the client of a waiting request has left before its turn
    // (closed, reset, or stopped sending). Such a request is dropped on the
    // spot, its socket freed, and can no longer be accepted; a request that
    // no longer waits at all reads as gone too.
    virtual bool waitingClientGone(std::int32_t requestId) = 0;
    // Queues the bytes exactly as given and returns at once; never blocks.
    virtual void sendData(int index, std::string_view bytes) = 0;
    // Everything received and not yet taken, one char per byte.
    virtual std::string getData(int index) = 0;
    // Closing from this side raises no closed event. What was queued with
    // sendData still goes out before the connection is shut.
    virtual void close(int index) = 0;
    virtual int state(int index) const = 0;              // 0 when closed
    // Bytes queued with sendData and not yet taken by the kernel.
    virtual std::size_t queued(int) const { return 0; }
    // Closes every element, element 0 included (the window is unloading).
    virtual void closeAll() = 0;
};

} // namespace zentrel::platform

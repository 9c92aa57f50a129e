// connection.h: one client's byte stream as a session sees it, whatever carries it.
#pragma once
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace zentrel::console {

// What an SSH client asked for when it opened its channel; Telnet asks nothing.
struct TerminalRequest {
    bool exec = false;           // one command to run (its first typed line), not a shell
    std::optional<int> rows;     // the pty request's height; 0: the client's terminal does not page
};

// Telnet over a TCP socket, an SSH channel, or the window's socket element:
// the session plays its script through this and hears the client through it.
// Events come from the event loop, never from inside a call on the connection.
class Connection
{
public:
    struct Events {
        // Bytes from the client exactly as received, in order, never empty.
        std::function<void(std::string_view chunk)> data;
        // The client has gone (or a send failed): whatever is sent from now
        // on is lost. Raised at most once, never after close().
        std::function<void()> gone;
        // queued() fell to LowWater or below after having been above HighWater.
        std::function<void()> drained;
        // The client shut its sending side; it may still read what is sent.
        std::function<void()> ended;
    };

    // A session stops feeding a client whose queue grows past HighWater and
    // goes on once it has drained to LowWater: a slow reader costs a bounded
    // amount of memory, and the pace becomes a floor.
    static constexpr std::size_t HighWater = 256 * 1024;
    static constexpr std::size_t LowWater = 64 * 1024;

    virtual ~Connection() = default;

    virtual void setEvents(Events events) = 0;
    // Queues the bytes exactly as given and returns at once; never blocks,
    // never throws for a client that has gone (the bytes are dropped).
    virtual void send(std::string_view bytes) = 0;
    // Bytes queued and not yet taken by the transport.
    virtual std::size_t queued() const { return 0; }
    // While held, nothing more is read from the client: its bytes wait in the
    // kernel, and TCP's flow control slows it down. A session holds the input
    // of a client that does not read what it is sent (the echo and prompts it
    // asks for would pile up) or that types faster than it is answered.
    virtual void holdInput(bool held) { (void)held; }
    virtual bool isGone() const = 0;
    // Shuts the connection from this side: what was queued still goes out,
    // and no event is raised after it.
    virtual void close() = 0;
    // Ends the connection with a reset instead of the close, once what was
    // queued has gone out: the client sees "connection reset by peer". A
    // transport that cannot reset closes.
    virtual void reset() { close(); }
    // "address:port" of the client ("[v6]:port" for IPv6), for reports.
    virtual std::string peer() const = 0;
    // As the client asked when the connection was handed over; it does not change after.
    virtual TerminalRequest terminal() const { return {}; }
};

} // namespace zentrel::console

// observer.h: what a session reports as it runs: to a sink of its own, which its observer hands it at the start.
#pragma once
#include "console/line_editor.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace zentrel::console {

struct SessionInfo {
    std::string router;        // the router's name ("" in the window)
    std::uint64_t number = 0;  // 1, 2, 3, ... per router
    std::string peer;          // "address:port", "" for a preview
    double startedAt = 0;      // Unix seconds of the accept, with a fraction
    double startedClock = 0;   // the event loop's clock at the accept
    std::size_t items = 0;     // in the script this session plays
    std::string user;          // the SSH account it logged in with; "" over Telnet
};

enum class EndReason {
    ScriptExhausted,   // Zentrel closed the connection after the last item
    ClientGone,        // the client left; the item read then was dropped
    Stopped,           // the program is stopping; no further item was sent
    Failed,            // the session could not go on (a failure it reports)
    AuthFailed,        // the client failed to log in; no item was played
    Fault,             // the router's Fault ended it on purpose
    Mismatch,          // the client typed what its router's check forbids, and the router closes on that
    Closed,            // a command-driven router closed it (a command such as exit)
};

const char *reasonName(EndReason reason);   // "script-exhausted", "client-gone", ...

// What a command-driven session's end tells besides the bytes.
struct CommandTotals {
    std::size_t commands = 0;   // command lines typed (not the login, passwords or empty lines)
    std::size_t errors = 0;     // of them, those answered with an error
    std::string mode;           // the mode the session ended in
    std::string runningConfig;  // the router's, as the session left it
    bool paged = false;         // an answer was cut into pages
};

struct SessionEnd {
    EndReason reason = EndReason::ScriptExhausted;
    std::size_t itemsSent = 0;
    std::size_t items = 0;          // in the script
    std::uint64_t bytesIn = 0;
    std::uint64_t bytesOut = 0;     // items, echo and prompts: every byte sent
    double seconds = 0;             // from the accept to the end
    std::string failure;            // what went wrong, for Failed
    std::optional<CommandTotals> commands;   // a command-driven session's
};

// One line a command-driven router answered, as it took it.
struct CommandReport {
    std::string mode;                      // the mode it was typed in
    std::string line;                      // as typed, a password too: the sink masks it
    std::optional<std::string> matched;    // the command that answered it, as commands.yaml writes it
    std::string_view error;                // with matched empty: "invalid", "ambiguous", "incomplete"
    bool config = false;                   // no command: a line of the running config
    bool secret = false;                   // a password: reports show "***" unless told to keep secrets
    bool reply = false;                    // the reply to a command's question
};

// A chunk from the client, and what the line editor made of it. A report
// shows a password as `shown` does (a '*' for each byte) and a secret line
// as "***", unless told to keep secrets.
struct Typed {
    std::string_view bytes;             // the chunk exactly as received
    std::string_view shown;             // the same but for the bytes of a password
    std::string_view telnet;            // the Telnet commands it completed, back to back
    std::span<const TypedLine> lines;   // the lines it ended, as typed
};

// The bytes sent to a client besides the items.
enum class Extra {
    Echo,     // what the client typed, shown back as a router's terminal does
    Prompt,   // the prompt again, for a bare Enter
    Answer,   // a command-driven router's answer to a line or key, with its prompt
    Telnet,   // Telnet option negotiation
    Message,  // a line a command-driven router prints by itself (messages:)
};

// A fault that fired on purpose.
struct FaultReport {
    std::string_view kind;              // "close", "reset", "cut", "stall", "prompt"
    std::optional<std::size_t> item;    // a script's: after item N
    std::string_view command;           // a command-driven router's: the line whose answer it hit, if any
};

// One session's reports, in the order things happen, from the event loop.
// The session owns its sink and drops it after ended(); a sink never
// destroys the session or its router from inside a call.
class SessionSink
{
public:
    virtual ~SessionSink() = default;

    // Item `index` (from 1) was handed to the connection; an empty item
    // sends no byte but is reported all the same.
    virtual void itemSent(std::size_t index, std::string_view item) { (void)index, (void)item; }
    virtual void sent(Extra kind, std::string_view bytes) { (void)kind, (void)bytes; }
    virtual void typed(const Typed &typed) { (void)typed; }
    // A command-driven router took a typed line (before its answer's pause).
    virtual void command(const CommandReport &report) { (void)report; }
    // The client has gone; the session notices at its next item.
    virtual void clientGone() {}
    // A fault fired on purpose.
    virtual void fault(const FaultReport &report) { (void)report; }
    // A failure the engine contained (a script that cannot be read, ...).
    virtual void warning(std::string_view text) { (void)text; }
    // The last report.
    virtual void ended(const SessionEnd &end) { (void)end; }
    // Asked after typed(): the session ends at once with Mismatch, its
    // connection closed once what was sent has gone out.
    virtual bool endNow() const { return false; }
};

// Hands each session its sink as it starts; null for a session nobody follows.
// The info outlives the sink.
class SessionObserver
{
public:
    virtual ~SessionObserver() = default;
    virtual std::unique_ptr<SessionSink> sessionStarted(const SessionInfo &info)
    {
        (void)info;
        return nullptr;
    }
};

} // namespace zentrel::console

// session.h: one client served: the script played item by item at the set pace, or a router's answers to what it types.
#pragma once
#include "console/connection.h"
#include "console/faults.h"
#include "console/dialogue.h"
#include "console/line_editor.h"
#include "console/observer.h"
#include "console/pace.h"
#include "console/script.h"
#include "console/task.h"
#include "console/telnet_options.h"
#include "platform/event_loop.h"

#include <coroutine>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zentrel::console {

struct SessionSetup {
    SessionInfo info;
    ScriptPtr script;                        // null: nothing to play, the connection just closes
    std::unique_ptr<Dialogue> dialogue;      // set: the router answers each line; no script
    std::unique_ptr<Connection> connection;  // null: a preview, nothing is sent
    std::function<double()> delay;           // the pause before each item or answer, read afresh each time
    Pace pace = Pace::Clock;
    Faults faults;
    EditorSetup typing;                // how the client's bytes are read, and echoed
    // Called from the event loop once the session has ended and reported it;
    // the owner may destroy the session from there.
    std::function<void()> finished;
};

// The playback suspends at every pause and resumes from the event loop, so
// any number of sessions (and the window's preview) run side by side on one
// thread. Timing: n items leave about d, 2d, ..., n·d seconds after start(),
// each after its own pause, and the connection is closed right after the
// last one. A pause of 0 does not suspend: the items go out back to back.
// With Pace::Enter every item after the first waits for a line first, and
// lines are answered in the order they were typed: a bare Enter typed while
// an answer is on its way gets the prompt after it, as a router's console does.
//
// With a dialogue the session converses instead (session_conversation.cpp):
// the router's first words a pause after start(), then each line the client
// types answered a pause after it was taken. Lines are taken one at a time:
// what the client types ahead waits, unread and unechoed, until the answer
// before it is out, as on a router's console, so that each is read as the
// router then stands (a password unechoed, a key for a paged answer). Over
// Telnet the session negotiates as a router does (TelnetOptions).
//
// What the client types goes through the session's line editor once: the
// echo goes back at once, the lines go to the turns, and the chunk, its
// Telnet commands and its lines go to the sink. What is queued for a client
// stays near Connection::HighWater whatever asks for it: past it the session
// waits before the next item or prompt, and holds the client's input until
// the queue has drained, as it does while many lines wait for their turn.
class Session
{
public:
    // Lines typed ahead and not yet answered, past which the input is held.
    static constexpr std::size_t HeldAfterLines = 256;
    // Bytes typed ahead of a command-driven router's answers, past which the input is held.
    static constexpr std::size_t HeldAfterBytes = 64 * 1024;
    // Output at a set rate goes out a slice at a time, this often (seconds).
    static constexpr double RateTick = 0.02;

    Session(platform::EventLoop &loop, SessionObserver &observer, SessionSetup setup);
    ~Session();
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    // Asks the observer for the sink, reports the start (a failure met before
    // it, then what the client typed while it waited for its turn) and
    // begins the first pause.
    void start(std::string earlyInput = {}, std::string_view warning = {});
    void setFinished(std::function<void()> finished) { m_setup.finished = std::move(finished); }
    // Ends the session at once with Stopped: no further item is sent and the
    // connection is left open for the owner to close.
    void stop();

    bool ended() const { return m_ended; }
    Connection *connection() const { return m_setup.connection.get(); }

private:
    struct Pause;
    struct Drain;
    struct Typing;
    enum class Turn { None, Line, Full };

    Task play();
    Task converse();
    void onData(std::string_view chunk);
    // What the client typed ahead, read up to the next line or key that
    // gets an answer; none when it has typed no more.
    std::optional<Answer> takeInput();
    void told(const Answer &answer);
    void onGone();
    void onEnded();
    void sendItem(std::size_t index, std::string_view item);
    void reportItem(std::size_t index, std::string_view item);
    double pause();
    double vary(double delay);
    bool faultDue(std::size_t sent) const;
    void fireFault(std::size_t sent);
    // session_faults.cpp: a command-driven router's faults and messages.
    bool shaped(const Answer &answer) const;
    std::size_t piece(const Answer &answer, std::size_t at, std::size_t size, std::size_t stallAt) const;
    void shutFor(const FaultReport &report, Faults::End how);
    void faultEnds(const FaultReport &report, Faults::End how);
    bool answered(const Answer &answer);
    void armSchedule();
    void onFaultTimer(Faults::End how);
    void onMessageTimer();
    void sendMessages();
    void sendExtra(Extra kind, std::string_view bytes);
    void prompted(std::string_view prompt);
    Turn takeTurn();
    void updateHold();
    void wake();
    void endStopped();
    void end(EndReason reason, std::string failure = {});

    platform::EventLoop &m_loop;
    SessionSetup m_setup;
    std::unique_ptr<SessionSink> m_sink;
    SessionObserver &m_observer;
    Task m_task;
    std::coroutine_handle<> m_suspended;   // waiting in a pause or for the client to read
    platform::EventLoop::TimerId m_timer = 0;
    bool m_stopping = false;
    bool m_mismatch = false;           // the sink asked for the end: a stop that closes
    bool m_ended = false;
    SessionEnd m_end;
    std::unique_ptr<LineEditor> m_editor;
    std::uint64_t m_jitter = 0;        // the state of the pauses' variation, from the seed and the session
    bool m_passwordPrompt = false;     // the last prompt shown asks for a password
    // With Pace::Enter: the lines typed and not yet answered, in order (true
    // for a command, false for a bare Enter), and the prompt a bare Enter gets.
    std::deque<bool> m_lines;
    std::string m_prompt;
    bool m_typing = false;             // suspended until the client types a line
    bool m_draining = false;           // suspended until the client has read enough
    bool m_inputEnded = false;         // the client will type nothing more
    bool m_full = false;               // more queued for the client than it reads
    bool m_held = false;               // the client's input is held
    // Command-driven: what the client typed and the session has not read yet,
    // from m_pendingAt, and the Telnet options negotiated.
    std::string m_pending;
    std::size_t m_pendingAt = 0;
    TelnetOptions m_telnetOptions;
    // Command-driven, with faults: or messages: only.
    platform::EventLoop::TimerId m_faultTimer = 0;
    platform::EventLoop::TimerId m_messageTimer = 0;
    std::vector<double> m_messageDue;   // on the loop's clock, per message
    std::uint64_t m_messagesPending = 0; // a bit per message due and not yet sent
    bool m_answering = false;           // an answer is going out a piece at a time
    bool m_faulted = false;             // a fault on the clock ended the session
    std::size_t m_answers = 0;          // command lines answered
    std::string m_lastCommand;          // the last of them, for the fault reports
};

} // namespace zentrel::console

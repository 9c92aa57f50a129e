// events.h: what zentrel-serve tells its caller: JSON Lines events, or human lines and a live status line.
#pragma once
#include "console/observer.h"
#include "platform/event_loop.h"
#include "serve/expect_file.h"

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace zentrel::platform {
class LineWriter;
}

namespace zentrel::serve {

// How a session went, as its session-end event and stderr tell it.
struct SessionOutcome {
    enum class Check { None, Pass, Fail } check = Check::None;
    std::vector<std::string> typed;
    bool typedCut = false;
    Verdict verdict;   // the first difference and diff, on a fail

    const char *verdictName() const;   // "none", "pass", "fail"
    // `,"typed":[...],"verdict":"..."` and, on a fail, `,"first_difference":
    // {"position":n,"expect_line":n,"expected":..,"typed":..}` (null for a
    // side with no line), to go inside the session-end object.
    std::string jsonFields() const;
};

// With an events descriptor, one JSON object per line, each written whole
// with one write() as it happens (a reader sees complete lines, a crash
// loses nothing written before it). Without one, a human line on stderr per
// router that listens and per session that ends. Warnings always reach
// stderr as well. When stderr is a terminal, a status line at its bottom is
// redrawn in place, at most ten times a second.
class EventLog
{
public:
    struct Setup {
        int eventsFd = -1;        // -1: human lines instead of events
        bool statusLine = false;  // stderr is a terminal the events do not share
        // Where the events go when eventsFd is set: a writer that never
        // blocks; null: eventsFd written directly.
        platform::LineWriter *writer = nullptr;
        // Where stderr's lines and the status line go: a writer that never
        // blocks, so that a stderr nobody reads stops no router; null:
        // written directly.
        platform::LineWriter *stderrWriter = nullptr;
        std::uint64_t seed = 0;   // --seed, told in the ready event
    };

    EventLog(platform::EventLoop &loop, Setup setup);
    ~EventLog();

    void listening(const std::string &router, const std::string &address, int port,
                   std::string_view protocol = "telnet", std::string_view fingerprint = {});
    void ready();
    // The router has stopped listening and has no session left.
    void routerStopped(const std::string &router);
    // The program stops for `why` ("signal", "timeout", "connections").
    void stopping(std::string_view why);
    // The last event: the exit status the program is about to return.
    void exiting(int status);
    // A failure of the program itself, not of one session.
    void error(std::string_view text);
    // Clears the status line and leaves the terminal as it was.
    void finish();

    void sessionStarted(const console::SessionInfo &info);
    // With what the client typed and the verdict on it.
    void sessionEnded(const console::SessionInfo &info, const console::SessionEnd &end,
                      const SessionOutcome &outcome);
    // A line a command-driven router took: `command` events. The line as
    // the report shows it (a password already masked).
    void command(const console::SessionInfo &info, const console::CommandReport &report);
    // Of a session, or of the router alone (info.number 0).
    void warning(const console::SessionInfo &info, std::string_view text);
    // The line the client just typed broke EXPECT.TXT: `reason` names the
    // file's line and what it says. `closing`: the session ends for it.
    void checkFailed(const console::SessionInfo &info, std::string_view reason, bool closing);
    // A fault fired on purpose: after an item, or in the answer to a command.
    void fault(const console::SessionInfo &info, const console::FaultReport &report);

    std::uint64_t ended() const { return m_ended; }
    bool writeFailed() const { return m_writeFailed; }

private:
    void emit(std::string json);
    void human(std::string_view line);
    void statusChanged();
    void drawStatus();
    bool toStderr(std::string_view text);   // false when it could not be written

    platform::EventLoop &m_loop;
    Setup m_setup;
    std::size_t m_listening = 0;
    std::uint64_t m_active = 0;
    std::uint64_t m_ended = 0;
    platform::EventLoop::TimerId m_redraw = 0;
    bool m_statusShown = false;
    bool m_writeFailed = false;
};

} // namespace zentrel::serve

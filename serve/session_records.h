// session_records.h: what zentrel-serve keeps of every session: transcript, typed lines, verdict, JUnit case.
#pragma once
#include "console/observer.h"
#include "platform/event_loop.h"
#include "serve/events.h"
#include "serve/expect_file.h"
#include "serve/junit.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zentrel::serve {

struct RecordedRouter {
    std::string name;
    int port = 0;
    double delay = 0;
    std::shared_ptr<const ExpectFile> expect;   // null: no EXPECT.TXT, verdict "none"
    bool mismatchClose = false;                 // a line that breaks it ends the session
};

// Each session gets a sink of its own from its router's observer: it writes
// the transcript and keeps the typed lines as they come, and at the end
// tells, in this order, the transcript's last marker, stderr of a failed
// check, the JUnit case, and the session-end event with the verdict.
// Nothing here throws into the engine: a transcript or report that cannot be
// written is reported through `problem` and the session goes on.
class SessionRecords
{
public:
    struct Options {
        std::string transcripts;   // directory for NAME-SESSION.cast; "" for none
        std::string junit;         // report file; "" for none
        bool keepSecrets = false;  // passwords as typed, not masked
    };

    // `problem` gets one line of text for stderr and the events.
    SessionRecords(platform::EventLoop &loop, EventLog &log, Options options,
                   std::function<void(const std::string &)> problem);
    ~SessionRecords();

    // Every router before prepare(): the observer its sessions report to,
    // valid as long as this.
    console::SessionObserver &addRouter(RecordedRouter router);
    // Before anything listens: makes the transcript directory when only it
    // is missing. Returns "" or why the run cannot start: a transcript
    // directory that cannot be made or written, a report that cannot be
    // written.
    std::string prepare();
    // The port the router added `router`th (from 0) listens on, once it does
    // (--port 0 picks it then).
    void listening(std::size_t router, int port);

    // Called, as a session that failed its check ends, with who it was, the
    // first difference and the diff: for stderr.
    std::function<void(const std::string &report)> onCheckFailed;

    bool anyCheckFailed() const { return m_checkFailed; }
    bool anyWriteFailed() const { return m_writeFailures > 0; }
    // Flushes and closes the report; call once every session has ended.
    void finish();

private:
    class Router;
    class Sink;

    void ended(const console::SessionInfo &info, const console::SessionEnd &end, const SessionOutcome &outcome);
    void writeProblem(const std::string &failure);

    platform::EventLoop &m_loop;
    EventLog &m_log;
    Options m_options;
    std::function<void(const std::string &)> m_problem;
    std::vector<std::unique_ptr<Router>> m_routers;
    std::optional<JunitReport> m_report;
    bool m_checkFailed = false;
    std::size_t m_writeFailures = 0;
};

} // namespace zentrel::serve

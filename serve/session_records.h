// session_records.h: what zentrel-serve keeps of every session: transcript, typed lines, verdict, JUnit case.
#pragma once
#include "console/observer.h"
#include "platform/event_loop.h"
#include "serve/expect_file.h"
#include "serve/junit.h"

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zentrel::serve {

struct RecordedRouter {
    std::string name;
    int port = 0;
    double delay = 0;
    std::shared_ptr<const ExpectFile> expect;   // null: no EXPECT.TXT, verdict "none"
};

// How a session went, ready for the session-end event and stderr.
struct SessionOutcome {
    enum class Check { None, Pass, Fail } check = Check::None;
    std::vector<std::string> typed;
    bool typedCut = false;
    Verdict verdict;          // the first difference and diff, on a fail

    const char *verdictName() const;   // "none", "pass", "fail"
    // `,"typed":[...],"verdict":"..."` and, on a fail, `,"first_difference":
    // {"position":n,"expect_line":n,"expected":..,"typed":..}` (null for a
    // side with no line), to go inside the session-end object.
    std::string jsonFields() const;
};

// Listens to the sessions of every router; put it before the observer that
// writes the events, which then reads lastOutcome() for the session-end. Nothing here throws into
// the engine: a transcript or report that cannot be written is reported
// through `problem` and the session goes on.
class SessionRecords : public console::SessionObserver
{
public:
    struct Options {
        std::string transcripts;   // directory for NAME-SESSION.cast; "" for none
        std::string junit;         // report file; "" for none
    };

    // `problem` gets one line of text for stderr and the events.
    SessionRecords(platform::EventLoop &loop, Options options, std::function<void(const std::string &)> problem);
    ~SessionRecords() override;

    // Before anything listens: makes the transcript directory when only it
    // is missing. Returns "" or why the run cannot start: a transcript
    // directory that cannot be made or written, a report that cannot be
    // written.
    std::string prepare();
    void addRouter(RecordedRouter router);
    // The port the router listens on, once it does (--port 0 picks it then).
    void listening(const std::string &router, int port);

    void sessionStarted(const console::SessionInfo &info) override;
    void itemSent(const console::SessionInfo &info, std::size_t index, std::string_view item) override;
    void clientTyped(const console::SessionInfo &info, std::string_view chunk) override;
    void clientGone(const console::SessionInfo &info) override;
    void sessionEnded(const console::SessionInfo &info, const console::SessionEnd &end) override;

    // The session that ended last, valid until the next one ends.
    const SessionOutcome &lastOutcome() const { return m_last; }
    // For stderr when the last session failed its check: who, and the diff.
    std::string failureReport(const console::SessionInfo &info) const;
    // Called with failureReport() as each session that failed its check ends.
    std::function<void(const std::string &report)> onCheckFailed;

    bool anyCheckFailed() const { return m_checkFailed; }
    bool anyWriteFailed() const { return m_writeFailures > 0; }
    // Flushes and closes the report; call once every session has ended.
    void finish();

private:
    struct Live;
    using Key = std::pair<std::string, std::uint64_t>;

    Live *live(const console::SessionInfo &info);
    double since(const console::SessionInfo &info) const;
    void writeProblem(const std::string &failure);

    platform::EventLoop &m_loop;
    Options m_options;
    std::function<void(const std::string &)> m_problem;
    std::map<std::string, RecordedRouter> m_routers;
    std::map<Key, std::unique_ptr<Live>> m_live;
    std::optional<JunitReport> m_report;
    SessionOutcome m_last;
    bool m_checkFailed = false;
    std::size_t m_writeFailures = 0;
};

} // namespace zentrel::serve

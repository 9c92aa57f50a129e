// session_records.cpp: a sink per session: its transcript and typed lines, and what its end tells.
#include "serve/session_records.h"

#include "serve/asciicast.h"
#include "serve/json.h"
#include "serve/typed_lines.h"
#include "serve/visible.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace zentrel::serve {

namespace {

constexpr std::size_t ReportedFailures = 3;   // then only the count, at the end

std::string quoted(const std::optional<std::string> &line)
{
    return line ? "\"" + visibleText(*line) + "\"" : std::string("nothing more");
}

std::string typedArray(const std::vector<std::string> &typed)
{
    std::string out = "[";
    for (std::size_t i = 0; i < typed.size(); ++i) {
        if (i > 0)
            out += ',';
        appendJsonString(out, typed[i]);
    }
    return out + "]";
}

// The first way the session failed its check: a line out of order, else the first rule it broke.
std::string firstDifference(const Verdict &verdict)
{
    if (verdict.position == 0 && !verdict.rulesFailed.empty())
        return "broke " + verdict.rulesFailed.front();
    return "line " + std::to_string(verdict.position) + ": expected " + quoted(verdict.expected) + ", typed "
           + quoted(verdict.typed);
}

} // namespace

const char *SessionOutcome::verdictName() const
{
    switch (check) {
    case Check::Pass: return "pass";
    case Check::Fail: return "fail";
    case Check::None: break;
    }
    return "none";
}

std::string SessionOutcome::jsonFields() const
{
    std::string out = ",\"typed\":" + typedArray(typed);
    if (typedCut)
        out += ",\"typed_cut\":true";
    out += ",\"verdict\":\"" + std::string(verdictName()) + "\"";
    if (check == Check::Fail && verdict.position > 0) {
        auto side = [](const std::optional<std::string> &line) { return line ? jsonString(*line) : "null"; };
        out += ",\"first_difference\":{\"position\":" + std::to_string(verdict.position)
               + ",\"expect_line\":" + std::to_string(verdict.expectLine) + ",\"expected\":" + side(verdict.expected)
               + ",\"typed\":" + side(verdict.typed) + "}";
    }
    if (!verdict.rulesFailed.empty())
        out += ",\"rules_failed\":" + typedArray(verdict.rulesFailed);
    return out;
}

// The observer of one router: a sink for each of its sessions.
class SessionRecords::Router : public console::SessionObserver
{
public:
    Router(SessionRecords &records, RecordedRouter router) : m_records(records), m_router(std::move(router)) {}

    std::unique_ptr<console::SessionSink> sessionStarted(const console::SessionInfo &info) override;
    const RecordedRouter &router() const { return m_router; }
    void listening(int port) { m_router.port = port; }

private:
    SessionRecords &m_records;
    RecordedRouter m_router;
};

// One session: its transcript as it goes, its typed lines, its verdict at the end.
class SessionRecords::Sink : public console::SessionSink
{
public:
    Sink(SessionRecords &records, const RecordedRouter &router, const console::SessionInfo &info);

    void itemSent(std::size_t index, std::string_view item) override;
    void sent(console::Extra kind, std::string_view bytes) override;
    void typed(const console::Typed &typed) override;
    void command(const console::CommandReport &report) override;
    void clientGone() override;
    void fault(const console::FaultReport &report) override;
    void warning(std::string_view text) override { m_records.m_log.warning(m_info, text); }
    void ended(const console::SessionEnd &end) override;
    bool endNow() const override { return m_endNow; }

private:
    enum class Output { None, Item, Echo, Prompt, Answer, Message };

    void check(const std::string &line);

    double since() const { return m_records.m_loop.now() - m_info.startedClock; }

    SessionRecords &m_records;
    const RecordedRouter &m_router;
    const console::SessionInfo &m_info;   // the session's own, which outlives its sink
    std::unique_ptr<CastWriter> m_cast;
    TypedLines m_typed;
    Output m_output = Output::None;   // what the last bytes sent were, for the markers
    std::size_t m_checked = 0;        // typed lines that are not empty, checked as they came
    bool m_outOfOrder = false;        // one of them broke the file's order
    bool m_endNow = false;
};

std::unique_ptr<console::SessionSink> SessionRecords::Router::sessionStarted(const console::SessionInfo &info)
{
    m_records.m_log.sessionStarted(info);
    return std::make_unique<Sink>(m_records, m_router, info);
}

SessionRecords::Sink::Sink(SessionRecords &records, const RecordedRouter &router, const console::SessionInfo &info)
    : m_records(records), m_router(router), m_info(info)
{
    const std::string &dir = m_records.m_options.transcripts;
    if (dir.empty())
        return;
    const std::string path =
        (std::filesystem::path(dir) / (info.router + "-" + std::to_string(info.number) + ".cast")).string();
    const std::string title = info.router + " session " + std::to_string(info.number) + " from " + info.peer;
    m_cast = std::make_unique<CastWriter>(
        path,
        CastHeader{static_cast<std::int64_t>(std::floor(info.startedAt)), title,
                   CastHeader::Router{router.port, router.delay}},
        [&records](const std::string &failure) { records.writeProblem(failure); });
}

void SessionRecords::Sink::itemSent(std::size_t index, std::string_view item)
{
    m_output = Output::Item;
    if (!m_cast)
        return;
    const double t = since();
    m_cast->marker(t, "item " + std::to_string(index) + " of " + std::to_string(m_info.items));
    if (!item.empty())
        m_cast->output(t, item);
}

// The client's screen as it got it: the echo and the prompts again, each
// marked where it begins.
void SessionRecords::Sink::sent(console::Extra kind, std::string_view bytes)
{
    if (kind == console::Extra::Telnet) {
        if (m_cast)
            m_cast->marker(since(), "Telnet sent: " + spellTelnetCommands(bytes));
        return;
    }
    const Output output = kind == console::Extra::Echo      ? Output::Echo
                          : kind == console::Extra::Prompt  ? Output::Prompt
                          : kind == console::Extra::Message ? Output::Message
                                                            : Output::Answer;
    const bool changed = std::exchange(m_output, output) != output;
    if (!m_cast)
        return;
    const double t = since();
    // An answer is marked by its command.
    if (changed && output != Output::Answer)
        m_cast->marker(t, output == Output::Echo ? "echo" : output == Output::Prompt ? "prompt again" : "message");
    m_cast->output(t, bytes);
}

// The command event, and the transcript's mark: the mode the line was typed in and what it matched.
void SessionRecords::Sink::command(const console::CommandReport &report)
{
    std::optional<console::CommandReport> masked;
    if (report.secret && !m_records.m_options.keepSecrets) {
        masked = report;
        masked->line = "***";
    }
    const console::CommandReport &shown = masked ? *masked : report;
    m_records.m_log.command(m_info, shown);
    if (!m_cast)
        return;
    std::string mark = "command in " + shown.mode + ": \"" + visibleText(shown.line) + "\"";
    if (shown.matched)
        mark += " is " + *shown.matched;
    else if (shown.config)
        mark += " is a config line";
    else if (!shown.error.empty())
        mark += " is " + std::string(shown.error);
    m_cast->marker(since(), mark);
    m_output = Output::Answer;
}

void SessionRecords::Sink::typed(const console::Typed &typed)
{
    for (const console::TypedLine &line : typed.lines)
        m_typed.add(line);
    if (m_cast) {
        const double t = since();
        const std::string_view bytes = m_records.m_options.keepSecrets ? typed.bytes : typed.shown;
        if (!bytes.empty())
            m_cast->input(t, bytes);
        if (!typed.telnet.empty())
            m_cast->marker(t, "Telnet: " + spellTelnetCommands(typed.telnet));
    }
    for (const console::TypedLine &line : typed.lines)
        if (m_router.expect && !line.text.empty() && !m_endNow)
            check(line.text);
}

// A line that breaks the file is told the moment it is typed: every never:
// rule it breaks, and the first line out of the order.
void SessionRecords::Sink::check(const std::string &line)
{
    const std::string reason = m_router.expect->breaks(m_checked++, line, !m_outOfOrder);
    if (reason.empty())
        return;
    m_outOfOrder = m_outOfOrder || !m_router.expect->breaksRule(line);
    m_endNow = m_router.mismatchClose;
    m_records.m_log.checkFailed(m_info, reason, m_endNow);
    if (m_cast)
        m_cast->marker(since(), "check failed: " + reason);
}

void SessionRecords::Sink::fault(const console::FaultReport &report)
{
    m_records.m_log.fault(m_info, report);
    if (!m_cast)
        return;
    std::string mark = "fault: " + std::string(report.kind);
    if (report.item)
        mark += " after item " + std::to_string(*report.item);
    else if (!report.command.empty())
        mark += " in the answer to \"" + visibleText(report.command) + "\"";
    m_cast->marker(since(), mark);
}

void SessionRecords::Sink::clientGone()
{
    if (m_cast)
        m_cast->marker(since(), "client gone");
}

void SessionRecords::Sink::ended(const console::SessionEnd &end)
{
    // Checked as typed; shown, also in a failed check's difference, as reports show passwords.
    SessionOutcome outcome;
    outcome.typed = m_records.m_options.keepSecrets ? m_typed.lines() : m_typed.shown();
    outcome.typedCut = m_typed.cut();
    if (m_router.expect) {
        // A command-driven router's running config and paging, for the rules that ask.
        SessionFacts facts;
        if (end.commands) {
            facts.runningConfig = &end.commands->runningConfig;
            facts.paged = end.commands->paged;
        }
        outcome.verdict = m_router.expect->check(m_typed.lines(), outcome.typed, facts);
        outcome.check = outcome.verdict.pass ? SessionOutcome::Check::Pass : SessionOutcome::Check::Fail;
    }
    if (m_cast) {
        const std::string done = end.commands ? std::to_string(end.commands->commands) + " commands, "
                                                    + std::to_string(end.commands->errors) + " errors, in mode "
                                                    + end.commands->mode
                                              : std::to_string(end.itemsSent) + " of " + std::to_string(end.items)
                                                    + " items sent";
        m_cast->marker(since(), "end: " + std::string(console::reasonName(end.reason)) + ", " + done + "; verdict "
                                    + outcome.verdictName() + "; typed " + typedArray(outcome.typed));
        m_cast.reset();
    }
    m_records.ended(m_info, end, outcome);
}

SessionRecords::SessionRecords(platform::EventLoop &loop, EventLog &log, Options options,
                               std::function<void(const std::string &)> problem)
    : m_loop(loop), m_log(log), m_options(std::move(options)), m_problem(std::move(problem))
{
}

SessionRecords::~SessionRecords() = default;

console::SessionObserver &SessionRecords::addRouter(RecordedRouter router)
{
    m_routers.push_back(std::make_unique<Router>(*this, std::move(router)));
    return *m_routers.back();
}

void SessionRecords::listening(std::size_t router, int port)
{
    if (router < m_routers.size())
        m_routers[router]->listening(port);
}

std::string SessionRecords::prepare()
{
    if (!m_options.transcripts.empty()) {
        std::error_code error;
        // Made when its parent exists, as mkdir would make it.
        if (::mkdir(m_options.transcripts.c_str(), 0755) != 0 && errno != EEXIST)
            return "--transcripts " + m_options.transcripts + ": cannot make the directory: " + std::strerror(errno);
        if (!std::filesystem::is_directory(m_options.transcripts, error)
            || ::access(m_options.transcripts.c_str(), W_OK | X_OK) != 0)
            return "--transcripts " + m_options.transcripts + ": not a directory that can be written";
    }
    if (!m_options.junit.empty()) {
        m_report.emplace(m_options.junit);
        std::vector<std::string> names;
        for (const auto &router : m_routers)
            names.push_back(router->router().name);
        if (const std::string failure = m_report->open(names); !failure.empty())
            return "--junit " + m_options.junit + ": " + failure;
    }
    return {};
}

// The order of what a session's end tells, one after the other.
void SessionRecords::ended(const console::SessionInfo &info, const console::SessionEnd &end,
                           const SessionOutcome &outcome)
{
    if (outcome.check == SessionOutcome::Check::Fail) {
        m_checkFailed = true;
        if (onCheckFailed)
            onCheckFailed("zentrel-serve: " + info.router + " session " + std::to_string(info.number) + " from "
                          + info.peer + " failed its check, " + firstDifference(outcome.verdict) + "\n"
                          + outcome.verdict.diff);
    }
    if (m_report) {
        JunitCase testCase{info.router, info.number, info.peer, end.seconds, JunitCase::Outcome::Pass,
                           {}, {}, outcome.typed, outcome.typedCut};
        if (end.reason == console::EndReason::Failed) {
            testCase.outcome = JunitCase::Outcome::Error;
            testCase.message = end.failure;
        } else if (outcome.check == SessionOutcome::Check::Fail) {
            testCase.outcome = JunitCase::Outcome::Fail;
            testCase.message = firstDifference(outcome.verdict);
            testCase.details = outcome.verdict.diff;
        }
        if (const std::string failure = m_report->add(testCase); !failure.empty())
            writeProblem(failure);
    }
    m_log.sessionEnded(info, end, outcome);
}

void SessionRecords::writeProblem(const std::string &failure)
{
    if (++m_writeFailures <= ReportedFailures)
        m_problem(failure);
}

void SessionRecords::finish()
{
    if (m_report)
        if (const std::string failure = m_report->close(); !failure.empty())
            writeProblem(failure);
    if (m_writeFailures > ReportedFailures)
        m_problem(std::to_string(m_writeFailures) + " transcript or report writes failed in all; the first "
                  + std::to_string(ReportedFailures) + " were reported");
}

} // namespace zentrel::serve

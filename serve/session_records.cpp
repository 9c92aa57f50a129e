// session_records.cpp: one transcript and one line splitter per live session; the verdict and report at its end.
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

std::string firstDifference(const Verdict &verdict)
{
    return "line " + std::to_string(verdict.position) + ": expected " + quoted(verdict.expected) + ", typed "
           + quoted(verdict.typed);
}

} // namespace

struct SessionRecords::Live {
    const RecordedRouter *router = nullptr;
    std::unique_ptr<CastWriter> cast;
    TypedLines typed;
};

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
    if (check == Check::Fail) {
        auto side = [](const std::optional<std::string> &line) { return line ? jsonString(*line) : "null"; };
        out += ",\"first_difference\":{\"position\":" + std::to_string(verdict.position)
               + ",\"expect_line\":" + std::to_string(verdict.expectLine) + ",\"expected\":" + side(verdict.expected)
               + ",\"typed\":" + side(verdict.typed) + "}";
    }
    return out;
}

SessionRecords::SessionRecords(platform::EventLoop &loop, Options options,
                               std::function<void(const std::string &)> problem)
    : m_loop(loop), m_options(std::move(options)), m_problem(std::move(problem))
{
}

SessionRecords::~SessionRecords() = default;

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
        for (const auto &[name, router] : m_routers)
            names.push_back(name);
        if (const std::string failure = m_report->open(names); !failure.empty())
            return "--junit " + m_options.junit + ": " + failure;
    }
    return {};
}

void SessionRecords::addRouter(RecordedRouter router)
{
    const std::string name = router.name;
    m_routers[name] = std::move(router);
}

void SessionRecords::listening(const std::string &router, int port)
{
    if (const auto found = m_routers.find(router); found != m_routers.end())
        found->second.port = port;
}

SessionRecords::Live *SessionRecords::live(const console::SessionInfo &info)
{
    const auto found = m_live.find(Key{info.router, info.number});
    return found == m_live.end() ? nullptr : found->second.get();
}

double SessionRecords::since(const console::SessionInfo &info) const
{
    return m_loop.now() - info.startedClock;
}

void SessionRecords::sessionStarted(const console::SessionInfo &info)
{
    auto entry = std::make_unique<Live>();
    const auto router = m_routers.find(info.router);
    if (router == m_routers.end())
        m_routers[info.router] = RecordedRouter{info.router, 0, 0, nullptr};
    entry->router = &m_routers[info.router];
    if (!m_options.transcripts.empty()) {
        const std::string path = (std::filesystem::path(m_options.transcripts)
                                  / (info.router + "-" + std::to_string(info.number) + ".cast"))
                                     .string();
        const std::string title = info.router + " session " + std::to_string(info.number) + " from " + info.peer;
        entry->cast = std::make_unique<CastWriter>(
            path,
            CastHeader{static_cast<std::int64_t>(std::floor(info.startedAt)), title,
                       CastHeader::Router{entry->router->port, entry->router->delay}},
            [this](const std::string &failure) { writeProblem(failure); });
    }
    m_live[Key{info.router, info.number}] = std::move(entry);
}

void SessionRecords::itemSent(const console::SessionInfo &info, std::size_t index, std::string_view item)
{
    Live *session = live(info);
    if (!session || !session->cast)
        return;
    const double t = since(info);
    session->cast->marker(t, "item " + std::to_string(index) + " of " + std::to_string(info.items));
    if (!item.empty())
        session->cast->output(t, item);
}

void SessionRecords::clientTyped(const console::SessionInfo &info, std::string_view chunk)
{
    Live *session = live(info);
    if (!session)
        return;
    session->typed.feed(chunk);
    if (!session->cast)
        return;
    const double t = since(info);
    session->cast->input(t, chunk);
    if (const std::string commands = spellTelnetCommands(chunk); !commands.empty())
        session->cast->marker(t, "Telnet: " + commands);
}

void SessionRecords::clientGone(const console::SessionInfo &info)
{
    if (Live *session = live(info); session && session->cast)
        session->cast->marker(since(info), "client gone");
}

void SessionRecords::sessionEnded(const console::SessionInfo &info, const console::SessionEnd &end)
{
    const auto found = m_live.find(Key{info.router, info.number});
    if (found == m_live.end())
        return;
    Live &session = *found->second;
    session.typed.finish();

    m_last = SessionOutcome{};
    m_last.typed = session.typed.lines();
    m_last.typedCut = session.typed.cut();
    if (session.router->expect) {
        m_last.verdict = session.router->expect->check(m_last.typed);
        m_last.check = m_last.verdict.pass ? SessionOutcome::Check::Pass : SessionOutcome::Check::Fail;
        m_checkFailed = m_checkFailed || !m_last.verdict.pass;
        if (!m_last.verdict.pass && onCheckFailed)
            onCheckFailed(failureReport(info));
    }

    if (session.cast) {
        std::string label = "end: " + std::string(console::reasonName(end.reason)) + ", "
                            + std::to_string(end.itemsSent) + " of " + std::to_string(end.items)
                            + " items sent; verdict " + m_last.verdictName() + "; typed "
                            + typedArray(m_last.typed);
        session.cast->marker(since(info), label);
    }

    if (m_report) {
        JunitCase testCase{info.router, info.number, info.peer, end.seconds, JunitCase::Outcome::Pass,
                           {}, {}, m_last.typed, m_last.typedCut};
        if (end.reason == console::EndReason::Failed) {
            testCase.outcome = JunitCase::Outcome::Error;
            testCase.message = end.failure;
        } else if (m_last.check == SessionOutcome::Check::Fail) {
            testCase.outcome = JunitCase::Outcome::Fail;
            testCase.message = firstDifference(m_last.verdict);
            testCase.details = m_last.verdict.diff;
        }
        if (const std::string failure = m_report->add(testCase); !failure.empty())
            writeProblem(failure);
    }
    m_live.erase(found);   // closes the transcript
}

std::string SessionRecords::failureReport(const console::SessionInfo &info) const
{
    if (m_last.check != SessionOutcome::Check::Fail)
        return {};
    return "zentrel-serve: " + info.router + " session " + std::to_string(info.number) + " from " + info.peer
           + " failed its check, " + firstDifference(m_last.verdict) + "\n" + m_last.verdict.diff;
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

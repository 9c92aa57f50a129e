// command_client.cpp: an epoll loop of non-blocking loopback sessions that type lines and check every reply.
#include "command_client.h"

#include "clock.h"
#include "fleet_client.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <queue>
#include <sys/epoll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zentrel::bench {

namespace {

constexpr std::size_t problemsKept = 5;
// Whatever the router says before its first prompt (Telnet options, a motd).
constexpr std::size_t greetingLimit = 4096;

enum class Stage { Connecting, Greeting, Waiting, Answer, Done };

struct Session
{
    int fd = -1;
    int endpoint = 0;
    int number = 0;
    Stage stage = Stage::Connecting;
    std::string greeting;
    int typed = 0;              // lines sent so far
    std::size_t line = 0;       // the map's line being answered
    std::size_t at = 0;         // bytes of its reply received
    double sentAt = 0;
    double due = 0;             // when the next line is due
    std::string problem;
};

// A few bytes around a difference, for the report.
std::string shown(std::string_view bytes)
{
    return printable(std::string(bytes.substr(0, 40)));
}

class Runner
{
public:
    Runner(const CommandPlan &plan, const CommandMap &map) : m_plan(plan), m_map(map) {}

    CommandResult run();

private:
    void open(int number);
    void onEvent(Session &session, std::uint32_t events);
    void receive(Session &session);
    bool take(Session &session, const char *data, std::size_t size, double at, double arrived);
    void type(Session &session);
    void schedule(Session &session, double due);
    void finish(Session &session, bool exact);
    bool idle() const { return m_plan.lines == 0; }

    const CommandPlan &m_plan;
    const CommandMap &m_map;
    CommandResult m_result;
    std::vector<Address> m_addresses;
    std::vector<Session> m_sessions;
    std::priority_queue<std::pair<double, int>, std::vector<std::pair<double, int>>, std::greater<>> m_due;
    std::vector<char> m_buffer = std::vector<char>(1 << 16);
    double m_offset = realtimeOffset();
    int m_epoll = -1;
    int m_finished = 0;
    int m_greeted = 0;
};

CommandResult Runner::run()
{
    if (!resolveAll(m_plan.endpoints, m_addresses, m_result.problems))
        return m_result;
    const int count = int(m_plan.endpoints.size()) * m_plan.perEndpoint;
    m_result.sessions = count;
    m_sessions.resize(std::size_t(count));
    m_epoll = epoll_create1(EPOLL_CLOEXEC);
    if (m_epoll < 0) {
        m_result.problems.push_back(std::string("epoll_create1: ") + strerror(errno));
        return m_result;
    }
    if (!idle()) {
        m_result.latencies.reserve(std::size_t(count) * std::size_t(m_plan.lines));
        m_result.readLatencies.reserve(m_result.latencies.capacity());
    }
    std::vector<epoll_event> events(1024);
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);   // a wake-up when asked, not 50 us later
    m_result.started = now();
    const double deadline = m_result.started + m_plan.timeout;
    int next = 0;
    bool idleTold = false;
    while (m_finished < count) {
        double t = now();
        if (t >= deadline) {
            m_result.timedOut = true;
            break;
        }
        while (next < count && m_result.started + m_plan.spread * next / count <= t)
            open(next++);
        if (idle() && !idleTold && m_greeted + m_finished == count) {
            idleTold = true;
            if (m_plan.whileIdle)
                m_plan.whileIdle();
            for (Session &session : m_sessions)
                if (session.fd >= 0)
                    finish(session, true);
            continue;
        }
        while (!m_due.empty() && m_due.top().first <= t) {
            Session &session = m_sessions[std::size_t(m_due.top().second)];
            m_due.pop();
            if (session.stage == Stage::Waiting)
                type(session);
        }
        t = now();
        double wait = std::min(deadline - t, 0.1);
        if (next < count)
            wait = std::min(wait, m_result.started + m_plan.spread * next / count - t);
        if (!m_due.empty())
            wait = std::min(wait, m_due.top().first - t);
        // To the microsecond: woken on a millisecond tick, the sessions would
        // type in bursts of ten lines instead of evenly.
        const double until = std::max(0.0, wait);
        timespec timeout{};
        timeout.tv_sec = time_t(until);
        timeout.tv_nsec = long((until - double(timeout.tv_sec)) * 1e9);
        int n = epoll_pwait2(m_epoll, events.data(), int(events.size()), &timeout, nullptr);
        if (n < 0 && errno == ENOSYS)
            n = epoll_wait(m_epoll, events.data(), int(events.size()), std::max(0, int(std::ceil(wait * 1000))));
        if (n < 0 && errno != EINTR) {
            m_result.problems.push_back(std::string("epoll_wait: ") + strerror(errno));
            break;
        }
        for (int i = 0; i < n; ++i)
            onEvent(m_sessions[events[std::size_t(i)].data.u32], events[std::size_t(i)].events);
    }
    for (Session &session : m_sessions) {
        if (session.fd < 0)
            continue;
        session.problem = "not done within " + std::to_string(int(m_plan.timeout)) + " s ("
            + std::to_string(session.typed) + " of " + std::to_string(m_plan.lines) + " lines typed)";
        finish(session, false);
    }
    m_result.finished = now();
    ::close(m_epoll);
    return m_result;
}

void Runner::open(int number)
{
    Session &session = m_sessions[std::size_t(number)];
    session.number = number;
    session.endpoint = number % int(m_plan.endpoints.size());
    const Address &address = m_addresses[std::size_t(session.endpoint)];
    session.fd = ::socket(address.storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (session.fd < 0) {
        session.problem = std::string("socket: ") + strerror(errno);
        finish(session, false);
        return;
    }
    if (::connect(session.fd, reinterpret_cast<const sockaddr *>(&address.storage), address.length) != 0
        && errno != EINPROGRESS) {
        session.problem = std::string("connect: ") + strerror(errno);
        finish(session, false);
        return;
    }
    const int on = 1;
    ::setsockopt(session.fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on);
    epoll_event event{};
    event.events = EPOLLIN | EPOLLRDHUP;
    event.data.u32 = std::uint32_t(number);
    if (epoll_ctl(m_epoll, EPOLL_CTL_ADD, session.fd, &event) != 0) {
        session.problem = std::string("epoll_ctl: ") + strerror(errno);
        finish(session, false);
        return;
    }
    session.stage = Stage::Greeting;
}

void Runner::onEvent(Session &session, std::uint32_t events)
{
    if (session.fd < 0)
        return;
    if (events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR))
        receive(session);
}

void Runner::receive(Session &session)
{
    const Received end = receiveStamped(session.fd, m_buffer, m_offset,
                                        [&](const char *data, std::size_t size, double at, double arrived) {
                                            return take(session, data, size, at, arrived) && session.fd >= 0;
                                        });
    if (end == Received::WouldBlock || session.fd < 0)
        return;
    if (end == Received::Failed)
        session.problem = std::string("receive failed: ") + strerror(errno);
    else if (end == Received::Closed)
        session.problem = "the router closed the session after " + std::to_string(session.typed) + " lines";
    finish(session, false);
}

// False when the bytes are wrong.
bool Runner::take(Session &session, const char *data, std::size_t size, double at, double arrived)
{
    if (session.stage == Stage::Greeting) {
        session.greeting.append(data, size);
        if (session.greeting.size() > greetingLimit) {
            session.problem = "no prompt in the first " + std::to_string(greetingLimit) + " bytes";
            return false;
        }
        const std::string &prompt = m_map.prompt;
        if (session.greeting.size() < prompt.size()
            || session.greeting.compare(session.greeting.size() - prompt.size(), prompt.size(), prompt) != 0)
            return true;
        session.stage = Stage::Waiting;
        ++m_greeted;
        if (!idle()) {
            // Each session at its own phase of the interval, so the lines come evenly.
            const double phase = std::fmod(session.number * 0.6180339887, 1.0);
            schedule(session, at + phase * m_plan.interval);
        }
        return true;
    }
    if (session.stage != Stage::Answer) {
        session.problem = "bytes no line asked for: \"" + shown({data, size}) + "\"";
        return false;
    }
    const std::string &reply = m_map.replies[session.line];
    const std::size_t echo = m_map.echoSize(session.line);
    if (size > reply.size() - session.at || reply.compare(session.at, size, data, size) != 0) {
        std::size_t same = 0;
        while (same < size && session.at + same < reply.size() && reply[session.at + same] == data[same])
            ++same;
        session.problem = "line \"" + m_map.lines[session.line] + "\": at byte " + std::to_string(session.at + same)
            + " of its reply expected \"" + shown(std::string_view(reply).substr(session.at + same)) + "\", got \""
            + shown({data + same, size - same}) + "\"";
        return false;
    }
    if (session.at <= echo && session.at + size > echo) {
        m_result.latencies.push_back((std::isnan(arrived) ? at : arrived) - session.sentAt);
        m_result.readLatencies.push_back(at - session.sentAt);
    }
    session.at += size;
    if (session.at < reply.size())
        return true;
    if (session.typed >= m_plan.lines) {
        finish(session, true);
        return true;
    }
    session.stage = Stage::Waiting;
    schedule(session, std::max(session.due + m_plan.interval, at));
    return true;
}

void Runner::schedule(Session &session, double due)
{
    session.due = due;
    m_due.push({due, session.number});
}

void Runner::type(Session &session)
{
    const std::size_t lines = m_map.lines.size();
    session.line = (std::size_t(session.number) * 7919 + std::size_t(session.typed) * 104729) % lines;
    session.at = 0;
    session.stage = Stage::Answer;
    ++session.typed;
    const std::string text = m_map.lines[session.line] + "\r\n";
    session.sentAt = now();
    const ssize_t sent = ::send(session.fd, text.data(), text.size(), MSG_NOSIGNAL);
    if (sent != ssize_t(text.size())) {
        session.problem = sent < 0 ? std::string("send: ") + strerror(errno) : "a line only partly sent";
        finish(session, false);
    }
}

void Runner::finish(Session &session, bool exact)
{
    if (exact) {
        ++m_result.exact;
    } else {
        ++m_result.wrong;
        if (m_result.problems.size() < problemsKept)
            m_result.problems.push_back("router " + std::to_string(session.endpoint + 1) + " port "
                                        + std::to_string(m_plan.endpoints[std::size_t(session.endpoint)].port)
                                        + ": " + session.problem);
    }
    if (session.stage == Stage::Waiting && idle())
        --m_greeted;
    if (session.fd >= 0)
        ::close(session.fd);
    session.fd = -1;
    session.stage = Stage::Done;
    ++m_finished;
}

} // namespace

CommandResult runCommands(const CommandPlan &plan, const CommandMap &map)
{
    if (plan.endpoints.empty() || map.lines.empty()) {
        CommandResult empty;
        empty.problems.push_back("no router to connect to, or no command to type");
        return empty;
    }
    Runner runner(plan, map);
    return runner.run();
}

} // namespace zentrel::bench

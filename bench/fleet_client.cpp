// fleet_client.cpp: an epoll loop of non-blocking loopback connections that only receive.
#include "fleet_client.h"

#include "clock.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zentrel::bench {

bool resolve(const Endpoint &endpoint, Address &address)
{
    auto *v4 = reinterpret_cast<sockaddr_in *>(&address.storage);
    auto *v6 = reinterpret_cast<sockaddr_in6 *>(&address.storage);
    if (inet_pton(AF_INET, endpoint.host.c_str(), &v4->sin_addr) == 1) {
        v4->sin_family = AF_INET;
        v4->sin_port = htons(std::uint16_t(endpoint.port));
        address.length = sizeof *v4;
        return true;
    }
    if (inet_pton(AF_INET6, endpoint.host.c_str(), &v6->sin6_addr) == 1) {
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(std::uint16_t(endpoint.port));
        address.length = sizeof *v6;
        return true;
    }
    return false;
}

// The kernel's clock for received bytes is the realtime one; the bench's is
// monotonic. Their difference, taken once, turns one into the other.
double realtimeOffset()
{
    timespec real{};
    clock_gettime(CLOCK_REALTIME, &real);
    const double mono = now();
    return double(real.tv_sec) + double(real.tv_nsec) * 1e-9 - mono;
}

Received receiveStamped(int fd, std::vector<char> &buffer, double offset,
                        const std::function<bool(const char *data, std::size_t size, double at, double arrived)> &chunk)
{
    for (;;) {
        iovec io{buffer.data(), buffer.size()};
        alignas(cmsghdr) char control[CMSG_SPACE(sizeof(timespec))];
        msghdr message{};
        message.msg_iov = &io;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof control;
        const ssize_t n = ::recvmsg(fd, &message, 0);
        const double at = now();
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return errno == EAGAIN || errno == EWOULDBLOCK ? Received::WouldBlock : Received::Failed;
        if (n == 0)
            return Received::Closed;
        double arrived = std::nan("");
        for (cmsghdr *c = CMSG_FIRSTHDR(&message); c; c = CMSG_NXTHDR(&message, c)) {
            if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS) {
                timespec stamp{};
                std::memcpy(&stamp, CMSG_DATA(c), sizeof stamp);
                arrived = double(stamp.tv_sec) + double(stamp.tv_nsec) * 1e-9 - offset;
            }
        }
        if (!chunk(buffer.data(), std::size_t(n), at, arrived))
            return Received::Stopped;
    }
}

Received receiveAvailable(int fd, std::vector<char> &buffer,
                          const std::function<bool(const char *data, std::size_t size, double at)> &chunk)
{
    return receiveStamped(fd, buffer, 0,
                          [&](const char *data, std::size_t size, double at, double) { return chunk(data, size, at); });
}

bool resolveAll(const std::vector<Endpoint> &endpoints, std::vector<Address> &addresses,
                std::vector<std::string> &problems)
{
    for (const Endpoint &endpoint : endpoints) {
        addresses.emplace_back();
        if (!resolve(endpoint, addresses.back())) {
            problems.push_back("bad address " + endpoint.host);
            return false;
        }
    }
    return true;
}

namespace {

constexpr std::size_t problemsKept = 5;

struct Slot
{
    int fd = -1;
    int endpoint = 0;
    int record = -1;            // index into the result's connections, sessions mode only
    bool connected = false;
    double connectedAt = 0;
    std::size_t received = 0;
    std::size_t nextItem = 0;
    std::string problem;
};

class Runner
{
public:
    Runner(const FleetPlan &plan, const Script &script) : m_plan(plan), m_script(script) {}

    FleetResult run();

private:
    void startOne(int sequence);
    void onEvent(int slotIndex, std::uint32_t events);
    void receive(Slot &slot);
    void finish(Slot &slot, bool sawEnd);
    int planned() const
    {
        return m_plan.total > 0 ? m_plan.total : int(m_plan.endpoints.size()) * m_plan.perEndpoint;
    }

    const FleetPlan &m_plan;
    const Script &m_script;
    FleetResult m_result;
    std::vector<Address> m_addresses;
    std::vector<Slot> m_slots;
    std::vector<int> m_free;
    std::vector<char> m_buffer = std::vector<char>(1 << 16);
    int m_epoll = -1;
    int m_open = 0;
    int m_finished = 0;
};

FleetResult Runner::run()
{
    if (!resolveAll(m_plan.endpoints, m_addresses, m_result.problems))
        return m_result;
    const int count = planned();
    const bool rateMode = m_plan.total > 0;
    const int pool = rateMode ? std::max(1, m_plan.inFlight) : count;
    m_slots.resize(std::size_t(pool));
    for (int i = pool - 1; i >= 0; --i)
        m_free.push_back(i);
    if (!rateMode)
        m_result.connections.resize(std::size_t(count));

    m_epoll = epoll_create1(EPOLL_CLOEXEC);
    if (m_epoll < 0) {
        m_result.problems.push_back(std::string("epoll_create1: ") + strerror(errno));
        return m_result;
    }
    std::vector<epoll_event> events(1024);
    m_result.started = now();
    const double deadline = m_result.started + m_plan.timeout;
    int next = 0;
    while (m_finished < count) {
        const double t = now();
        if (t >= deadline) {
            m_result.timedOut = true;
            break;
        }
        if (rateMode) {
            while (m_open < pool && next < count)
                startOne(next++);
        } else {
            while (next < count && m_result.started + m_plan.spread * next / count <= t)
                startOne(next++);
        }
        double wait = deadline - t;
        if (!rateMode && next < count)
            wait = std::min(wait, m_result.started + m_plan.spread * next / count - t);
        const int ms = std::max(0, int(std::ceil(std::min(wait, 0.1) * 1000)));
        const int n = epoll_wait(m_epoll, events.data(), int(events.size()), ms);
        if (n < 0 && errno != EINTR) {
            m_result.problems.push_back(std::string("epoll_wait: ") + strerror(errno));
            break;
        }
        for (int i = 0; i < n; ++i)
            onEvent(int(events[std::size_t(i)].data.u32), events[std::size_t(i)].events);
    }
    for (Slot &slot : m_slots) {
        if (slot.fd < 0)
            continue;
        slot.problem = "no end of stream within " + std::to_string(int(m_plan.timeout)) + " s ("
            + std::to_string(slot.received) + " of " + std::to_string(m_script.wire.size()) + " bytes)";
        finish(slot, false);
    }
    m_result.finished = now();
    ::close(m_epoll);
    return m_result;
}

void Runner::startOne(int sequence)
{
    const int slotIndex = m_free.back();
    m_free.pop_back();
    Slot &slot = m_slots[std::size_t(slotIndex)];
    slot = Slot{};
    slot.endpoint = sequence % int(m_plan.endpoints.size());
    ++m_open;
    ++m_result.made;
    if (!m_result.connections.empty()) {
        slot.record = sequence;
        m_result.connections[std::size_t(sequence)].endpoint = slot.endpoint;
        if (m_plan.wantArrivals)
            m_result.connections[std::size_t(sequence)].arrivals.reserve(m_script.items());
    }
    const Address &address = m_addresses[std::size_t(slot.endpoint)];
    slot.fd = ::socket(address.storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (slot.fd < 0) {
        slot.problem = std::string("socket: ") + strerror(errno);
        finish(slot, false);
        return;
    }
    if (slot.record >= 0)
        m_result.connections[std::size_t(slot.record)].dialled = now();
    const int done = ::connect(slot.fd, reinterpret_cast<const sockaddr *>(&address.storage), address.length);
    if (done != 0 && errno != EINPROGRESS) {
        slot.problem = std::string("connect: ") + strerror(errno);
        finish(slot, false);
        return;
    }
    if (slot.record >= 0) {
        sockaddr_storage local{};
        socklen_t length = sizeof local;
        if (getsockname(slot.fd, reinterpret_cast<sockaddr *>(&local), &length) == 0)
            m_result.connections[std::size_t(slot.record)].localPort = local.ss_family == AF_INET
                ? ntohs(reinterpret_cast<sockaddr_in *>(&local)->sin_port)
                : ntohs(reinterpret_cast<sockaddr_in6 *>(&local)->sin6_port);
    }
    slot.connected = done == 0;
    slot.connectedAt = now();
    epoll_event event{};
    event.events = EPOLLIN | EPOLLRDHUP | (slot.connected ? 0u : unsigned(EPOLLOUT));
    event.data.u32 = std::uint32_t(slotIndex);
    if (epoll_ctl(m_epoll, EPOLL_CTL_ADD, slot.fd, &event) != 0) {
        slot.problem = std::string("epoll_ctl: ") + strerror(errno);
        finish(slot, false);
    }
}

void Runner::onEvent(int slotIndex, std::uint32_t events)
{
    Slot &slot = m_slots[std::size_t(slotIndex)];
    if (slot.fd < 0)
        return;
    if (!slot.connected) {
        int error = 0;
        socklen_t length = sizeof error;
        getsockopt(slot.fd, SOL_SOCKET, SO_ERROR, &error, &length);
        if (error != 0) {
            slot.problem = std::string("connect: ") + strerror(error);
            finish(slot, false);
            return;
        }
        slot.connected = true;
        slot.connectedAt = now();
        epoll_event event{};
        event.events = EPOLLIN | EPOLLRDHUP;
        event.data.u32 = std::uint32_t(slotIndex);
        epoll_ctl(m_epoll, EPOLL_CTL_MOD, slot.fd, &event);
    }
    if (events & (EPOLLIN | EPOLLRDHUP | EPOLLHUP | EPOLLERR))
        receive(slot);
}

void Runner::receive(Slot &slot)
{
    const Received end = receiveAvailable(slot.fd, m_buffer, [&](const char *data, std::size_t size, double at) {
        const std::size_t offset = slot.received;
        slot.received += size;
        if (slot.problem.empty())
            slot.problem = checkChunk(m_script, offset, data, size);
        if (slot.record >= 0 && m_plan.wantArrivals) {
            auto &arrivals = m_result.connections[std::size_t(slot.record)].arrivals;
            while (slot.nextItem < m_script.items() && m_script.itemEnds[slot.nextItem] <= slot.received) {
                arrivals.push_back(at);
                ++slot.nextItem;
            }
        }
        return true;
    });
    if (end == Received::Failed && slot.problem.empty())
        slot.problem = "receive failed after " + std::to_string(slot.received) + " bytes: " + strerror(errno);
    if (end != Received::WouldBlock)
        finish(slot, end == Received::Closed);
}

void Runner::finish(Slot &slot, bool sawEnd)
{
    if (sawEnd && slot.problem.empty() && slot.received < m_script.wire.size())
        slot.problem = "connection closed after " + std::to_string(slot.received) + " of "
            + std::to_string(m_script.wire.size()) + " bytes";
    const bool exact = sawEnd && slot.problem.empty();
    if (exact) {
        ++m_result.exact;
    } else {
        ++m_result.wrong;
        if (m_result.problems.size() < problemsKept)
            m_result.problems.push_back("router " + std::to_string(slot.endpoint + 1) + " port "
                                        + std::to_string(m_plan.endpoints[std::size_t(slot.endpoint)].port)
                                        + ": " + slot.problem);
    }
    if (slot.record >= 0) {
        FleetConnection &record = m_result.connections[std::size_t(slot.record)];
        record.connected = slot.connectedAt;
        record.ended = now();
        record.exact = exact;
    }
    if (slot.fd >= 0)
        ::close(slot.fd);   // closing drops it from the epoll set too
    slot.fd = -1;
    --m_open;
    ++m_finished;
    m_free.push_back(int(&slot - m_slots.data()));
}

} // namespace

FleetResult runFleet(const FleetPlan &plan, const Script &script)
{
    if (plan.endpoints.empty()) {
        FleetResult empty;
        empty.problems.push_back("no router to connect to");
        return empty;
    }
    Runner runner(plan, script);
    return runner.run();
}

long raiseDescriptorLimit()
{
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0)
        return -1;
    if (limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
        getrlimit(RLIMIT_NOFILE, &limit);
    }
    return long(limit.rlim_cur);
}

} // namespace zentrel::bench

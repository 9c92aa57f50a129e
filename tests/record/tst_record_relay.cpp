// tst_record_relay.cpp: the relay on real loopback sockets: floods, back-pressure, closes, no router.
#include "record/relay.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <string>

using zentrel::platform::PosixLoop;
using zentrel::record::Relay;

namespace {

constexpr std::size_t Capacity = 4096;

int listenerOnLoopback(sockaddr_storage &address, socklen_t &length)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in in{};
    in.sin_family = AF_INET;
    in.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr *>(&in), sizeof in), 0);
    EXPECT_EQ(::listen(fd, 4), 0);
    length = sizeof address;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
    return fd;
}

// A connected pair over loopback TCP: [0] is the peer, [1] the accepted end.
void tcpPair(int fds[2])
{
    sockaddr_storage address{};
    socklen_t length = 0;
    const int listener = listenerOnLoopback(address, length);
    fds[0] = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_EQ(::connect(fds[0], reinterpret_cast<sockaddr *>(&address), length), 0);
    fds[1] = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    ::close(listener);
}

void nonBlocking(int fd)
{
    const int one = 1;
    ::ioctl(fd, FIONBIO, &one);
}

// One end of the test, driven from the loop: writes `out`, collects what comes.
struct End {
    End(PosixLoop &l, int f, std::string o) : loop(l), fd(f), out(std::move(o)) {}
    PosixLoop &loop;
    int fd;
    std::string out;
    std::size_t sent = 0;
    std::string in;
    bool reading = true;
    bool closed = false;

    void arm()
    {
        const std::uint32_t events = (reading && !closed ? std::uint32_t(EPOLLIN) : 0u)
                                    | (sent < out.size() ? std::uint32_t(EPOLLOUT) : 0u);
        if (loop.watching(fd))
            loop.modify(fd, events);
        else
            loop.watch(fd, events, [this](std::uint32_t ready) { onReady(ready); });
    }
    void onReady(std::uint32_t ready)
    {
        if (ready & EPOLLOUT) {
            const ssize_t n = ::send(fd, out.data() + sent, std::min<std::size_t>(out.size() - sent, 65536),
                                     MSG_NOSIGNAL);
            if (n > 0)
                sent += std::size_t(n);
        }
        if ((ready & (EPOLLIN | EPOLLHUP)) && reading) {
            char buffer[65536];
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n > 0)
                in.append(buffer, std::size_t(n));
            else if (n == 0)
                closed = true;
        }
        arm();
    }
};

std::string pattern(std::size_t size, int seed)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = char((i * 131 + seed) % 251);
    return bytes;
}

} // namespace

TEST(RecordRelay, floodsBothWaysArriveWholeWithBoundedQueues)
{
    PosixLoop loop;
    int clientPair[2];
    tcpPair(clientPair);
    sockaddr_storage routerAddress{};
    socklen_t length = 0;
    const int routerListener = listenerOnLoopback(routerAddress, length);

    std::string fromClient, fromRouter;
    std::size_t maxQueued = 0;
    std::string why;
    std::unique_ptr<Relay> relay;
    Relay::Events events;
    events.fromClient = [&](double, std::string_view b) { fromClient += b; maxQueued = std::max(maxQueued, relay->queued()); };
    events.fromRouter = [&](double, std::string_view b) { fromRouter += b; maxQueued = std::max(maxQueued, relay->queued()); };
    events.ended = [&](const std::string &w, bool failure) {
        why = w;
        EXPECT_FALSE(failure);
        loop.post([&] { loop.quit(); });
    };
    relay = std::make_unique<Relay>(loop, clientPair[1], events, Capacity);
    relay->start(routerAddress, length);

    nonBlocking(clientPair[0]);
    End client(loop, clientPair[0], pattern(3 << 20, 1));
    client.arm();
    std::unique_ptr<End> router;
    loop.watch(routerListener, EPOLLIN, [&](std::uint32_t) {
        const int fd = ::accept4(routerListener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        loop.unwatch(routerListener);
        router = std::make_unique<End>(loop, fd, pattern(2 << 20, 7));
        router->reading = false;   // a router that does not read for a while
        router->arm();
        loop.at(loop.now() + 0.3, [&] {
            router->reading = true;
            router->arm();
        });
    });
    // The router closes once it has everything; the relay then ends after
    // the last of its output reached the client.
    std::function<void()> check = [&] {
        if (router && router->in.size() == client.out.size() && router->sent == router->out.size()) {
            loop.unwatch(router->fd);
            ::close(router->fd);
            return;
        }
        loop.at(loop.now() + 0.01, check);
    };
    loop.at(loop.now() + 0.01, check);
    loop.at(loop.now() + 30, [&] { ADD_FAILURE() << "relay still running"; loop.quit(); });
    loop.run();
    // What the client still has in flight after the relay closed.
    while (!client.closed)
        loop.runOnce(1);

    EXPECT_EQ(why, "the router closed the connection");
    EXPECT_TRUE(router->in == client.out) << router->in.size() << " of " << client.out.size();
    EXPECT_TRUE(client.in == router->out) << client.in.size() << " of " << router->out.size();
    EXPECT_TRUE(fromClient == client.out);
    EXPECT_TRUE(fromRouter == router->out);
    EXPECT_LE(maxQueued, 2 * Capacity);
    ::close(clientPair[0]);
    ::close(routerListener);
}

TEST(RecordRelay, clientThatClosesFirstStillHearsTheRouterOut)
{
    PosixLoop loop;
    int clientPair[2];
    tcpPair(clientPair);
    sockaddr_storage routerAddress{};
    socklen_t length = 0;
    const int routerListener = listenerOnLoopback(routerAddress, length);
    std::string why, recorded;
    Relay::Events events;
    events.fromRouter = [&](double, std::string_view b) { recorded += b; };
    events.ended = [&](const std::string &w, bool) { why = w; loop.post([&] { loop.quit(); }); };
    Relay relay(loop, clientPair[1], events, Capacity);
    relay.start(routerAddress, length);

    ASSERT_EQ(::send(clientPair[0], "exit\r\n", 6, 0), 6);
    ::shutdown(clientPair[0], SHUT_WR);
    const int router = ::accept4(routerListener, nullptr, nullptr, SOCK_CLOEXEC);
    loop.at(loop.now() + 0.2, [&] {
        char buffer[16];
        EXPECT_EQ(::recv(router, buffer, sizeof buffer, MSG_WAITALL), 6);
        EXPECT_EQ(::recv(router, buffer, sizeof buffer, 0), 0) << "the client's close is passed on";
        EXPECT_EQ(::send(router, "bye\r\n", 5, 0), 5);
        ::close(router);
    });
    loop.at(loop.now() + 10, [&] { ADD_FAILURE() << "relay still running"; loop.quit(); });
    loop.run();
    EXPECT_EQ(recorded, "bye\r\n");
    EXPECT_EQ(why, "the client closed the connection");
    char buffer[16];
    EXPECT_EQ(::recv(clientPair[0], buffer, sizeof buffer, MSG_WAITALL), 5);
    ::close(clientPair[0]);
    ::close(routerListener);
}

TEST(RecordRelay, routerThatCannotBeReachedClosesTheClient)
{
    PosixLoop loop;
    int clientPair[2];
    tcpPair(clientPair);
    sockaddr_storage nowhere{};
    socklen_t length = 0;
    ::close(listenerOnLoopback(nowhere, length));   // a port nobody listens on

    std::string why;
    bool failed = false, connected = false;
    Relay::Events events;
    events.connected = [&] { connected = true; };
    events.ended = [&](const std::string &w, bool failure) {
        why = w;
        failed = failure;
        loop.post([&] { loop.quit(); });
    };
    Relay relay(loop, clientPair[1], events, Capacity);
    relay.start(nowhere, length);
    loop.at(loop.now() + 10, [&] { loop.quit(); });
    loop.run();
    EXPECT_TRUE(failed);
    EXPECT_FALSE(connected);
    EXPECT_NE(why.find("Connection refused"), std::string::npos) << why;
    char byte;
    EXPECT_EQ(::recv(clientPair[0], &byte, 1, 0), 0);
    ::close(clientPair[0]);
}

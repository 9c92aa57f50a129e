// tst_tcp.cpp: the TCP listener and connection on loopback, against plain client sockets.
#include "platform/error.h"
#include "platform/posix/posix_loop.h"
#include "platform/posix/socket_address.h"
#include "platform/posix/tcp_connection.h"
#include "platform/posix/tcp_listener.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

using namespace zentrel::platform;
using zentrel::console::Connection;

namespace {

// A loopback client, its descriptor non-blocking so that one thread drives both ends.
int connectTo(int port, bool v6 = false, int receiveBuffer = 0)
{
    SocketAddress address;
    EXPECT_TRUE(address.parse(v6 ? "::1" : "127.0.0.1", port));
    const int fd = ::socket(address.family(), SOCK_STREAM, 0);
    if (receiveBuffer)   // before connecting, so that the window stays small
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    EXPECT_EQ(::connect(fd, address.get(), address.length()), 0);
    return fd;
}

// Runs the loop until the condition holds; false after 10 s.
bool runUntil(PosixLoop &loop, const std::function<bool()> &done)
{
    const double giveUp = loop.now() + 10;
    while (!done()) {
        if (loop.now() > giveUp)
            return false;
        loop.runOnce(0.005);
    }
    return true;
}

// What the client has read so far; `eof` once the server's side was shut.
struct Reader {
    explicit Reader(int fd) : fd(fd) {}
    int fd;
    std::string got;
    bool eof = false;
    bool reset = false;
    bool poll()
    {
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
            if (n > 0)
                got.append(buffer, std::size_t(n));
            else {
                eof = n == 0;
                reset = n < 0 && errno == ECONNRESET;
                return eof || reset;
            }
        }
    }
};

std::string pattern(std::size_t size)
{
    std::string bytes(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + i / 251) & 0xff);
    return bytes;
}

// One listener on 127.0.0.1 port 0 whose accepted clients become TcpConnections.
struct Server {
    PosixLoop loop;
    std::vector<std::unique_ptr<TcpConnection>> accepted;
    std::vector<std::string> peers;
    TcpListener listener{loop, "127.0.0.1", 0, [this](int fd, std::string peer) {
        peers.push_back(peer);
        accepted.push_back(std::make_unique<TcpConnection>(loop, fd, peer));
    }};
    TcpConnection &waitForClient(std::size_t count = 1)
    {
        EXPECT_TRUE(runUntil(loop, [&] { return accepted.size() >= count; }));
        return *accepted.at(count - 1);
    }
};

} // namespace

TEST(TcpListener, portsItCannotTakeAreInvalidPropertyValues)
{
    PosixLoop loop;
    TcpListener first(loop, "127.0.0.1", 0, [](int fd, std::string) { ::close(fd); });
    ASSERT_GT(first.port(), 0);
    EXPECT_EQ(first.address(), "127.0.0.1");
    const auto refused = [&](const std::string &address, int port, const std::string &reason) {
        try {
            TcpListener second(loop, address, port, [](int fd, std::string) { ::close(fd); });
            ADD_FAILURE() << address << " port " << port << " was taken";
        } catch (const Error &error) {
            EXPECT_EQ(error.code(), InvalidPropertyValue);
            EXPECT_NE(std::string(error.what()).find(reason), std::string::npos) << error.what();
        }
    };
    refused("127.0.0.1", first.port(), "in use");
    refused("127.0.0.1", 65536, "outside 0 to 65535");
    refused("localhost", 0, "not an IPv4 or IPv6 address");
    refused("192.0.2.1", 0, "assign");   // not an address of this machine
}

TEST(TcpListener, acceptsOverIpv6AndNamesThePeer)
{
    PosixLoop loop;
    std::vector<std::string> peers;
    TcpListener listener(loop, "[::1]", 0, [&](int fd, std::string peer) {
        peers.push_back(peer);
        ::close(fd);
    });
    const int client = connectTo(listener.port(), true);
    ASSERT_TRUE(runUntil(loop, [&] { return !peers.empty(); }));
    SocketAddress local;
    getsockname(client, local.buffer(), local.capacity());
    EXPECT_EQ(peers[0], local.peer());
    EXPECT_EQ(peers[0].rfind("[::1]:", 0), 0u) << peers[0];
    ::close(client);
}

TEST(TcpListener, outOfDescriptorsItWaitsAndServesLaterClients)
{
    rlimit saved;
    getrlimit(RLIMIT_NOFILE, &saved);
    Server server;
    std::string told;
    int reports = 0;
    server.listener.setReport([&](const std::string &text) { told = text, ++reports; });

    // A first client served in full while descriptors are plentiful. Besides
    // being the usual case (short of descriptors while already serving), it
    // lets a sanitizer make its one-time checks of these paths now: it opens
    // a pipe for each, and under the tight limit that would fail as a false
    // report of its own.
    std::vector<int> clients{connectTo(server.listener.port())};
    TcpConnection &first = server.waitForClient();
    std::string typed;
    first.setEvents({.data = [&](std::string_view chunk) { typed.append(chunk); }});
    ASSERT_EQ(::send(clients[0], "x", 1, 0), 1);
    EXPECT_TRUE(runUntil(server.loop, [&] { return typed == "x"; }));
    server.loop.yieldUntil(server.loop.now() + 0.01);

    // Room for the clients but not for the server's side of them.
    for (int i = 0; i < 6; ++i)
        clients.push_back(connectTo(server.listener.port()));
    int spare = ::dup(0);
    rlimit tight = saved;
    tight.rlim_cur = rlim_t(spare + 1);   // at most one more descriptor
    ::close(spare);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &tight), 0);
    EXPECT_TRUE(runUntil(server.loop, [&] { return reports > 0; }));
    EXPECT_EQ(server.accepted.size(), 2u);
    server.loop.yieldUntil(server.loop.now() + 0.2);   // several retries, still short
    EXPECT_EQ(reports, 1) << told;
    EXPECT_NE(told.find("descriptors"), std::string::npos) << told;

    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);
    EXPECT_TRUE(runUntil(server.loop, [&] { return server.accepted.size() == clients.size(); }));
    for (int fd : clients)
        ::close(fd);
}

TEST(TcpConnection, bytesArriveExactlyBothWays)
{
    Server server;
    const int client = connectTo(server.listener.port());
    TcpConnection &connection = server.waitForClient();
    EXPECT_EQ(connection.peer(), server.peers[0]);
    std::string received;
    int chunks = 0;
    connection.setEvents({.data = [&](std::string_view chunk) {
        EXPECT_FALSE(chunk.empty());
        EXPECT_LE(chunk.size(), 64u * 1024);
        received.append(chunk), ++chunks;
    }});

    const std::string up = pattern(300 * 1024);
    for (std::size_t at = 0; at < up.size();) {
        const ssize_t n = ::send(client, up.data() + at, up.size() - at, MSG_DONTWAIT);
        at += n > 0 ? std::size_t(n) : 0;
        server.loop.runOnce(0);
    }
    ASSERT_TRUE(runUntil(server.loop, [&] { return received.size() == up.size(); }));
    EXPECT_EQ(received, up);
    EXPECT_GE(chunks, 5);

    const std::string down = pattern(2 * 1024 * 1024);
    for (std::size_t at = 0; at < down.size(); at += 1000)
        connection.send(std::string_view(down).substr(at, 1000));
    Reader reader{client};
    ASSERT_TRUE(runUntil(server.loop, [&] { return reader.poll(), reader.got.size() >= down.size(); }));
    EXPECT_EQ(reader.got, down);
    ::close(client);
}

// An echo and an answer due at once leave in one write as the handler
// returns, also when the handler closes: the client has nothing before.
TEST(TcpConnection, whatTheDataHandlerSendsLeavesTogetherWhenItReturns)
{
    Server server;
    const int client = connectTo(server.listener.port());
    TcpConnection &connection = server.waitForClient();
    std::string early;
    connection.setEvents({.data = [&](std::string_view line) {
        connection.send(line);
        Reader during{client};
        during.poll();
        early += during.got;
        connection.send("answer\r\nR1#");
        if (line == "exit\r\n")
            connection.close();
    }});
    ASSERT_EQ(::send(client, "show\r\n", 6, 0), 6);
    Reader reader{client};
    ASSERT_TRUE(runUntil(server.loop, [&] { return reader.poll(), reader.got.size() >= 17; }));
    EXPECT_EQ(reader.got, "show\r\nanswer\r\nR1#");
    ASSERT_EQ(::send(client, "exit\r\n", 6, 0), 6);
    ASSERT_TRUE(runUntil(server.loop, [&] { return reader.poll(); }));
    EXPECT_TRUE(reader.eof);
    EXPECT_EQ(reader.got, "show\r\nanswer\r\nR1#exit\r\nanswer\r\nR1#");
    EXPECT_EQ(early, "");
    ::close(client);
}

TEST(TcpConnection, aClientThatShutsItsSendingSideStillGetsTheRest)
{
    Server server;
    const int client = connectTo(server.listener.port());
    TcpConnection &connection = server.waitForClient();
    std::string typed;
    bool ended = false, gone = false;
    connection.setEvents({.data = [&](std::string_view chunk) { typed.append(chunk); },
                          .gone = [&] { gone = true; },
                          .ended = [&] { ended = true; }});
    ASSERT_EQ(::send(client, "admin\r\n", 7, 0), 7);
    ::shutdown(client, SHUT_WR);
    ASSERT_TRUE(runUntil(server.loop, [&] { return ended; }));
    EXPECT_EQ(typed, "admin\r\n");

    connection.send("Router>");
    server.loop.yieldUntil(server.loop.now() + 0.05);
    connection.send("Password:");
    connection.close();
    Reader reader{client};
    ASSERT_TRUE(runUntil(server.loop, [&] { return reader.poll(); }));
    EXPECT_TRUE(reader.eof);
    EXPECT_EQ(reader.got, "Router>Password:");
    EXPECT_FALSE(gone);
    ::close(client);
}

TEST(TcpConnection, aSlowReaderFillsTheQueueAndDrainedComesOnce)
{
    Server server;
    const int client = connectTo(server.listener.port(), false, 4096);
    TcpConnection &connection = server.waitForClient();
    int drained = 0;
    connection.setEvents({.drained = [&] { ++drained; }});

    std::string sent;
    const std::string piece = pattern(4096);
    while (connection.queued() <= Connection::HighWater) {
        connection.send(piece);
        sent += piece;
    }
    server.loop.yieldUntil(server.loop.now() + 0.05);
    EXPECT_EQ(drained, 0) << "the client has not read anything yet";
    EXPECT_GT(connection.queued(), Connection::LowWater);

    Reader reader{client};
    ASSERT_TRUE(runUntil(server.loop, [&] { return reader.poll(), reader.got.size() == sent.size(); }));
    EXPECT_EQ(reader.got, sent);
    EXPECT_EQ(connection.queued(), 0u);
    EXPECT_EQ(drained, 1);
    ::close(client);
}

TEST(TcpConnection, aResetClientIsGoneAndLaterSendsAreDropped)
{
    Server server;
    const int client = connectTo(server.listener.port());
    TcpConnection &connection = server.waitForClient();
    int gone = 0;
    bool insideSend = false;
    connection.setEvents({.gone = [&] {
        EXPECT_FALSE(insideSend) << "events come from the loop";
        ++gone;
    }});
    const linger abort{1, 0};
    ::setsockopt(client, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    ::close(client);   // sends a reset

    // Whichever notices first, the loop or a send, the event comes once.
    insideSend = true;
    connection.send("Router>");
    insideSend = false;
    ASSERT_TRUE(runUntil(server.loop, [&] { return gone > 0; }));
    EXPECT_TRUE(connection.isGone());
    insideSend = true;
    connection.send("more");
    insideSend = false;
    server.loop.yieldUntil(server.loop.now() + 0.02);
    EXPECT_EQ(gone, 1);
    EXPECT_EQ(connection.queued(), 0u);
}

TEST(TcpConnection, closeDeliversEverythingEvenWhenDestroyedAtOnce)
{
    Server server;
    const int client = connectTo(server.listener.port(), false, 4096);
    server.waitForClient();
    const std::string script = pattern(3 * 1024 * 1024 + 17);
    server.accepted[0]->send(script);
    EXPECT_GT(server.accepted[0]->queued(), 0u);
    server.accepted[0]->close();
    server.accepted.clear();
    EXPECT_EQ(server.loop.lingering(), 1u);

    Reader reader{client};
    ASSERT_TRUE(runUntil(server.loop, [&] { return reader.poll(); }));
    EXPECT_TRUE(reader.eof);
    EXPECT_EQ(reader.got.size(), script.size());
    EXPECT_EQ(reader.got, script);
    ::close(client);
    EXPECT_TRUE(runUntil(server.loop, [&] { return server.loop.lingering() == 0; }))
        << "the descriptor goes once the client has closed too";
}

TEST(TcpConnection, heldInputWaitsInTheKernelUntilLetGo)
{
    Server server;
    const int client = connectTo(server.listener.port());
    TcpConnection &connection = server.waitForClient();
    std::size_t heard = 0;
    connection.setEvents({.data = [&](std::string_view chunk) { heard += chunk.size(); }});
    connection.holdInput(true);
    const std::string block(64 * 1024, 'x');
    std::size_t sent = 0;
    for (;;) {
        const ssize_t n = ::send(client, block.data(), block.size(), MSG_DONTWAIT);
        if (n <= 0)
            break;
        sent += std::size_t(n);
        server.loop.runOnce(0);
    }
    server.loop.yieldUntil(server.loop.now() + 0.05);
    EXPECT_EQ(heard, 0u) << "nothing read while held";
    EXPECT_GT(sent, 0u);
    EXPECT_LT(sent, 256u * 1024 * 1024) << "the client was stopped by the kernel";
    connection.holdInput(false);
    EXPECT_TRUE(runUntil(server.loop, [&] { return heard == sent; }));
    ::close(client);
}

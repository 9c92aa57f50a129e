// tst_router.cpp: one router's clients: who is served when, who waits, who is dropped, and when it is idle.
#include "console/router.h"
#include "platform/error.h"
#include "tests/engine/fake_connection.h"
#include "tests/support/fake_loop.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

using namespace zentrel::console;
using zentrel::platform::Error;
using zentrel::testing::FakeConnection;
using zentrel::tests::FakeEventLoop;

namespace {

// Each session by its peer: when it started, what it was told.
struct Seen {
    double startedAt = 0;
    std::vector<std::string> lines;
    std::vector<std::string> warnings;
    std::optional<SessionEnd> end;
};

class Sessions : public SessionObserver
{
public:
    explicit Sessions(FakeEventLoop &loop) : m_loop(loop) {}

    std::unique_ptr<SessionSink> sessionStarted(const SessionInfo &info) override
    {
        order.push_back(info.peer);
        Seen &seen = byPeer[info.peer];
        seen.startedAt = m_loop.now();
        return std::make_unique<Sink>(seen);
    }

    std::vector<std::string> order;   // peers in the order their sessions started
    std::map<std::string, Seen> byPeer;

private:
    class Sink : public SessionSink
    {
    public:
        explicit Sink(Seen &seen) : m_seen(seen) {}
        void typed(const Typed &typed) override
        {
            for (const TypedLine &line : typed.lines)
                m_seen.lines.push_back(line.text);
        }
        void warning(std::string_view text) override { m_seen.warnings.emplace_back(text); }
        void ended(const SessionEnd &end) override { m_seen.end = end; }

    private:
        Seen &m_seen;
    };

    FakeEventLoop &m_loop;
};

class Routing : public ::testing::Test
{
protected:
    // Two items a second apart: a session lasts two seconds.
    void build(std::size_t maxSessions = 1, Pace pace = Pace::Clock)
    {
        RouterSetup setup;
        setup.name = "r1";
        setup.maxSessions = maxSessions;
        setup.delay = [] { return 1.0; };
        setup.pace = pace;
        setup.script = [this]() -> ScriptPtr {
            if (scriptFailure)
                throw Error(std::exchange(scriptFailure, 0), "cannot open RESPONSE.TXT");
            return std::make_shared<Script>(std::vector<std::string>{"a", "b"});
        };
        setup.sessionEnded = [this] { ++ended; };
        setup.idle = [this] { ++idle; };
        router = std::make_unique<Router>(loop, sessions, std::move(setup));
    }

    FakeConnection *connect(const std::string &peer)
    {
        auto connection = std::make_unique<FakeConnection>();
        FakeConnection *client = connection.get();
        clients[peer] = client;
        closedFlags[peer] = client->closedFlag();
        router->connected(std::move(connection), peer);
        return client;
    }
    // Whether the client's connection was closed, also once the router has destroyed it.
    bool closed(const std::string &peer) const { return *closedFlags.at(peer); }

    FakeEventLoop loop;
    Sessions sessions{loop};
    std::unique_ptr<Router> router;
    std::map<std::string, FakeConnection *> clients;   // owned by the router's sessions or its queue
    std::map<std::string, std::shared_ptr<const bool>> closedFlags;
    int scriptFailure = 0;
    int ended = 0;
    int idle = 0;
};

TEST_F(Routing, clientsAreServedOneAfterTheOtherInArrivalOrder)
{
    build();
    connect("c1");
    loop.advance(0.5);
    connect("c2");
    connect("c3");
    EXPECT_EQ(router->active(), 1u);
    EXPECT_EQ(router->waiting(), 2u);
    loop.advance(10);
    EXPECT_EQ(sessions.order, (std::vector<std::string>{"c1", "c2", "c3"}));
    EXPECT_DOUBLE_EQ(sessions.byPeer["c2"].startedAt, loop.now() - 10 + 1.5) << "right after c1's end";
    EXPECT_DOUBLE_EQ(sessions.byPeer["c3"].startedAt, loop.now() - 10 + 3.5);
    EXPECT_EQ(ended, 3);
    EXPECT_EQ(idle, 0) << "a router still listening is not idle";
}

TEST_F(Routing, sessionsAtTheSameTimeUpToTheLimit)
{
    build(2);
    for (const char *peer : {"c1", "c2", "c3"})
        connect(peer);
    EXPECT_EQ(router->active(), 2u);
    EXPECT_EQ(router->waiting(), 1u);
    loop.advance(2.5);
    EXPECT_EQ(sessions.order.size(), 3u);
    EXPECT_EQ(router->active(), 1u);
}

TEST_F(Routing, whatAWaitingClientTypesIsHandedToItsSession)
{
    build();
    connect("c1");
    FakeConnection *waiting = connect("c2");
    waiting->type("show ");
    waiting->type("version\r\nexit");
    EXPECT_TRUE(sessions.byPeer["c2"].lines.empty());
    loop.advance(10);
    EXPECT_EQ(sessions.byPeer["c2"].lines, (std::vector<std::string>{"show version", "exit"}));
}

TEST_F(Routing, aWaitingClientThatTypesTooMuchIsHeldNotCut)
{
    build();
    connect("c1");
    FakeConnection *waiting = connect("c2");
    const std::string chunk(16 * 1024, 'x');
    std::size_t typed = 0;
    while (!waiting->held()) {
        waiting->type(chunk);
        typed += chunk.size();
    }
    EXPECT_EQ(typed, Router::EarlyInputLimit);
    loop.advance(2);
    EXPECT_FALSE(waiting->held()) << "its session reads it again";
    waiting->type("\r");
    loop.advance(10);
    ASSERT_EQ(sessions.byPeer["c2"].lines.size(), 1u);
    EXPECT_EQ(sessions.byPeer["c2"].lines[0].size(), typed);
}

TEST_F(Routing, aWaitingClientThatLeavesIsDroppedUnserved)
{
    build();
    connect("c1");
    FakeConnection *leaving = connect("c2");
    connect("c3");
    FakeConnection *quiet = connect("c4");
    FakeConnection *saidSomething = connect("c5");
    leaving->leave();
    quiet->stopTyping();              // shut its sending side, typed nothing: nothing to serve
    saidSomething->type("x\r");
    saidSomething->stopTyping();      // its line is still to be served
    loop.runPosted();                 // the dropped clients' connections are gone now
    EXPECT_TRUE(closed("c2"));
    EXPECT_TRUE(closed("c4"));
    EXPECT_EQ(router->waiting(), 2u);
    loop.advance(10);
    EXPECT_EQ(sessions.order, (std::vector<std::string>{"c1", "c3", "c5"}));
}

TEST_F(Routing, outOfDescriptorsTheClientWaitsAndIsServedOnTheRetry)
{
    build();
    scriptFailure = zentrel::platform::TooManyFiles;
    connect("c1");
    connect("c2");
    EXPECT_EQ(router->active(), 0u);
    EXPECT_EQ(router->waiting(), 2u);
    loop.advance(Router::RetryAfter);
    EXPECT_EQ(sessions.order, (std::vector<std::string>{"c1"}));
    EXPECT_TRUE(sessions.byPeer["c1"].warnings.empty());
    loop.advance(10);
    EXPECT_EQ(sessions.order, (std::vector<std::string>{"c1", "c2"}));
}

TEST_F(Routing, aScriptThatCannotBeReadIsAWarningAndAnEmptySession)
{
    build();
    scriptFailure = zentrel::platform::PathFileAccess;
    connect("c1");
    loop.advance(0);                  // the session has ended and its connection is gone
    ASSERT_EQ(sessions.byPeer["c1"].warnings.size(), 1u);
    EXPECT_NE(sessions.byPeer["c1"].warnings[0].find("cannot open"), std::string::npos);
    ASSERT_TRUE(sessions.byPeer["c1"].end);
    EXPECT_EQ(sessions.byPeer["c1"].end->items, 0u);
    EXPECT_TRUE(closed("c1"));
}

TEST_F(Routing, aHeldRouterStartsNoSessionUntilReleased)
{
    build();
    router->setHeld(true);
    connect("c1");
    loop.advance(5);
    EXPECT_TRUE(sessions.order.empty());
    EXPECT_FALSE(router->hasRoom());
    router->setHeld(false);
    EXPECT_EQ(sessions.order, (std::vector<std::string>{"c1"}));
}

TEST_F(Routing, aRetiredRouterIsIdleOnceItsClientsAreServed)
{
    build();
    connect("c1");
    connect("c2");
    router->retire();
    loop.advance(3);
    EXPECT_EQ(idle, 0);
    loop.advance(10);
    EXPECT_EQ(sessions.order.size(), 2u);
    EXPECT_EQ(idle, 1);
    router->stop();
    loop.advance(1);
    EXPECT_EQ(idle, 1) << "told once";
    connect("late");
    EXPECT_TRUE(closed("late")) << "closed and let go at once";
}

TEST_F(Routing, aStoppedRouterEndsItsSessionsDropsItsQueueAndIsIdle)
{
    build();
    connect("c1");
    connect("c2");
    router->stop();
    EXPECT_TRUE(closed("c2")) << "closed and dropped from the queue";
    EXPECT_EQ(idle, 0) << "told from the loop";
    loop.runPosted();
    ASSERT_TRUE(sessions.byPeer["c1"].end);
    EXPECT_EQ(sessions.byPeer["c1"].end->reason, EndReason::Stopped);
    EXPECT_EQ(idle, 1);
    EXPECT_EQ(sessions.order.size(), 1u);

    build();
    router->stop();
    loop.runPosted();
    EXPECT_EQ(idle, 2) << "a router with nobody is idle at once";
}

TEST_F(Routing, aRefusedClientIsASessionThatStartsAndEnds)
{
    build();
    router->refused("c9", EndReason::AuthFailed, "3 failed logins");
    ASSERT_TRUE(sessions.byPeer["c9"].end);
    EXPECT_EQ(sessions.byPeer["c9"].end->reason, EndReason::AuthFailed);
    EXPECT_EQ(router->sessionsStarted(), 1u);
    loop.runPosted();
    EXPECT_EQ(ended, 1);
}

} // namespace

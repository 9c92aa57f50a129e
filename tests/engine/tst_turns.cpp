// tst_turns.cpp: turn-taking sessions against a fake clock: what goes out, and when.
#include "console/line_splitter.h"
#include "console/session.h"
#include "tests/engine/fake_connection.h"
#include "tests/support/fake_loop.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

using namespace zentrel::console;
using zentrel::testing::FakeConnection;
using zentrel::tests::FakeEventLoop;

namespace {

class Recorder : public SessionObserver
{
public:
    explicit Recorder(FakeEventLoop &loop) : m_loop(loop) {}
    void itemSent(const SessionInfo &, std::size_t index, std::string_view) override
    {
        sentAt.emplace_back(index, m_loop.now());
    }
    void sessionEnded(const SessionInfo &, const SessionEnd &how) override { end = how; }

    std::vector<std::pair<std::size_t, double>> sentAt;
    std::optional<SessionEnd> end;

private:
    FakeEventLoop &m_loop;
};

class TurnTaking : public ::testing::Test
{
protected:
    void start(std::vector<std::string> items, Pace pace = Pace::Enter, double delay = 0.5)
    {
        auto connection = std::make_unique<FakeConnection>();
        client = connection.get();
        SessionSetup setup;
        setup.info.startedClock = loop.now();
        setup.script = std::make_shared<Script>(Script{std::move(items)});
        setup.connection = std::move(connection);
        setup.delay = [delay] { return delay; };
        setup.pace = pace;
        session = std::make_unique<Session>(loop, recorder, std::move(setup));
        session->start();
        t0 = loop.now();
    }

    FakeEventLoop loop;
    Recorder recorder{loop};
    std::unique_ptr<Session> session;
    FakeConnection *client = nullptr;
    double t0 = 0;
};

TEST_F(TurnTaking, eachLaterItemWaitsForALineThenThePause)
{
    start({"Username: ", "Password: ", "\r\nRouter>"});
    loop.advance(10);
    EXPECT_EQ(client->take(), "Username: ");
    ASSERT_EQ(recorder.sentAt.size(), 1u);
    EXPECT_DOUBLE_EQ(recorder.sentAt[0].second, t0 + 0.5);

    client->type("adm");
    loop.advance(10);
    EXPECT_EQ(client->take(), "") << "no line yet";
    client->type("in\r\n");
    const double typedAt = loop.now();
    loop.advance(0.4);
    EXPECT_EQ(client->take(), "") << "the pause runs from the line";
    loop.advance(0.2);
    EXPECT_EQ(client->take(), "Password: ");
    EXPECT_DOUBLE_EQ(recorder.sentAt[1].second, typedAt + 0.5);

    client->type("secret\r");
    loop.advance(1);
    EXPECT_EQ(client->take(), "\r\nRouter>");
    ASSERT_TRUE(recorder.end);
    EXPECT_EQ(recorder.end->reason, EndReason::ScriptExhausted);
    EXPECT_TRUE(client->closed());
}

TEST_F(TurnTaking, bareEnterGetsThePromptAndUsesNoItem)
{
    start({"banner\r\nRouter#", "Cisco IOS 15.2\r\nRouter#", "bye"});
    loop.advance(1);
    client->take();
    client->type("\n");
    client->type("\r\n");
    loop.advance(0);
    EXPECT_EQ(client->take(), "Router#Router#");
    client->type("show version\n");
    loop.advance(1);
    EXPECT_EQ(client->take(), "Cisco IOS 15.2\r\nRouter#");
    EXPECT_EQ(recorder.sentAt.size(), 2u);
    EXPECT_FALSE(recorder.end) << "the bare Enters used up no item";
}

TEST_F(TurnTaking, linesTypedAheadAreAnsweredInOrder)
{
    start({"R1>", "one\r\nR1>", "two\r\nR2>", "three"});
    client->type("a\r\n\r\nb\r\n");   // all before the first item
    loop.advance(0.5);
    EXPECT_EQ(client->take(), "R1>");
    loop.advance(0.5);
    EXPECT_EQ(client->take(), "one\r\nR1>R1>") << "the bare Enter is answered after the line before it";
    loop.advance(0.5);
    EXPECT_EQ(client->take(), "two\r\nR2>");
    loop.advance(10);
    EXPECT_EQ(client->take(), "") << "three items for three lines";
}

TEST_F(TurnTaking, clientThatStopsTypingIsClosedInsteadOfWaitingForever)
{
    start({"R1>", "never"});
    loop.advance(1);
    client->stopTyping();
    loop.advance(0);
    ASSERT_TRUE(recorder.end);
    EXPECT_EQ(recorder.end->reason, EndReason::ClientGone);
    EXPECT_EQ(recorder.end->itemsSent, 1u);
    EXPECT_TRUE(client->closed());
}

TEST_F(TurnTaking, clientThatLeavesOrAStopEndsTheWait)
{
    start({"R1>", "never"});
    loop.advance(1);
    client->leave();
    ASSERT_TRUE(recorder.end);
    EXPECT_EQ(recorder.end->reason, EndReason::ClientGone);

    recorder.end.reset();
    start({"R1>", "never"});
    loop.advance(1);
    session->stop();
    ASSERT_TRUE(recorder.end);
    EXPECT_EQ(recorder.end->reason, EndReason::Stopped);
}

TEST_F(TurnTaking, clockPaceIgnoresWhatTheClientTypes)
{
    start({"a", "b", "c"}, Pace::Clock, 1.0);
    client->type("\r\n\r\n");
    loop.advance(3.5);
    EXPECT_EQ(client->take(), "abc");
    ASSERT_EQ(recorder.sentAt.size(), 3u);
    for (std::size_t i = 0; i < 3; ++i)
        EXPECT_DOUBLE_EQ(recorder.sentAt[i].second, t0 + 1.0 * static_cast<double>(i + 1));
}

struct SplitCase {
    const char *name;
    std::vector<std::string> chunks;
    std::vector<std::string> lines;
};

class Splitting : public ::testing::TestWithParam<SplitCase> {};

TEST_P(Splitting, cutsLinesAsTheEchoShowedThem)
{
    LineSplitter splitter;
    std::vector<std::string> lines;
    for (const std::string &chunk : GetParam().chunks)
        for (std::string &line : splitter.feed(chunk))
            lines.push_back(std::move(line));
    EXPECT_EQ(lines, GetParam().lines);
}

INSTANTIATE_TEST_SUITE_P(Lines, Splitting, ::testing::Values(
    SplitCase{"everyLineEnd", {"a\rb\nc\r\nd"}, {"a", "b", "c"}},
    SplitCase{"crLfSplit", {"a\r", "\n", "\r", "\n"}, {"a", ""}},
    SplitCase{"crNul", {std::string("x\r\0y\r", 5)}, {"x", "y"}},
    SplitCase{"erased", {"shw\b\bhow\x7f" "w ver\r"}, {"show ver"}},
    SplitCase{"eraseEmpty", {"\b\bok\n"}, {"ok"}}),
    [](const auto &info) { return std::string(info.param.name); });

} // namespace

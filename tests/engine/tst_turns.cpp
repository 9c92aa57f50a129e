// tst_turns.cpp: turn-taking sessions against a fake clock: what goes out, and when.
#include "console/session.h"
#include "tests/engine/fake_connection.h"
#include "tests/support/fake_loop.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

using namespace zentrel::console;
using zentrel::testing::FakeConnection;
using zentrel::tests::FakeEventLoop;

namespace {

// What the session reports, in order.
class Recorder : public SessionObserver
{
public:
    explicit Recorder(FakeEventLoop &loop) : m_loop(loop) {}

    std::unique_ptr<SessionSink> sessionStarted(const SessionInfo &) override
    {
        return std::make_unique<Sink>(*this);
    }

    void reset()
    {
        sentAt.clear();
        extras.clear();
        bytes.clear();
        shown.clear();
        lines.clear();
        end.reset();
    }

    std::vector<std::pair<std::size_t, double>> sentAt;
    std::vector<std::pair<Extra, std::string>> extras;
    std::string bytes;                 // the chunks as received
    std::string shown;                 // the chunks as reports see them
    std::vector<TypedLine> lines;
    std::optional<SessionEnd> end;

private:
    class Sink : public SessionSink
    {
    public:
        explicit Sink(Recorder &recorder) : m_recorder(recorder) {}
        void itemSent(std::size_t index, std::string_view) override
        {
            m_recorder.sentAt.emplace_back(index, m_recorder.m_loop.now());
        }
        void sent(Extra kind, std::string_view bytes) override { m_recorder.extras.emplace_back(kind, bytes); }
        void typed(const Typed &typed) override
        {
            m_recorder.bytes.append(typed.bytes);
            m_recorder.shown.append(typed.shown);
            m_recorder.lines.insert(m_recorder.lines.end(), typed.lines.begin(), typed.lines.end());
        }
        void ended(const SessionEnd &how) override { m_recorder.end = how; }

    private:
        Recorder &m_recorder;
    };

    FakeEventLoop &m_loop;
};

class TurnTaking : public ::testing::Test
{
protected:
    void start(std::vector<std::string> items, Pace pace = Pace::Enter, double delay = 0.5,
               EditorSetup typing = {})
    {
        auto connection = std::make_unique<FakeConnection>();
        client = connection.get();
        SessionSetup setup;
        setup.info.startedClock = loop.now();
        setup.script = std::make_shared<Script>(items);
        setup.connection = std::move(connection);
        setup.delay = [delay] { return delay; };
        setup.pace = pace;
        setup.typing = typing;
        session = std::make_unique<Session>(loop, recorder, std::move(setup));
        session->start();
        t0 = loop.now();
    }

    std::vector<std::string> lineTexts() const
    {
        std::vector<std::string> texts;
        for (const TypedLine &line : recorder.lines)
            texts.push_back(line.text);
        return texts;
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

TEST_F(TurnTaking, bareEnterAfterATelnetClientsNegotiationUsesNoItem)
{
    start({"R1>", "one\r\nR1>", "two"}, Pace::Enter, 0.5, {Carrier::Telnet, false});
    loop.advance(1);
    client->take();
    client->type(std::string(TelnetGreeting) + "\r\n");
    loop.advance(1);
    EXPECT_EQ(client->take(), "R1>") << "the negotiation is no command";
    EXPECT_EQ(recorder.sentAt.size(), 1u);
}

TEST_F(TurnTaking, echoAndPromptsReachTheSinkAndCountAsSent)
{
    start({"R1>", "one\r\nR1>"}, Pace::Enter, 0.5, {Carrier::Ssh, true});
    loop.advance(1);
    client->type("\r");
    client->type("sh\r");
    loop.advance(1);
    EXPECT_EQ(client->take(), "R1>\r\nR1>sh\r\none\r\nR1>");
    const std::vector<std::pair<Extra, std::string>> extras = {
        {Extra::Echo, "\r\n"}, {Extra::Prompt, "R1>"}, {Extra::Echo, "sh\r\n"}};
    EXPECT_EQ(recorder.extras, extras);
    ASSERT_TRUE(recorder.end);
    EXPECT_EQ(recorder.end->bytesOut, 3u + 2 + 3 + 4 + 8);
}

TEST_F(TurnTaking, aPasswordIsNotEchoedAndTheSinkCanMaskIt)
{
    start({"Username: ", "Password: ", "\r\nR>", "bye"}, Pace::Enter, 0.5, {Carrier::Telnet, true});
    loop.advance(1);
    client->type("admin\r\n");
    loop.advance(1);
    EXPECT_EQ(client->take(), "Username: admin\r\nPassword: ");
    client->type("\r\n");   // a bare Enter gets the prompt again, which asks again
    client->type("cisco\r\n");
    loop.advance(1);
    client->type("last");
    EXPECT_EQ(client->take(), "\r\nPassword: \r\n\r\nR>last");
    client->leave();
    loop.advance(1);
    EXPECT_EQ(lineTexts(), (std::vector<std::string>{"admin", "", "cisco", "last"}));
    std::vector<bool> secret;
    for (const TypedLine &line : recorder.lines)
        secret.push_back(line.secret);
    EXPECT_EQ(secret, (std::vector<bool>{false, true, true, false}));
    EXPECT_EQ(recorder.bytes, "admin\r\n\r\ncisco\r\nlast");
    EXPECT_EQ(recorder.shown, "admin\r\n\r\n*****\r\nlast");
}

TEST_F(TurnTaking, aLineIsCutAtTheEditorsCap)
{
    start({"R1>", "one", "two"});
    loop.advance(1);
    const std::string chunk(64 * 1024, 'x');
    for (int i = 0; i < 100; ++i)   // 6.4 MB without a line end
        client->type(chunk);
    client->type("\r");
    loop.advance(1);
    ASSERT_EQ(recorder.lines.size(), 1u);
    EXPECT_EQ(recorder.lines[0].text.size(), LineEditor::MaxLine);
    EXPECT_TRUE(recorder.lines[0].cut);
    EXPECT_EQ(client->take(), "R1>one") << "the long line is one command";
}

// A client that sends bare Enters and reads nothing: the prompts it asks for
// stop at the high-water mark and its input is held; as it reads, every
// Enter is answered, none lost.
TEST_F(TurnTaking, promptsForAFloodOfEntersStayBounded)
{
    const std::string prompt = std::string(1024, '-') + "R1>";
    start({prompt, "next"}, Pace::Enter, 0);
    client->reads = false;
    client->take();
    const std::string enters(64 * 1024, '\r');
    std::size_t typed = 0;
    while (!client->held() && typed < (4u << 20)) {
        client->type(enters);
        typed += enters.size();
    }
    EXPECT_EQ(typed, enters.size()) << "held after the first chunk";
    EXPECT_LE(client->sentSize(), Connection::HighWater + prompt.size());

    std::size_t answered = 0;
    for (int reads = 0; reads < 100000 && client->held(); ++reads)
        answered += client->take().size() / prompt.size();
    answered += client->take().size() / prompt.size();
    EXPECT_FALSE(client->held());
    EXPECT_EQ(answered, enters.size());
    EXPECT_FALSE(recorder.end);
}

// The echo a client asks for by typing and never reads: the same bound.
TEST_F(TurnTaking, echoForAClientThatDoesNotReadStaysBounded)
{
    start({"R1>", "later"}, Pace::Clock, 3600, {Carrier::Ssh, true});
    client->reads = false;
    const std::string chunk = [] {
        std::string text;
        while (text.size() < 64 * 1024)
            text += "show version\r";
        return text;
    }();
    std::size_t typed = 0;
    while (!client->held() && typed < (100u << 20)) {
        client->type(chunk);
        typed += chunk.size();
    }
    EXPECT_TRUE(client->held());
    EXPECT_LE(client->sentSize(), Connection::HighWater + 2 * chunk.size());
    client->take();
    EXPECT_FALSE(client->held()) << "a client that reads again is read again";
}

} // namespace

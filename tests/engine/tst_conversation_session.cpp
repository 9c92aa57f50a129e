// tst_conversation_session.cpp: a command-driven session against a fake clock: what goes out when, and Telnet's options.
#include "console/session.h"
#include "console/telnet_options.h"
#include "tests/engine/fake_connection.h"
#include "tests/support/fake_loop.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

using namespace zentrel::console;
using zentrel::testing::FakeConnection;
using zentrel::tests::FakeEventLoop;

namespace {

// A router of three words: `enable` asks for a password, `more` pages
// until a key comes, `exit` closes; anything else is echoed back in brackets.
class FakeDialogue : public Dialogue
{
public:
    Answer start() override { return {.bytes = "R>"}; }
    Answer line(const TypedLine &line) override
    {
        lines.push_back(line);
        Answer answer{.report = CommandReport{.mode = "exec", .line = line.text, .secret = line.secret}};
        if (m_password) {
            m_password = false;
            answer.bytes = "R#";
        } else if (line.text == "enable") {
            m_password = true;
            answer.bytes = "Password: ";
        } else if (line.text == "more") {
            m_paging = true;
            answer.bytes = "page1 --More--";
        } else if (line.text == "long") {
            answer.bytes = "l1\r\nl2\r\nl3\r\nR>";
            answer.faults = faults;
        } else if (line.text == "exit") {
            answer.end = EndReason::Closed;
        } else {
            answer.bytes = "[" + line.text + "]\r\nR>";
        }
        return answer;
    }
    Answer key(char c) override
    {
        keys += c;
        if (!m_paging || c == '\n')
            return {};
        m_paging = false;
        return {.bytes = "page2\r\nR>", .delay = 0};
    }
    bool wantsKeys() const override { return m_paging; }
    bool nextLineSecret() const override { return m_password; }
    CommandTotals ended() override { return {lines.size(), 0, "exec"}; }

    std::vector<TypedLine> lines;
    std::string keys;
    const AnswerFaults *faults = nullptr;   // of the answer to "long"

private:
    bool m_password = false;
    bool m_paging = false;
};

class Reports : public SessionObserver, public SessionSink
{
public:
    std::unique_ptr<SessionSink> sessionStarted(const SessionInfo &) override
    {
        // The sink is this object; the session owns a forwarder to it.
        struct Forward : SessionSink {
            Reports &to;
            explicit Forward(Reports &reports) : to(reports) {}
            void command(const CommandReport &report) override { to.commands.push_back(report); }
            void ended(const SessionEnd &end) override { to.end = end; }
            void fault(const FaultReport &report) override
            {
                to.faults += std::string(report.kind) + ":" + std::string(report.command) + " ";
            }
        };
        return std::make_unique<Forward>(*this);
    }
    std::vector<CommandReport> commands;
    std::optional<SessionEnd> end;
    std::string faults;   // "kind:command " each
};

class Conversing : public ::testing::Test
{
protected:
    void start(Carrier carrier = Carrier::Ssh, double delay = 0.5, Faults faults = {})
    {
        auto connection = std::make_unique<FakeConnection>();
        client = connection.get();
        auto dialogue = std::make_unique<FakeDialogue>();
        router = dialogue.get();
        SessionSetup setup;
        setup.connection = std::move(connection);
        setup.dialogue = std::move(dialogue);
        setup.delay = [delay] { return delay; };
        setup.typing = {carrier, true};
        setup.faults = std::move(faults);
        setup.info.startedClock = loop.now();
        session = std::make_unique<Session>(loop, reports, std::move(setup));
        session->start();
    }

    FakeEventLoop loop;
    Reports reports;
    std::unique_ptr<Session> session;
    FakeConnection *client = nullptr;
    FakeDialogue *router = nullptr;
};

TEST_F(Conversing, eachAnswerLeavesAPauseAfterItsLineAndLinesTypedAheadWaitTheirTurn)
{
    start();
    loop.advance(0.4);
    EXPECT_EQ(client->take(), "");
    loop.advance(0.2);
    EXPECT_EQ(client->take(), "R>");

    client->type("one\rtwo\r");
    EXPECT_EQ(client->take(), "one\r\n") << "the first line is echoed at once, the second waits unread";
    loop.advance(0.4);
    EXPECT_EQ(client->take(), "");
    loop.advance(0.1);
    EXPECT_EQ(client->take(), "[one]\r\nR>two\r\n") << "the answer, then the next line taken and echoed";
    loop.advance(0.5);
    EXPECT_EQ(client->take(), "[two]\r\nR>");
    ASSERT_EQ(reports.commands.size(), 2u);
    EXPECT_EQ(reports.commands[1].line, "two");
}

TEST_F(Conversing, aPasswordTypedAheadIsReadAsAPasswordAndNeverEchoed)
{
    start(Carrier::Ssh, 0);
    client->take();
    client->type("enable\nsecret\nshow\n");
    EXPECT_EQ(client->take(), "enable\r\nPassword: \r\nR#show\r\n[show]\r\nR>");
    ASSERT_EQ(router->lines.size(), 3u);
    EXPECT_FALSE(router->lines[0].secret);
    EXPECT_TRUE(router->lines[1].secret);
    EXPECT_EQ(router->lines[1].text, "secret");
    EXPECT_FALSE(router->lines[2].secret);
    EXPECT_TRUE(reports.commands[1].secret) << "the sink masks it";
}

TEST_F(Conversing, keysGoToAPagedAnswerNotIntoTheNextLine)
{
    start(Carrier::Telnet, 0);
    client->take();
    client->type("more\r\n");
    EXPECT_EQ(client->take(), "more\r\npage1 --More--");
    client->type(" ");
    EXPECT_EQ(client->take(), "page2\r\nR>") << "Space is a key: not echoed, not typed";
    client->type("more\r\n\r\nx\r\n");
    EXPECT_EQ(client->take(), "more\r\npage1 --More--page2\r\nR>x\r\n[x]\r\nR>")
        << "Enter ends the paging as CR, its LF no empty line";
    EXPECT_EQ(router->keys, " \r");
    ASSERT_EQ(router->lines.size(), 3u);
    EXPECT_EQ(router->lines[2].text, "x");
}

TEST_F(Conversing, anAnswerThatEndsTheSessionClosesItWithTheDialoguesTotals)
{
    start(Carrier::Ssh, 0);
    client->take();
    client->type("exit\nnever answered\n");
    EXPECT_TRUE(client->closed());
    ASSERT_TRUE(reports.end);
    EXPECT_EQ(reports.end->reason, EndReason::Closed);
    ASSERT_TRUE(reports.end->commands);
    EXPECT_EQ(reports.end->commands->commands, 1u);
    EXPECT_EQ(router->lines.size(), 1u);
}

TEST_F(Conversing, aClientThatStopsTypingHasItsLinesAnsweredThenTheClose)
{
    start(Carrier::Ssh, 0.5);
    loop.advance(1);
    client->take();
    client->type("a\nb\n");
    client->stopTyping();
    loop.advance(2);
    EXPECT_EQ(client->take(), "a\r\n[a]\r\nR>b\r\n[b]\r\nR>");
    EXPECT_TRUE(client->closed());
    ASSERT_TRUE(reports.end);
    EXPECT_EQ(reports.end->reason, EndReason::ClientGone);
}

TEST_F(Conversing, inputTypedFarAheadIsHeldNotKept)
{
    start(Carrier::Ssh, 5);
    loop.advance(6);
    client->take();
    client->type("first\n");
    EXPECT_FALSE(client->held());
    client->type(std::string(Session::HeldAfterBytes, 'x'));
    EXPECT_TRUE(client->held()) << "the answer to the first line is still on its way";
    loop.advance(5);
    EXPECT_FALSE(client->held()) << "read once the router takes the next line";
}

TEST_F(Conversing, telnetOpensWithTheRoutersOffersAndEchoesAClientThatRefusedIt)
{
    start(Carrier::Telnet, 0);
    EXPECT_EQ(client->take(), "\xff\xfb\x01\xff\xfb\x03R>");
    // DONT ECHO and DONT SUPPRESS-GO-AHEAD refuse the offers; WILL TERMINAL-TYPE is refused.
    client->type("\xff\xfe\x01\xff\xfe\x03\xff\xfb\x18sh\r\n");
    EXPECT_EQ(client->take(), "\xff\xfe\x18sh\r\n[sh]\r\nR>");
}

// One row per fault: the client types "long" as soon as it has the prompt;
// each step advances the clock and says what the client got by then.
TEST_F(Conversing, faultsFireWhereAndWhenTheRouterSays)
{
    using End = AnswerFaults::End;
    const std::string Echo = "long\r\n";
    struct Step {
        double advance;
        std::string got;
    };
    struct Row {
        const char *name;
        AnswerFaults faults;                    // the answer's
        Schedule schedule;                      // the router's
        std::vector<Step> steps;
        std::string reported;                   // the faults, in order
        std::optional<EndReason> end;           // none: the session goes on
        bool reset = false;
    };
    auto at = [](double seconds, End end) { return Schedule::Fault{std::nullopt, seconds, end}; };
    const std::vector<Row> rows = {
        {"cut after 5 bytes", {.cut = 5}, {}, {{0, Echo + "l1\r\nl"}}, "cut:long ", EndReason::Fault},
        {"cut at 0 with a reset", {.end = End::Reset, .cut = 0}, {}, {{0, Echo}}, "cut:long ", EndReason::Fault, true},
        {"reset after the answer", {.end = End::Reset}, {}, {{0, Echo + "l1\r\nl2\r\nl3\r\nR>"}}, "reset:long ",
         EndReason::Fault, true},
        {"close after the answer", {.end = End::Close}, {}, {{0, Echo + "l1\r\nl2\r\nl3\r\nR>"}}, "close:long ",
         EndReason::Fault},
        {"stall halfway", {.stall = 2}, {}, {{0, Echo + "l1\r\nl2\r"}, {1.9, ""}, {0.1, "\nl3\r\nR>"}},
         "stall:long ", std::nullopt},
        {"rate: two bytes a tick", {.rate = 100}, {}, {{0, Echo + "l1"}, {0.02, "\r\n"}, {1, "l2\r\nl3\r\nR>"}}, "",
         std::nullopt},
        {"after the first command", {}, {.faults = {{1, 0, End::Close}}}, {{0, Echo + "l1\r\nl2\r\nl3\r\nR>"}},
         "close:long ", EndReason::Fault},
        {"a reset on the clock cuts a stall short", {.stall = 2}, {.faults = {at(0.5, End::Reset)}},
         {{0, Echo + "l1\r\nl2\r"}, {1, ""}}, "stall:long reset:long ", EndReason::Fault, true},
        {"a message waits for a line end, then comes after the prompt", {.stall = 1},
         {.messages = {{0.6, "MSG\r\n"}}}, {{0, Echo + "l1\r\nl2\r"}, {1, "\nMSG\r\nl3\r\nR>"}, {0.2, "MSG\r\n"}},
         "stall:long ", std::nullopt},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        reports = {};
        Faults faults;
        if (!row.schedule.faults.empty() || !row.schedule.messages.empty())
            faults.schedule = std::make_shared<Schedule>(row.schedule);
        start(Carrier::Ssh, 0, faults);
        router->faults = &row.faults;
        EXPECT_EQ(client->take(), "R>");
        client->type("long\n");
        for (const Step &step : row.steps) {
            loop.advance(step.advance);
            EXPECT_EQ(client->take(), step.got) << "at +" << step.advance;
        }
        EXPECT_EQ(reports.faults, row.reported);
        EXPECT_EQ(reports.end ? std::optional(reports.end->reason) : std::nullopt, row.end);
        EXPECT_EQ(client->closed(), row.end.has_value());
        EXPECT_EQ(client->wasReset, row.reset);
        session.reset();
    }
}

// One row per command the client sends, in order within a session: what the router answers.
TEST(TelnetOptionsTest, answersOnlyWhatChangesAnOption)
{
    struct Row {
        const char *why;
        std::string client;
        std::string answer;
    };
    const std::vector<Row> rows = {
        {"DO ECHO accepts the offer", "\xff\xfd\x01", ""},
        {"DO ECHO again changes nothing", "\xff\xfd\x01", ""},
        {"DO SUPPRESS-GO-AHEAD accepts the offer", "\xff\xfd\x03", ""},
        {"WILL TERMINAL-TYPE is refused", "\xff\xfb\x18", "\xff\xfe\x18"},
        {"WILL NAWS and DO STATUS in one chunk", "\xff\xfb\x1f\xff\xfd\x05", "\xff\xfe\x1f\xff\xfc\x05"},
        {"WONT of an option that is off needs no answer", "\xff\xfc\x18", ""},
        {"DONT of an option never on needs no answer", "\xff\xfe\x05", ""},
        {"DONT ECHO while on: WONT ECHO", "\xff\xfe\x01", "\xff\xfc\x01"},
        {"DONT ECHO again: nothing", "\xff\xfe\x01", ""},
        {"DO ECHO after that: agreed again", "\xff\xfd\x01", "\xff\xfb\x01"},
        {"a subnegotiation and IAC NOP get nothing", "\xff\xfa\x18\x00xterm\xff\xf0\xff\xf1", ""},
    };
    TelnetOptions options;
    EXPECT_EQ(options.offer(), "\xff\xfb\x01\xff\xfb\x03");
    for (const Row &row : rows)
        EXPECT_EQ(options.answer(row.client), row.answer) << row.why;
}

TEST(TelnetOptionsTest, aRefusedOfferIsNotAcknowledged)
{
    TelnetOptions options;
    options.offer();
    EXPECT_EQ(options.answer(std::string("\xff\xfe\x01\xff\xfe\x03", 6)), "");
    EXPECT_EQ(options.answer("\xff\xfd\x03"), "\xff\xfb\x03") << "asked for after refusing it";
}

} // namespace

// session_records_test.cpp: a router's sessions as zentrel-serve keeps them: verdicts, transcript, report, events.
#include "serve/session_records.h"

#include "temp_dir.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <map>
#include <optional>
#include <sstream>

using namespace zentrel;
using serve::SessionRecords;
using tests::readAll;
using tests::TempDir;

namespace {

// A clock that moves only when the test says so.
class ManualLoop : public platform::EventLoop
{
public:
    double now() const override { return m_now; }
    TimerId at(double deadline, std::function<void()> function) override
    {
        m_timers.emplace(++m_next, std::make_pair(deadline, std::move(function)));
        return m_next;
    }
    void cancel(TimerId id) override { m_timers.erase(id); }
    void post(std::function<void()> function) override { function(); }
    void advance(double seconds)
    {
        m_now += seconds;
        for (auto it = m_timers.begin(); it != m_timers.end();) {
            if (it->second.first > m_now) {
                ++it;
                continue;
            }
            auto function = std::move(it->second.second);
            it = m_timers.erase(it);
            function();
        }
    }

private:
    double m_now = 100;
    TimerId m_next = 0;
    std::map<TimerId, std::pair<double, std::function<void()>>> m_timers;
};

// The events in a file, a router's sessions played into their sinks as a Session would.
struct Records : testing::Test {
    TempDir dir;
    ManualLoop loop;
    std::vector<std::string> problems;
    int eventsFd = ::open(dir.path("events").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    serve::EventLog log{loop, {eventsFd, false}};
    std::optional<SessionRecords> records;
    console::SessionObserver *r1 = nullptr;
    console::SessionObserver *r2 = nullptr;

    void SetUp() override
    {
        records.emplace(loop, log, SessionRecords::Options{dir.path(), dir.path("report.xml"), false},
                        [this](const std::string &text) { problems.push_back(text); });
        r1 = &records->addRouter({"r1", 2001, 0.5,
                                  std::make_shared<serve::ExpectFile>(serve::ExpectFile::parse(
                                      "admin\n~secret[0-9]*\nshow version\n", "r1/EXPECT.TXT"))});
        r2 = &records->addRouter({"r2", 2002, 0, nullptr});
        ASSERT_EQ(records->prepare(), "");
    }
    void TearDown() override { ::close(eventsFd); }

    // Two items; the client answers a password prompt from chunk `passwordFrom` on.
    void play(const std::string &router, std::uint64_t number, const std::vector<std::string> &chunks,
              bool echo = false, std::size_t passwordFrom = 0)
    {
        const console::SessionInfo info{router, number, "127.0.0.1:5000", 1765000000.5, loop.now(), 2};
        const std::unique_ptr<console::SessionSink> sink = (router == "r1" ? r1 : r2)->sessionStarted(info);
        sink->itemSent(1, "Password: ");
        console::LineEditor editor({console::Carrier::Telnet, echo});
        for (const std::string &chunk : chunks) {
            if (&chunk == &chunks[passwordFrom])
                editor.setSecret(true);
            const console::Edited &edited = editor.feed(chunk);
            sink->typed({chunk, edited.shown, edited.telnet, edited.lines});
            if (!edited.echo.empty())
                sink->sent(console::Extra::Echo, edited.echo);
        }
        loop.advance(0.25);
        sink->sent(console::Extra::Prompt, "Password: ");
        sink->itemSent(2, "Router#");
        sink->clientGone();
        if (const std::optional<console::TypedLine> last = editor.finish())
            sink->typed({{}, {}, {}, std::span<const console::TypedLine>(&*last, 1)});
        sink->ended({console::EndReason::ClientGone, 2, 2, 0, 0, 0.25, {}});
    }

    // The session-end events written so far, from `"typed"` on.
    std::vector<std::string> endFields() const
    {
        std::vector<std::string> ends;
        std::istringstream events(readAll(dir.path("events")));
        for (std::string line; std::getline(events, line);)
            if (line.find("\"session-end\"") != std::string::npos)
                ends.push_back(line.substr(line.find(",\"typed\"")));
        return ends;
    }
};

TEST_F(Records, verdictsReachTheSessionEndStderrAndReport)
{
    std::vector<std::string> reports;
    records->onCheckFailed = [&](const std::string &report) { reports.push_back(report); };
    play("r1", 1, {"\xff\xfd\x03\xff\xfb\x18", "secret42\r\nadmin\r\n\r\nshow ver", "sion\r\n"});
    play("r1", 2, {"secret1\r\nshow run\r\n"});
    play("r2", 1, {"anything\n"});
    EXPECT_EQ(endFields(),
              (std::vector<std::string>{
                  ",\"typed\":[\"***\",\"admin\",\"\",\"show version\"],\"verdict\":\"fail\",\"first_difference\":"
                  "{\"position\":1,\"expect_line\":1,\"expected\":\"admin\",\"typed\":\"***\"}}",
                  ",\"typed\":[\"***\",\"show run\"],\"verdict\":\"fail\",\"first_difference\":{\"position\":1,"
                  "\"expect_line\":1,\"expected\":\"admin\",\"typed\":\"***\"}}",
                  ",\"typed\":[\"***\"],\"verdict\":\"none\"}"}));
    EXPECT_TRUE(records->anyCheckFailed());
    ASSERT_EQ(reports.size(), 2u);
    EXPECT_EQ(reports[1].rfind("zentrel-serve: r1 session 2 from 127.0.0.1:5000 failed its check, line 1: expected "
                               "\"admin\", typed \"***\"\n--- r1/EXPECT.TXT\n+++ typed\n",
                               0),
              0u)
        << reports[1];
    EXPECT_NE(reports[1].find("\n ~secret[0-9]*\n"), std::string::npos) << "the password matched its pattern";
    EXPECT_EQ(reports[0].find("secret42"), std::string::npos) << reports[0];
    EXPECT_EQ(reports[1].find("secret1"), std::string::npos) << reports[1];

    records->finish();
    EXPECT_TRUE(problems.empty());
    const std::string report = readAll(dir.path("report.xml"));
    EXPECT_EQ(report.find("secret1"), std::string::npos) << report;
    EXPECT_EQ(report.find("secret42"), std::string::npos) << report;
    const auto junit = tests::run("/usr/bin/python3 " ZENTREL_SERVE_TESTS "/check_junit.py '" + dir.path("report.xml")
                                  + "' 2>&1 | grep -E '^(suite|case)'");
    EXPECT_EQ(junit.out, "suite r1 tests=0 failures=0 errors=0\n"
                         "suite r2 tests=0 failures=0 errors=0\n"
                         "suite r1 tests=1 failures=1 errors=0\n"
                         "case zentrel.r1 | session 1 from 127.0.0.1:5000 | Failure(ExpectMismatch: line 1: expected "
                         "\"admin\", typed \"***\")\n"
                         "suite r1 tests=1 failures=1 errors=0\n"
                         "case zentrel.r1 | session 2 from 127.0.0.1:5000 | Failure(ExpectMismatch: line 1: expected "
                         "\"admin\", typed \"***\")\n"
                         "suite r2 tests=1 failures=0 errors=0\n"
                         "case zentrel.r2 | session 1 from 127.0.0.1:5000 | pass\n");
}

// A password is checked as typed: the pattern for it passes, and nothing shows it.
TEST_F(Records, aPasswordPassesItsCheckAndIsShownMasked)
{
    play("r1", 1, {"admin\r\n", "secret42\r\nshow version\r\n"}, false, 1);
    EXPECT_EQ(endFields().at(0), ",\"typed\":[\"admin\",\"***\",\"show version\"],\"verdict\":\"pass\"}");
}

TEST_F(Records, transcriptHoldsWhatTheClientGotAndSentMarked)
{
    play("r1", 1, {"\xff\xfd\x03", "pw\r\nad", "min\r\n"}, true);
    const std::string cast = readAll(dir.path("r1-1.cast"));
    EXPECT_NE(cast.find("\"title\": \"r1 session 1 from 127.0.0.1:5000\", \"port\": 2001, \"delay\": 0.5}\n"
                        "[0.000000, \"m\", \"item 1 of 2\"]\n"
                        "[0.000000, \"o\", \"Password: \"]\n"
                        "[0.000000, \"i\", \"\\u00ff\\u00fd\\u0003\"]\n"
                        "[0.000000, \"m\", \"Telnet: IAC DO SUPPRESS-GO-AHEAD\"]\n"
                        "[0.000000, \"i\", \"**\\r\\nad\"]\n"
                        "[0.000000, \"m\", \"check failed: r1/EXPECT.TXT:1: expected admin\"]\n"
                        "[0.000000, \"m\", \"echo\"]\n"
                        "[0.000000, \"o\", \"\\r\\nad\"]\n"
                        "[0.000000, \"i\", \"min\\r\\n\"]\n"
                        "[0.000000, \"o\", \"min\\r\\n\"]\n"
                        "[0.250000, \"m\", \"prompt again\"]\n"
                        "[0.250000, \"o\", \"Password: \"]\n"
                        "[0.250000, \"m\", \"item 2 of 2\"]\n"
                        "[0.250000, \"o\", \"Router#\"]\n"
                        "[0.250000, \"m\", \"client gone\"]\n"
                        "[0.250000, \"m\", \"end: client-gone, 2 of 2 items sent; verdict fail; typed "
                        "[\\\"***\\\",\\\"admin\\\"]\"]\n"),
              std::string::npos)
        << cast;
}

TEST_F(Records, reportHoldsEachSessionAsItEnds)
{
    play("r2", 1, {});
    EXPECT_NE(readAll(dir.path("report.xml")).find("session 1 from"), std::string::npos);
    play("r2", 2, {});
    EXPECT_NE(readAll(dir.path("report.xml")).find("session 2 from"), std::string::npos);
}

// A transcript's name taken by a symbolic link: nothing is written through
// it, the failure is told, and the session goes on.
TEST_F(Records, transcriptRefusesAPlantedLink)
{
    dir.write("victim", "precious");
    std::filesystem::create_symlink(dir.path("victim"), dir.path("r2-1.cast"));
    play("r2", 1, {"x\r\n"});   // at the password prompt, so shown masked
    EXPECT_EQ(readAll(dir.path("victim")), "precious");
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find("r2-1.cast: is a symbolic link; not written through it"), std::string::npos)
        << problems[0];
    EXPECT_EQ(endFields(), std::vector<std::string>{",\"typed\":[\"***\"],\"verdict\":\"none\"}"});
}

TEST_F(Records, transcriptHeaderHoldsThePortListenedOn)
{
    records->listening(1, 40123);   // r2, the second router added
    play("r2", 1, {});
    EXPECT_NE(readAll(dir.path("r2-1.cast")).find("\"port\": 40123,"), std::string::npos);
}

TEST(RecordsStart, unwritablePlacesStopTheRun)
{
    TempDir dir;
    ManualLoop loop;
    auto ignore = [](const std::string &) {};
    serve::EventLog log(loop, {});
    EXPECT_NE(SessionRecords(loop, log, {dir.path("none/casts"), "", false}, ignore).prepare().find("--transcripts"),
              std::string::npos);
    EXPECT_NE(SessionRecords(loop, log, {"", dir.path("gone/report.xml"), false}, ignore).prepare().find("--junit"),
              std::string::npos);
}

} // namespace

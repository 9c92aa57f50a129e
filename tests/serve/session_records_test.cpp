// session_records_test.cpp: a router's sessions as zentrel-serve keeps them: verdicts, transcript, report.
#include "serve/session_records.h"

#include "temp_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>

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

struct Records : testing::Test {
    TempDir dir;
    ManualLoop loop;
    std::vector<std::string> problems;
    SessionRecords records{loop, {dir.path(), dir.path("report.xml")},
                           [this](const std::string &text) { problems.push_back(text); }};

    void SetUp() override
    {
        records.addRouter({"r1", 2001, 0.5,
                           std::make_shared<serve::ExpectFile>(serve::ExpectFile::parse("admin\nshow version\n",
                                                                                        "r1/EXPECT.TXT"))});
        records.addRouter({"r2", 2002, 0, nullptr});
        ASSERT_EQ(records.prepare(), "");
    }

    console::SessionInfo play(const std::string &router, std::uint64_t number, std::vector<std::string> chunks)
    {
        const console::SessionInfo info{router, number, "127.0.0.1:5000", 1765000000.5, loop.now(), 2};
        records.sessionStarted(info);
        records.itemSent(info, 1, "Username: ");
        for (const std::string &chunk : chunks)
            records.clientTyped(info, chunk);
        loop.advance(0.25);
        records.itemSent(info, 2, "Router#");
        records.clientGone(info);
        records.sessionEnded(info, {console::EndReason::ClientGone, 2, 2, 0, 0, 0.25, {}});
        return info;
    }
};

TEST_F(Records, passingAndFailingSessionsInEventsStderrAndReport)
{
    std::vector<std::string> reports;
    records.onCheckFailed = [&](const std::string &report) { reports.push_back(report); };
    play("r1", 1, {"\xff\xfd\x03\xff\xfb\x18", "admin\r\n\r\nshow ver", "sion\r\n"});
    EXPECT_EQ(records.lastOutcome().jsonFields(), ",\"typed\":[\"admin\",\"\",\"show version\"],\"verdict\":\"pass\"");
    EXPECT_FALSE(records.anyCheckFailed());

    EXPECT_TRUE(reports.empty());
    play("r1", 2, {"admin\r\nshow run\r\n"});
    EXPECT_EQ(records.lastOutcome().jsonFields(),
              ",\"typed\":[\"admin\",\"show run\"],\"verdict\":\"fail\",\"first_difference\":{\"position\":2,"
              "\"expect_line\":2,\"expected\":\"show version\",\"typed\":\"show run\"}");
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_EQ(reports[0],
              "zentrel-serve: r1 session 2 from 127.0.0.1:5000 failed its check, line 2: expected \"show version\", "
              "typed \"show run\"\n--- r1/EXPECT.TXT\n+++ typed\n@@ -1,2 +1,2 @@\n admin\n-show version\n+show run\n");
    EXPECT_TRUE(records.anyCheckFailed());

    play("r2", 1, {"anything\n"});
    EXPECT_EQ(records.lastOutcome().jsonFields(), ",\"typed\":[\"anything\"],\"verdict\":\"none\"");

    records.finish();
    EXPECT_TRUE(problems.empty());
    const auto junit = tests::run("/usr/bin/python3 " ZENTREL_SERVE_TESTS "/check_junit.py '" + dir.path("report.xml")
                                  + "' 2>&1 | grep -E '^(suite|case)'");
    EXPECT_EQ(junit.out, "suite r1 tests=0 failures=0 errors=0\n"
                         "suite r2 tests=0 failures=0 errors=0\n"
                         "suite r1 tests=1 failures=0 errors=0\n"
                         "case zentrel.r1 | session 1 from 127.0.0.1:5000 | pass\n"
                         "suite r1 tests=1 failures=1 errors=0\n"
                         "case zentrel.r1 | session 2 from 127.0.0.1:5000 | Failure(ExpectMismatch: line 2: expected "
                         "\"show version\", typed \"show run\")\n"
                         "suite r2 tests=1 failures=0 errors=0\n"
                         "case zentrel.r2 | session 1 from 127.0.0.1:5000 | pass\n");
}

TEST_F(Records, transcriptHoldsBothDirectionsAndMarkers)
{
    play("r1", 1, {"\xff\xfd\x03", "admin\r\n"});
    const std::string cast = readAll(dir.path("r1-1.cast"));
    EXPECT_NE(cast.find("\"title\": \"r1 session 1 from 127.0.0.1:5000\", \"port\": 2001, \"delay\": 0.5}\n"
                        "[0.000000, \"m\", \"item 1 of 2\"]\n"
                        "[0.000000, \"o\", \"Username: \"]\n"
                        "[0.000000, \"i\", \"\\u00ff\\u00fd\\u0003\"]\n"
                        "[0.000000, \"m\", \"Telnet: IAC DO SUPPRESS-GO-AHEAD\"]\n"
                        "[0.000000, \"i\", \"admin\\r\\n\"]\n"
                        "[0.250000, \"m\", \"item 2 of 2\"]\n"
                        "[0.250000, \"o\", \"Router#\"]\n"
                        "[0.250000, \"m\", \"client gone\"]\n"
                        "[0.250000, \"m\", \"end: client-gone, 2 of 2 items sent; verdict fail; typed "
                        "[\\\"admin\\\"]\"]\n"),
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
    play("r2", 1, {"x\r\n"});
    EXPECT_EQ(readAll(dir.path("victim")), "precious");
    ASSERT_EQ(problems.size(), 1u);
    EXPECT_NE(problems[0].find("r2-1.cast: is a symbolic link; not written through it"), std::string::npos)
        << problems[0];
    EXPECT_EQ(records.lastOutcome().jsonFields(), ",\"typed\":[\"x\"],\"verdict\":\"none\"");
}

TEST_F(Records, transcriptHeaderHoldsThePortListenedOn)
{
    records.listening("r2", 40123);
    play("r2", 1, {});
    EXPECT_NE(readAll(dir.path("r2-1.cast")).find("\"port\": 40123,"), std::string::npos);
}

TEST(RecordsStart, unwritablePlacesStopTheRun)
{
    TempDir dir;
    ManualLoop loop;
    auto ignore = [](const std::string &) {};
    EXPECT_NE(SessionRecords(loop, {dir.path("none/casts"), ""}, ignore).prepare().find("--transcripts"), std::string::npos);
    EXPECT_NE(SessionRecords(loop, {"", dir.path("gone/report.xml")}, ignore).prepare().find("--junit"),
              std::string::npos);
}

} // namespace

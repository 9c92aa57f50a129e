// junit_test.cpp: the report as a real JUnit reader sees it, and its atomic rewrite.
#include "serve/junit.h"

#include "temp_dir.h"

#include <gtest/gtest.h>

using zentrel::serve::JunitCase;
using zentrel::serve::JunitReport;
using zentrel::tests::run;
using zentrel::tests::TempDir;

namespace {

std::string readWithJunitConsumer(const std::string &report)
{
    const auto ran = run("/usr/bin/python3 " ZENTREL_SERVE_TESTS "/check_junit.py '" + report + "' 2>&1");
    EXPECT_EQ(ran.status, 0) << ran.out;
    return ran.out;
}

TEST(Junit, suitesCasesAndFailuresAsAConsumerReadsThem)
{
    TempDir dir;
    JunitReport report(dir.path("report.xml"));
    ASSERT_EQ(report.open({"r1", "idle"}), "");
    ASSERT_EQ(report.add({"r1", 1, "127.0.0.1:40000", 2.5, JunitCase::Outcome::Pass, "", "", {"admin", "", "show version"}}), "");
    ASSERT_EQ(report.add({"r1", 2, "127.0.0.1:40002", 1.25, JunitCase::Outcome::Fail,
                          "line 2: expected \"show version\", typed \"show <ver>\"",
                          "--- EXPECT.TXT\n+++ typed\n-show version\n+show <ver> & \\x1b\n",
                          {"admin", "show <ver> & \x1b[A caf\xe9 \x01"}, true}), "");
    ASSERT_EQ(report.add({"r2", 1, "[::1]:5000", 0.1, JunitCase::Outcome::Error, "the script cannot be read", "", {}}), "");
    // Whole after every case, before the close too.
    EXPECT_EQ(readWithJunitConsumer(dir.path("report.xml")),
              "suite r1 tests=0 failures=0 errors=0\n"
              "suite idle tests=0 failures=0 errors=0\n"
              "suite r1 tests=1 failures=0 errors=0\n"
              "case zentrel.r1 | session 1 from 127.0.0.1:40000 | pass\n"
              "out 'admin\\n\\nshow version\\n'\n"
              "suite r1 tests=1 failures=1 errors=0\n"
              "case zentrel.r1 | session 2 from 127.0.0.1:40002 | Failure(ExpectMismatch: line 2: expected "
              "\"show version\", typed \"show <ver>\")\n"
              "diff '--- EXPECT.TXT\\n+++ typed\\n-show version\\n+show <ver> & \\\\x1b\\n'\n"
              "out 'admin\\nshow <ver> & \\\\x1b[A caf\xc3\xa9 \\\\x01\\n(the client typed more; only the lines "
              "above were kept)\\n'\n"
              "suite r2 tests=1 failures=0 errors=1\n"
              "case zentrel.r2 | session 1 from [::1]:5000 | Error(SessionFailed: the script cannot be read)\n"
              "out None\n");
    EXPECT_EQ(report.close(), "");
}

// A flood of typed lines costs the report 64 KiB, and a case costs the same
// whatever came before it: the file grows by what is added, nothing is
// written again.
TEST(Junit, eachCaseIsBoundedAndAppended)
{
    TempDir dir;
    JunitReport report(dir.path("report.xml"));
    ASSERT_EQ(report.open({"r1"}), "");
    const std::vector<std::string> flood(2000, std::string(1000, 'x'));
    std::uintmax_t size = std::filesystem::file_size(dir.path("report.xml"));
    std::vector<std::uintmax_t> growth;
    for (std::uint64_t n = 1; n <= 3; ++n) {
        ASSERT_EQ(report.add({"r1", n, "127.0.0.1:1", 0, JunitCase::Outcome::Fail, std::string(5000, 'm'),
                              std::string(100'000, 'd'), flood}), "");
        const std::uintmax_t now = std::filesystem::file_size(dir.path("report.xml"));
        growth.push_back(now - size);
        size = now;
    }
    EXPECT_LT(growth[0], JunitReport::MaxSystemOut + JunitReport::MaxDetails + 2 * JunitReport::MaxMessage);
    EXPECT_EQ(growth[1], growth[0]);
    EXPECT_EQ(growth[2], growth[0]);
    const std::string consumer = readWithJunitConsumer(dir.path("report.xml"));
    EXPECT_NE(consumer.find("(cut at 64 KiB)"), std::string::npos);
    EXPECT_NE(consumer.find("only the lines above were kept"), std::string::npos);
}

TEST(Junit, neverWritesThroughALinkAndLeavesNoOtherFile)
{
    TempDir dir;
    dir.write("victim", "precious");
    std::filesystem::create_symlink(dir.path("victim"), dir.path("report.xml"));
    JunitReport linked(dir.path("report.xml"));
    EXPECT_NE(linked.open({"r1"}).find("symbolic link"), std::string::npos);
    EXPECT_EQ(zentrel::tests::readAll(dir.path("victim")), "precious");

    JunitReport missing(dir.path("gone/report.xml"));
    EXPECT_NE(missing.open({}).find("gone/report.xml"), std::string::npos);

    std::filesystem::create_directory(dir.path("dir.xml"));   // no file can replace it
    JunitReport blocked(dir.path("dir.xml"));
    EXPECT_NE(blocked.open({}).find("cannot replace"), std::string::npos);
    std::size_t files = 0;
    for ([[maybe_unused]] const auto &entry : std::filesystem::directory_iterator(dir.path()))
        ++files;
    EXPECT_EQ(files, 3u) << "only the victim, its link and the directory";
}

} // namespace

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
    report.addRouter("r1");
    report.addRouter("idle");
    report.add({"r1", 1, "127.0.0.1:40000", 2.5, JunitCase::Outcome::Pass, "", "", {"admin", "", "show version"}});
    report.add({"r1", 2, "127.0.0.1:40002", 1.25, JunitCase::Outcome::Fail,
                "line 2: expected \"show version\", typed \"show <ver>\"",
                "--- EXPECT.TXT\n+++ typed\n-show version\n+show <ver> & \\x1b\n",
                {"admin", "show <ver> & \x1b[A caf\xe9 \x01"}, true});
    report.add({"r2", 1, "[::1]:5000", 0.1, JunitCase::Outcome::Error, "the script cannot be read", "", {}});
    ASSERT_EQ(report.write(), "");

    EXPECT_EQ(readWithJunitConsumer(dir.path("report.xml")),
              "suite r1 tests=2 failures=1 errors=0\n"
              "case zentrel.r1 | session 1 from 127.0.0.1:40000 | pass\n"
              "out 'admin\\n\\nshow version\\n'\n"
              "case zentrel.r1 | session 2 from 127.0.0.1:40002 | Failure(ExpectMismatch: line 2: expected "
              "\"show version\", typed \"show <ver>\")\n"
              "diff '--- EXPECT.TXT\\n+++ typed\\n-show version\\n+show <ver> & \\\\x1b\\n'\n"
              "out 'admin\\nshow <ver> & \\\\x1b[A caf\xc3\xa9 \\\\x01\\n(the client typed more; only the lines "
              "above were kept)\\n'\n"
              "suite idle tests=0 failures=0 errors=0\n"
              "suite r2 tests=1 failures=0 errors=1\n"
              "case zentrel.r2 | session 1 from [::1]:5000 | Error(SessionFailed: the script cannot be read)\n"
              "out None\n");
}

TEST(Junit, rewriteLeavesNoTemporaryFileAndAWholeReport)
{
    TempDir dir;
    JunitReport report(dir.path("report.xml"));
    for (std::uint64_t n = 1; n <= 3; ++n) {
        report.add({"r1", n, "127.0.0.1:1", 0, JunitCase::Outcome::Pass, "", "", {"x"}});
        ASSERT_EQ(report.write(), "");
    }
    EXPECT_EQ(readWithJunitConsumer(dir.path("report.xml")).substr(0, 37), "suite r1 tests=3 failures=0 errors=0\n");
    std::size_t files = 0;
    for ([[maybe_unused]] const auto &entry : std::filesystem::directory_iterator(dir.path()))
        ++files;
    EXPECT_EQ(files, 1u);
}

TEST(Junit, failedRewriteIsReportedAndCleanedUp)
{
    TempDir dir;
    JunitReport missing(dir.path("gone/report.xml"));
    EXPECT_NE(missing.write().find("gone/report.xml.tmp-"), std::string::npos);

    std::filesystem::create_directory(dir.path("report.xml"));   // no file can replace it
    JunitReport blocked(dir.path("report.xml"));
    EXPECT_NE(blocked.write().find("cannot replace"), std::string::npos);
    std::size_t files = 0;
    for ([[maybe_unused]] const auto &entry : std::filesystem::directory_iterator(dir.path()))
        ++files;
    EXPECT_EQ(files, 1u);
}

} // namespace

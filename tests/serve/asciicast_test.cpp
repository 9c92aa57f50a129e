// asciicast_test.cpp: transcripts as asciinema reads them back, and a disk that fills up.
#include "serve/asciicast.h"

#include "temp_dir.h"

#include <gtest/gtest.h>

using zentrel::serve::CastHeader;
using zentrel::serve::CastWriter;
using zentrel::tests::readAll;
using zentrel::tests::run;
using zentrel::tests::TempDir;

namespace {

TEST(Asciicast, asciinemaCatGivesBackTheExactBytesSent)
{
    TempDir dir;
    std::string every;
    for (int byte = 0; byte < 256; ++byte)
        every.push_back(static_cast<char>(byte));
    std::vector<std::string> failures;
    {
        CastWriter cast(dir.path("r1-1.cast"), {1765000000, "r1 session 1 from 127.0.0.1:4000", {{1101, 0.5}}},
                        [&](const std::string &failure) { failures.push_back(failure); });
        cast.marker(0.000010, "item 1 of 2");
        cast.output(0.5, "Router>\r\n");
        cast.input(0.6, "\xff\xfd\x03show\r\n");
        cast.marker(0.6, "IAC DO SUPPRESS-GO-AHEAD");
        cast.output(1.000001, every);
        // Everything so far is in the file already, as a SIGKILL would leave it.
        const std::string written = readAll(cast.path());
        EXPECT_EQ(std::count(written.begin(), written.end(), '\n'), 6);
    }
    EXPECT_TRUE(failures.empty());

    const auto cat = run("/usr/bin/python3 " ZENTREL_SERVE_TESTS "/cast_cat.py '" + dir.path("r1-1.cast") + "' '"
                         + dir.path("out") + "' 2>&1");
    ASSERT_EQ(cat.status, 0) << cat.out;
    EXPECT_EQ(readAll(dir.path("out")), "Router>\r\n" + every);

    const std::string cast = readAll(dir.path("r1-1.cast"));
    EXPECT_EQ(cast.substr(0, cast.find('\n')),
              "{\"version\": 2, \"width\": 80, \"height\": 24, \"timestamp\": 1765000000, "
              "\"title\": \"r1 session 1 from 127.0.0.1:4000\", \"port\": 1101, \"delay\": 0.5}");
    EXPECT_NE(cast.find("\n[0.000010, \"m\", \"item 1 of 2\"]\n[0.500000, \"o\", \"Router>\\r\\n\"]\n"
                        "[0.600000, \"i\", \"\\u00ff\\u00fd\\u0003show\\r\\n\"]\n"),
              std::string::npos);
}

TEST(Asciicast, recordedSessionHasNoRouterKeys)
{
    TempDir dir;
    std::vector<std::string> failures;
    {
        CastWriter cast(dir.path("session.cast"), {1765000001, "zentrel-record session 1", {}},
                        [&](const std::string &failure) { failures.push_back(failure); });
        cast.marker(-0.5, "router closed");   // a clock read before the accept still gives a valid time
    }
    EXPECT_TRUE(failures.empty());
    EXPECT_EQ(readAll(dir.path("session.cast")),
              "{\"version\": 2, \"width\": 80, \"height\": 24, \"timestamp\": 1765000001, "
              "\"title\": \"zentrel-record session 1\"}\n"
              "[0.000000, \"m\", \"router closed\"]\n");
}

TEST(Asciicast, fullDiskIsReportedOnceAndNeverThrows)
{
    std::vector<std::string> failures;
    CastWriter cast("/dev/full", {}, [&](const std::string &failure) { failures.push_back(failure); });
    for (int i = 0; i < 100; ++i)
        cast.output(i, "more bytes");
    EXPECT_TRUE(cast.failed());
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0], "/dev/full: cannot write: No space left on device");
}

TEST(Asciicast, fileThatCannotBeCreatedIsReported)
{
    TempDir dir;
    std::vector<std::string> failures;
    CastWriter cast(dir.path("gone/r1-1.cast"), {}, [&](const std::string &failure) { failures.push_back(failure); });
    cast.marker(0, "close");
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_NE(failures[0].find("cannot create: No such file or directory"), std::string::npos);
}

} // namespace

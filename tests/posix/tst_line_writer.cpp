// tst_line_writer.cpp: lines to a pipe whose reader stalls, comes back, or goes away, on the real loop.
#include "platform/posix/line_writer.h"
#include "platform/posix/posix_loop.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

#include <string>
#include <vector>

using zentrel::platform::LineWriter;
using zentrel::platform::PosixLoop;

namespace {

struct Pipe {
    int read = -1, write = -1;
    Pipe()
    {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) == 0) {
            read = fds[0];
            write = fds[1];
            ::fcntl(write, F_SETPIPE_SZ, 4096);
        }
    }
    ~Pipe()
    {
        if (read >= 0)
            ::close(read);
        if (write >= 0)
            ::close(write);
    }
    // What the pipe holds now.
    std::string drain() const
    {
        std::string got;
        char block[65536];
        ::fcntl(read, F_SETFL, O_NONBLOCK);
        for (ssize_t n; (n = ::read(read, block, sizeof block)) > 0;)
            got.append(block, std::size_t(n));
        return got;
    }
};

std::string numbered(int n)
{
    std::string line = "{\"n\":" + std::to_string(n) + ",\"pad\":\"";
    line.append(80, 'x');
    return line + "\"}\n";
}

struct Rig {
    PosixLoop loop;
    Pipe pipe;
    std::vector<std::string> reports;
    LineWriter::Setup setup(bool shared = false)
    {
        return {pipe.write, shared, 8192,
                [](std::uint64_t count) { return "{\"dropped\":" + std::to_string(count) + "}\n"; },
                [this](const std::string &text) { reports.push_back(text); }};
    }
};

// The reader stops: writes never block, the queue stays within its bound,
// and when the reader is back it gets whole lines, then the count of those
// it missed exactly where they are missing, then the lines after.
TEST(LineWriter, aStalledReaderCostsDroppedLinesNeverAStop)
{
    Rig rig;
    LineWriter writer(rig.loop, rig.setup());
    for (int n = 0; n < 1000; ++n)
        writer.write(numbered(n));   // would block for ever on a blocking descriptor
    EXPECT_LE(writer.queued(), 8192u);
    EXPECT_GT(writer.dropped(), 0u);
    ASSERT_FALSE(rig.reports.empty());
    EXPECT_NE(rig.reports[0].find("not keeping up"), std::string::npos);

    std::string got;
    for (int pass = 0; pass < 100 && got.find("dropped") == std::string::npos; ++pass) {
        got += rig.pipe.drain();
        rig.loop.runOnce(0.01);
    }
    writer.write(numbered(1000));
    rig.loop.runOnce(0);
    got += rig.pipe.drain();

    std::vector<std::string> lines;
    for (std::size_t at = 0, end; (end = got.find('\n', at)) != std::string::npos; at = end + 1)
        lines.push_back(got.substr(at, end - at + 1));
    ASSERT_EQ(got.back(), '\n');
    const auto gap = std::find_if(lines.begin(), lines.end(),
                                  [](const std::string &l) { return l.starts_with("{\"dropped\":"); });
    ASSERT_NE(gap, lines.end()) << got.substr(0, 300);
    const std::size_t before = std::size_t(gap - lines.begin());
    for (std::size_t i = 0; i < before; ++i)
        EXPECT_EQ(lines[i], numbered(int(i)));
    EXPECT_EQ(*gap, "{\"dropped\":" + std::to_string(writer.dropped()) + "}\n");
    EXPECT_EQ(before + writer.dropped(), 1000u);
    ASSERT_EQ(gap + 2, lines.end());
    EXPECT_EQ(gap[1], numbered(1000));
    EXPECT_NE(rig.reports.back().find(std::to_string(writer.dropped()) + " line(s) were dropped"), std::string::npos);
}

// Standard output's open file is shared with the shell: the writer makes its
// own, and leaves the shared one blocking as it found it.
TEST(LineWriter, aSharedDescriptorIsLeftAsItWas)
{
    Rig rig;
    {
        LineWriter writer(rig.loop, rig.setup(true));
        for (int n = 0; n < 100; ++n)
            writer.write(numbered(n));
        EXPECT_EQ(::fcntl(rig.pipe.write, F_GETFL) & O_NONBLOCK, 0);
    }
    EXPECT_EQ(::fcntl(rig.pipe.write, F_GETFL) & O_NONBLOCK, 0);
}

TEST(LineWriter, aReaderThatLeftIsReportedOnceAndFinishDoesNotWait)
{
    std::signal(SIGPIPE, SIG_IGN);   // as the programs do
    Rig rig;
    LineWriter writer(rig.loop, rig.setup());
    ::close(rig.pipe.read);
    rig.pipe.read = -1;
    writer.write("one\n");
    writer.write("two\n");
    EXPECT_TRUE(writer.failed());
    ASSERT_EQ(rig.reports.size(), 1u);
    EXPECT_EQ(rig.reports[0], "cannot write: Broken pipe");
}

TEST(LineWriter, finishGivesUpOnAStalledReaderAndSaysSo)
{
    Rig rig;
    LineWriter writer(rig.loop, rig.setup());
    for (int n = 0; n < 200; ++n)
        writer.write(numbered(n));
    writer.finish(0.2);
    EXPECT_NE(rig.reports.back().find("did not take the last"), std::string::npos) << rig.reports.back();
}

} // namespace

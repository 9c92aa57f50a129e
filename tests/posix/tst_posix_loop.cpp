// tst_posix_loop.cpp: the POSIX event loop: timers, posted work, descriptors, signals.
#include "platform/posix/posix_loop.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/epoll.h>
#include <unistd.h>

#include <csignal>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

using zentrel::platform::PosixLoop;

namespace {

struct Pipe {
    int fds[2] = {-1, -1};
    Pipe() { EXPECT_EQ(pipe(fds), 0); }
    ~Pipe() { closeBoth(); }
    void closeBoth()
    {
        for (int &fd : fds)
            if (fd >= 0)
                ::close(fd), fd = -1;
    }
    void fill() { EXPECT_EQ(::write(fds[1], "x", 1), 1); }
    int in() const { return fds[0]; }
};

bool readable(int fd, int timeoutMs)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, timeoutMs) == 1;
}

} // namespace

TEST(PosixLoop, timersRunInDeadlineOrderNeverEarly)
{
    PosixLoop loop;
    std::vector<std::string> ran;
    const double t0 = loop.now();
    auto note = [&](std::string name, double deadline) {
        return [&ran, &loop, name, deadline] {
            EXPECT_GE(loop.now(), deadline) << name;
            ran.push_back(name);
        };
    };
    loop.at(t0 + 0.030, note("c", t0 + 0.030));
    loop.at(t0 + 0.010, note("a1", t0 + 0.010));
    loop.at(t0 + 0.010, note("a2", t0 + 0.010));   // same deadline: the order they were set
    const auto dropped = loop.at(t0 + 0.020, note("dropped", t0 + 0.020));
    loop.at(t0 + 0.015, [&] {
        ran.push_back("b");
        loop.cancel(dropped);                       // from inside another timer
        // Due at once, and before c however late this timer ran.
        loop.at(t0 + 0.015, note("b-next", t0 + 0.015));
    });
    loop.at(t0 + 0.040, [&] { loop.quit(); });
    loop.cancel(12345);                             // unknown: left alone
    loop.run();
    EXPECT_EQ(ran, (std::vector<std::string>{"a1", "a2", "b", "b-next", "c"}));
}

TEST(PosixLoop, postedWorkRunsInOrderAndLaterPostsWaitAPass)
{
    PosixLoop loop;
    std::vector<int> ran;
    loop.post([&] {
        ran.push_back(1);
        loop.post([&] { ran.push_back(3); });
    });
    loop.post([&] { ran.push_back(2); });
    loop.runOnce(0);
    EXPECT_EQ(ran, (std::vector<int>{1, 2}));
    EXPECT_TRUE(readable(loop.fd(), 0)) << "work posted for the next pass shows on fd()";
    loop.runOnce(0);
    EXPECT_EQ(ran, (std::vector<int>{1, 2, 3}));
    EXPECT_FALSE(readable(loop.fd(), 0));

    // From another thread, the post wakes a loop that sleeps with nothing to do.
    std::thread other([&] { loop.post([&] { loop.quit(); }); });
    loop.run();
    other.join();
}

// As the window would drive it: runOnce(0) only when fd() turns readable.
TEST(PosixLoop, fdTurnsReadableWhenATimerIsDue)
{
    PosixLoop loop;
    bool ran = false;
    loop.post([&] { loop.at(loop.now() + 0.005, [&] { ran = true; }); });
    ASSERT_TRUE(readable(loop.fd(), 0));
    loop.runOnce(0);   // sets the timer
    const double deadline = loop.now() + 2;
    while (!ran && loop.now() < deadline) {
        ASSERT_TRUE(readable(loop.fd(), 2000));
        loop.runOnce(0);
    }
    EXPECT_TRUE(ran);
}

TEST(PosixLoop, descriptorsUnwatchedInAPassGetNoCallback)
{
    PosixLoop loop;
    Pipe first, second, third;
    first.fill(), second.fill(), third.fill();
    int calls = 0;
    int replacedCalls = 0;
    int secondFd = second.in();
    auto unwatchOthers = [&](std::uint32_t ready) {
        EXPECT_TRUE(ready & EPOLLIN);
        ++calls;
        // Whichever runs first takes the others out, and its own watch too.
        for (int fd : {first.in(), second.in(), third.in()})
            loop.unwatch(fd);
        // The freed number comes back for a new descriptor, quiet so far.
        second.closeBoth();
        Pipe fresh;
        EXPECT_EQ(fresh.in(), secondFd);
        loop.watch(fresh.in(), EPOLLIN, [&](std::uint32_t) { ++replacedCalls; });
        loop.unwatch(fresh.in());
    };
    loop.watch(first.in(), EPOLLIN, unwatchOthers);
    loop.watch(second.in(), EPOLLIN, unwatchOthers);
    loop.watch(third.in(), EPOLLIN, unwatchOthers);
    loop.runOnce(1);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(replacedCalls, 0);
    loop.runOnce(0);
    EXPECT_EQ(calls, 1);
}

TEST(PosixLoop, modifyChangesWhatWakesTheCallback)
{
    PosixLoop loop;
    Pipe pipe;
    std::vector<std::uint32_t> seen;
    loop.watch(pipe.fds[1], 0, [&](std::uint32_t ready) { seen.push_back(ready); });
    loop.runOnce(0);
    EXPECT_TRUE(seen.empty());
    loop.modify(pipe.fds[1], EPOLLOUT);
    loop.runOnce(0);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_TRUE(seen[0] & EPOLLOUT);
    EXPECT_THROW(loop.modify(pipe.in(), EPOLLIN), std::exception);
    loop.unwatch(pipe.fds[1]);
}

TEST(PosixLoop, aThrowingCallbackIsReportedAndTheLoopGoesOn)
{
    PosixLoop loop;
    Pipe pipe;
    pipe.fill();
    bool after = false;
    loop.watch(pipe.in(), EPOLLIN, [&](std::uint32_t) {
        loop.unwatch(pipe.in());
        throw std::runtime_error("descriptor trouble");
    });
    loop.at(loop.now(), [] { throw std::runtime_error("timer trouble"); });
    loop.post([] { throw 42; });
    loop.post([&] { after = true; });
    testing::internal::CaptureStderr();
    loop.runOnce(0);
    const std::string errors = testing::internal::GetCapturedStderr();
    EXPECT_TRUE(after);
    EXPECT_NE(errors.find("descriptor trouble"), std::string::npos) << errors;
    EXPECT_NE(errors.find("timer trouble"), std::string::npos) << errors;
    EXPECT_NE(errors.find("unknown exception"), std::string::npos) << errors;
}

TEST(PosixLoop, signalsArriveAsCallbacksFromTheLoop)
{
    PosixLoop loop;
    int usr1 = 0, usr2 = 0;
    loop.onSignal(SIGUSR1, [&] { ++usr1; });
    loop.onSignal(SIGUSR2, [&] { ++usr2, loop.quit(); });
    ::kill(::getpid(), SIGUSR1);   // blocked: waits in the signalfd, kills nothing
    EXPECT_EQ(usr1, 0);
    loop.at(loop.now() + 0.01, [] { ::kill(::getpid(), SIGUSR2); });
    loop.run();
    EXPECT_EQ(usr1, 1);
    EXPECT_EQ(usr2, 1);
}

// posix_loop.h: the event loop of the headless programs: epoll, timerfd, eventfd, signalfd.
#pragma once
#include "platform/event_loop.h"
#include "platform/timer_queue.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace zentrel::platform {

// One thread runs the loop; every callback comes from run() or runOnce().
// A pass runs, in this order: the ready descriptors, the due timers, the
// functions posted before the pass began and by its descriptors and timers
// (those need no wake-up: posting from a pass costs no system call).
// Callbacks may set and cancel timers, post, and watch or unwatch any
// descriptor (their own included); a descriptor unwatched during a pass
// gets no callback later in that pass.
// An exception escaping a callback is reported on stderr and the loop goes on.
//
// Timers: a pause ends within microseconds of its deadline. The timerfd is
// set a quarter millisecond early and the rest of the wait is polled, within
// a small CPU budget; past the budget (thousands of timers a second) the
// loop sleeps right up to each deadline instead.
class PosixLoop : public EventLoop
{
public:
    PosixLoop();
    ~PosixLoop() override;
    PosixLoop(const PosixLoop &) = delete;
    PosixLoop &operator=(const PosixLoop &) = delete;

    double now() const override;   // CLOCK_MONOTONIC seconds
    TimerId at(double deadline, std::function<void()> function) override;
    void cancel(TimerId id) override;
    // FIFO; may also be called from another thread (the eventfd wakes the loop).
    void post(std::function<void()> function) override;
    // Runs passes until the deadline (tests wait with it).
    void yieldUntil(double deadline);

    // One callback per descriptor; `events` is EPOLLIN and/or EPOLLOUT,
    // level-triggered. The callback gets the ready mask (EPOLLIN, EPOLLOUT,
    // EPOLLERR, EPOLLHUP, EPOLLRDHUP). Watching a watched descriptor again
    // replaces its callback. Throws platform::Error when epoll refuses.
    void watch(int fd, std::uint32_t events, std::function<void(std::uint32_t ready)> callback);
    void modify(int fd, std::uint32_t events);
    void unwatch(int fd);   // before close(fd); also from inside the fd's own callback
    bool watching(int fd) const;

    // Blocks the signal for the process and calls back from the loop each
    // time it arrives. The destructor restores the previous signal mask.
    void onSignal(int signo, std::function<void()> callback);

    void run();    // passes until quit(); returns after the pass that saw quit()
    void quit();
    // One pass: waits at most maxWait seconds (0: not at all, negative: as long
    // as it takes) for something to do, then runs what is due.
    void runOnce(double maxWait);
    // The epoll descriptor: readable when runOnce(0) has work to do, so that
    // another loop (the window's) can watch it.
    int fd() const { return m_epoll; }

    // Connections their owners closed that still send what was queued (or
    // wait for their client's close) register here: a program that ends runs
    // its loop until none is left, for a moment at most, then lets the rest
    // go. `letGo` frees the connection at once, without a goodbye.
    using LingerId = std::uint64_t;
    LingerId linger(std::function<void()> letGo);
    void doneLingering(LingerId id);   // an id no longer lingering is left alone
    std::size_t lingering() const { return m_lingering.size(); }
    void letGoLingering();

private:
    struct Watch {
        std::function<void(std::uint32_t)> callback;
        std::uint32_t generation = 0;
        std::uint32_t events = 0;
    };

    void release();
    void armTimer(double now, bool polling = false);
    int waitMs(double now, double limit);
    bool hasPosted();
    void runPosted();
    void readSignals();
    void clearTimerFd();

    // First: whatever the other members hold may still end its lingering
    // while they are destroyed.
    std::map<LingerId, std::function<void()>> m_lingering;
    LingerId m_lastLinger = 0;

    int m_epoll = -1;
    int m_timerFd = -1;
    int m_eventFd = -1;
    int m_signalFd = -1;

    TimerQueue m_timers;
    double m_armedFor = -1;   // the timerfd's expiry; negative when disarmed
    double m_spinBudget;      // seconds of polling still allowed
    double m_budgetAt;        // when the budget was last topped up

    std::vector<std::shared_ptr<Watch>> m_watches;   // by descriptor
    std::uint32_t m_generation = 0;

    std::mutex m_postMutex;
    std::deque<std::function<void()>> m_posted;
    bool m_wakeWritten = false;
    // The thread dispatching a pass's descriptors and timers: what it posts
    // runs at that pass's end, so it needs no wake-up.
    std::thread::id m_dispatching;

    std::map<int, std::function<void()>> m_signals;
    std::vector<int> m_blocked;   // signals this loop blocked, unblocked on destruction
    bool m_quit = false;
    bool m_inPass = false;   // inside runOnce(): the pass arms the timerfd as it ends
};

} // namespace zentrel::platform

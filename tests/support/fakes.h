// fakes.h: stand-ins for the platform services the logic tests drive by hand.
#pragma once
#include "platform/dialogs.h"
#include "platform/event_loop.h"
#include "platform/instance_guard.h"
#include "platform/profile.h"
#include "platform/sockets.h"
#include "platform/timer_queue.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

namespace zentrel::tests {

// A clock that moves only when the test lets the loop run: run() takes
// posted work first, then jumps the clock to the next timer and runs it,
// until nothing is left to do. Timers set by the test and by the code under
// test interleave by their deadlines.
class FakeEventLoop : public platform::EventLoop
{
public:
    double now() const override { return m_now; }
    TimerId at(double deadline, std::function<void()> function) override
    {
        return m_timers.add(deadline, std::move(function));
    }
    void cancel(TimerId id) override { m_timers.cancel(id); }
    void post(std::function<void()> function) override { m_posted.push_back(std::move(function)); }

    // The event loop takes over until no work is left (or the clock would pass `until`).
    void run(double until = 1e300);
    // Only the posted work: a return to the event loop with no time passing.
    void runPosted();
    void setNow(double now) { m_now = now; }
    // How often the clock moved on to a timer.
    int yields() const { return m_yields; }
    std::size_t pendingTimers() const { return m_timers.size(); }

private:
    double m_now = 1000.0;
    int m_yields = 0;
    std::deque<std::function<void()>> m_posted;
    platform::TimerQueue m_timers;
};

// Records what the console does to Winsock1; the test plays the clients.
class FakeSocketArray : public platform::SocketArray
{
public:
    struct Element {
        std::int32_t localPort = -1;
        int state = Closed;
        std::int32_t requestId = 0;
        std::string sent;       // everything sendData queued, in order
        std::string incoming;   // what the client sent and getData has not taken
        int closes = 0;         // close() calls from the program
    };

    void setEvents(Events events) override { m_events = std::move(events); }
    void create(int index) override;
    void setLocalPort(int index, std::int32_t port) override;
    void listen(int index) override;
    void accept(int index, std::int32_t requestId) override;
    bool waitingClientGone(std::int32_t requestId) override;
    void sendData(int index, std::string_view bytes) override;
    std::string getData(int index) override;
    void close(int index) override;
    int state(int index) const override;
    void closeAll() override;

    // A client connects: raises the connection request on element 0.
    std::int32_t clientConnects();
    // The client of a request not yet accepted hangs up: no event, as with
    // a real socket; the request reads as gone from then on.
    void waitingClientLeaves(std::int32_t requestId) { m_leftWaiting.insert(requestId); }
    // The client of an element sends bytes: raises data arrival.
    void clientSends(int index, const std::string &bytes);
    // The client of an element hangs up: the element closes, close event.
    void clientCloses(int index);

    bool has(int index) const { return m_elements.count(index) != 0; }
    Element &element(int index) { return m_elements.at(index); }
    const std::vector<std::string> &calls() const { return m_calls; }

    int listenFailsWith = 0;   // error code listen() throws, 0 for none
    int acceptFailsWith = 0;
    int sendFailsWith = 0;

private:
    Events m_events;
    std::map<int, Element> m_elements;
    std::vector<std::string> m_calls;
    std::int32_t m_nextRequest = 0;
    std::set<std::int32_t> m_leftWaiting;
};

// Answers message boxes from a script and remembers every box shown.
class FakeDialogs : public platform::Dialogs
{
public:
    struct Shown {
        std::string text, title;
        Icon icon;
        Buttons buttons;
    };

    Answer messageBox(const std::string &text, const std::string &title, Icon icon,
                      Buttons buttons) override;

    std::deque<Answer> answers;   // taken in order; Ok or No when empty
    std::vector<Shown> shown;
};

class FakeInstanceGuard : public platform::InstanceGuard
{
public:
    bool anotherCopyRunning() override { return another; }
    bool another = false;
};

// A profile with no settings in it, whose writes all fail.
struct FakeEmptyProfile : platform::Profile {
    std::string getString(std::string_view, std::string_view, std::string_view defaultValue,
                          std::size_t, const std::string &) override
    {
        return std::string(defaultValue);
    }
    bool writeString(std::string_view, std::string_view, std::string_view,
                     const std::string &) override
    {
        return false;
    }
};

} // namespace zentrel::tests

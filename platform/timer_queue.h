// timer_queue.h: the pending timers of an event loop, earliest first.
#pragma once
#include "platform/event_loop.h"

#include <functional>
#include <map>
#include <unordered_map>
#include <utility>

namespace zentrel::platform {

// Every loop implementation keeps its timers here and asks it what is due.
// Timers with the same deadline run in the order they were set.
class TimerQueue
{
public:
    EventLoop::TimerId add(double deadline, std::function<void()> function)
    {
        const EventLoop::TimerId id = ++m_lastId;
        const auto entry = m_byTime.emplace(Key{deadline, id}, std::move(function)).first;
        m_byId.emplace(id, entry->first);
        return id;
    }
    void cancel(EventLoop::TimerId id)
    {
        const auto found = m_byId.find(id);
        if (found == m_byId.end())
            return;
        m_byTime.erase(found->second);
        m_byId.erase(found);
    }
    bool empty() const { return m_byTime.empty(); }
    std::size_t size() const { return m_byTime.size(); }
    // The earliest deadline; only when not empty().
    double next() const { return m_byTime.begin()->first.deadline; }
    // Takes out the earliest timer when it is due at `now`; an empty function otherwise.
    std::function<void()> takeDue(double now)
    {
        if (m_byTime.empty() || m_byTime.begin()->first.deadline > now)
            return {};
        auto entry = m_byTime.begin();
        std::function<void()> function = std::move(entry->second);
        m_byId.erase(entry->first.id);
        m_byTime.erase(entry);
        return function;
    }
    // Runs every timer due at `now`, including those a due timer sets for
    // `now` or earlier. Returns how many ran.
    int runDue(double now)
    {
        int ran = 0;
        while (std::function<void()> function = takeDue(now)) {
            function();
            ++ran;
        }
        return ran;
    }

private:
    struct Key {
        double deadline;
        EventLoop::TimerId id;
        bool operator<(const Key &other) const
        {
            return deadline < other.deadline || (deadline == other.deadline && id < other.id);
        }
    };
    std::map<Key, std::function<void()>> m_byTime;
    std::unordered_map<EventLoop::TimerId, Key> m_byId;
    EventLoop::TimerId m_lastId = 0;
};

} // namespace zentrel::platform

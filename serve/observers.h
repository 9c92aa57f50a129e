// observers.h: several listeners to the same sessions (events, transcripts, checks) behind one observer.
#pragma once
#include "console/observer.h"

#include <vector>

namespace zentrel::serve {

// A router reports to one observer; this one passes every report on, in the
// order the observers were added.
class ObserverFan : public console::SessionObserver
{
public:
    void add(console::SessionObserver &observer) { m_observers.push_back(&observer); }

    void sessionStarted(const console::SessionInfo &info) override
    {
        for (auto *observer : m_observers)
            observer->sessionStarted(info);
    }
    void itemSent(const console::SessionInfo &info, std::size_t index, std::string_view item) override
    {
        for (auto *observer : m_observers)
            observer->itemSent(info, index, item);
    }
    void clientTyped(const console::SessionInfo &info, std::string_view chunk) override
    {
        for (auto *observer : m_observers)
            observer->clientTyped(info, chunk);
    }
    void clientGone(const console::SessionInfo &info) override
    {
        for (auto *observer : m_observers)
            observer->clientGone(info);
    }
    void sessionEnded(const console::SessionInfo &info, const console::SessionEnd &end) override
    {
        for (auto *observer : m_observers)
            observer->sessionEnded(info, end);
    }
    void warning(const console::SessionInfo &info, std::string_view text) override
    {
        for (auto *observer : m_observers)
            observer->warning(info, text);
    }

private:
    std::vector<console::SessionObserver *> m_observers;
};

} // namespace zentrel::serve

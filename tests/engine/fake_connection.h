// fake_connection.h: a connection that records what is sent and lets a test type into it.
#pragma once
#include "console/connection.h"

#include <memory>
#include <string>
#include <string_view>
#include <utility>

namespace zentrel::testing {

// By default the client reads everything at once; with `reads` false what is
// sent stays queued until the test takes it.
class FakeConnection : public console::Connection
{
public:
    void setEvents(Events events) override { m_events = std::move(events); }
    void send(std::string_view bytes) override
    {
        if (!m_gone)
            m_sent.append(bytes);
        m_aboveHigh = m_aboveHigh || queued() > HighWater;
    }
    std::size_t queued() const override { return reads ? 0 : m_sent.size(); }
    void holdInput(bool held) override { m_held = held; }
    bool isGone() const override { return m_gone; }
    void close() override { *m_closed = true; }
    void reset() override
    {
        *m_closed = true;
        wasReset = true;
    }
    std::string peer() const override { return "127.0.0.1:40000"; }

    void type(std::string_view chunk) { m_events.data(chunk); }
    void leave()
    {
        m_gone = true;
        if (m_events.gone)
            m_events.gone();
    }
    // The client shuts its sending side.
    void stopTyping()
    {
        if (m_events.ended)
            m_events.ended();
    }
    // Everything sent so far, then forgotten; a queue that went past the
    // high-water mark raises `drained`, as a transport does.
    std::string take()
    {
        std::string sent = std::exchange(m_sent, {});
        if (std::exchange(m_aboveHigh, false) && m_events.drained)
            m_events.drained();
        return sent;
    }
    std::size_t sentSize() const { return m_sent.size(); }
    bool closed() const { return *m_closed; }
    // Still says whether it was closed once the router has destroyed the connection.
    std::shared_ptr<const bool> closedFlag() const { return m_closed; }
    bool held() const { return m_held; }
    bool hasEvents() const { return static_cast<bool>(m_events.data); }

    bool reads = true;
    bool wasReset = false;

private:
    Events m_events;
    std::string m_sent;
    bool m_gone = false;
    std::shared_ptr<bool> m_closed = std::make_shared<bool>(false);
    bool m_held = false;
    bool m_aboveHigh = false;
};

} // namespace zentrel::testing

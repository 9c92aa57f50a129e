// fake_connection.h: a connection that records what is sent and lets a test type into it.
#pragma once
#include "console/connection.h"

#include <string>
#include <string_view>
#include <utility>

namespace zentrel::testing {

class FakeConnection : public console::Connection
{
public:
    void setEvents(Events events) override { m_events = std::move(events); }
    void send(std::string_view bytes) override
    {
        if (!m_gone)
            m_sent.append(bytes);
    }
    bool isGone() const override { return m_gone; }
    void close() override { m_closed = true; }
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
    // Everything sent so far, then forgotten.
    std::string take() { return std::exchange(m_sent, {}); }
    bool closed() const { return m_closed; }

private:
    Events m_events;
    std::string m_sent;
    bool m_gone = false;
    bool m_closed = false;
};

} // namespace zentrel::testing

// line_echo.cpp: the echo of a router's line editor, Telnet commands left out.
#include "console/line_echo.h"

namespace zentrel::console {

LineEcho::LineEcho(std::unique_ptr<Connection> inner, Carrier carrier)
    : m_inner(std::move(inner)), m_carrier(carrier)
{
}

void LineEcho::setEvents(Events events)
{
    m_events = std::move(events);
    Events own = m_events;
    own.data = [this](std::string_view chunk) {
        // The echo goes out first: a client that waits for its own line back
        // before it reads the answer sees them in the order a router sends them.
        const std::string echo = echoOf(chunk);
        if (!echo.empty() && !m_inner->isGone())
            m_inner->send(echo);
        if (m_events.data)
            m_events.data(chunk);
    };
    m_inner->setEvents(std::move(own));
}

std::string LineEcho::echoOf(std::string_view chunk)
{
    std::string echo;
    for (const char c : chunk) {
        if (m_carrier == Carrier::Telnet) {
            switch (m_telnet.next(c)) {
            case TelnetScanner::Byte::Data:
                break;
            case TelnetScanner::Byte::Escaped255:
                echo += "\xff\xff";
                ++m_lineLength;
                continue;
            default:
                m_enter.breakPair();   // a command between CR and LF ends the Enter
                continue;
            }
        }
        if (!m_enter.secondHalf(c))
            typed(c, echo);
    }
    return echo;
}

void LineEcho::typed(char c, std::string &echo)
{
    switch (c) {
    case '\r':
    case '\n':
        echo += "\r\n";
        m_lineLength = 0;
        return;
    case '\b':
    case '\x7f':
        if (m_lineLength > 0) {
            echo += "\b \b";
            --m_lineLength;
        }
        return;
    case '\t':
        break;
    default:
        if (static_cast<unsigned char>(c) < 0x20)
            return;
    }
    echo.push_back(c);
    ++m_lineLength;
}

} // namespace zentrel::console

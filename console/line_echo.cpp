// line_echo.cpp: the echo of a router's line editor, Telnet commands left out.
#include "console/line_echo.h"

namespace zentrel::console {

namespace {
constexpr unsigned char Iac = 255;
constexpr unsigned char Sb = 250;
constexpr unsigned char Se = 240;
constexpr unsigned char Will = 251;   // WILL, WONT, DO and DONT carry one option byte
} // namespace

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
    const bool telnet = m_carrier == Carrier::Telnet;
    for (const char c : chunk) {
        const auto byte = static_cast<unsigned char>(c);
        switch (m_state) {
        case State::Iac:
            if (byte == Iac) {
                echo += "\xff\xff";
                ++m_lineLength;
                m_state = State::Text;
            } else if (byte == Sb) {
                m_state = State::Sub;
            } else if (byte >= Will) {
                m_state = State::IacOption;
            } else {
                m_state = State::Text;
            }
            continue;
        case State::IacOption:
            m_state = State::Text;
            continue;
        case State::Sub:
            if (byte == Iac)
                m_state = State::SubIac;
            continue;
        case State::SubIac:
            m_state = byte == Se ? State::Text : State::Sub;
            continue;
        case State::AfterCr:
            m_state = State::Text;
            if (byte == '\n' || byte == '\0')   // the rest of one Enter
                continue;
            break;
        case State::Text:
            break;
        }
        if (telnet && byte == Iac)
            m_state = State::Iac;
        else
            typed(c, echo);
    }
    return echo;
}

void LineEcho::typed(char c, std::string &echo)
{
    switch (c) {
    case '\r':
        m_state = State::AfterCr;
        [[fallthrough]];
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

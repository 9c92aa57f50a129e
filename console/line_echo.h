// line_echo.h: a connection that echoes what the client types, as a router's line editor does.
#pragma once
#include "console/connection.h"
#include "console/line_splitter.h"
#include "console/telnet.h"

#include <memory>
#include <string>
#include <string_view>

namespace zentrel::console {

// Sends back each typed character as the client types it: CR, LF and CR LF
// each come back as one CR LF, backspace and DEL erase one character of the
// current line with "\b \b" (none at the start of a line), other control
// bytes are not echoed. On Telnet, IAC commands and subnegotiations are never
// echoed, also when split across chunks; an escaped 255 comes back escaped.
// The session still hears every chunk exactly as the client sent it.
class LineEcho : public Connection
{
public:
    enum class Carrier { Telnet, Ssh };

    LineEcho(std::unique_ptr<Connection> inner, Carrier carrier);

    void setEvents(Events events) override;
    void send(std::string_view bytes) override { m_inner->send(bytes); }
    std::size_t queued() const override { return m_inner->queued(); }
    bool isGone() const override { return m_inner->isGone(); }
    void close() override { m_inner->close(); }
    std::string peer() const override { return m_inner->peer(); }

    // The echo for one chunk; keeps what it needs of a split sequence.
    std::string echoOf(std::string_view chunk);

private:
    void typed(char c, std::string &echo);

    std::unique_ptr<Connection> m_inner;
    Carrier m_carrier;
    Events m_events;
    TelnetScanner m_telnet;
    EnterPairs m_enter;
    std::size_t m_lineLength = 0;   // characters the client can still erase
};

} // namespace zentrel::console

// telnet_options.h: Telnet option negotiation as a router's console speaks it.
#pragma once
#include <string>
#include <string_view>

namespace zentrel::console {

namespace telnet {
inline constexpr unsigned char Wont = 252;
inline constexpr unsigned char Do = 253;
inline constexpr unsigned char Dont = 254;
inline constexpr unsigned char Echo = 1;
inline constexpr unsigned char SuppressGoAhead = 3;
} // namespace telnet

// The router offers to echo and to suppress go-ahead, and refuses every
// other option either side could take on (DONT to the client's WILL, WONT
// to its DO). The session echoes whatever the client answers: a client that
// refuses the echo (DONT ECHO) still gets it, as from a router. Only a
// request that would change an option's state is answered, so two sides
// never loop.
class TelnetOptions
{
public:
    // What the router sends as the session opens: IAC WILL ECHO, IAC WILL SUPPRESS-GO-AHEAD.
    std::string offer();
    // The answers to the commands the client sent (back to back, as the line
    // editor takes them out); "" when none is due. Subnegotiations and
    // two-byte commands get none.
    std::string answer(std::string_view commands);

private:
    enum class State { Off, Offered, On };
    State &ours(unsigned char option);
    void answerOne(unsigned char verb, unsigned char option, std::string &out);

    State m_echo = State::Off;
    State m_suppressGoAhead = State::Off;
    State m_other = State::Off;   // every other option stays off
};

} // namespace zentrel::console

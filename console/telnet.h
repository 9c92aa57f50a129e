// telnet.h: the Telnet bytes the engine knows by sight, and a reader that picks commands out of a stream.
#pragma once
#include <string_view>

namespace zentrel::console {

// The burst of option negotiation a common Telnet client sends right after
// connecting; the window ignores it when it arrives as one chunk of exactly
// these bytes.
inline constexpr std::string_view TelnetGreeting{
    "\xFF\xFD\x03\xFF\xFB\x18\xFF\xFB\x1F\xFF\xFB\x20\xFF\xFB\x21\xFF\xFB\x22\xFF\xFB\x27"
    "\xFF\xFD\x05",
    24};

namespace telnet {
inline constexpr unsigned char Iac = 255;
inline constexpr unsigned char Sb = 250;
inline constexpr unsigned char Se = 240;
inline constexpr unsigned char Will = 251;   // WILL, WONT, DO and DONT (251..254) take an option byte

inline constexpr bool takesOption(unsigned char command) { return command >= Will && command < Iac; }
} // namespace telnet

// Tells, byte by byte, which bytes of a Telnet stream are data and which
// belong to a command, keeping its place between chunks so that a command
// split anywhere is still read as one. A subnegotiation runs to IAC SE; an
// IAC followed by anything else inside it (IAC IAC included) stays inside,
// as a lenient reader takes it.
class TelnetScanner
{
public:
    enum class Byte {
        Data,          // a byte of the data stream
        Escaped255,    // the second byte of IAC IAC: a data byte 255
        Command,       // the second byte of a two-byte command (IAC NOP, IAC GA, a stray IAC SE)
        Negotiation,   // WILL, WONT, DO, DONT or SB right after an IAC
        Inside,        // the IAC that opens a command, an option byte, a subnegotiation to its SE
    };

    Byte next(char c)
    {
        const auto byte = static_cast<unsigned char>(c);
        switch (m_state) {
        case State::Data:
            if (byte != telnet::Iac)
                return Byte::Data;
            m_state = State::Iac;
            return Byte::Inside;
        case State::Iac:
            m_state = State::Data;
            if (byte == telnet::Iac)
                return Byte::Escaped255;
            if (byte == telnet::Sb) {
                m_state = State::Sub;
                return Byte::Negotiation;
            }
            if (telnet::takesOption(byte)) {
                m_state = State::Option;
                return Byte::Negotiation;
            }
            return Byte::Command;
        case State::Option:
            m_state = State::Data;
            return Byte::Inside;
        case State::Sub:
            if (byte == telnet::Iac)
                m_state = State::SubIac;
            return Byte::Inside;
        case State::SubIac:
            m_state = byte == telnet::Se ? State::Data : State::Sub;
            return Byte::Inside;
        }
        return Byte::Data;
    }

    // Inside a command: the byte just read opened or continued one that is not over.
    bool inCommand() const { return m_state != State::Data; }

private:
    enum class State { Data, Iac, Option, Sub, SubIac };
    State m_state = State::Data;
};

} // namespace zentrel::console

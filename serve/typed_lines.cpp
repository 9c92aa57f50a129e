// typed_lines.cpp: the typed lines a report keeps, and the Telnet commands spelled for it.
#include "serve/typed_lines.h"

#include <algorithm>
#include <array>

namespace zentrel::serve {

void TypedLines::add(const console::TypedLine &line)
{
    if (m_full || m_lines.size() >= m_maxLines) {
        m_cut = true;
        return;
    }
    m_cut = m_cut || line.cut;
    if (line.secret)
        m_secrets.push_back(m_lines.size());
    const std::size_t room = m_maxBytes - m_bytes;
    if (line.text.size() > room) {
        // Kept as far as the budget goes, and nothing after it.
        if (room > 0)
            m_lines.push_back(line.text.substr(0, room));
        m_bytes = m_maxBytes;
        m_full = m_cut = true;
        return;
    }
    m_lines.push_back(line.text);
    m_bytes += line.text.size();
}

std::vector<std::string> TypedLines::shown() const
{
    std::vector<std::string> shown = m_lines;
    for (const std::size_t index : m_secrets)
        if (!shown[index].empty())
            shown[index] = "***";
    return shown;
}

using namespace console::telnet;

namespace {

const char *commandName(unsigned char command)
{
    static constexpr std::array<const char *, 16> names = {
        "SE", "NOP", "DM", "BRK", "IP", "AO", "AYT", "EC",
        "EL", "GA", "SB", "WILL", "WONT", "DO", "DONT", "IAC"};
    return command >= Se ? names[command - Se] : nullptr;
}

// Names from the Telnet option registry.
const char *optionName(unsigned char option)
{
    static constexpr std::array<const char *, 50> names = {
        "BINARY", "ECHO", "RECONNECTION", "SUPPRESS-GO-AHEAD", "APPROX-MESSAGE-SIZE",
        "STATUS", "TIMING-MARK", "RCTE", "OUTPUT-LINE-WIDTH", "OUTPUT-PAGE-SIZE",
        "NAOCRD", "NAOHTS", "NAOHTD", "NAOFFD", "NAOVTS",
        "NAOVTD", "NAOLFD", "EXTEND-ASCII", "LOGOUT", "BM",
        "DET", "SUPDUP", "SUPDUP-OUTPUT", "SEND-LOCATION", "TERMINAL-TYPE",
        "END-OF-RECORD", "TUID", "OUTMRK", "TTYLOC", "3270-REGIME",
        "X.3-PAD", "NAWS", "TERMINAL-SPEED", "TOGGLE-FLOW-CONTROL", "LINEMODE",
        "X-DISPLAY-LOCATION", "OLD-ENVIRON", "AUTHENTICATION", "ENCRYPT", "NEW-ENVIRON",
        "TN3270E", "XAUTH", "CHARSET", "RSP", "COM-PORT-OPTION",
        "SUPPRESS-LOCAL-ECHO", "START-TLS", "KERMIT", "SEND-URL", "FORWARD-X"};
    if (option < names.size())
        return names[option];
    switch (option) {
    case 138: return "PRAGMA-LOGON";
    case 139: return "SSPI-LOGON";
    case 140: return "PRAGMA-HEARTBEAT";
    case 255: return "EXOPL";
    default: return nullptr;
    }
}

void appendName(std::string &out, const char *name, unsigned char byte)
{
    out += name ? std::string(name) : std::to_string(byte);
}

// Subnegotiation data: the first byte (IS, SEND, ...) by number, then the
// rest as quoted text when all of it is printable (a terminal type), else
// byte by byte (a window size).
void appendSubData(std::string &out, std::string_view data)
{
    if (data.empty())
        return;
    out += ' ' + std::to_string(static_cast<unsigned char>(data.front()));
    const std::string_view rest = data.substr(1);
    const bool text = !rest.empty() && std::all_of(rest.begin(), rest.end(), [](char c) {
        return c > 0x20 && c < 0x7F && c != '"';
    });
    if (text) {
        out += " \"";
        out += rest;
        out += '"';
        return;
    }
    for (const char c : rest)
        out += ' ' + std::to_string(static_cast<unsigned char>(c));
}

} // namespace

std::string spellTelnetCommands(std::string_view chunk)
{
    std::string out;
    auto startEntry = [&out] {
        if (!out.empty())
            out += ", ";
        out += "IAC";
    };
    std::size_t pos = 0;
    while (pos < chunk.size()) {
        if (static_cast<unsigned char>(chunk[pos]) != Iac) {
            ++pos;
            continue;
        }
        if (pos + 1 >= chunk.size()) {
            startEntry();
            break;
        }
        const auto command = static_cast<unsigned char>(chunk[pos + 1]);
        if (command == Iac) {   // a data byte 0xFF, not a command
            pos += 2;
            continue;
        }
        startEntry();
        out += ' ';
        appendName(out, commandName(command), command);
        pos += 2;
        if (takesOption(command) || command == Sb) {
            if (pos >= chunk.size())
                break;
            const auto option = static_cast<unsigned char>(chunk[pos++]);
            out += ' ';
            appendName(out, optionName(option), option);
        }
        if (command == Sb) {
            std::string data;
            bool closed = false;
            while (pos < chunk.size()) {
                const auto byte = static_cast<unsigned char>(chunk[pos++]);
                if (byte != Iac) {
                    data.push_back(static_cast<char>(byte));
                    continue;
                }
                if (pos >= chunk.size())
                    break;
                const auto next = static_cast<unsigned char>(chunk[pos++]);
                if (next == Se) {
                    closed = true;
                    break;
                }
                data.push_back(static_cast<char>(next));
            }
            appendSubData(out, data);
            if (closed)
                out += " IAC SE";
        }
    }
    return out;
}

} // namespace zentrel::serve

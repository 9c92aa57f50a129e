// line_editor.cpp: what a client typed, as a router's line editor reads it.
#include "console/line_editor.h"

#include <utility>

namespace zentrel::console {

namespace {

constexpr unsigned char Backspace = 0x08;
constexpr unsigned char Del = 0x7f;
constexpr unsigned char CtrlZ = 0x1a;

// What the terminal shows of a byte typed into the line.
bool shows(unsigned char byte)
{
    return byte == '\t' || byte >= 0x20;
}

} // namespace

void LineEditor::setSecret(bool secret)
{
    if (m_line.empty() && !m_cut) {
        m_secret = secret;
        m_nextSecret = false;
    } else {
        m_nextSecret = secret;
    }
}

const Edited &LineEditor::read(std::string_view chunk, Until until)
{
    m_out.echo.clear();
    m_out.lines.clear();
    m_out.telnet.clear();
    m_out.key.reset();
    m_out.help.reset();
    m_out.tab = false;
    bool masking = false;
    std::size_t at = 0;
    while (at < chunk.size()) {
        const char c = chunk[at++];
        bool escaped = false;
        if (m_setup.carrier == Carrier::Telnet) {
            const TelnetScanner::Byte kind = m_telnet.next(c);
            if (kind == TelnetScanner::Byte::Escaped255) {
                m_command.clear();   // the IAC before it was no command
                escaped = true;
            } else if (kind != TelnetScanner::Byte::Data) {
                if (m_command.size() < MaxCommand)
                    m_command.push_back(c);
                if (!m_telnet.inCommand())
                    m_out.telnet += std::exchange(m_command, {});
                if (masking)
                    m_masked.push_back(c);
                continue;
            }
        }
        if (until == Until::Key) {
            if (masking)
                m_masked.push_back(c);
            // The second half of an Enter is no key of its own.
            if (std::exchange(m_afterCr, c == '\r') && (c == '\n' || c == '\0'))
                continue;
            m_out.key = c;
            break;
        }
        const bool secret = m_secret;
        const Took took = data(static_cast<unsigned char>(c), escaped);
        // Every byte typed into a secret line is shown as '*', an escaped
        // 255 with its IAC: the length stays, the password does not.
        if (secret && took == Took::Line) {
            if (!masking) {
                m_masked.assign(chunk.substr(0, at - 1));
                masking = true;
            }
            if (escaped && !m_masked.empty())
                m_masked.back() = '*';
            m_masked.push_back('*');
        } else if (masking) {
            m_masked.push_back(c);
        }
        if ((took == Took::End || took == Took::Help) && until == Until::Line)
            break;
    }
    m_out.read = at;
    m_out.shown = masking ? std::string_view(m_masked) : chunk.substr(0, at);
    return m_out;
}

LineEditor::Took LineEditor::data(unsigned char byte, bool escaped)
{
    if (m_afterCr && (byte == '\n' || byte == '\0')) {
        m_afterCr = false;   // the second half of an Enter already taken
        return Took::Pair;
    }
    m_afterCr = byte == '\r';
    switch (byte) {
    case '\r':
    case '\n':
        endLine();
        return Took::End;
    case Backspace:
    case Del:
        erase();
        return Took::Line;
    default:
        break;
    }
    if ((byte == '?' || byte == '\t') && m_help && !m_secret) {
        m_out.tab = byte == '\t';
        if (m_setup.echo && !m_out.tab)
            m_out.echo += '?';
        m_out.help = m_line;
        return Took::Help;
    }
    if (m_line.size() >= MaxLine) {
        m_cut = true;
        if (byte == CtrlZ && m_ctrlZ && !m_secret) {
            endLine();   // the line ends all the same; it was cut before its Ctrl-Z
            return Took::End;
        }
        return Took::Line;
    }
    m_line.push_back(static_cast<char>(byte));
    if (byte == CtrlZ && m_ctrlZ && !m_secret) {
        if (m_setup.echo)
            m_out.echo += "^Z";
        endLine();
        return Took::End;
    }
    if (m_setup.echo && !m_secret && shows(byte))
        m_out.echo.append(escaped ? "\xff\xff" : std::string_view(m_line).substr(m_line.size() - 1));
    return Took::Line;
}

void LineEditor::typeIn(std::string_view text)
{
    m_line.append(text.substr(0, MaxLine - std::min(MaxLine, m_line.size())));
}

void LineEditor::erase()
{
    if (m_line.empty())
        return;
    const auto byte = static_cast<unsigned char>(m_line.back());
    m_line.pop_back();
    if (m_setup.echo && !m_secret && shows(byte))
        m_out.echo += "\b \b";
}

void LineEditor::endLine()
{
    if (m_setup.echo)
        m_out.echo += "\r\n";
    m_out.lines.push_back({std::move(m_line), m_secret, m_cut});
    m_line.clear();
    m_cut = false;
    m_secret = std::exchange(m_nextSecret, false);
}

std::optional<TypedLine> LineEditor::finish()
{
    std::optional<TypedLine> last;
    if (!m_line.empty() || m_cut)
        last = TypedLine{std::move(m_line), m_secret, m_cut};
    *this = LineEditor(m_setup);
    return last;
}

std::string_view promptOf(std::string_view item)
{
    const std::size_t lineEnd = item.find_last_of("\r\n");
    return lineEnd == std::string_view::npos ? item : item.substr(lineEnd + 1);
}

bool asksForPassword(std::string_view prompt)
{
    while (!prompt.empty() && (prompt.back() == ' ' || prompt.back() == '\t'))
        prompt.remove_suffix(1);
    return prompt.ends_with("assword:");
}

} // namespace zentrel::console

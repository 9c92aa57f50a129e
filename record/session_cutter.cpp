// session_cutter.cpp: a relayed session's router output cut into raw items at the client's lines.
#include "record/session_cutter.h"

#include "console/telnet_options.h"

#include <algorithm>
#include <iterator>

namespace zentrel::record {

using console::TelnetScanner;

namespace {

// The text after the last line end ends like a prompt: the router waits for a line.
bool endsInPrompt(std::string_view bytes)
{
    const std::string_view prompt = console::promptOf(bytes);
    const std::size_t last = prompt.find_last_not_of(" \t");
    return last != std::string_view::npos && std::string_view(">#$%:").find(prompt[last]) != std::string_view::npos;
}

} // namespace

std::string RouterFilter::feed(std::string_view bytes)
{
    if (!m_telnetOn)
        return std::string(bytes);
    std::string out;
    for (const char c : bytes) {
        switch (m_telnet.next(c)) {
        case TelnetScanner::Byte::Data:
            out.push_back(c);
            break;
        case TelnetScanner::Byte::Escaped255:
        case TelnetScanner::Byte::Command:
            out.push_back(static_cast<char>(console::telnet::Iac));
            out.push_back(c);
            break;
        case TelnetScanner::Byte::Negotiation:
            ++m_commands;
            m_verb = static_cast<unsigned char>(c);
            m_others += m_verb == console::telnet::Sb;
            break;
        case TelnetScanner::Byte::Inside:
            if (console::telnet::takesOption(m_verb)) {
                const auto option = static_cast<unsigned char>(c);
                m_others += m_verb != console::telnet::Will
                            || (option != console::telnet::Echo && option != console::telnet::SuppressGoAhead);
            }
            m_verb = 0;
            break;
        }
    }
    return out;
}

double RawItem::timeOf(std::size_t offset) const
{
    auto after = std::upper_bound(arrivals.begin(), arrivals.end(), offset,
                                  [](std::size_t o, const auto &a) { return o < a.first; });
    return after == arrivals.begin() ? lineTime : std::prev(after)->second;
}

void Cutter::fromRouter(double time, std::string_view bytes)
{
    const std::string kept = router.feed(bytes);
    if (kept.empty())
        return;
    m_item.arrivals.emplace_back(m_item.bytes.size(), time);
    m_item.bytes += kept;
    m_echoing = m_echoing
                || (m_item.lineTime >= 0 && m_item.echo.find_first_not_of("\r\n") != std::string::npos
                    && m_item.bytes.starts_with(m_item.echo));
    while (!m_ahead.empty() && cutAtEcho()) {
    }
    // What the client types after a password prompt is a secret line.
    m_editor.setSecret(console::asksForPassword(m_item.bytes));
}

void Cutter::fromClient(double time, std::string_view bytes)
{
    while (!bytes.empty()) {
        const console::Edited &edited = m_editor.feedLine(bytes);
        bytes.remove_prefix(edited.read);
        // The line began at this point of the router's output when the
        // client's first byte of it came (the whole chunk came at once).
        const bool typing = !m_editor.partial().empty()
                            || (!edited.lines.empty() && !edited.lines.front().text.empty());
        if (typing && m_lineStart == std::string::npos)
            m_lineStart = m_item.bytes.size();
        m_echo += edited.echo;
        for (const console::TypedLine &line : edited.lines)
            lineEnd(time, line);
    }
}

void Cutter::finish()
{
    flushAhead();
    items.push_back(std::move(m_item));
}

// `m_echo` ends with the line's own line end.
void Cutter::lineEnd(double time, const console::TypedLine &line)
{
    if (line.text.empty()) {
        m_item.enters.push_back(m_item.bytes.size());
    } else {
        std::string echo = std::move(m_echo);
        // A client that sends a character at a time gets most of the echo
        // before its line ends, at the tail of the item it answers.
        if (m_lineStart < m_item.bytes.size()) {
            const std::string_view tail = std::string_view(m_item.bytes).substr(m_lineStart);
            if (std::string_view(echo).starts_with(tail)) {
                echo.erase(0, tail.size());
                m_item.bytes.resize(m_lineStart);
            }
        }
        lines.push_back({line.text, line.secret});
        // Behind lines typed ahead, a line is typed ahead too, unless the
        // router answered and waits with no echo of them where it was due.
        bool ahead = m_echoing && waiting();
        if (!m_ahead.empty()) {
            ahead = !answered();
            if (!ahead)
                flushAhead();
        }
        if (ahead) {
            m_ahead.push_back({std::move(echo), time});
        } else {
            items.push_back(std::move(m_item));
            m_item = RawItem{};
            m_item.echo = std::move(echo);
            m_item.lineTime = time;
        }
    }
    m_echo.clear();
    m_lineStart = std::string::npos;
}

bool Cutter::waiting() const
{
    return m_item.lineTime >= 0 && std::string_view(m_item.echo).starts_with(m_item.bytes);
}

bool Cutter::answered() const
{
    return !waiting() && endsInPrompt(std::string_view(m_item.bytes));
}

// A line typed before the router answered the one before is echoed when
// the router reads it: after the prompt that ends that answer, or right
// after the echo before when that line has no answer (lines pasted where
// the router shows no prompt). The item is cut there, so that each answer
// stays with its line.
bool Cutter::cutAtEcho()
{
    const std::string &echo = m_ahead.front().echo;
    const std::string &bytes = m_item.bytes;
    const std::size_t own = bytes.starts_with(m_item.echo) ? m_item.echo.size() : 0;
    std::size_t at = bytes.find(echo, std::max(own, m_searched));
    while (at != std::string::npos && !(own > 0 && at == own)
           && !endsInPrompt(std::string_view(bytes).substr(0, at)))
        at = bytes.find(echo, at + 1);
    if (at == std::string::npos) {
        if (bytes.size() >= echo.size())
            m_searched = std::max(m_searched, bytes.size() - echo.size() + 1);
        return false;
    }
    RawItem next;
    next.echo = std::move(m_ahead.front().echo);
    next.lineTime = std::max(m_ahead.front().time, m_item.timeOf(at));
    next.bytes = bytes.substr(at);
    next.arrivals.emplace_back(0, m_item.timeOf(at));
    for (const auto &[offset, time] : m_item.arrivals)
        if (offset > at)
            next.arrivals.emplace_back(offset - at, time);
    std::erase_if(m_item.arrivals, [at](const auto &arrival) { return arrival.first >= at; });
    for (const std::size_t enter : m_item.enters)
        if (enter > at)
            next.enters.push_back(enter - at);
    std::erase_if(m_item.enters, [at](std::size_t enter) { return enter > at; });
    if (m_lineStart != std::string::npos)
        m_lineStart = m_lineStart > at ? m_lineStart - at : 0;
    m_item.bytes.resize(at);
    items.push_back(std::move(m_item));
    m_item = std::move(next);
    m_ahead.pop_front();
    m_searched = 0;
    return true;
}

// Lines typed ahead whose echo never came where it was looked for: cut at
// the time each was typed, as for a router that does not echo.
void Cutter::flushAhead()
{
    for (Ahead &line : m_ahead) {
        items.push_back(std::move(m_item));
        m_item = RawItem{};
        m_item.echo = std::move(line.echo);
        m_item.lineTime = line.time;
    }
    m_ahead.clear();
    m_searched = 0;
}

} // namespace zentrel::record

// recording.cpp: cuts the router's output into items at the client's lines, echo and negotiation out.
#include "record/recording.h"

#include "console/line_editor.h"
#include "console/telnet.h"
#include "console/telnet_options.h"
#include "serve/visible.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <utility>

namespace zentrel::record {

void SessionLog::add(double time, bool fromClient, std::string_view bytes)
{
    if (m_kept + bytes.size() > m_limit) {
        const std::size_t room = m_limit - m_kept;
        m_dropped += bytes.size() - room;
        bytes = bytes.substr(0, room);
    }
    if (bytes.empty())
        return;
    m_kept += bytes.size();
    if (!m_chunks.empty() && m_chunks.back().fromClient == fromClient && m_chunks.back().time == time)
        m_chunks.back().bytes += bytes;
    else
        m_chunks.push_back({time, fromClient, std::string(bytes)});
}

Start classifyStart(std::string_view head)
{
    for (const std::string_view opening : {std::string_view("SSH-"), std::string_view("\x16\x03", 2)}) {
        const std::size_t n = std::min(head.size(), opening.size());
        if (head.substr(0, n) != opening.substr(0, n))
            continue;
        if (n < opening.size())
            return Start::Undecided;
        return opening[0] == 'S' ? Start::Ssh : Start::Tls;
    }
    return head.empty() ? Start::Undecided : Start::Plain;
}

void ClientMask::fromRouter(std::string_view bytes)
{
    constexpr std::size_t Kept = 64;
    for (const char c : bytes) {
        const console::TelnetScanner::Byte kind = m_ssh ? console::TelnetScanner::Byte::Data : m_telnet.next(c);
        if (kind == console::TelnetScanner::Byte::Data || kind == console::TelnetScanner::Byte::Escaped255)
            m_tail.push_back(c);
    }
    if (m_tail.size() > 2 * Kept)
        m_tail.erase(0, m_tail.size() - Kept);
    m_editor.setSecret(console::asksForPassword(m_tail));
}

namespace {

using console::TelnetScanner;

// The router's output as it goes into items: option negotiation and
// subnegotiations out, everything else as the client received it, an escaped
// 255 and two-byte commands included (the replaying router sends item bytes
// unchanged, so the escape must stay in the item).
class RouterFilter
{
public:
    explicit RouterFilter(bool telnet) : m_telnetOn(telnet) {}

    std::string feed(std::string_view bytes)
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
    std::size_t commands() const { return m_commands; }
    // Those that are not WILL ECHO or WILL SUPPRESS-GO-AHEAD.
    std::size_t others() const { return m_others; }

private:
    bool m_telnetOn;
    TelnetScanner m_telnet;
    std::size_t m_commands = 0;
    std::size_t m_others = 0;
    unsigned char m_verb = 0;   // the command whose option byte comes next
};

// One item as the router sent it, before the echo and the prompts are taken out.
struct RawItem {
    std::string bytes;
    std::vector<std::pair<std::size_t, double>> arrivals;   // offset of each chunk, its time
    std::string echo;                // the echo still expected at the start
    std::vector<std::size_t> enters;  // where bare Enters came in
    double lineTime = -1;            // when the line that opened it ended; -1 for the first

    double timeOf(std::size_t offset) const
    {
        auto after = std::upper_bound(arrivals.begin(), arrivals.end(), offset,
                                      [](std::size_t o, const auto &a) { return o < a.first; });
        return after == arrivals.begin() ? lineTime : std::prev(after)->second;
    }
};

// Walks the log once, in the order the relay saw it, and reads the client's
// bytes with the replaying router's own line editor: its lines, and the echo
// it would send.
class Cutter
{
public:
    explicit Cutter(console::Carrier carrier)
        : router(carrier == console::Carrier::Telnet), m_editor({carrier, true})
    {
    }

    std::vector<RawItem> items;
    std::vector<Recording::Line> lines;
    RouterFilter router;

    void fromRouter(double time, std::string_view bytes)
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

    void fromClient(double time, std::string_view bytes)
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

    void finish()
    {
        flushAhead();
        items.push_back(std::move(m_item));
    }

private:
    // `m_echo` ends with the line's own line end.
    void lineEnd(double time, const console::TypedLine &line)
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

    // The router has sent nothing past the echo of the line the item answers.
    bool waiting() const { return m_item.lineTime >= 0 && std::string_view(m_item.echo).starts_with(m_item.bytes); }

    // The item ends in a prompt after an answer: the router waits for a line.
    bool answered() const
    {
        return !waiting() && endsInPrompt(std::string_view(m_item.bytes));
    }

    static bool endsInPrompt(std::string_view bytes)
    {
        const std::string_view prompt = console::promptOf(bytes);
        const std::size_t last = prompt.find_last_not_of(" \t");
        return last != std::string_view::npos && std::string_view(">#$%:").find(prompt[last]) != std::string_view::npos;
    }

    // A line typed before the router answered the one before is echoed when
    // the router reads it: after the prompt that ends that answer. The item is
    // cut there, so that each answer stays with its line.
    bool cutAtEcho()
    {
        const std::string &echo = m_ahead.front().echo;
        const std::string &bytes = m_item.bytes;
        const std::size_t own = bytes.starts_with(m_item.echo) ? m_item.echo.size() : 0;
        std::size_t at = bytes.find(echo, std::max(own, m_searched));
        while (at != std::string::npos && !endsInPrompt(std::string_view(bytes).substr(0, at)))
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
    void flushAhead()
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

    struct Ahead {
        std::string echo;
        double time;
    };

    RawItem m_item;
    console::LineEditor m_editor;
    std::string m_echo;   // what the replaying router would echo of the line so far
    std::size_t m_lineStart = std::string::npos;
    bool m_echoing = false;       // the router has echoed a line with text in it
    std::deque<Ahead> m_ahead;    // lines typed before the router answered, oldest first
    std::size_t m_searched = 0;   // where the front one's echo may still start in m_item
};

double median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

} // namespace

Recording buildRecording(const SessionLog &log, Playback playback)
{
    Cutter cutter(log.carrier());
    for (const SessionLog::Chunk &chunk : log.chunks()) {
        if (chunk.fromClient)
            cutter.fromClient(chunk.time, chunk.bytes);
        else
            cutter.fromRouter(chunk.time, chunk.bytes);
    }
    cutter.finish();

    Recording recording;
    recording.lines = std::move(cutter.lines);
    recording.telnetCommands = cutter.router.commands();
    std::vector<double> gaps;
    std::vector<std::size_t> unechoed;   // numbers of the lines (from 1) not echoed
    std::size_t echoed = 0;
    double firstByte = -1;
    std::string prompt;

    for (std::size_t k = 0; k < cutter.items.size(); ++k) {
        const RawItem &raw = cutter.items[k];
        std::string item;
        std::size_t pos = 0;
        std::size_t firstKept = std::string::npos;
        auto keep = [&](std::size_t to) {
            if (to > pos && firstKept == std::string::npos)
                firstKept = pos;
            item.append(raw.bytes, pos, to - pos);
            pos = to;
        };
        if (k > 0) {
            if (raw.bytes.starts_with(raw.echo)) {
                pos = raw.echo.size();
                ++echoed;
            } else {
                unechoed.push_back(k);
            }
        }
        for (std::size_t enter : raw.enters) {
            keep(std::max(enter, pos));
            const std::string shown = item.empty() ? prompt : std::string(console::promptOf(item));
            bool answered = false;
            for (const std::string &answer : {"\r\n" + shown, shown}) {
                if (!answer.empty() && raw.bytes.compare(pos, answer.size(), answer) == 0) {
                    pos += answer.size();
                    answered = true;
                    break;
                }
            }
            if (!answered && !shown.empty())
                recording.warnings.push_back("item " + std::to_string(k + 1)
                                             + ": the answer to a bare Enter is not the prompt "
                                             + "\"" + serve::visibleText(shown) + "\"; it stays in the item");
        }
        keep(raw.bytes.size());

        if (firstKept != std::string::npos) {
            const double arrived = raw.timeOf(firstKept);
            if (raw.lineTime >= 0)
                gaps.push_back(arrived - raw.lineTime);
            else
                firstByte = arrived;
        }
        if (k < recording.lines.size()) {
            if (item.empty() && k > 0)
                recording.warnings.push_back("item " + std::to_string(k + 1)
                                             + " is empty: line " + std::to_string(k + 1)
                                             + " came before the router answered line "
                                             + std::to_string(k));
        }
        if (!item.empty())
            prompt = console::promptOf(item);
        recording.items.push_back(std::move(item));
    }

    recording.echo = echoed > 0;
    if (recording.echo) {
        for (std::size_t number : unechoed) {
            const Recording::Line &line = recording.lines[number - 1];
            recording.warnings.push_back(
                "line " + std::to_string(number)
                + (line.password ? " (a password answer): the router's answer does not begin with its line end; "
                                   "played back, a password is not echoed, only its line end"
                                 : " \"" + serve::visibleText(line.text)
                                       + "\" was not echoed by the router; played back, it is echoed"));
        }
    }
    if (gaps.empty() && firstByte >= 0)
        gaps.push_back(firstByte - log.connected());
    recording.delay = std::round(std::max(0.0, median(gaps)) * 1000) / 1000;
    if (log.dropped() > 0)
        recording.warnings.push_back(
            "the session passed the recording limit: the last " + std::to_string(log.dropped())
            + " bytes were relayed and are in the transcript, but not in the items or lines");
    // A command-driven router offers echo and suppress-go-ahead itself; a
    // turn-taking one negotiates nothing.
    if (playback == Playback::Items && recording.telnetCommands > 0)
        recording.warnings.push_back(
            std::to_string(recording.telnetCommands)
            + " Telnet negotiation commands from the router are left out of the items; played "
              "back, nothing is negotiated, so the client may behave differently");
    if (playback == Playback::Commands && cutter.router.others() > 0)
        recording.warnings.push_back(
            std::to_string(cutter.router.others())
            + " Telnet negotiation commands from the router other than WILL ECHO and WILL "
              "SUPPRESS-GO-AHEAD are left out; played back, the router offers only those two, so the "
              "client may behave differently");
    return recording;
}

} // namespace zentrel::record

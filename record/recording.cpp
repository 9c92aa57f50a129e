// recording.cpp: cuts the router's output into items at the client's lines, echo and negotiation out.
#include "record/recording.h"
#include "record/session_cutter.h"

#include "console/line_editor.h"
#include "console/telnet.h"
#include "serve/visible.h"

#include <algorithm>
#include <cmath>
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

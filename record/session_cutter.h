// session_cutter.h: a relayed session's router output cut into raw items at the client's lines.
#pragma once
#include "console/line_editor.h"
#include "console/telnet.h"
#include "record/recording.h"

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zentrel::record {

// The router's output as it goes into items: option negotiation and
// subnegotiations out, everything else as the client received it, an escaped
// 255 and two-byte commands included (the replaying router sends item bytes
// unchanged, so the escape must stay in the item).
class RouterFilter
{
public:
    explicit RouterFilter(bool telnet) : m_telnetOn(telnet) {}

    std::string feed(std::string_view bytes);
    std::size_t commands() const { return m_commands; }
    // Those that are not WILL ECHO or WILL SUPPRESS-GO-AHEAD.
    std::size_t others() const { return m_others; }

private:
    bool m_telnetOn;
    console::TelnetScanner m_telnet;
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

    double timeOf(std::size_t offset) const;
};

// Walks the log once, in the order the relay saw it, and reads the client's
// bytes with the replaying router's own line editor: its lines, and the echo
// it would send. After finish(), items holds one more than lines: what came
// before the first line, then the answer to each.
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

    void fromRouter(double time, std::string_view bytes);
    void fromClient(double time, std::string_view bytes);
    void finish();

private:
    struct Ahead {
        std::string echo;
        double time;
    };

    void lineEnd(double time, const console::TypedLine &line);
    // The router has sent nothing past the echo of the line the item answers.
    bool waiting() const;
    // The item ends in a prompt after an answer: the router waits for a line.
    bool answered() const;
    bool cutAtEcho();
    void flushAhead();

    RawItem m_item;
    console::LineEditor m_editor;
    std::string m_echo;   // what the replaying router would echo of the line so far
    std::size_t m_lineStart = std::string::npos;
    bool m_echoing = false;       // the router has echoed a line with text in it
    std::deque<Ahead> m_ahead;    // lines typed before the router answered, oldest first
    std::size_t m_searched = 0;   // where the front one's echo may still start in m_item
};

} // namespace zentrel::record

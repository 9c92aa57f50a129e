// recording.h: one relayed session turned into what a router directory needs.
#pragma once
#include "console/line_editor.h"
#include "console/telnet.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace zentrel::record {

// Both directions of one session, in the order the relay saw them. Times are
// seconds on one monotonic clock.
class SessionLog
{
public:
    // A router session is kilobytes; a flood beyond this is relayed in full
    // (the transcript keeps it) but recorded only up to here.
    static constexpr std::size_t DefaultLimit = 64u << 20;

    explicit SessionLog(double connected, console::Carrier carrier = console::Carrier::Telnet,
                        std::size_t limit = DefaultLimit)
        : m_connected(connected), m_carrier(carrier), m_limit(limit)
    {
    }

    void fromClient(double time, std::string_view bytes) { add(time, true, bytes); }
    void fromRouter(double time, std::string_view bytes) { add(time, false, bytes); }

    struct Chunk {
        double time;
        bool fromClient;
        std::string bytes;
    };
    const std::vector<Chunk> &chunks() const { return m_chunks; }
    double connected() const { return m_connected; }
    // Over SSH every byte is data; over Telnet the negotiation is taken out.
    console::Carrier carrier() const { return m_carrier; }
    // Bytes that came after the limit and are not in chunks().
    std::size_t dropped() const { return m_dropped; }

private:
    void add(double time, bool fromClient, std::string_view bytes);

    double m_connected;   // when the router accepted the relay's connection
    console::Carrier m_carrier;
    std::size_t m_limit;
    std::size_t m_kept = 0;
    std::size_t m_dropped = 0;
    std::vector<Chunk> m_chunks;
};

// The client's bytes as the session's transcript shows them while it runs:
// a line typed after a password prompt as '*' for each of its bytes.
class ClientMask
{
public:
    explicit ClientMask(console::Carrier carrier = console::Carrier::Telnet)
        : m_editor({carrier, false}), m_ssh(carrier == console::Carrier::Ssh)
    {
    }
    void fromRouter(std::string_view bytes);
    // Valid until the next call.
    std::string_view fromClient(std::string_view bytes) { return m_editor.feed(bytes).shown; }

private:
    console::LineEditor m_editor;
    bool m_ssh;
    console::TelnetScanner m_telnet;
    std::string m_tail;   // the router's last data bytes: its prompt
};

struct Recording {
    std::vector<std::string> items;   // what a turn-taking router plays, in order
    struct Line {
        std::string text;             // as typed, after the line editor's erasing
        bool password = false;        // typed right after an item ending in "assword:"
    };
    std::vector<Line> lines;          // the client's lines that were not empty
    bool echo = false;                // the router echoed the client's lines
    double delay = 0;                 // median gap from a line to its answer, in seconds
    std::size_t telnetCommands = 0;   // negotiation from the router, left out of the items
    std::vector<std::string> warnings;
};

// What the first bytes of one side of a session say it is: a Telnet
// recording of SSH ("SSH-" opens its banner) or TLS (a handshake record,
// 0x16 0x03) would be a router of ciphertext.
enum class Start { Undecided, Plain, Ssh, Tls };
constexpr std::size_t StartBytes = 4;
Start classifyStart(std::string_view head);

// How the recording is played back: RESPONSE.TXT's items in turn, or
// commands.yaml's answers; the warnings say what each playback differs in.
enum class Playback { Items, Commands };

// Items are cut at each line the client typed that is not empty. The echo of
// a line is taken out of the items (the replaying router echoes it again), and
// so is the router's answer to a bare Enter when it is just its prompt (the
// replaying router answers one with the prompt too). A line typed before the
// router answered the one before is cut where an echoing router echoed it,
// after the prompt that ended that answer. Whatever does not fit those
// patterns stays in its item and is named in a warning.
Recording buildRecording(const SessionLog &log, Playback playback = Playback::Items);

} // namespace zentrel::record

// line_editor.h: what a client typed, as a router's line editor reads it.
#pragma once
#include "console/telnet.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zentrel::console {

// One line the client ended with Enter, or the last one it left unended.
struct TypedLine {
    std::string text;      // backspace and DEL applied, Telnet commands taken out
    bool secret = false;   // typed at a password prompt: never echoed, "***" in reports
    bool cut = false;      // longer than LineEditor::MaxLine: the bytes past it were dropped
};

// What carries a client's bytes, and whether a router's terminal shows them back.
enum class Carrier { Telnet, Ssh };
struct EditorSetup {
    Carrier carrier = Carrier::Ssh;
    bool echo = false;
};

// What one call of the editor made of the bytes it read; valid until the next call.
struct Edited {
    std::size_t read = 0;            // bytes of the chunk taken
    std::string_view shown;          // those bytes as a report may show them: a password's as '*'
    std::string echo;                // for the client, when echo is on
    std::vector<TypedLine> lines;    // the lines those bytes ended, in order
    std::string telnet;              // the Telnet commands they completed, back to back, as sent
    std::optional<char> key;         // feedKey(): the data byte it read
    std::optional<std::string> help; // setHelp(true): `?` or Tab was typed; the line so far, which stays
    bool tab = false;                // with help: it was Tab (complete the word), not `?` (list)
};

// Fed with a client's chunks exactly as they arrive, split anywhere:
// - over Telnet, commands (IAC sequences, subnegotiations to their IAC SE)
//   are taken out, IAC IAC is a data byte 255; over SSH every byte is data;
// - CR LF, CR NUL, a lone CR and a lone LF each end one line, also when the
//   pair is split across chunks or a Telnet command comes between its halves:
//   a bare Enter is a bare Enter whatever Telnet bytes came before it;
// - backspace and DEL erase the last byte of the line, nothing at its start;
// - with setCtrlZ(true), Ctrl-Z ends the line too, kept as its last byte
//   and echoed as "^Z", as a router in a config mode takes it;
// - with setHelp(true), `?` asks what may come next (echoed) and Tab asks
//   for the word to be completed (not echoed): neither is typed into the
//   line, and each stops feedLine() as a line end does (Edited::help);
//   typeIn() then adds what the router completed;
// - other bytes, control bytes included, go into the line up to MaxLine;
//   the rest of a longer line is dropped and the line marked cut.
// The echo is what a router's terminal shows: each printable byte (tab and
// bytes from 0x80 included; over Telnet a 255 as IAC IAC), "\b \b" for an
// erased byte that was shown, CR LF for every line end, nothing for control
// bytes and nothing of a secret line but its line end.
// Each byte is read once; the cost is a few nanoseconds a byte.
class LineEditor
{
public:
    // One cap for a typed line everywhere: the session's turns, its reports,
    // the recorder. A router's own line is far shorter.
    static constexpr std::size_t MaxLine = 64 * 1024;
    // Of one Telnet command, what the reports keep; longer subnegotiations are cut.
    static constexpr std::size_t MaxCommand = 256;

    explicit LineEditor(EditorSetup setup = {}) : m_setup(setup) {}

    // Reads the whole chunk.
    const Edited &feed(std::string_view chunk) { return read(chunk, Until::End); }
    // Reads up to the end of the first line the chunk ends (or all of it):
    // a caller that answers line by line changes echo or secret in between
    // and feeds the rest, chunk.substr(read).
    const Edited &feedLine(std::string_view chunk) { return read(chunk, Until::Line); }
    // Reads up to the first data byte (or all of it) and hands it over as a
    // key, not typed into the line and not echoed: a long answer being paged
    // reads Space, Enter and q. The LF or NUL of an Enter whose CR ended a
    // line or was a key is passed over, here and in the next line alike.
    const Edited &feedKey(std::string_view chunk) { return read(chunk, Until::Key); }
    // The client will type nothing more: the line it left unended, when not
    // empty. The editor starts afresh.
    std::optional<TypedLine> finish();

    void setEcho(bool echo) { m_setup.echo = echo; }
    void setCtrlZ(bool ends) { m_ctrlZ = ends; }
    void setHelp(bool asks) { m_help = asks; }
    // Text the router typed into the line for the client (a completed word),
    // up to MaxLine; the caller echoes it.
    void typeIn(std::string_view text);
    // A password prompt was shown (or another prompt after it): the line the
    // client types from now on is secret (or not). A line already begun
    // keeps what it was, and the next one takes the new setting.
    void setSecret(bool secret);
    // What is on the line being typed, not yet ended.
    const std::string &partial() const { return m_line; }

private:
    enum class Until { End, Line, Key };
    const Edited &read(std::string_view chunk, Until until);
    enum class Took { Line, End, Pair, Help };   // typed into the line, ended it, the pair of an Enter, `?`
    Took data(unsigned char byte, bool escaped);
    void endLine();
    void erase();

    EditorSetup m_setup;
    Edited m_out;
    std::string m_masked;          // the shown bytes, once a secret byte came in this call
    std::string m_line;
    std::string m_command;         // the Telnet command in progress
    TelnetScanner m_telnet;
    bool m_afterCr = false;        // the last data byte was a CR: LF or NUL after it is its pair
    bool m_secret = false;
    bool m_nextSecret = false;     // for the line after the one being typed
    bool m_cut = false;
    bool m_ctrlZ = false;
    bool m_help = false;
};

// The prompt an item leaves the client at: what follows its last line end.
std::string_view promptOf(std::string_view item);
// A prompt asking for a password: it ends in "assword:", blanks after it allowed.
bool asksForPassword(std::string_view prompt);

} // namespace zentrel::console

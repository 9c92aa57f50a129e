// asciicast.h: one session's transcript as an asciicast v2 file that asciinema plays.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace zentrel::serve {

struct CastHeader {
    std::int64_t timestamp = 0;   // Unix seconds of the accept
    std::string title;            // "r1 session 3 from 127.0.0.1:40522"
    // The played router's settings, as extra keys; a recorded session has none.
    struct Router {
        int port = 0;
        double delay = 0;
    };
    std::optional<Router> router;
};

// "o" events hold what the client received, "i" events what it sent, "m"
// markers what happened. Each event is one JSON line handed to write(2) as it
// happens, so that a killed process leaves every event up to the last one. Bytes are written as
// the code points U+0000..U+00FF, which is what asciinema gives back.
//
// A write that fails (a full disk) is reported once through onFailure, and
// nothing more is written to the file: a later line after a torn one would
// not parse. The session goes on either way; no call throws.
class CastWriter
{
public:
    // Creates or empties the file and writes the header; a file that cannot
    // be created, or a symbolic link in its place, is reported through
    // onFailure like a failed write.
    CastWriter(const std::string &path, const CastHeader &header,
               std::function<void(const std::string &failure)> onFailure);
    ~CastWriter();
    CastWriter(const CastWriter &) = delete;
    CastWriter &operator=(const CastWriter &) = delete;

    // `seconds` since the accept.
    void output(double seconds, std::string_view bytes) { event(seconds, 'o', bytes); }
    void input(double seconds, std::string_view bytes) { event(seconds, 'i', bytes); }
    void marker(double seconds, std::string_view label) { event(seconds, 'm', label); }

    bool failed() const { return m_failed; }
    const std::string &path() const { return m_path; }

private:
    void event(double seconds, char kind, std::string_view data);
    void writeLine(const std::string &line);
    void fail(const std::string &what);

    std::string m_path;
    std::function<void(const std::string &)> m_onFailure;
    std::string m_line;   // reused for every event
    int m_fd = -1;
    bool m_failed = false;
};

} // namespace zentrel::serve

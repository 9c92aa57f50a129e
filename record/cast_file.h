// cast_file.h: a session's transcript in asciicast v2, written as the session runs.
#pragma once
#include <cstdio>
#include <string>
#include <string_view>

namespace zentrel::record {

// "o" events hold what the client received from the router, "i" events what
// it sent, each chunk as the relay saw it; bytes map one to one to the code
// points U+0000..U+00FF. Every event is flushed, so a killed recorder leaves
// everything up to its last event.
class CastFile
{
public:
    CastFile() = default;
    ~CastFile();
    CastFile(const CastFile &) = delete;
    CastFile &operator=(const CastFile &) = delete;

    // Writes the header; false with `error` set when the file cannot be written.
    bool open(const std::string &path, double unixTime, const std::string &title, std::string &error);
    void output(double seconds, std::string_view bytes) { event(seconds, "o", bytes); }
    void input(double seconds, std::string_view bytes) { event(seconds, "i", bytes); }
    void marker(double seconds, std::string_view label) { event(seconds, "m", label); }
    // Closes the file; false with `error` set when a write failed on the way.
    bool close(std::string &error);

private:
    void event(double seconds, const char *code, std::string_view data);

    std::FILE *m_file = nullptr;
    std::string m_path;
    bool m_failed = false;
};

} // namespace zentrel::record

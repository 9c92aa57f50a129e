// server_events.h: the JSON Lines a fleet server writes with --events, as the bench reads them.
#pragma once
#include <map>
#include <optional>
#include <string>

namespace zentrel::bench {

// One event line, flat: every field kept as text (a string's bytes, a
// number's digits). Nested values are not expected and make the line unreadable.
class ServerEvent
{
public:
    // Empty when the line is not a flat JSON object.
    static std::optional<ServerEvent> parse(const std::string &line);

    std::string text(const std::string &field) const;
    // NaN when the field is missing or not a number.
    double number(const std::string &field) const;
    bool has(const std::string &field) const { return m_fields.count(field) != 0; }
    const std::string &kind() const { return m_kind; }

private:
    std::map<std::string, std::string> m_fields;
    std::string m_kind;
};

// The port of "127.0.0.1:40312" or "[::1]:40312"; -1 when there is none.
int peerPort(const std::string &peer);

// Reads a growing events file as its writer appends to it, line by line.
class EventsTail
{
public:
    explicit EventsTail(std::string path) : m_path(std::move(path)) {}
    ~EventsTail();
    EventsTail(const EventsTail &) = delete;
    EventsTail &operator=(const EventsTail &) = delete;

    // The next complete line, if one has been written since; a line not yet
    // ended stays for a later call.
    std::optional<std::string> nextLine();

private:
    std::string m_path;
    int m_fd = -1;
    std::string m_pending;
    std::size_t m_at = 0;
};

} // namespace zentrel::bench

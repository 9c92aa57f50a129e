// server_events.cpp: a small reader of flat JSON event lines and of a file that grows.
#include "server_events.h"

#include <cmath>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

namespace zentrel::bench {

namespace {

class Cursor
{
public:
    explicit Cursor(const std::string &text) : m_text(text) {}

    void skipBlanks()
    {
        while (m_at < m_text.size() && (m_text[m_at] == ' ' || m_text[m_at] == '\t'))
            ++m_at;
    }
    bool take(char c)
    {
        skipBlanks();
        if (m_at < m_text.size() && m_text[m_at] == c) {
            ++m_at;
            return true;
        }
        return false;
    }
    bool atEnd()
    {
        skipBlanks();
        while (m_at < m_text.size() && (m_text[m_at] == '\r' || m_text[m_at] == '\n'))
            ++m_at;
        return m_at == m_text.size();
    }
    // A string after its opening quote; \uXXXX below 0x100 gives that byte,
    // as the servers escape bytes.
    std::optional<std::string> string()
    {
        std::string out;
        while (m_at < m_text.size()) {
            const char c = m_text[m_at++];
            if (c == '"')
                return out;
            if (c != '\\') {
                out.push_back(c);
                continue;
            }
            if (m_at >= m_text.size())
                return std::nullopt;
            const char e = m_text[m_at++];
            switch (e) {
            case 'n': out.push_back('\n'); break;
            case 'r': out.push_back('\r'); break;
            case 't': out.push_back('\t'); break;
            case 'b': out.push_back('\b'); break;
            case 'f': out.push_back('\f'); break;
            case 'u': {
                if (m_at + 4 > m_text.size())
                    return std::nullopt;
                const long code = std::strtol(m_text.substr(m_at, 4).c_str(), nullptr, 16);
                m_at += 4;
                out.push_back(code < 0x100 ? char(code) : '?');
                break;
            }
            default: out.push_back(e);
            }
        }
        return std::nullopt;
    }
    // A number, true, false or null, as written.
    std::optional<std::string> bare()
    {
        const std::size_t from = m_at;
        while (m_at < m_text.size() && m_text[m_at] != ',' && m_text[m_at] != '}' && m_text[m_at] != ']'
               && m_text[m_at] != ' ')
            ++m_at;
        if (m_at == from)
            return std::nullopt;
        const std::string word = m_text.substr(from, m_at - from);
        if (word.find_first_of("[{\"") != std::string::npos)
            return std::nullopt;
        return word;
    }

    // A list of strings and bare values after its opening bracket, such as
    // the typed lines of a session-end; kept as written, brackets included.
    std::optional<std::string> list()
    {
        const std::size_t from = m_at - 1;
        if (!take(']')) {
            do {
                const auto value = take('"') ? string() : bare();
                if (!value)
                    return std::nullopt;
            } while (take(','));
            if (!take(']'))
                return std::nullopt;
        }
        return m_text.substr(from, m_at - from);
    }

private:
    const std::string &m_text;
    std::size_t m_at = 0;
};

} // namespace

std::optional<ServerEvent> ServerEvent::parse(const std::string &line)
{
    Cursor cursor(line);
    ServerEvent event;
    if (!cursor.take('{'))
        return std::nullopt;
    if (!cursor.take('}')) {
        do {
            if (!cursor.take('"'))
                return std::nullopt;
            auto key = cursor.string();
            if (!key || !cursor.take(':'))
                return std::nullopt;
            auto value = cursor.take('"') ? cursor.string()
                         : cursor.take('[') ? cursor.list() : cursor.bare();
            if (!value)
                return std::nullopt;
            event.m_fields[*key] = *value;
        } while (cursor.take(','));
        if (!cursor.take('}'))
            return std::nullopt;
    }
    if (!cursor.atEnd())
        return std::nullopt;
    event.m_kind = event.text("event");
    return event;
}

std::string ServerEvent::text(const std::string &field) const
{
    const auto it = m_fields.find(field);
    return it == m_fields.end() ? std::string() : it->second;
}

double ServerEvent::number(const std::string &field) const
{
    const auto it = m_fields.find(field);
    if (it == m_fields.end() || it->second.empty())
        return std::nan("");
    char *end = nullptr;
    const double value = std::strtod(it->second.c_str(), &end);
    return *end == '\0' ? value : std::nan("");
}

int peerPort(const std::string &peer)
{
    const auto colon = peer.rfind(':');
    if (colon == std::string::npos || colon + 1 >= peer.size())
        return -1;
    char *end = nullptr;
    const long port = std::strtol(peer.c_str() + colon + 1, &end, 10);
    return *end == '\0' && port > 0 && port < 65536 ? int(port) : -1;
}

EventsTail::~EventsTail()
{
    if (m_fd >= 0)
        ::close(m_fd);
}

std::optional<std::string> EventsTail::nextLine()
{
    for (;;) {
        const auto end = m_pending.find('\n', m_at);
        if (end != std::string::npos) {
            std::string line = m_pending.substr(m_at, end - m_at);
            m_at = end + 1;
            return line;
        }
        m_pending.erase(0, m_at);
        m_at = 0;
        // The server creates the file; until then there is nothing to read.
        if (m_fd < 0)
            m_fd = ::open(m_path.c_str(), O_RDONLY | O_CLOEXEC);
        if (m_fd < 0)
            return std::nullopt;
        char buffer[65536];
        const ssize_t n = ::read(m_fd, buffer, sizeof buffer);
        if (n <= 0)
            return std::nullopt;
        m_pending.append(buffer, std::size_t(n));
    }
}

} // namespace zentrel::bench

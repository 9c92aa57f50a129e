// posix_ini_scan.cpp: one streaming pass over a settings file in search of one section and key.
#include "platform/posix/posix_ini_scan.h"
#include "platform/posix/read_block.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <unistd.h>

namespace zentrel::platform::ini {

namespace {

// White space within a line; the line feed ends the line instead.
bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

char asciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

bool sameName(std::string_view a, std::string_view b)
{
    return a.size() == b.size()
        && std::equal(a.begin(), a.end(), b.begin(),
                      [](char x, char y) { return asciiLower(x) == asciiLower(y); });
}

// Collects a name or a value byte by byte without the white space around it,
// keeping at most `cap` bytes however long the line is.
class TrimmedText
{
public:
    explicit TrimmedText(std::size_t cap) : m_cap(cap) {}

    void clear()
    {
        m_text.clear();
        m_blanks.clear();
        m_blankCount = 0;
        m_started = m_overflow = false;
    }
    void add(char c)
    {
        if (isBlank(c)) {
            // Blanks count only once text follows them.
            if (m_started) {
                if (m_blanks.size() < room())
                    m_blanks.push_back(c);
                ++m_blankCount;
            }
            return;
        }
        m_started = true;
        if (m_blankCount != 0) {
            m_overflow |= m_blankCount > room();
            m_text.append(m_blanks, 0, std::min(m_blanks.size(), room()));
            m_blanks.clear();
            m_blankCount = 0;
        }
        if (room() != 0)
            m_text.push_back(c);
        else
            m_overflow = true;
    }
    const std::string &text() const { return m_text; }
    bool overflow() const { return m_overflow; }

private:
    std::size_t room() const { return m_cap - m_text.size(); }

    std::size_t m_cap;
    std::string m_text;
    std::string m_blanks;
    std::uint64_t m_blankCount = 0;
    bool m_started = false;
    bool m_overflow = false;
};

// Reads the file line by line, with a small state machine per line, until
// it has found the key or passed the end of the first matching section.
class Scanner
{
public:
    Scanner(std::string_view section, std::string_view key, std::size_t valueCap)
        : m_section(trimmed(section)), m_key(trimmed(key)),
          m_name(std::max(m_section.size(), m_key.size()) + 1), m_value(valueCap)
    {
    }

    // False when the file could not be read.
    bool scan(int fd, Found &found)
    {
        auto block = std::make_unique<char[]>(ReadBlockSize);
        std::uint64_t offset = 0;
        for (;;) {
            const ssize_t got = ::read(fd, block.get(), ReadBlockSize);
            if (got < 0) {
                if (errno == EINTR)
                    continue;
                return false;
            }
            if (got == 0)
                break;
            const char *bytes = block.get();
            std::size_t i = 0;
            if (offset == 0 && got >= 3 && std::memcmp(bytes, "\xEF\xBB\xBF", 3) == 0)
                i = 3;   // a UTF-8 byte-order mark in front of the first line
            if (!feed(bytes, std::size_t(got), i, offset, found))
                return true;
            offset += std::uint64_t(got);
        }
        if (m_pendingCr && !finishLine(m_crOffset, LineEnd::Cr, found))
            return true;
        endLine(offset, LineEnd::None, found);
        return true;
    }

private:
    enum class Phase { Lead, Section, Skip, Key, Value };
    // CR alone ends a line too, as in files written on old Macs.
    enum class LineEnd { None, Lf, CrLf, Cr };

    bool finishLine(std::uint64_t end, LineEnd kind, Found &found)
    {
        if (!endLine(end, kind, found))
            return false;
        m_phase = Phase::Lead;
        m_lineBlank = true;
        return true;
    }

    // False once the scan can stop.
    bool feed(const char *bytes, std::size_t size, std::size_t i, std::uint64_t offset,
              Found &found)
    {
        for (; i < size; ++i) {
            const char c = bytes[i];
            // Whether a CR ends its line alone shows only with the next byte,
            // which may come in the next block.
            if (m_pendingCr) {
                m_pendingCr = false;
                if (c == '\n') {
                    if (!finishLine(offset + i, LineEnd::CrLf, found))
                        return false;
                    continue;
                }
                if (!finishLine(m_crOffset, LineEnd::Cr, found))
                    return false;
            }
            if (c == '\r') {
                m_pendingCr = true;
                m_crOffset = offset + i;
                continue;
            }
            if (c == '\n') {
                if (!finishLine(offset + i, LineEnd::Lf, found))
                    return false;
                continue;
            }
            switch (m_phase) {
            case Phase::Lead:
                if (isBlank(c))
                    break;
                m_lineBlank = false;
                m_name.clear();
                if (c == '[')
                    m_phase = Phase::Section;
                else if (c == ';' || c == '#' || !m_inSection)
                    m_phase = Phase::Skip;   // only headers matter outside the section
                else {
                    m_phase = Phase::Key;
                    m_name.add(c);
                }
                break;
            case Phase::Section:
                if (c == ']') {
                    m_header = true;
                    m_phase = Phase::Skip;   // whatever follows the bracket
                } else {
                    m_name.add(c);
                }
                break;
            case Phase::Skip: {
                const char *lineEnd = std::find_if(bytes + i, bytes + size,
                                                   [](char b) { return b == '\n' || b == '\r'; });
                i = std::size_t(lineEnd - bytes) - 1;
                continue;
            }
            case Phase::Key:
                if (c != '=') {
                    m_name.add(c);
                    break;
                }
                if (!found.key && !m_name.overflow() && sameName(m_name.text(), m_key)) {
                    m_phase = Phase::Value;
                    m_afterEquals = offset + i + 1;
                    m_firstValueByte = Nowhere;
                    m_value.clear();
                } else {
                    m_phase = Phase::Skip;
                }
                break;
            case Phase::Value:
                if (m_firstValueByte == Nowhere && !isBlank(c))
                    m_firstValueByte = offset + i;
                m_value.add(c);
                break;
            }
        }
        return true;
    }

    // Settles a line that ends at `end` (the last byte of its line end, or
    // the end of the file); false once the scan can stop.
    bool endLine(std::uint64_t end, LineEnd kind, Found &found)
    {
        const bool hasLineEnd = kind != LineEnd::None;
        const bool crlf = kind == LineEnd::CrLf;
        if (hasLineEnd && !m_lineEndKnown) {
            found.lineEnd = crlf ? "\r\n" : kind == LineEnd::Cr ? "\r" : "\n";
            m_lineEndKnown = true;
        }
        const bool header = m_phase == Phase::Section || m_header;
        m_header = false;
        if (header) {
            if (m_inSection)
                return false;   // the first matching section ended without the key
            if (!m_name.overflow() && sameName(m_name.text(), m_section)) {
                m_inSection = found.section = true;
                found.sectionEnd = hasLineEnd ? end + 1 : end;
                found.sectionEndsWithLineEnd = hasLineEnd;
            }
            return true;
        }
        if (m_inSection && !m_lineBlank) {
            found.sectionEnd = hasLineEnd ? end + 1 : end;
            found.sectionEndsWithLineEnd = hasLineEnd;
        }
        if (m_phase == Phase::Value) {
            found.key = true;
            found.value = m_value.text();
            found.valueStart = m_firstValueByte != Nowhere ? std::min(m_firstValueByte, end) : m_afterEquals;
            found.valueEnd = crlf ? end - 1 : end;
            found.valueStart = std::min(found.valueStart, found.valueEnd);
            return false;
        }
        return true;
    }

    std::string_view m_section, m_key;
    TrimmedText m_name;
    TrimmedText m_value;
    Phase m_phase = Phase::Lead;
    bool m_lineBlank = true;
    bool m_header = false;
    bool m_inSection = false;
    bool m_lineEndKnown = false;
    bool m_pendingCr = false;
    std::uint64_t m_crOffset = 0;
    std::uint64_t m_afterEquals = 0;
    std::uint64_t m_firstValueByte = Nowhere;
};

} // namespace

std::string_view trimmed(std::string_view text)
{
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

bool scan(int fd, std::string_view section, std::string_view key, std::size_t valueCap, Found &found)
{
    return Scanner(section, key, valueCap).scan(fd, found);
}

} // namespace zentrel::platform::ini

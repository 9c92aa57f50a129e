// string_stream.h: the bytes of a string as an input stream, for the item reader's tests and fuzz target.
#pragma once
#include "platform/text_files.h"

#include <algorithm>
#include <cstddef>
#include <string>
#include <utility>

namespace zentrel::tests {

// The bytes handed over `piece` bytes per refill, so that line ends and
// quotes also fall on the boundaries of the stream's buffer.
class StringStream : public platform::InputStream
{
public:
    StringStream(std::string bytes, std::size_t piece) : m_bytes(std::move(bytes)), m_piece(piece) {}

protected:
    bool refill() override
    {
        if (m_next >= m_bytes.size())
            return false;
        const std::size_t size = std::min(m_piece, m_bytes.size() - m_next);
        m_pos = m_bytes.data() + m_next;
        m_end = m_pos + size;
        m_next += size;
        return true;
    }

private:
    std::string m_bytes;
    std::size_t m_piece;
    std::size_t m_next = 0;
};

} // namespace zentrel::tests

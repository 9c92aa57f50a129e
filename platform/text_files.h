// text_files.h: sequential text files opened by number.
#pragma once
#include <string>
#include <string_view>

namespace zentrel::platform {

// The bytes of a file open for input, buffered so that the item reader can
// take one byte at a time cheaply.
class InputStream
{
public:
    virtual ~InputStream() = default;

    // The next byte (0..255) without taking it, or -1 at the end of the file.
    int peek()
    {
        if (m_pos == m_end && !refill())
            return -1;
        return static_cast<unsigned char>(*m_pos);
    }
    // The next byte, taken, or -1 at the end of the file.
    int get()
    {
        const int byte = peek();
        if (byte >= 0)
            ++m_pos;
        return byte;
    }
    bool atEnd() { return peek() < 0; }

protected:
    // Makes more bytes available in [m_pos, m_end); false at the end.
    // Throws Error 57 when the file cannot be read any further.
    virtual bool refill() = 0;

    const char *m_pos = nullptr;
    const char *m_end = nullptr;
};

class TextFiles
{
public:
    enum class Mode { Input, Output };

    virtual ~TextFiles() = default;

    // Opens the file under the number (1..255). Input: Error 53 when the file
    // does not exist, 75 when it exists but cannot be opened or read (no
    // permission, or not a regular file: a directory, a FIFO, a device).
    // Output: creates or empties the file; 75 when it cannot. 55 when the
    // number is already open.
    virtual void open(int number, const std::string &path, Mode mode) = 0;
    // Closing a number that is not open does nothing.
    virtual void close(int number) = 0;
    virtual void closeAll() = 0;
    virtual bool isOpen(int number) const = 0;
    // True when no byte is left to read. Error 52 when not open for input.
    virtual bool eof(int number) = 0;
    // The stream of a number open for input; Error 52 otherwise.
    virtual InputStream &input(int number) = 0;
    // Writes the text followed by CR LF. Error 52 when not open for output,
    // 57 when the write fails.
    virtual void writeLine(int number, std::string_view text) = 0;
};

} // namespace zentrel::platform

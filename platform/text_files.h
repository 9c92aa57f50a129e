// text_files.h: sequential text files, owned by their reader or writer.
#pragma once
#include <memory>
#include <string>
#include <string_view>

namespace zentrel::platform {

// The bytes of a file open for input, buffered so that the item reader can
// take one byte at a time cheaply. A stream from openInput() closes its file
// when destroyed.
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
    // Takes the bytes before the next one of `stops` and appends them to
    // `out` a buffer at a time; that byte (0..255) is returned and left to
    // get(). -1 at the end of the file.
    int appendUntil(std::string &out, std::string_view stops)
    {
        for (;;) {
            if (m_pos == m_end && !refill())
                return -1;
            const auto stop = [stops](char c) {
                for (const char s : stops)
                    if (c == s)
                        return true;
                return false;
            };
            const char *at = m_pos;
            while (at != m_end && !stop(*at))
                ++at;
            out.append(m_pos, at);
            m_pos = at;
            if (at != m_end)
                return static_cast<unsigned char>(*at);
        }
    }

protected:
    // Makes more bytes available in [m_pos, m_end); false at the end.
    // Throws Error 57 when the file cannot be read any further.
    virtual bool refill() = 0;

    const char *m_pos = nullptr;
    const char *m_end = nullptr;
};

// A file being written. Each line goes to the file at once, so a failing
// write is reported by the writeLine that failed. Destroying a file that was
// not committed closes it as it stands.
class OutputFile
{
public:
    virtual ~OutputFile() = default;

    // Writes the text followed by CR LF. Error 57 when the write fails, or
    // after commit() or discard().
    virtual void writeLine(std::string_view text) = 0;
    // Flushes the file to the disk and closes it: Error 57 when the flush or
    // the close fails, and then the content may be incomplete.
    virtual void commit() = 0;
    // Closes the file and removes it, but only a file this object created
    // and only while the name still names it: never what another program
    // put there. Reports nothing; a file it may not remove stays.
    virtual void discard() = 0;
};

class TextFiles
{
public:
    enum class Creation {
        Replace,   // creates the file, or empties the one that is there
        New,       // only under a free name: never an existing file, never through a link
    };

    virtual ~TextFiles() = default;

    // The file's bytes, read sequentially. Error 53 when the file does not
    // exist (a dangling link included), 75 when it exists but cannot be
    // opened or read (no permission, or not a regular file: a directory, a
    // FIFO, a device), 67 when the process or the system is out of file
    // descriptors: a transient failure, worth another try later.
    virtual std::unique_ptr<InputStream> openInput(const std::string &path) = 0;
    // A file to write. Replace: 75 when it cannot be created or emptied.
    // New: 58 when anything has the name already (a file, a directory, a
    // link, even a dangling one), 75 for any other refusal. Both: 67 when
    // out of file descriptors.
    virtual std::unique_ptr<OutputFile> createOutput(const std::string &path,
                                                     Creation creation = Creation::Replace) = 0;
};

} // namespace zentrel::platform

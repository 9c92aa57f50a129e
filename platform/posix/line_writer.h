// line_writer.h: lines for a reader that may stall, written without ever blocking the loop; the overflow dropped and counted.
#pragma once
#include "platform/event_loop.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace zentrel::platform {

class PosixLoop;

// A reader that stops reading (a FIFO nobody opens again, a pipe into a
// stuck program, a terminal held with Ctrl+S) never stops the loop: lines go
// out with non-blocking writes, wait in a queue of at most `maxQueued` bytes
// while the reader is slow, and once the queue is full whole lines are
// dropped until it has emptied. Then the reader gets droppedLine(count)
// before the lines that follow, so it knows what it missed. A line goes out
// as it is written; lines that waited go out whole, in writes of at most
// PIPE_BUF (4 KiB) where they fit, which a pipe takes whole. A descriptor
// that fails (the reader is gone) ends the writing, reported once.
class LineWriter
{
public:
    struct Setup {
        int fd = -1;
        // The descriptor's open file is shared with other processes (standard
        // output): it is opened again for this writer when the system allows,
        // else made non-blocking and put back as it was by the destructor.
        bool shared = false;
        std::size_t maxQueued = 1 << 20;
        std::function<std::string(std::uint64_t dropped)> droppedLine;
        // One line for stderr: the reader stalled, caught up, or failed.
        std::function<void(const std::string &)> report;
    };

    LineWriter(PosixLoop &loop, Setup setup);
    ~LineWriter();
    LineWriter(const LineWriter &) = delete;
    LineWriter &operator=(const LineWriter &) = delete;

    // One whole line, its line end included.
    void write(std::string_view line);
    // At the exit, with the loop stopped: waits at most `seconds` for the
    // reader to take what is queued; says on stderr what it never got.
    void finish(double seconds);

    std::uint64_t dropped() const { return m_droppedTotal; }
    bool failed() const { return m_failed; }
    std::size_t queued() const { return m_queue.size() - m_sent; }

private:
    void pump();
    void watchWritable(bool on);
    void fail(int error);

    PosixLoop &m_loop;
    Setup m_setup;
    int m_fd = -1;
    bool m_ownFd = false;
    int m_restoreFlags = -1;     // the shared descriptor's flags before, -1: untouched
    std::string m_queue;
    std::size_t m_sent = 0;      // bytes of m_queue already written
    std::uint64_t m_dropping = 0;   // lines dropped since the queue was last empty
    std::uint64_t m_droppedTotal = 0;
    bool m_watching = false;
    bool m_failed = false;
};

} // namespace zentrel::platform

// qt_socket_closer.h: the graceful end of connections that Zentrel closed itself.
#pragma once
#include <QObject>
#include <QTimer>

#include <cstddef>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

class QSocketNotifier;

namespace zentrel::platform {

// Takes over a connected socket the program has closed: it sends what is
// still queued, shuts its sending side so the client reads the end of the
// stream, and keeps taking (and dropping) what the client sends until the
// client closes too. Closing like this, rather than at once, keeps a client
// that is still typing from having the last items destroyed by a reset. A
// client that takes nothing for a minute is cut off; one that has every byte
// but keeps its side open is closed after a short linger.
class QtSocketCloser
{
public:
    QtSocketCloser();
    ~QtSocketCloser();
    QtSocketCloser(const QtSocketCloser &) = delete;
    QtSocketCloser &operator=(const QtSocketCloser &) = delete;

    // Takes the descriptor (non-blocking), its read notifier if it has one
    // (any connection of the caller's to it is dropped), and the bytes not
    // yet handed to the kernel. peerDone: the client has closed its side.
    void close(int fd, std::unique_ptr<QSocketNotifier> readable, std::string unsent,
               bool peerDone = false);
    // Connections still ending.
    std::size_t count() const { return m_closing.size(); }

    // The owner calls beforeLook() each time the event loop is about to look
    // for events. A client often closes before that: the closer then looks
    // at the connection once itself, and only one still open gets a notifier.
    void lookBeforeWatching() { m_lookFirst = true; }
    void beforeLook();

private:
    struct Closing {
        std::unique_ptr<QSocketNotifier> readable;
        std::unique_ptr<QSocketNotifier> writable;   // only while bytes wait on the kernel
        std::string unsent;
        std::size_t sent = 0;
        bool peerDone = false;
        double lastProgress = 0;    // when the bytes still to go last went down
        long lastPending = -1;
        double shutDownAt = 0;      // when the sending side was shut; 0 while bytes are queued
    };

    void push(int fd);
    void watch(int fd);
    bool drain(int fd);
    void finish(int fd, bool cut);
    void sweep();

    QObject m_context;
    std::unordered_map<int, Closing> m_closing;
    std::vector<int> m_unwatched;
    bool m_lookFirst = false;
    QTimer m_sweep;
};

} // namespace zentrel::platform

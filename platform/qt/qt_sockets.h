// qt_sockets.h: Winsock1 on Qt: plain non-blocking sockets watched by the Qt event loop.
#pragma once
#include "platform/qt/qt_socket_closer.h"
#include "platform/sockets.h"

#include <QObject>

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

class QSocketNotifier;

namespace zentrel::platform {

// Element 0 is the listening socket (IPv6 and IPv4 on every interface). Each
// incoming connection waits, taking no events and holding nothing but its
// descriptor (what the client sends stays with the kernel), until accept()
// hands it to an element. The connection request that announces it is raised
// from the event loop, by the listening socket's notifier, one connection per
// look: connections that come while a request is handled are announced,
// in arrival order, by later looks.
//
// An element costs a few bytes while it exists and nothing once closed: its
// record is dropped and its descriptor handed on, so a run of any length
// serves its ten-thousandth connection as cheaply as its first.
//
// sendData only queues: the bytes go to the kernel when the event loop next
// looks for events (all that was queued since, in one write), or at once
// when much is queued. A write notifier is only armed while the kernel
// takes no more.
//
// A waiting connection whose client has left is dropped when its turn comes
// (waitingClientGone), or earlier when the listener runs out of descriptors,
// so that a crowd of departed clients costs neither pauses nor descriptors.
//
// Closing from this side (close, closeAll) raises no event: the element reads
// as closed at once, what was queued still goes out, and the connection is
// then shut down gracefully in the background (QtSocketCloser).
class QtSocketArray : public SocketArray
{
public:
    QtSocketArray();
    ~QtSocketArray() override;
    QtSocketArray(const QtSocketArray &) = delete;
    QtSocketArray &operator=(const QtSocketArray &) = delete;

    void setEvents(Events events) override;
    void create(int index) override;
    void setLocalPort(int index, std::int32_t port) override;
    void listen(int index) override;
    void accept(int index, std::int32_t requestId) override;
    bool waitingClientGone(std::int32_t requestId) override;
    void sendData(int index, std::string_view bytes) override;
    std::string getData(int index) override;
    void close(int index) override;
    int state(int index) const override;
    std::size_t queued(int index) const override;
    void closeAll() override;

    // For tests: the port element 0 is bound to (the one chosen for port 0).
    quint16 serverPort() const;
    // For tests: connections closed by this side that are still draining.
    std::size_t closingCount() const { return m_closer.count(); }

private:
    struct Element {
        int fd = -1;                    // -1 once the client has left
        std::uint64_t serial = 0;       // tells a queued event whether it is still due
        std::unique_ptr<QSocketNotifier> readable;
        std::unique_ptr<QSocketNotifier> writable;   // only while the kernel takes no more
        std::string input;              // received and not taken yet
        std::string output;             // queued and not handed to the kernel yet
        std::size_t sent = 0;           // of output, already handed over
        bool flushListed = false;       // in m_unflushed
    };

    void acceptOne();
    std::size_t dropGoneWaiting();
    void stopListening();
    Element &freshElement(int index);
    void readSome(int index, std::uint64_t serial);
    void clientLeft(int index, Element &element, bool reset);
    bool flush(int index, Element &element);
    void writable(int index, std::uint64_t serial);
    void watch(int index, Element &element);
    void beforeLook();
    void flushQueued();
    void postClosed(int index, std::uint64_t serial);
    Element *find(int index, std::uint64_t serial);
    void retire(Element &element);
    template <typename Handler, typename... Args>
    void raise(const char *event, int index, const Handler &handler, Args... args);

    QObject m_context;   // receiver of every signal and queued event
    Events m_events;
    int m_listenFd = -1;
    std::unique_ptr<QSocketNotifier> m_listening;
    std::int32_t m_port = 0;
    std::int32_t m_nextRequest = 1;
    std::uint64_t m_nextSerial = 1;
    std::unordered_map<std::int32_t, int> m_waiting;   // request id → descriptor
    bool m_flushOnPass = false;   // beforeLook() runs before each look for events
    std::vector<std::pair<int, std::uint64_t>> m_unflushed;
    std::vector<std::pair<int, std::uint64_t>> m_unwatched;   // accepted, notifier still to come
    std::unordered_map<int, Element> m_elements;
    QtSocketCloser m_closer;
};

} // namespace zentrel::platform

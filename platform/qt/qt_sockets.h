// qt_sockets.h: Winsock1 on Qt: a listening QTcpServer and one QTcpSocket per accepted connection.
#pragma once
#include "platform/qt/qt_socket_closer.h"
#include "platform/sockets.h"

#include <QObject>

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

class QTcpServer;
class QTcpSocket;

namespace zentrel::platform {

// Element 0 is the listening socket. Each incoming connection waits, taking
// no events, until accept() hands it to an element; the connection request
// that announces it is always raised from the event loop.
//
// An element costs a few bytes while it exists and nothing once closed: its
// record is dropped and its QTcpSocket freed, so a run of any length serves
// its ten-thousandth connection as cheaply as its first.
//
// Closing from this side (close, closeAll) raises no event: the element reads
// as closed at once, what was queued still goes out, and the connection is
// then shut down gracefully in the background (QtSocketCloser).
//
// A connection whose client left before it was accepted is still accepted:
// the element then reads as closed at once, and the bytes the client sent
// (data arrival) and the close event follow from the event loop.
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
    void sendData(int index, std::string_view bytes) override;
    std::string getData(int index) override;
    void close(int index) override;
    int state(int index) const override;
    void closeAll() override;

    // For tests: the port element 0 is bound to (the one chosen for port 0).
    quint16 serverPort() const;
    // For tests: connections closed by this side that are still draining.
    std::size_t closingCount() const { return m_closer.count(); }

private:
    struct Element {
        QTcpSocket *socket = nullptr;   // null once the client has left
        std::uint64_t serial = 0;       // tells a queued event whether it is still due
        std::string leftover;           // bytes received before the client left
        std::size_t unflushed = 0;      // bytes queued since the last flush
    };

    void takeIncoming();
    Element &freshElement(int index);
    void watch(int index, QTcpSocket *socket);
    void clientLeft(int index, QTcpSocket *socket);
    void postDataCheck(int index, std::uint64_t serial);
    void postClosed(int index, std::uint64_t serial);
    Element *find(int index, std::uint64_t serial);
    void retire(QTcpSocket *socket);
    template <typename Handler, typename... Args>
    void raise(const Handler &handler, Args... args);

    QObject m_context;   // receiver of every signal and queued event
    Events m_events;
    std::unique_ptr<QTcpServer> m_server;
    std::int32_t m_port = 0;
    std::int32_t m_nextRequest = 1;
    std::uint64_t m_nextSerial = 1;
    std::unordered_map<std::int32_t, QTcpSocket *> m_waiting;
    std::unordered_map<int, Element> m_elements;
    QtSocketCloser m_closer;   // after m_context: ends before the sockets' parent goes
};

} // namespace zentrel::platform

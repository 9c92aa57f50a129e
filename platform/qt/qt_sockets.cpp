// qt_sockets.cpp: Winsock1 on Qt: a listening QTcpServer and one QTcpSocket per accepted connection.
#include "platform/qt/qt_sockets.h"

#include "platform/error.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>

#include <cstdint>
#include <utility>

namespace zentrel::platform {

namespace {

// Past this much queued since the last flush, sendData hands the bytes to the
// kernel at once: a playback that never yields still keeps its buffer small.
constexpr std::size_t FlushEvery = 64 * 1024;
// What a connection that waits to be accepted may hold in memory; the rest
// stays with the kernel and the client.
constexpr qint64 WaitingReadLimit = 64 * 1024;
// Clients of a test farm may arrive in bursts.
constexpr int ListenBacklog = 1024;

std::string elementText(int index)
{
    return "Winsock1(" + std::to_string(index) + ")";
}

} // namespace

QtSocketArray::QtSocketArray() : m_server(std::make_unique<QTcpServer>())
{
    m_server->setListenBacklogSize(ListenBacklog);
    QObject::connect(m_server.get(), &QTcpServer::newConnection, &m_context,
                     [this] { takeIncoming(); });
    // Qt stops accepting after a failure such as running out of file
    // descriptors; the listener must come back once some are free again.
    QObject::connect(m_server.get(), &QTcpServer::acceptError, &m_context, [this] {
        QTimer::singleShot(100, &m_context, [this] { m_server->resumeAccepting(); });
    });
}

QtSocketArray::~QtSocketArray()
{
    // Sockets go quietly: no handler may run while the array is taken apart.
    auto quietly = [this](QTcpSocket *socket) {
        QObject::disconnect(socket, nullptr, &m_context, nullptr);
        delete socket;
    };
    for (auto &[id, socket] : m_waiting)
        quietly(socket);
    for (auto &[index, element] : m_elements)
        if (element.socket)
            quietly(element.socket);
    m_server.reset();
}

void QtSocketArray::setEvents(Events events)
{
    m_events = std::move(events);
}

template <typename Handler, typename... Args>
void QtSocketArray::raise(const Handler &handler, Args... args)
{
    if (!handler)
        return;
    try {
        handler(args...);
    } catch (...) {
        // Handlers contain their own failures; nothing may reach Qt's event loop.
    }
}

void QtSocketArray::takeIncoming()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection()) {
        socket->setParent(&m_context);
        socket->setReadBufferSize(WaitingReadLimit);
        const std::int32_t requestId = m_nextRequest;
        m_nextRequest = m_nextRequest == INT32_MAX ? 1 : m_nextRequest + 1;
        m_waiting.emplace(requestId, socket);
        // Announced from the event loop, never from inside QTcpServer: the
        // handler may serve the whole connection before it returns.
        QMetaObject::invokeMethod(
            &m_context,
            [this, requestId] {
                if (m_waiting.count(requestId) != 0)
                    raise(m_events.connectionRequest, 0, requestId);
            },
            Qt::QueuedConnection);
    }
}

void QtSocketArray::create(int index)
{
    if (index < 0)
        throw Error(SocketError, elementText(index) + " does not exist");
    if (index > 0)
        close(index);   // a closed element is one without a record
}

void QtSocketArray::setLocalPort(int index, std::int32_t port)
{
    if (port < 0 || port > 65535)
        throw Error(InvalidPropertyValue, "Invalid property value: port " + std::to_string(port));
    if (index == 0)
        m_port = port;
    // An accepting element has no port of its own.
}

void QtSocketArray::listen(int index)
{
    if (index != 0)
        throw Error(SocketError, "Only Winsock1(0) listens");
    if (m_server->isListening())
        m_server->close();
    if (!m_server->listen(QHostAddress::Any, quint16(m_port)))
        throw Error(InvalidPropertyValue, "Port " + std::to_string(m_port) + ": "
                                              + m_server->errorString().toStdString());
}

QtSocketArray::Element &QtSocketArray::freshElement(int index)
{
    Element &element = m_elements[index];
    if (element.socket)
        retire(std::exchange(element.socket, nullptr));
    element = Element{};
    element.serial = m_nextSerial++;
    return element;
}

void QtSocketArray::accept(int index, std::int32_t requestId)
{
    if (index <= 0)
        throw Error(SocketError, "Accept needs a new element, not " + elementText(index));
    const auto waiting = m_waiting.find(requestId);
    if (waiting == m_waiting.end())
        throw Error(SocketError, "No connection waits under request " + std::to_string(requestId));
    QTcpSocket *socket = waiting->second;
    m_waiting.erase(waiting);

    Element &element = freshElement(index);
    socket->setReadBufferSize(0);   // lets the rest of what the client sent in
    if (socket->state() == QAbstractSocket::ConnectedState) {
        socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);   // each item leaves at once
        element.socket = socket;
        watch(index, socket);
        // What arrived while the connection waited (a Telnet greeting, say)
        // raised nothing yet.
        if (socket->bytesAvailable() > 0)
            postDataCheck(index, element.serial);
    } else {
        // The client left while waiting: accepted all the same, as a closed element.
        const QByteArray rest = socket->readAll();
        element.leftover.assign(rest.constData(), std::size_t(rest.size()));
        socket->deleteLater();
        if (!element.leftover.empty())
            postDataCheck(index, element.serial);
        postClosed(index, element.serial);
    }
}

void QtSocketArray::watch(int index, QTcpSocket *socket)
{
    QObject::connect(socket, &QTcpSocket::readyRead, &m_context, [this, index, socket] {
        raise(m_events.dataArrival, index, long(socket->bytesAvailable()));
    });
    QObject::connect(socket, &QTcpSocket::disconnected, &m_context,
                     [this, index, socket] { clientLeft(index, socket); });
}

// The client closed or reset the connection. Qt may report it from inside a
// write, so the close event is queued for the event loop.
void QtSocketArray::clientLeft(int index, QTcpSocket *socket)
{
    const auto found = m_elements.find(index);
    if (found == m_elements.end() || found->second.socket != socket)
        return;
    Element &element = found->second;
    const QByteArray rest = socket->readAll();
    element.leftover.append(rest.constData(), std::size_t(rest.size()));
    QObject::disconnect(socket, nullptr, &m_context, nullptr);
    socket->deleteLater();
    element.socket = nullptr;
    postClosed(index, element.serial);
}

QtSocketArray::Element *QtSocketArray::find(int index, std::uint64_t serial)
{
    const auto found = m_elements.find(index);
    return found != m_elements.end() && found->second.serial == serial ? &found->second : nullptr;
}

void QtSocketArray::postDataCheck(int index, std::uint64_t serial)
{
    QMetaObject::invokeMethod(
        &m_context,
        [this, index, serial] {
            const Element *element = find(index, serial);
            if (!element)
                return;
            const long waiting = long(element->leftover.size())
                + (element->socket ? long(element->socket->bytesAvailable()) : 0L);
            if (waiting > 0)
                raise(m_events.dataArrival, index, waiting);
        },
        Qt::QueuedConnection);
}

// Raised only if the element is still the one the client left: a close by
// the program in between means no event, as for any close of its own.
void QtSocketArray::postClosed(int index, std::uint64_t serial)
{
    QMetaObject::invokeMethod(
        &m_context,
        [this, index, serial] {
            const Element *element = find(index, serial);
            if (!element || element->socket)
                return;
            raise(m_events.closed, index);
            element = find(index, serial);
            if (element && element->leftover.empty())
                m_elements.erase(index);
        },
        Qt::QueuedConnection);
}

void QtSocketArray::sendData(int index, std::string_view bytes)
{
    const auto found = m_elements.find(index);
    if (found == m_elements.end() || !found->second.socket)
        throw Error(SocketError, elementText(index) + " is not connected");
    Element &element = found->second;
    QTcpSocket *socket = element.socket;
    if (bytes.empty())
        return;
    if (socket->write(bytes.data(), qint64(bytes.size())) != qint64(bytes.size()))
        throw Error(SocketError, elementText(index) + ": " + socket->errorString().toStdString());
    element.unflushed += bytes.size();
    if (element.unflushed >= FlushEvery) {
        element.unflushed = 0;
        socket->flush();   // may find the client gone: clientLeft runs, the record stays
    }
}

std::string QtSocketArray::getData(int index)
{
    const auto found = m_elements.find(index);
    if (found == m_elements.end())
        return {};
    Element &element = found->second;
    std::string data = std::exchange(element.leftover, std::string());
    if (element.socket) {
        const QByteArray bytes = element.socket->readAll();
        data.append(bytes.constData(), std::size_t(bytes.size()));
    }
    return data;
}

void QtSocketArray::close(int index)
{
    if (index == 0) {
        m_server->close();
        return;
    }
    const auto found = m_elements.find(index);
    if (found == m_elements.end())
        return;
    QTcpSocket *socket = found->second.socket;
    m_elements.erase(found);
    if (socket)
        retire(socket);
}

int QtSocketArray::state(int index) const
{
    if (index == 0)
        return m_server->isListening() ? Listening : Closed;
    const auto found = m_elements.find(index);
    return found != m_elements.end() && found->second.socket ? Connected : Closed;
}

void QtSocketArray::closeAll()
{
    m_server->close();
    for (auto &[id, socket] : m_waiting) {
        socket->abort();
        socket->deleteLater();
    }
    m_waiting.clear();
    const auto elements = std::exchange(m_elements, {});
    for (const auto &[index, element] : elements)
        if (element.socket)
            retire(element.socket);
}

quint16 QtSocketArray::serverPort() const
{
    return m_server->serverPort();
}

// The element is already gone; the connection ends in the background.
void QtSocketArray::retire(QTcpSocket *socket)
{
    QObject::disconnect(socket, nullptr, &m_context, nullptr);
    m_closer.close(socket);
}

} // namespace zentrel::platform

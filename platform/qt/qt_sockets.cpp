// qt_sockets.cpp: Winsock1 on Qt: plain non-blocking sockets watched by the Qt event loop.
#include "platform/qt/qt_sockets.h"

#include "platform/error.h"

#include <QAbstractEventDispatcher>
#include <QSocketNotifier>
#include <QTimer>

#include <cerrno>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <exception>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace zentrel::platform {

namespace {

// Past this much queued and not handed to the kernel, sendData hands it over
// at once: a playback that never yields still keeps its buffer small.
constexpr std::size_t FlushEvery = 64 * 1024;
// What one look at a readable connection takes at most, so one chatty client
// cannot hold up the others and the window.
constexpr std::size_t ReadPerPass = 256 * 1024;
// A listener that cannot accept for want of descriptors or memory rests this
// long, rather than spin on the connection it cannot take.
constexpr int AcceptRestMs = 100;

std::string elementText(int index)
{
    return "Winsock1(" + std::to_string(index) + ")";
}

} // namespace

QtSocketArray::QtSocketArray()
{
    // Before the event loop looks for (or waits for) the next event, new
    // connections get their notifier and whatever was queued goes out: a
    // paced item leaves as its pause begins, the items of a playback that
    // never yields still go out in large writes, and a connection served
    // whole without a yield never needs a notifier of its own.
    if (QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance()) {
        QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, &m_context,
                         [this] { beforeLook(); });
        QObject::connect(dispatcher, &QAbstractEventDispatcher::awake, &m_context,
                         [this] { beforeLook(); });
        m_flushOnPass = true;
        m_closer.lookBeforeWatching();
    }
}

QtSocketArray::~QtSocketArray()
{
    // Connections go quietly: no handler may run while the array is taken apart.
    for (auto &[id, fd] : m_waiting)
        ::close(fd);
    for (auto &[index, element] : m_elements) {
        element.readable.reset();
        element.writable.reset();
        if (element.fd >= 0)
            ::close(element.fd);
    }
    stopListening();
}

void QtSocketArray::setEvents(Events events)
{
    m_events = std::move(events);
}

// Handlers contain their own failures; whatever escapes one anyway is told
// here and goes no further, as nothing may reach Qt's event loop.
template <typename Handler, typename... Args>
void QtSocketArray::raise(const char *event, int index, const Handler &handler, Args... args)
{
    if (!handler)
        return;
    try {
        handler(index, args...);
    } catch (const std::exception &failure) {
        std::fprintf(stderr, "zentrel: %s of %s failed: %s\n", event, elementText(index).c_str(),
                     failure.what());
    } catch (...) {
        std::fprintf(stderr, "zentrel: %s of %s failed with an unknown exception\n", event,
                     elementText(index).c_str());
    }
}

// The listening socket is readable: one connection is taken and announced.
// The handler may serve it whole, yields included, before it returns; the
// notifier fires again, also inside those yields, while more are pending.
void QtSocketArray::acceptOne()
{
    const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
            // Clients that left while they waited hold descriptors for
            // nothing: freeing them lets the notifier try again at once.
            if ((errno == EMFILE || errno == ENFILE) && dropGoneWaiting() > 0)
                return;
            m_listening->setEnabled(false);
            QTimer::singleShot(AcceptRestMs, &m_context, [this] {
                if (m_listening)
                    m_listening->setEnabled(true);
            });
        }
        return;   // gone again before it was taken, or nothing pending
    }
    const std::int32_t requestId = m_nextRequest;
    m_nextRequest = m_nextRequest == INT32_MAX ? 1 : m_nextRequest + 1;
    m_waiting.emplace(requestId, fd);
    raise("ConnectionRequest", 0, m_events.connectionRequest, requestId);
}

void QtSocketArray::create(int index)
{
    if (index < 0)
        throw Error(SocketError, elementText(index) + " does not exist");
    if (index > 0)
        close(index);   // a closed element is one without a record
}

QtSocketArray::Element &QtSocketArray::freshElement(int index)
{
    Element &element = m_elements[index];
    if (element.fd >= 0)
        retire(element);
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
    const int fd = waiting->second;
    m_waiting.erase(waiting);

    Element &element = freshElement(index);
    element.fd = fd;   // TCP_NODELAY comes from the listening socket
    // What arrived while the connection waited (a Telnet greeting, say), and a
    // client that has left already, are noticed from the event loop.
    if (m_flushOnPass)
        m_unwatched.emplace_back(index, element.serial);
    else
        watch(index, element);
}

void QtSocketArray::watch(int index, Element &element)
{
    element.readable = std::make_unique<QSocketNotifier>(element.fd, QSocketNotifier::Read);
    QObject::connect(element.readable.get(), &QSocketNotifier::activated, &m_context,
                     [this, index, serial = element.serial] { readSome(index, serial); });
}

void QtSocketArray::readSome(int index, std::uint64_t serial)
{
    Element *element = find(index, serial);
    if (!element || element->fd < 0)
        return;
    const std::size_t before = element->input.size();
    bool ended = false;
    bool reset = false;
    char chunk[16384];
    while (element->input.size() - before < ReadPerPass) {
        const ssize_t got = ::recv(element->fd, chunk, sizeof chunk, MSG_DONTWAIT);
        if (got > 0) {
            element->input.append(chunk, std::size_t(got));
            continue;
        }
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            break;
        ended = true;
        reset = got < 0;
        break;
    }
    if (element->input.size() > before) {
        raise("DataArrival", index, m_events.dataArrival, long(element->input.size()));
        // The handler may have closed the element, or yielded to a look that
        // found the client gone.
        element = find(index, serial);
        if (!element || element->fd < 0)
            return;
    }
    if (ended)
        clientLeft(index, *element, reset);
}

// The client closed or reset the connection. The close event is queued for
// the event loop, as this may be found from inside a send.
void QtSocketArray::clientLeft(int index, Element &element, bool reset)
{
    const int fd = std::exchange(element.fd, -1);
    element.writable.reset();
    std::string unsent = element.output.substr(element.sent);
    element.output = std::string();
    element.sent = 0;
    if (reset) {
        element.readable.reset();
        ::close(fd);
    } else {
        // Only its sending side may be shut: what was queued still goes out.
        m_closer.close(fd, std::move(element.readable), std::move(unsent), true);
    }
    postClosed(index, element.serial);
}

QtSocketArray::Element *QtSocketArray::find(int index, std::uint64_t serial)
{
    const auto found = m_elements.find(index);
    return found != m_elements.end() && found->second.serial == serial ? &found->second : nullptr;
}

// Raised only if the element is still the one the client left: a close by
// the program in between means no event, as for any close of its own.
void QtSocketArray::postClosed(int index, std::uint64_t serial)
{
    QMetaObject::invokeMethod(
        &m_context,
        [this, index, serial] {
            const Element *element = find(index, serial);
            if (!element || element->fd >= 0)
                return;
            raise("Close", index, m_events.closed);
            element = find(index, serial);
            if (element && element->input.empty())
                m_elements.erase(index);
        },
        Qt::QueuedConnection);
}

void QtSocketArray::sendData(int index, std::string_view bytes)
{
    const auto found = m_elements.find(index);
    if (found == m_elements.end() || found->second.fd < 0)
        throw Error(SocketError, elementText(index) + " is not connected");
    if (bytes.empty())
        return;
    Element &element = found->second;
    element.output.append(bytes);
    if (element.writable)
        return;   // the kernel is full; its notifier hands over the rest
    if (element.output.size() - element.sent >= FlushEvery || !m_flushOnPass) {
        flush(index, element);   // may find the client gone: the record stays
        return;
    }
    if (!element.flushListed) {
        element.flushListed = true;
        m_unflushed.emplace_back(index, element.serial);
    }
}

// Hands the kernel what it takes. False when the client turned out to be gone.
bool QtSocketArray::flush(int index, Element &element)
{
    while (element.sent < element.output.size()) {
        const ssize_t sent = ::send(element.fd, element.output.data() + element.sent,
                                    element.output.size() - element.sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (sent > 0) {
            element.sent += std::size_t(sent);
            continue;
        }
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            if (element.sent > element.output.size() / 2) {
                element.output.erase(0, element.sent);
                element.sent = 0;
            }
            if (!element.writable) {
                element.writable = std::make_unique<QSocketNotifier>(element.fd, QSocketNotifier::Write);
                QObject::connect(element.writable.get(), &QSocketNotifier::activated, &m_context,
                                 [this, index, serial = element.serial] { writable(index, serial); });
            }
            return true;
        }
        clientLeft(index, element, true);
        return false;
    }
    element.output.clear();
    element.sent = 0;
    element.writable.reset();
    return true;
}

// The kernel takes bytes again from a connection it had refused more of.
void QtSocketArray::writable(int index, std::uint64_t serial)
{
    Element *element = find(index, serial);
    if (!element || element->fd < 0 || !flush(index, *element))
        return;
    raise("Drained", index, m_events.drained);
}

void QtSocketArray::beforeLook()
{
    if (!m_unwatched.empty()) {
        const auto unwatched = std::exchange(m_unwatched, {});
        for (const auto &[index, serial] : unwatched)
            if (Element *element = find(index, serial); element && element->fd >= 0 && !element->readable)
                watch(index, *element);
    }
    if (!m_unflushed.empty())
        flushQueued();
    m_closer.beforeLook();
}

void QtSocketArray::flushQueued()
{
    auto unflushed = std::exchange(m_unflushed, {});
    for (const auto &[index, serial] : unflushed) {
        Element *element = find(index, serial);
        if (!element)
            continue;
        element->flushListed = false;
        if (element->fd >= 0 && !element->writable)
            flush(index, *element);
    }
    if (m_unflushed.empty()) {
        unflushed.clear();
        m_unflushed.swap(unflushed);   // keeps the room for the next pass
    }
}

std::string QtSocketArray::getData(int index)
{
    const auto found = m_elements.find(index);
    if (found == m_elements.end())
        return {};
    return std::exchange(found->second.input, std::string());
}

void QtSocketArray::close(int index)
{
    if (index == 0) {
        stopListening();
        return;
    }
    const auto found = m_elements.find(index);
    if (found == m_elements.end())
        return;
    Element element = std::move(found->second);
    m_elements.erase(found);
    if (element.fd >= 0)
        retire(element);
}

int QtSocketArray::state(int index) const
{
    if (index == 0)
        return m_listenFd >= 0 ? Listening : Closed;
    const auto found = m_elements.find(index);
    return found != m_elements.end() && found->second.fd >= 0 ? Connected : Closed;
}

std::size_t QtSocketArray::queued(int index) const
{
    const auto found = m_elements.find(index);
    return found == m_elements.end() ? 0 : found->second.output.size() - found->second.sent;
}

void QtSocketArray::closeAll()
{
    stopListening();
    for (auto &[id, fd] : m_waiting)
        ::close(fd);
    m_waiting.clear();
    auto elements = std::exchange(m_elements, {});
    for (auto &[index, element] : elements)
        if (element.fd >= 0)
            retire(element);
}

// The element is already gone or about to be replaced; the connection ends
// in the background with what was still queued.
void QtSocketArray::retire(Element &element)
{
    element.writable.reset();
    std::string unsent = element.sent == 0 ? std::move(element.output)
                                           : element.output.substr(element.sent);
    element.output = std::string();
    element.sent = 0;
    m_closer.close(std::exchange(element.fd, -1), std::move(element.readable), std::move(unsent));
}

} // namespace zentrel::platform

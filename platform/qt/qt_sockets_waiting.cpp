// qt_sockets_waiting.cpp: waiting connections whose clients left before their turn.
#include "platform/qt/qt_sockets.h"

#include <cerrno>
#include <poll.h>
#include <unistd.h>

namespace zentrel::platform {

namespace {

// A client that closed, reset or shut its sending side has left, even with
// bytes still unread: the window would serve it only to find it gone at its
// first item. A look that fails says nothing either way.
bool waitingClientLeft(int fd)
{
    pollfd look{fd, POLLRDHUP, 0};
    int ready;
    do
        ready = ::poll(&look, 1, 0);
    while (ready < 0 && errno == EINTR);
    return ready > 0 && (look.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL)) != 0;
}

} // namespace

bool QtSocketArray::waitingClientGone(std::int32_t requestId)
{
    const auto waiting = m_waiting.find(requestId);
    if (waiting == m_waiting.end())
        return true;
    if (!waitingClientLeft(waiting->second))
        return false;
    ::close(waiting->second);
    m_waiting.erase(waiting);
    return true;
}

// Drops every waiting connection whose client has left; how many it dropped.
std::size_t QtSocketArray::dropGoneWaiting()
{
    std::size_t dropped = 0;
    for (auto waiting = m_waiting.begin(); waiting != m_waiting.end();) {
        if (waitingClientLeft(waiting->second)) {
            ::close(waiting->second);
            waiting = m_waiting.erase(waiting);
            ++dropped;
        } else {
            ++waiting;
        }
    }
    return dropped;
}

} // namespace zentrel::platform

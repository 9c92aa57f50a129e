// qt_socket_closer.h: the graceful end of connections that Zentrel closed itself.
#pragma once
#include <QObject>
#include <QTimer>

#include <cstddef>
#include <unordered_map>

class QTcpSocket;

namespace zentrel::platform {

// Takes over a socket the program has closed: it sends what is still queued,
// shuts its sending side so the client reads the end of the stream, and
// keeps taking (and dropping) what the client sends until the client closes
// too. Closing like this, rather than at once, keeps a client that is still
// typing from having the last items destroyed by a reset. A client that
// takes nothing for a minute is cut off; one that has every byte but keeps
// its side open is closed after a short linger.
class QtSocketCloser
{
public:
    QtSocketCloser();
    ~QtSocketCloser();
    QtSocketCloser(const QtSocketCloser &) = delete;
    QtSocketCloser &operator=(const QtSocketCloser &) = delete;

    // The socket must have no connections of the caller left; the closer
    // frees it (deleteLater) once it is done.
    void close(QTcpSocket *socket);
    // Connections still ending.
    std::size_t count() const { return m_closing.size(); }

private:
    struct Closing {
        double lastProgress = 0;    // when the bytes still to go last went down
        qint64 lastPending = -1;
        double shutDownAt = 0;      // when the sending side was shut; 0 while bytes are queued
    };

    void progress(QTcpSocket *socket);
    void finish(QTcpSocket *socket, bool cut);
    void sweep();

    QObject m_context;
    std::unordered_map<QTcpSocket *, Closing> m_closing;
    QTimer m_sweep;
};

} // namespace zentrel::platform

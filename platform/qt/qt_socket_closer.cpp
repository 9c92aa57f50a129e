// qt_socket_closer.cpp: the graceful end of connections that Zentrel closed itself.
#include "platform/qt/qt_socket_closer.h"

#include <QTcpSocket>

#include <ctime>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <vector>

namespace zentrel::platform {

namespace {

// A connection whose client stops taking bytes is cut after this long without progress.
constexpr double NoProgressLimit = 60.0;
// A client that has every byte but does not close its side is left this long to do so.
constexpr double LingerLimit = 2.0;
constexpr int SweepIntervalMs = 1000;

double monotonicSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// Bytes this side has sent that the client has not acknowledged yet.
qint64 unacknowledged(QTcpSocket *socket)
{
    int queued = 0;
    if (::ioctl(int(socket->socketDescriptor()), SIOCOUTQ, &queued) != 0)
        return 0;
    return queued;
}

// Takes whatever the client sent and nobody read: closing over unread bytes
// makes the kernel reset the connection, and the reset throws away what is
// still on its way to the client.
void discardIncoming(QTcpSocket *socket)
{
    socket->readAll();
    const auto fd = int(socket->socketDescriptor());
    if (fd < 0)
        return;
    char sink[4096];
    while (::recv(fd, sink, sizeof sink, MSG_DONTWAIT) > 0) {
    }
}

} // namespace

QtSocketCloser::QtSocketCloser()
{
    m_sweep.setInterval(SweepIntervalMs);
    QObject::connect(&m_sweep, &QTimer::timeout, &m_context, [this] { sweep(); });
}

QtSocketCloser::~QtSocketCloser()
{
    for (auto &[socket, closing] : m_closing) {
        QObject::disconnect(socket, nullptr, &m_context, nullptr);
        delete socket;
    }
}

void QtSocketCloser::close(QTcpSocket *socket)
{
    socket->readAll();
    if (socket->state() != QAbstractSocket::ConnectedState) {
        socket->abort();
        socket->deleteLater();
        return;
    }
    // Hands what is queued to the kernel now rather than at the next pass of
    // the event loop: the client sees the end of the stream that much sooner.
    socket->flush();
    if (socket->state() != QAbstractSocket::ConnectedState) {
        socket->deleteLater();   // the client had gone already
        return;
    }
    m_closing.emplace(socket, Closing{monotonicSeconds(), -1, 0});
    QObject::connect(socket, &QTcpSocket::readyRead, &m_context, [socket] { socket->readAll(); });
    QObject::connect(socket, &QTcpSocket::bytesWritten, &m_context,
                     [this, socket] { progress(socket); });
    QObject::connect(socket, &QTcpSocket::disconnected, &m_context,
                     [this, socket] { finish(socket, false); });
    progress(socket);
    if (!m_sweep.isActive())
        m_sweep.start();
}

void QtSocketCloser::progress(QTcpSocket *socket)
{
    const auto found = m_closing.find(socket);
    if (found == m_closing.end() || found->second.shutDownAt > 0 || socket->bytesToWrite() > 0)
        return;
    found->second.shutDownAt = monotonicSeconds();
    ::shutdown(int(socket->socketDescriptor()), SHUT_WR);
}

void QtSocketCloser::finish(QTcpSocket *socket, bool cut)
{
    m_closing.erase(socket);
    QObject::disconnect(socket, nullptr, &m_context, nullptr);
    if (cut) {
        discardIncoming(socket);
        socket->abort();
    }
    socket->deleteLater();
}

// Once a second while connections are ending: cut those whose client takes
// nothing any more, close those whose client has everything but stays.
void QtSocketCloser::sweep()
{
    const double now = monotonicSeconds();
    std::vector<QTcpSocket *> done;
    for (auto &[socket, closing] : m_closing) {
        const bool shutDown = closing.shutDownAt > 0;
        const qint64 pending = shutDown ? unacknowledged(socket) : socket->bytesToWrite();
        if (pending != closing.lastPending) {
            closing.lastPending = pending;
            closing.lastProgress = now;
        }
        const bool delivered = shutDown && pending == 0 && now - closing.shutDownAt >= LingerLimit;
        if (delivered || now - closing.lastProgress > NoProgressLimit)
            done.push_back(socket);
    }
    for (QTcpSocket *socket : done)
        finish(socket, true);
    if (m_closing.empty())
        m_sweep.stop();
}

} // namespace zentrel::platform

// zentrel_process.h: the real zentrel binary in a scratch directory of its own, and raw loopback clients for it.
#pragma once
#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <sys/types.h>

namespace zentrel::tests {

// The 17 default lines of ROUTER.CFG, CR LF after each, byte for byte as
// start-up creates the file: with them present start-up asks nothing.
extern const QByteArray DefaultRouterConfig;

// A port nothing listens on at the moment.
quint16 freePort();
// One TCP socket of this machine whose local port is the one asked for, from
// the kernel's tables (/proc/net/tcp and tcp6): reading them never connects,
// and so never starts a playback.
struct TcpSocketRow {
    int state = 0;        // 0x01 established, 0x06 time-wait, 0x0A listening, ...
    long sendQueue = 0;   // bytes sent and not yet acknowledged by the peer
};
QList<TcpSocketRow> socketsOnPort(quint16 port);
bool portListening(quint16 port);
// Zentrel's connections on its port that still hold a socket: neither the
// listening socket nor those in time-wait, which hold no descriptor.
int openConnections(quint16 port);

// One Zentrel on Qt's offscreen platform in a fresh directory holding
// RESPONSE.TXT, ROUTER.CFG and zentrel.ini (a free port and the delay), with
// an XDG_RUNTIME_DIR and a TMPDIR of its own so that the per-user lock never
// sees another copy. SIGTERM unloads its window as Exit does.
class ZentrelProcess
{
public:
    ZentrelProcess();
    ~ZentrelProcess();   // SIGTERM, then SIGKILL if it does not end
    ZentrelProcess(const ZentrelProcess &) = delete;
    ZentrelProcess &operator=(const ZentrelProcess &) = delete;

    // Writes the three files (a null script leaves RESPONSE.TXT out) and
    // starts Zentrel; "" once it listens, else what went wrong.
    QString start(const QByteArray &script, const QByteArray &delay);
    // Starts Zentrel on the files already in directory(); "" once it listens.
    QString startInPlace(quint16 port);

    QString directory() const { return m_dir.path(); }
    QString file(const QString &name) const { return m_dir.filePath(name); }
    void write(const QString &name, const QByteArray &bytes) const;
    QByteArray read(const QString &name) const;
    quint16 port() const { return m_port; }
    pid_t pid() const;
    bool running() const { return m_process.state() != QProcess::NotRunning; }

    // Open descriptors and resident memory (VmRSS), -1 when unreadable.
    int descriptorCount() const;
    // The descriptors once no connection is open any more and the count has
    // held still for a moment: a connection that has just ended releases its
    // socket from the event loop, a little after the kernel has let it go.
    int settledDescriptorCount() const;
    long residentKiB() const;

    // Sends SIGTERM and waits; true when Zentrel ended with status 0 in time.
    bool terminate(int timeoutMs);
    // What Zentrel wrote to stdout and stderr (sanitizer reports included).
    QByteArray output();

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    quint16 m_port = 0;
};

// A blocking loopback client: connects, sends `send` (if any), then reads
// until Zentrel closes. False when it cannot connect, or nothing more comes
// within timeoutMs of the last byte; `received` holds what came either way.
bool fetch(quint16 port, QByteArray &received, int timeoutMs, const QByteArray &send = {});

// A raw connected TCP socket to 127.0.0.1, non-blocking; -1 on failure. A
// receive buffer of some KiB, set before connecting, keeps the window small:
// a client that does not read then fills the kernel's buffers with little.
int connectNonBlocking(quint16 port, int receiveBuffer = 0);

} // namespace zentrel::tests

// zentrel_process.cpp: the real zentrel binary in a scratch directory of its own, and raw loopback clients for it.
#include "tests/support/zentrel_process.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTcpServer>
#include <QTest>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace zentrel::tests {

const QByteArray DefaultRouterConfig =
    "Router Configurator: v 0.8b\r\nOS: 12.3.0 Rev .3C (09/12/2000)\r\n"
    "Last Update: February 2001\r\nMemory : 128 Mb\r\nFlash Memory 4 Mb\r\n"
    "Memory Used : 8 Mb\r\nEth0 Activated\r\nWan0 Activated\r\nEth1 Sleeping\r\n"
    "Eth2 Sleeping\r\nSpeed Span : 8200 Rpm\r\nProtocol Used : TCP-IP\r\n"
    "Lan Administration : Yes\r\nACL configuration : Yes\r\nRadius Authentication : No\r\n"
    "Router Name : Demo-Router\r\nDemo-Router >\r\n";

quint16 freePort()
{
    for (int attempt = 0; attempt < 20; ++attempt) {
        QTcpServer probe;
        if (!probe.listen(QHostAddress::Any, 0))
            continue;
        const quint16 port = probe.serverPort();
        probe.close();
        if (!portListening(port))
            return port;
    }
    return 0;
}

QList<TcpSocketRow> socketsOnPort(quint16 port)
{
    const QByteArray local = ':' + QByteArray::number(port, 16).toUpper().rightJustified(4, '0');
    QList<TcpSocketRow> rows;
    for (const char *table : {"/proc/net/tcp", "/proc/net/tcp6"}) {
        QFile file(table);
        if (!file.open(QIODevice::ReadOnly))
            continue;
        // "sl local_address rem_address st tx_queue:rx_queue ..."
        for (const QByteArray &line : file.readAll().split('\n')) {
            const QList<QByteArray> fields = line.simplified().split(' ');
            if (fields.size() > 4 && fields[1].endsWith(local))
                rows.append({fields[3].toInt(nullptr, 16),
                             fields[4].split(':').value(0).toLong(nullptr, 16)});
        }
    }
    return rows;
}

bool portListening(quint16 port)
{
    const QList<TcpSocketRow> rows = socketsOnPort(port);
    return std::any_of(rows.begin(), rows.end(), [](const TcpSocketRow &row) { return row.state == 0x0A; });
}

int openConnections(quint16 port)
{
    const QList<TcpSocketRow> rows = socketsOnPort(port);
    return int(std::count_if(rows.begin(), rows.end(), [](const TcpSocketRow &row) {
        return row.state != 0x0A && row.state != 0x06;
    }));
}

ZentrelProcess::ZentrelProcess() = default;

ZentrelProcess::~ZentrelProcess()
{
    if (running() && !terminate(20000)) {
        m_process.kill();
        m_process.waitForFinished(10000);
    }
}

void ZentrelProcess::write(const QString &name, const QByteArray &bytes) const
{
    QFile out(file(name));
    if (out.open(QIODevice::WriteOnly | QIODevice::Truncate))
        out.write(bytes);
}

QByteArray ZentrelProcess::read(const QString &name) const
{
    QFile in(file(name));
    return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
}

QString ZentrelProcess::start(const QByteArray &script, const QByteArray &delay)
{
    const quint16 port = freePort();
    if (port == 0)
        return "no free port";
    if (!script.isNull())
        write("RESPONSE.TXT", script);
    write("ROUTER.CFG", DefaultRouterConfig);
    write("zentrel.ini",
          "[Settings]\r\nTCP-Port=" + QByteArray::number(port) + "\r\nDelay=" + delay + "\r\n");
    return startInPlace(port);
}

QString ZentrelProcess::startInPlace(quint16 port)
{
    if (!m_dir.isValid())
        return "no scratch directory";
    m_port = port;
    QDir dir(m_dir.path());
    dir.mkdir("runtime");
    dir.mkdir("tmp");
    QFile::setPermissions(file("runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("QT_QPA_PLATFORM", "offscreen");
    environment.insert("XDG_RUNTIME_DIR", file("runtime"));
    environment.insert("TMPDIR", file("tmp"));
    m_process.setProcessEnvironment(environment);
    m_process.setWorkingDirectory(m_dir.path());
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    m_process.setStandardInputFile(QProcess::nullDevice());
    m_process.start(ZENTREL_BINARY, {});
    if (!m_process.waitForStarted(30000))
        return "zentrel did not start: " + m_process.errorString();
    QElapsedTimer clock;
    clock.start();
    while (!portListening(m_port)) {
        if (!running())
            return "zentrel ended before it listened: " + QString::fromLatin1(output());
        if (clock.hasExpired(60000))
            return "zentrel did not open its port within 60 s";
        m_process.waitForReadyRead(20);   // keeps its output flowing meanwhile
    }
    return {};
}

pid_t ZentrelProcess::pid() const
{
    return pid_t(m_process.processId());
}

int ZentrelProcess::descriptorCount() const
{
    const QDir fds(QString("/proc/%1/fd").arg(pid()));
    if (!fds.exists())
        return -1;
    return int(fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot).size());
}

int ZentrelProcess::settledDescriptorCount() const
{
    QElapsedTimer clock;
    clock.start();
    int count = -1;
    int unchanged = 0;
    while (unchanged < 10 && !clock.hasExpired(30000)) {
        const int now = openConnections(m_port) == 0 ? descriptorCount() : -1;
        unchanged = now >= 0 && now == count ? unchanged + 1 : 0;
        count = now;
        QTest::qWait(20);
    }
    return unchanged >= 10 ? count : -1;
}

long ZentrelProcess::residentKiB() const
{
    QFile status(QString("/proc/%1/status").arg(pid()));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

bool ZentrelProcess::terminate(int timeoutMs)
{
    if (!running())
        return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
    m_process.terminate();
    if (!m_process.waitForFinished(timeoutMs))
        return false;
    return m_process.exitStatus() == QProcess::NormalExit && m_process.exitCode() == 0;
}

QByteArray ZentrelProcess::output()
{
    return m_process.readAll();
}

int connectNonBlocking(quint16 port, int receiveBuffer)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    if (receiveBuffer > 0)
        ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return -1;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    return fd;
}

bool fetch(quint16 port, QByteArray &received, int timeoutMs, const QByteArray &send)
{
    received.clear();
    const int fd = connectNonBlocking(port);
    if (fd < 0)
        return false;
    qsizetype sent = 0;
    char block[65536];
    bool ended = false;
    for (;;) {
        pollfd watch{fd, short(POLLIN | (sent < send.size() ? POLLOUT : 0)), 0};
        const int ready = ::poll(&watch, 1, timeoutMs);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            break;   // nothing more within the timeout
        if (watch.revents & POLLOUT) {
            const ssize_t n = ::send(fd, send.constData() + sent, size_t(send.size() - sent),
                                     MSG_NOSIGNAL);
            if (n > 0)
                sent += n;
        }
        if (watch.revents & (POLLIN | POLLHUP | POLLERR)) {
            const ssize_t n = ::recv(fd, block, sizeof block, 0);
            if (n > 0) {
                received.append(block, n);
            } else if (n == 0) {
                ended = true;
                break;
            } else if (errno != EAGAIN && errno != EINTR) {
                break;   // reset
            }
        }
    }
    ::close(fd);
    return ended;
}

} // namespace zentrel::tests

// tst_hostile_clients.cpp: clients that flood, stall, crowd, reset or babble against a real Zentrel, and the normal client after them.
#include "tests/support/zentrel_process.h"

#include <QElapsedTimer>
#include <QRandomGenerator>
#include <QTest>

#include <algorithm>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using namespace zentrel;

namespace {

constexpr int Generous = 30000;   // ms

// Twenty short items; the wire is the items back to back.
QByteArray itemsScript(int count, QByteArray *wire)
{
    QByteArray script;
    wire->clear();
    for (int i = 1; i <= count; ++i) {
        const QByteArray item = "<" + QByteArray::number(i).rightJustified(2, '0') + ">";
        script += item + "\r\n";
        *wire += item;
    }
    return script;
}

// About 5 MB in 5,000 lines of distinct bytes, so that a lost or repeated
// block shows.
QByteArray bigScript(QByteArray *wire)
{
    QByteArray script;
    wire->clear();
    for (int i = 0; i < 5000; ++i) {
        QByteArray line = "line " + QByteArray::number(i).rightJustified(5, '0') + " ";
        line += QByteArray(1000 - line.size(), char('a' + i % 26));
        script += line + "\r\n";
        *wire += line;
    }
    return script;
}

// Bytes the kernel holds for Zentrel's clients, not yet acknowledged.
long queuedToClients(quint16 port)
{
    long queued = 0;
    for (const tests::TcpSocketRow &row : tests::socketsOnPort(port))
        queued += row.sendQueue;
    return queued;
}

// Closes with a reset instead of a FIN.
void reset(int fd)
{
    const linger abort{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
    ::close(fd);
}

// Reads what is there without waiting; false once the stream has ended.
bool drain(int fd, QByteArray &received)
{
    char block[65536];
    for (;;) {
        const ssize_t n = ::recv(fd, block, sizeof block, 0);
        if (n > 0) {
            received.append(block, n);
            continue;
        }
        return !(n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR));
    }
}

} // namespace

class tst_HostileClients : public QObject
{
    Q_OBJECT
private slots:
    void flood50MB_playedExactly();
    void neverReads5MB_othersWaitAndExitPrompt();
    void neverReads_pacedPlayback_exitPrompt();
    void twoHundredAtOnce_allServedInTurn();
    void resetMidItem_data();
    void resetMidItem();
    void randomBytes_noHarm();

private:
    // Descriptors once a first normal client has been served: the paced wait
    // opens its timer at its first pause and keeps it.
    int settledDescriptors(tests::ZentrelProcess &zentrel, const QByteArray &wire);
    // The normal client that follows every hostile one.
    void expectNormalClientServed(tests::ZentrelProcess &zentrel, const QByteArray &wire);
    void expectCleanExit(tests::ZentrelProcess &zentrel);
};

void tst_HostileClients::expectNormalClientServed(tests::ZentrelProcess &zentrel,
                                                  const QByteArray &wire)
{
    QByteArray received;
    QVERIFY2(tests::fetch(zentrel.port(), received, Generous), received.left(200).constData());
    QCOMPARE(received.size(), wire.size());
    QVERIFY(received == wire);
    QVERIFY(zentrel.running());
}

int tst_HostileClients::settledDescriptors(tests::ZentrelProcess &zentrel, const QByteArray &wire)
{
    QByteArray received;
    if (!tests::fetch(zentrel.port(), received, Generous) || received != wire)
        return -1;
    return zentrel.settledDescriptorCount();
}

void tst_HostileClients::expectCleanExit(tests::ZentrelProcess &zentrel)
{
    QVERIFY2(zentrel.terminate(Generous), zentrel.output().constData());
    const QByteArray output = zentrel.output();
    QVERIFY2(output.isEmpty(), output.constData());
}

// 50 MB pushed as fast as the socket takes them while the script is played
// at a pace: everything the client sends while it is served goes to
// TXT_Input, and what comes after the end of the script is taken and dropped.
void tst_HostileClients::flood50MB_playedExactly()
{
    QByteArray wire;
    tests::ZentrelProcess zentrel;
    const QString failure = zentrel.start(itemsScript(20, &wire), "0.02");
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    const long residentBefore = zentrel.residentKiB();

    const int fd = tests::connectNonBlocking(zentrel.port());
    QVERIFY(fd >= 0);
    constexpr qint64 Total = 50ll * 1000 * 1000;
    const QByteArray block(1 << 20, 'f');
    qint64 sent = 0;
    QByteArray received;
    bool ended = false;
    bool cutOff = false;   // Zentrel reset the connection
    QElapsedTimer clock;
    clock.start();
    while ((sent < Total || !ended) && !cutOff && !clock.hasExpired(100000)) {
        pollfd watch{fd, short((ended ? 0 : POLLIN) | (sent < Total ? POLLOUT : 0)), 0};
        if (::poll(&watch, 1, 1000) <= 0)
            continue;
        if (watch.revents & POLLOUT) {
            const qint64 want = std::min<qint64>(block.size(), Total - sent);
            const ssize_t n = ::send(fd, block.constData(), size_t(want), MSG_NOSIGNAL);
            if (n > 0)
                sent += n;
            else if (n < 0 && errno != EAGAIN && errno != EINTR)
                cutOff = true;
        }
        if (!ended && (watch.revents & (POLLIN | POLLHUP | POLLERR)))
            ended = !drain(fd, received);
    }
    ::close(fd);
    // After the end of the script Zentrel takes and drops what still comes;
    // it may cut off a client that goes on sending once it has everything.
    QVERIFY2(ended, "the script did not end");
    QVERIFY2(sent == Total || cutOff, qPrintable(QString("sent %1 bytes").arg(sent)));
    QCOMPARE(received, wire);
    const long residentFlooded = zentrel.residentKiB();

    // The next connection empties TXT_Input, and with it what the flood left.
    expectNormalClientServed(zentrel, wire);
    qInfo("50 MB flood (%lld MB taken before a cut-off: %s): resident %ld KiB before, %ld KiB "
          "after it, %ld KiB after the next client",
          sent / 1000000, cutOff ? "yes" : "no", residentBefore, residentFlooded,
          zentrel.residentKiB());
    expectCleanExit(zentrel);
}

// A client that connects and never reads while 5 MB are played to it at
// Delay 0: the kernel's buffers fill, a bounded queue waits in Zentrel, and
// the playback waits for the client rather than queue the whole script.
// The next client waits its turn meanwhile. Nothing is lost: the stalled
// client, once it reads, gets every byte, and then the next is served. A
// SIGTERM with a stalled client still ends Zentrel at once.
void tst_HostileClients::neverReads5MB_othersWaitAndExitPrompt()
{
    QByteArray wire;
    tests::ZentrelProcess zentrel;
    const QString failure = zentrel.start(bigScript(&wire), "0");
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    const long residentBefore = zentrel.residentKiB();

    const int stalled = tests::connectNonBlocking(zentrel.port());
    QVERIFY(stalled >= 0);
    QTRY_VERIFY_WITH_TIMEOUT(queuedToClients(zentrel.port()) > 0, Generous);

    // The next client waits while the first reads nothing.
    const int next = tests::connectNonBlocking(zentrel.port());
    QVERIFY(next >= 0);
    QByteArray early;
    QTest::qWait(1000);
    drain(next, early);
    QVERIFY2(early.isEmpty(), early.left(200).constData());
    const long residentStalled = zentrel.residentKiB();

    // The stalled client's bytes come in order once it reads, all of them.
    QByteArray late;
    QElapsedTimer clock;
    clock.start();
    bool open = true;
    while (open && !clock.hasExpired(Generous)) {
        pollfd watch{stalled, POLLIN, 0};
        if (::poll(&watch, 1, 1000) > 0)
            open = drain(stalled, late);
    }
    ::close(stalled);
    QVERIFY(!open);
    QCOMPARE(late.size(), wire.size());
    QVERIFY(late == wire);
    qInfo("5 MB to a client that does not read: resident %ld KiB before, %ld KiB while it stalls",
          residentBefore, residentStalled);

    // Then the waiting client gets its turn, in full.
    QByteArray served;
    open = true;
    clock.restart();
    while (open && !clock.hasExpired(Generous)) {
        pollfd watch{next, POLLIN, 0};
        if (::poll(&watch, 1, 1000) > 0)
            open = drain(next, served);
    }
    ::close(next);
    QVERIFY(!open);
    QVERIFY(served == wire);

    // Stalled again, and the program is told to end: it does, at once.
    const int again = tests::connectNonBlocking(zentrel.port());
    QVERIFY(again >= 0);
    QTRY_VERIFY_WITH_TIMEOUT(queuedToClients(zentrel.port()) > 0, Generous);
    expectCleanExit(zentrel);
    ::close(again);
}

// The same client while the 5 MB are still being played at a pace: the
// kernel's buffers are full, and the playback goes on pausing and queuing;
// the window's Exit (SIGTERM) still ends it at its next pause.
void tst_HostileClients::neverReads_pacedPlayback_exitPrompt()
{
    QByteArray wire;
    tests::ZentrelProcess zentrel;
    const QString failure = zentrel.start(bigScript(&wire), "0.001");
    QVERIFY2(failure.isEmpty(), qPrintable(failure));

    // A small window, so that a few paced items fill the kernel's buffers
    // however slowly a busy machine plays them: the rest waits in Zentrel.
    const int stalled = tests::connectNonBlocking(zentrel.port(), 4096);
    QVERIFY(stalled >= 0);
    QTRY_VERIFY_WITH_TIMEOUT(queuedToClients(zentrel.port()) > 0, Generous);
    const long residentBefore = zentrel.residentKiB();
    QByteArray next;
    const int waiting = tests::connectNonBlocking(zentrel.port());
    QVERIFY(waiting >= 0);
    expectCleanExit(zentrel);
    qInfo("paced playback to a client that does not read: resident %ld KiB while it stalls",
          residentBefore);
    // The client waiting its turn was never served.
    drain(waiting, next);
    QVERIFY(next.isEmpty());
    ::close(waiting);
    ::close(stalled);
}

// Two hundred connections made in one burst: each is served in turn, each
// gets the whole script and nothing of another's, and no descriptor stays.
void tst_HostileClients::twoHundredAtOnce_allServedInTurn()
{
    QByteArray wire;
    tests::ZentrelProcess zentrel;
    const QString failure = zentrel.start(itemsScript(5, &wire), "0.001");
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    const int descriptorsBefore = settledDescriptors(zentrel, wire);
    QVERIFY(descriptorsBefore > 0);

    constexpr int Count = 200;
    std::vector<int> fds;
    for (int i = 0; i < Count; ++i) {
        const int fd = tests::connectNonBlocking(zentrel.port());
        QVERIFY2(fd >= 0, qPrintable(QString("connection %1").arg(i)));
        fds.push_back(fd);
    }
    std::vector<QByteArray> received(Count);
    std::vector<bool> ended(Count, false);
    int open = Count;
    QElapsedTimer clock;
    clock.start();
    while (open > 0 && !clock.hasExpired(100000)) {
        std::vector<pollfd> watch;
        std::vector<int> which;
        for (int i = 0; i < Count; ++i)
            if (!ended[i]) {
                watch.push_back({fds[i], POLLIN, 0});
                which.push_back(i);
            }
        if (::poll(watch.data(), nfds_t(watch.size()), 1000) <= 0)
            continue;
        for (std::size_t k = 0; k < watch.size(); ++k)
            if (watch[k].revents && !drain(fds[which[k]], received[which[k]])) {
                ended[which[k]] = true;
                --open;
            }
    }
    for (int fd : fds)
        ::close(fd);
    for (int i = 0; i < Count; ++i) {
        QVERIFY2(ended[i], qPrintable(QString("client %1 was not served to its end").arg(i)));
        QVERIFY2(received[i] == wire,
                 qPrintable(QString("client %1 got %2").arg(i).arg(QString(received[i]))));
    }
    QCOMPARE(zentrel.settledDescriptorCount(), descriptorsBefore);

    expectNormalClientServed(zentrel, wire);
    expectCleanExit(zentrel);
}

void tst_HostileClients::resetMidItem_data()
{
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<QByteArray>("delay");
    QTest::addColumn<int>("readBeforeReset");   // bytes the client takes before its reset

    const QByteArray big(4 << 20, 'x');
    QTest::newRow("inside a 4 MB item") << "head\r\n" + big + "\r\ntail\r\n" << QByteArray("0") << 100000;
    QTest::newRow("at the first byte") << "head\r\n" + big + "\r\ntail\r\n" << QByteArray("0") << 1;
    QTest::newRow("before any byte") << QByteArray("a\r\nb\r\n") << QByteArray("0.2") << 0;
    QTest::newRow("in a pause") << QByteArray("a\r\nb\r\nc\r\n") << QByteArray("0.1") << 1;
}

// The client resets the connection (SO_LINGER 0) while an item is on its way
// or Zentrel is pausing: the playback ends, and the next client gets it all.
void tst_HostileClients::resetMidItem()
{
    QFETCH(QByteArray, script);
    QFETCH(QByteArray, delay);
    QFETCH(int, readBeforeReset);
    tests::ZentrelProcess zentrel;
    const QString failure = zentrel.start(script, delay);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
    QByteArray wire;
    for (const QByteArray &line : script.split('\n'))
        wire += line.trimmed();
    const int descriptorsBefore = settledDescriptors(zentrel, wire);
    QVERIFY(descriptorsBefore > 0);

    for (int round = 0; round < 3; ++round) {
        const int fd = tests::connectNonBlocking(zentrel.port());
        QVERIFY(fd >= 0);
        QByteArray received;
        QElapsedTimer clock;
        clock.start();
        bool open = true;
        while (open && received.size() < readBeforeReset && !clock.hasExpired(Generous)) {
            pollfd watch{fd, POLLIN, 0};
            if (::poll(&watch, 1, 1000) > 0)
                open = drain(fd, received);
        }
        QVERIFY(received.size() >= readBeforeReset);
        reset(fd);
    }

    expectNormalClientServed(zentrel, wire);
    QCOMPARE(zentrel.settledDescriptorCount(), descriptorsBefore);
    expectCleanExit(zentrel);
}

// Clients that send random bytes (Telnet commands, CRs, NULs, high bytes)
// in random pieces and leave at random moments, some by a reset, some by a
// close, a few at the same time.
void tst_HostileClients::randomBytes_noHarm()
{
    QByteArray wire;
    tests::ZentrelProcess zentrel;
    const QString failure = zentrel.start(itemsScript(20, &wire), "0.002");
    QVERIFY2(failure.isEmpty(), qPrintable(failure));

    QRandomGenerator random(1101);
    const QByteArray likely("\xff\xfd\xfb\xfe\xfc\r\n\0,\"", 10);
    for (int round = 0; round < 10; ++round) {
        struct Babbler {
            int fd;
            QByteArray received;
            int piecesLeft;
            bool resets;
            bool open = true;
        };
        std::vector<Babbler> clients;
        for (int i = 0; i < 3; ++i) {
            const int fd = tests::connectNonBlocking(zentrel.port());
            QVERIFY(fd >= 0);
            clients.push_back({fd, {}, int(random.bounded(1, 30)), random.bounded(2) == 0});
        }
        QElapsedTimer clock;
        clock.start();
        bool any = true;
        while (any && !clock.hasExpired(Generous)) {
            any = false;
            for (Babbler &client : clients) {
                if (!client.open)
                    continue;
                any = true;
                if (client.piecesLeft-- > 0) {
                    QByteArray piece(int(random.bounded(1, 600)), Qt::Uninitialized);
                    for (char &c : piece)
                        c = random.bounded(3) ? char(random.bounded(256))
                                              : likely[int(random.bounded(likely.size()))];
                    ::send(client.fd, piece.constData(), size_t(piece.size()), MSG_NOSIGNAL);
                    client.open = drain(client.fd, client.received);
                } else {
                    // Its pieces are sent: it leaves, whatever it has got so far.
                    client.open = drain(client.fd, client.received);
                    if (client.resets)
                        reset(client.fd);
                    else
                        ::close(client.fd);
                    client.fd = -1;
                    client.open = false;
                }
            }
            QTest::qWait(1);
        }
        for (Babbler &client : clients) {
            if (client.fd >= 0)
                ::close(client.fd);
            QVERIFY2(wire.startsWith(client.received), client.received.constData());
        }
        QVERIFY(zentrel.running());
    }
    expectNormalClientServed(zentrel, wire);
    expectCleanExit(zentrel);
}

QTEST_GUILESS_MAIN(tst_HostileClients)
#include "tst_hostile_clients.moc"

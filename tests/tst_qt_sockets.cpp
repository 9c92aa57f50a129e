// tst_qt_sockets.cpp: Winsock1 on real loopback connections: requests, accepts, bytes, closes.
#include "platform/error.h"
#include "platform/qt/qt_sockets.h"

#include <QRandomGenerator>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>

#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>
#include <utility>

#include <memory>
#include <vector>

using namespace zentrel;
using platform::QtSocketArray;

namespace {

constexpr int Patience = 20000;   // ms; generous for a busy machine

// The array listening on a free port, with every event it raises recorded.
struct Served {
    QtSocketArray sockets;
    std::vector<std::pair<int, std::int32_t>> requests;
    std::vector<int> arrivals;   // element of each data arrival
    std::vector<int> closes;
    std::map<int, QByteArray> received;   // taken with getData on each arrival

    Served()
    {
        sockets.setEvents({
            [this](int index, std::int32_t id) { requests.emplace_back(index, id); },
            [this](int index, long) {
                arrivals.push_back(index);
                const std::string bytes = sockets.getData(index);
                received[index].append(bytes.data(), qsizetype(bytes.size()));
            },
            [this](int index) { closes.push_back(index); },
        });
        sockets.setLocalPort(0, 0);
        sockets.listen(0);
    }

    std::unique_ptr<QTcpSocket> connectClient()
    {
        auto client = std::make_unique<QTcpSocket>();
        client->connectToHost(QHostAddress::LocalHost, sockets.serverPort());
        return client;
    }
};

QByteArray everyByte()
{
    QByteArray bytes;
    for (int i = 0; i < 256; ++i)
        bytes.append(char(i));
    return bytes;
}

// Lets queued events run for a moment, for checks that something did not happen.
void settle()
{
    QTest::qWait(200);
}

// Everything the client receives until the server ends the stream.
struct Collector {
    QByteArray bytes;
    bool ended = false;
    QMetaObject::Connection reading, ending;
    explicit Collector(QTcpSocket &client)
    {
        reading = QObject::connect(&client, &QTcpSocket::readyRead,
                                   [this, &client] { bytes += client.readAll(); });
        ending = QObject::connect(&client, &QTcpSocket::disconnected, [this, &client] {
            bytes += client.readAll();
            ended = true;
        });
    }
    ~Collector()
    {
        QObject::disconnect(reading);
        QObject::disconnect(ending);
    }
};

// What is written to stderr while it lives.
class StderrCapture
{
public:
    StderrCapture() : m_file(std::tmpfile()), m_saved(::dup(2))
    {
        std::fflush(stderr);
        ::dup2(fileno(m_file), 2);
    }
    ~StderrCapture()
    {
        restore();
        std::fclose(m_file);
    }
    QByteArray text()
    {
        restore();
        std::rewind(m_file);
        QByteArray printed(4096, '\0');
        printed.resize(qsizetype(std::fread(printed.data(), 1, size_t(printed.size()), m_file)));
        return printed;
    }

private:
    void restore()
    {
        if (m_saved < 0)
            return;
        std::fflush(stderr);
        ::dup2(m_saved, 2);
        ::close(std::exchange(m_saved, -1));
    }
    FILE *m_file;
    int m_saved;
};

} // namespace

class tst_QtSockets : public QObject
{
    Q_OBJECT
private slots:
    void accepted_exchangesExactBytes_data();
    void accepted_exchangesExactBytes();
    void peerClose_raisesClosedOnce_data();
    void peerClose_raisesClosedOnce();
    void sendData_piecesAcrossEventLoopPasses_arriveInOrder();
    void programClose_raisesNothingAndDeliversQueuedBytes();
    void programClose_survivesUnreadClientBytes();
    void listen_refusesPortsItCannotTake_data();
    void listen_refusesPortsItCannotTake();
    void waitingRequests_raiseNothingUntilAccepted();
    void clientGoneBeforeAccept_acceptedAsClosed();
    void accept_unknownRequestThrows();
    void closeAll_endsServerAndConnections();
    void failingHandler_isToldAndTheArrayKeepsServing();
};

void tst_QtSockets::accepted_exchangesExactBytes_data()
{
    QTest::addColumn<int>("index");
    QTest::newRow("first element") << 1;
    QTest::newRow("beyond 16-bit indices") << 40000;
}

void tst_QtSockets::accepted_exchangesExactBytes()
{
    QFETCH(int, index);
    Served served;
    auto client = served.connectClient();
    QTRY_COMPARE_WITH_TIMEOUT(served.requests.size(), size_t(1), Patience);
    QCOMPARE(served.requests[0].first, 0);

    served.sockets.create(index);
    served.sockets.accept(index, served.requests[0].second);
    QVERIFY(served.sockets.state(index) != 0);

    const QByteArray bytes = everyByte() + QByteArray("\0\0tail\r\n", 8);
    client->write(bytes);
    QTRY_COMPARE_WITH_TIMEOUT(served.received[index], bytes, Patience);

    Collector collector(*client);
    served.sockets.sendData(index, std::string_view(bytes.constData(), size_t(bytes.size())));
    QTRY_COMPARE_WITH_TIMEOUT(collector.bytes, bytes, Patience);
    QVERIFY(served.closes.empty());
}

void tst_QtSockets::peerClose_raisesClosedOnce_data()
{
    QTest::addColumn<bool>("reset");
    QTest::newRow("orderly close") << false;
    QTest::newRow("reset") << true;
}

void tst_QtSockets::peerClose_raisesClosedOnce()
{
    QFETCH(bool, reset);
    Served served;
    auto client = served.connectClient();
    QTRY_COMPARE_WITH_TIMEOUT(served.requests.size(), size_t(1), Patience);
    served.sockets.accept(1, served.requests[0].second);
    QVERIFY(client->waitForConnected(Patience));

    client->write("last words");
    client->flush();
    if (reset) {
        const linger abortive{1, 0};   // close with RST
        ::setsockopt(int(client->socketDescriptor()), SOL_SOCKET, SO_LINGER, &abortive,
                     sizeof abortive);
    }
    client->close();

    QTRY_COMPARE_WITH_TIMEOUT(served.closes, std::vector<int>{1}, Patience);
    QCOMPARE(served.sockets.state(1), 0);
    if (!reset)
        QCOMPARE(served.received[1], QByteArray("last words"));
    served.sockets.close(1);   // what the close handler does
    settle();
    QCOMPARE(served.closes, std::vector<int>{1});
}

// Queued bytes go out when the event loop next looks for events, or at once
// when much is queued, or as the kernel takes more: in every mix of these the
// client gets each byte once, in the order it was queued.
void tst_QtSockets::sendData_piecesAcrossEventLoopPasses_arriveInOrder()
{
    Served served;
    auto client = served.connectClient();
    Collector collector(*client);
    QTRY_COMPARE_WITH_TIMEOUT(served.requests.size(), size_t(1), Patience);
    served.sockets.accept(1, served.requests[0].second);

    QByteArray expected;
    QRandomGenerator generator(11);
    const auto send = [&](const QByteArray &bytes) {
        served.sockets.sendData(1, std::string_view(bytes.constData(), size_t(bytes.size())));
        expected += bytes;
    };
    for (int piece = 0; piece < 3000; ++piece) {
        QByteArray bytes(int(generator.bounded(1, 40)), Qt::Uninitialized);
        for (char &byte : bytes)
            byte = char(generator.bounded(256));
        send(bytes);
        if (piece % 7 == 0)
            QCoreApplication::processEvents();
        if (piece % 500 == 0)
            send(QByteArray(3 << 20, char('a' + piece / 500)));   // more than the kernel takes at once
    }
    QTRY_COMPARE_WITH_TIMEOUT(collector.bytes.size(), expected.size(), Patience);
    QVERIFY(collector.bytes == expected);
    QVERIFY(!collector.ended);
    QVERIFY(served.closes.empty());
}

void tst_QtSockets::programClose_raisesNothingAndDeliversQueuedBytes()
{
    Served served;
    auto client = served.connectClient();
    Collector collector(*client);
    QTRY_COMPARE_WITH_TIMEOUT(served.requests.size(), size_t(1), Patience);
    served.sockets.accept(1, served.requests[0].second);

    QByteArray megabyte(1 << 20, Qt::Uninitialized);
    QRandomGenerator generator(7);
    for (char &byte : megabyte)
        byte = char(generator.bounded(256));
    served.sockets.sendData(1, std::string_view(megabyte.constData(), size_t(megabyte.size())));
    served.sockets.close(1);
    QCOMPARE(served.sockets.state(1), 0);

    QTRY_VERIFY_WITH_TIMEOUT(collector.ended, Patience);
    QCOMPARE(collector.bytes.size(), megabyte.size());
    QVERIFY(collector.bytes == megabyte);
    settle();
    QVERIFY(served.closes.empty());
    QTRY_COMPARE_WITH_TIMEOUT(served.sockets.closingCount(), size_t(0), Patience);
}

// The client types while the program closes with much still queued: what it
// typed is never read, yet the stream must arrive whole, not be reset.
void tst_QtSockets::programClose_survivesUnreadClientBytes()
{
    Served served;
    auto client = served.connectClient();
    Collector collector(*client);
    QTRY_COMPARE_WITH_TIMEOUT(served.requests.size(), size_t(1), Patience);
    served.sockets.accept(1, served.requests[0].second);
    QVERIFY(client->waitForConnected(Patience));

    const QByteArray chunk(4 * 1024 * 1024, 'x');
    client->write("show running-config\r\n");
    QVERIFY(client->waitForBytesWritten(Patience));
    // No event runs between here and the close: the typed line stays unread.
    served.sockets.sendData(1, std::string_view(chunk.constData(), size_t(chunk.size())));
    served.sockets.close(1);

    QTRY_VERIFY_WITH_TIMEOUT(collector.ended, Patience);
    QCOMPARE(collector.bytes.size(), chunk.size());
    QVERIFY(served.closes.empty());
}

void tst_QtSockets::listen_refusesPortsItCannotTake_data()
{
    QTest::addColumn<int>("port");
    QTest::addColumn<bool>("occupied");
    QTest::newRow("above 65535") << 70000 << false;
    QTest::newRow("negative") << -1 << false;
    QTest::newRow("in use") << 0 << true;
}

void tst_QtSockets::listen_refusesPortsItCannotTake()
{
    QFETCH(int, port);
    QFETCH(bool, occupied);
    QTcpServer other;
    if (occupied) {
        QVERIFY(other.listen(QHostAddress::Any, 0));
        port = other.serverPort();
    }
    QtSocketArray sockets;
    try {
        sockets.setLocalPort(0, port);
        sockets.listen(0);
        QFAIL("the port was taken");
    } catch (const platform::Error &error) {
        QCOMPARE(error.code(), int(platform::InvalidPropertyValue));
    }
    QCOMPARE(sockets.state(0), 0);
}

// Requests announced in arrival order, none raising anything before its
// accept; what a client sent while it waited arrives after the accept.
void tst_QtSockets::waitingRequests_raiseNothingUntilAccepted()
{
    Served served;
    std::vector<std::unique_ptr<QTcpSocket>> clients;
    for (int i = 0; i < 3; ++i) {
        clients.push_back(served.connectClient());
        QTRY_COMPARE_WITH_TIMEOUT(served.requests.size(), size_t(i + 1), Patience);
        clients.back()->write(QByteArray("greeting ") + char('A' + i));
    }
    QVERIFY(served.requests[0].second < served.requests[1].second);
    QVERIFY(served.requests[1].second < served.requests[2].second);
    settle();
    QVERIFY(served.arrivals.empty());
    QVERIFY(served.closes.empty());

    for (int i = 0; i < 3; ++i) {
        served.sockets.create(i + 1);
        served.sockets.accept(i + 1, served.requests[size_t(i)].second);
        served.sockets.sendData(i + 1, std::string(1, char('a' + i)));
    }
    for (int i = 0; i < 3; ++i) {
        QTRY_COMPARE_WITH_TIMEOUT(served.received[i + 1], QByteArray("greeting ") + char('A' + i),
                                  Patience);
        QTRY_COMPARE_WITH_TIMEOUT(clients[size_t(i)]->bytesAvailable(), qint64(1), Patience);
        QCOMPARE(clients[size_t(i)]->readAll(), QByteArray(1, char('a' + i)));
    }
}

void tst_QtSockets::clientGoneBeforeAccept_acceptedAsClosed()
{
    Served served;
    auto client = served.connectClient();
    QTRY_COMPARE_WITH_TIMEOUT(served.requests.size(), size_t(1), Patience);
    QVERIFY(client->waitForConnected(Patience));
    client->write("bye");
    client->flush();
    client->close();
    settle();
    QVERIFY(served.closes.empty());

    served.sockets.accept(1, served.requests[0].second);
    QTRY_COMPARE_WITH_TIMEOUT(served.closes, std::vector<int>{1}, Patience);
    QCOMPARE(served.sockets.state(1), 0);
    QCOMPARE(served.received[1], QByteArray("bye"));
}

void tst_QtSockets::accept_unknownRequestThrows()
{
    Served served;
    QVERIFY_THROWS_EXCEPTION(platform::Error, served.sockets.accept(1, 12345));
    QCOMPARE(served.sockets.state(1), 0);
}

void tst_QtSockets::closeAll_endsServerAndConnections()
{
    Served served;
    const quint16 port = served.sockets.serverPort();
    auto client = served.connectClient();
    QTRY_COMPARE_WITH_TIMEOUT(served.requests.size(), size_t(1), Patience);
    served.sockets.accept(1, served.requests[0].second);
    QSignalSpy ended(client.get(), &QTcpSocket::disconnected);

    served.sockets.closeAll();
    QCOMPARE(served.sockets.state(0), 0);
    QCOMPARE(served.sockets.state(1), 0);
    QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, Patience);

    QTcpSocket late;
    QSignalSpy refused(&late, &QTcpSocket::errorOccurred);
    late.connectToHost(QHostAddress::LocalHost, port);
    QTRY_COMPARE_WITH_TIMEOUT(refused.count(), 1, Patience);
    QVERIFY(served.closes.empty());
}

// A handler that lets an exception escape is named on stderr with its element;
// the event loop and the other events go on.
void tst_QtSockets::failingHandler_isToldAndTheArrayKeepsServing()
{
    Served served;
    int arrivals = 0;
    QByteArray received;
    served.sockets.setEvents({
        [&](int, std::int32_t id) {
            served.requests.emplace_back(0, id);
            throw std::runtime_error("no element free");
        },
        [&](int index, long) {
            const std::string bytes = served.sockets.getData(index);
            received.append(bytes.data(), qsizetype(bytes.size()));
            if (++arrivals == 1)
                throw 7;
        },
        [&](int) { throw std::runtime_error("closing went wrong"); },
    });
    StderrCapture capture;
    auto client = served.connectClient();
    QTRY_COMPARE_WITH_TIMEOUT(served.requests.size(), size_t(1), Patience);
    served.sockets.accept(3, served.requests[0].second);
    QVERIFY(client->waitForConnected(Patience));
    client->write("first");
    client->flush();
    QTRY_COMPARE_WITH_TIMEOUT(arrivals, 1, Patience);
    client->write("second");
    client->flush();
    QTRY_COMPARE_WITH_TIMEOUT(received, QByteArray("firstsecond"), Patience);
    client->close();
    QTRY_VERIFY_WITH_TIMEOUT(served.sockets.state(3) == 0, Patience);
    settle();
    const QByteArray told = capture.text();

    QVERIFY2(told.contains("zentrel: ConnectionRequest of Winsock1(0) failed: no element free\n"), told);
    QVERIFY2(told.contains("zentrel: DataArrival of Winsock1(3) failed with an unknown exception\n"), told);
    QVERIFY2(told.contains("zentrel: Close of Winsock1(3) failed: closing went wrong\n"), told);
    QCOMPARE(told.count("DataArrival"), 1);
}

QTEST_GUILESS_MAIN(tst_QtSockets)
#include "tst_qt_sockets.moc"

// tst_console_loopback.cpp: serving real TCP clients on 127.0.0.1 with the window's loop, network and files.
#include "app/application.h"
#include "platform/posix/posix_loop.h"
#include "platform/posix/tcp_network.h"
#include "platform/qt/qt_loop_bridge.h"
#include "tests/support/counting_text_files.h"
#include "tests/support/current_dir.h"
#include "tests/support/fakes.h"
#include "ui/window_model.h"

#include <QElapsedTimer>
#include <QTcpSocket>
#include <QTest>

#include <QCoreApplication>

#include <algorithm>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace zentrel;

namespace {

// Zentrel's handlers on the real loop and network, listening on a port of the system's choosing.
struct Server {
    tests::ScratchDir dir;
    ui::ZentrelFRM form;
    platform::PosixLoop loop;
    platform::QtLoopBridge bridge{loop};
    platform::TcpNetwork network{loop};
    tests::CountingTextFiles files;
    tests::FakeEmptyProfile profile;
    tests::FakeDialogs dialogs;
    tests::FakeInstanceGuard guard;
    platform::Platform platform{network, profile, files, loop, dialogs, guard};
    app::Application application{form, platform};
    ui::Shared &shared = application.shared();

    explicit Server(double delay)
    {
        shared.responseDelay = delay;
        network.listen(0);
        form.TXT_OutPut.setText({});
        form.CMD_Answers.setEnabled(true);
    }
    ~Server() { network.close(); }
    void script(const QByteArray &bytes) { dir.write("RESPONSE.TXT", bytes); }
};

// A client that keeps everything it receives and when each piece came.
struct Client {
    QTcpSocket socket;
    QByteArray received;
    QList<qint64> arrivals;   // ms on `clock` at which received reached each size
    QList<qsizetype> sizes;
    QElapsedTimer clock;

    Client()
    {
        QObject::connect(&socket, &QTcpSocket::readyRead, [this] {
            received += socket.readAll();
            arrivals.append(clock.elapsed());
            sizes.append(received.size());
        });
    }
    void connectTo(const Server &server)
    {
        clock.start();
        socket.connectToHost(QHostAddress::LocalHost, server.network.port());
    }
    bool closed() const { return socket.state() == QAbstractSocket::UnconnectedState; }
    // When the received bytes first reached `size`, in ms after connecting.
    qint64 arrivalOf(qsizetype size) const
    {
        for (int i = 0; i < sizes.size(); ++i)
            if (sizes[i] >= size)
                return arrivals[i];
        return -1;
    }
};

QByteArray highBytes()
{
    QByteArray bytes;
    for (int byte = 0x80; byte <= 0xFF; ++byte)
        bytes.append(char(byte));
    return bytes;
}

constexpr int Generous = 20000;   // ms

} // namespace

class tst_ConsoleLoopback : public QObject
{
    Q_OBJECT
private slots:
    void wire_data();
    void wire();
    void items_spacedByDelayInOrder();
    void secondClient_waitsForFirst();
    void clientLeaving_midScript_nextServed();
    void departedWhileWaiting_nextServedPromptly();
    void hostileClient_nextServedExactly_data();
    void hostileClient_nextServedExactly();
    void slowReader_queueStaysBounded();
};

void tst_ConsoleLoopback::wire_data()
{
    QTest::addColumn<QByteArray>("script");
    QTest::addColumn<QByteArray>("wire");
    QTest::addColumn<double>("delay");

    QTest::newRow("comma-separated words") << QByteArray("show,run\r\n") << QByteArray("showrun") << 0.01;
    QTest::newRow("quoted item with comma")
        << QByteArray("\"Memory : 128 Mb, Flash 4 Mb\"\r\n") << QByteArray("Memory : 128 Mb, Flash 4 Mb")
        << 0.01;
    QTest::newRow("leading spaces") << QByteArray("    Router>\r\n") << QByteArray("Router>") << 0.01;
    QTest::newRow("empty line sends nothing") << QByteArray("a\r\n\r\nb\r\n") << QByteArray("ab") << 0.01;
    QTest::newRow("prompt without line end")
        << QByteArray("Username: \r\nPassword:") << QByteArray("Username: Password:") << 0.01;
    QTest::newRow("quoted line ends") << QByteArray("\"\r\nRouter>\"\r\n") << QByteArray("\r\nRouter>")
                                      << 0.01;
    QTest::newRow("bytes 0x80 to 0xFF") << highBytes() + "\r\n" << highBytes() << 0.01;
    QTest::newRow("NUL bytes") << QByteArray("a\0b\r\n", 5) << QByteArray("a\0b", 3) << 0.01;
    QTest::newRow("back to back at delay 0")
        << QByteArray("one,two\r\n\"th,ree\"\r\n  four\r\n") << QByteArray("onetwoth,reefour") << 0.0;
    QTest::newRow("empty script") << QByteArray() << QByteArray() << 0.01;
    QTest::newRow("CR-only line ends") << QByteArray("a\rb\r\r  c\r") << QByteArray("abc") << 0.01;
    QTest::newRow("unterminated quote") << QByteArray("x\r\n\"open,\r\nrest")
                                        << QByteArray("xopen,\r\nrest") << 0.01;
    const QByteArray megabyte(1 << 20, 'm');
    QTest::newRow("1 MB line") << megabyte + "\r\nend" << megabyte + "end" << 0.01;
}

void tst_ConsoleLoopback::wire()
{
    QFETCH(QByteArray, script);
    QFETCH(QByteArray, wire);
    QFETCH(double, delay);
    Server server(delay);
    server.script(script);
    Client client;
    client.connectTo(server);
    // Everything arrives, then Zentrel closes: nothing more, nothing added.
    QTRY_VERIFY_WITH_TIMEOUT(client.closed(), Generous);
    QCOMPARE(client.received, wire);
    QCOMPARE(server.form.FRM_Winsock.backColour(), ui::Green);
    QVERIFY(server.form.CMD_Answers.enabled());
    QCOMPARE(server.files.alive(), 0);
}

void tst_ConsoleLoopback::items_spacedByDelayInOrder()
{
    constexpr double Delay = 0.2;
    Server server(Delay);
    server.script("1,2\r\n3\r\n");
    Client client;
    client.connectTo(server);
    QTRY_VERIFY_WITH_TIMEOUT(client.closed(), Generous);
    QCOMPARE(client.received, QByteArray("123"));
    // Item k cannot leave before k pauses have passed since the connect; the
    // upper bound only catches a playback that hangs.
    for (int k = 1; k <= 3; ++k) {
        const qint64 at = client.arrivalOf(k);
        QVERIFY2(at >= qint64(k * Delay * 1000) - 1, qPrintable(QString("item %1 at %2 ms").arg(k).arg(at)));
        QVERIFY2(at < qint64(k * Delay * 1000) + Generous, qPrintable(QString::number(at)));
    }
    QCOMPARE(server.form.TXT_OutPut.text(), std::string("1\r\n2\r\n3\r\n"));
}

// The playback runs inside the connection-request handler, so what a client
// does while it is served is done from that client's own signals.
void tst_ConsoleLoopback::secondClient_waitsForFirst()
{
    Server server(0.3);
    server.script("A\r\nB\r\nC\r\n");
    Client first, second;
    QByteArray secondAtFirstClose = "first not closed";
    QObject::connect(&first.socket, &QTcpSocket::readyRead, [&] {
        if (second.socket.state() == QAbstractSocket::UnconnectedState && !first.closed())
            second.connectTo(server);
    });
    QObject::connect(&first.socket, &QTcpSocket::disconnected,
                     [&] { secondAtFirstClose = second.received; });

    first.connectTo(server);
    QTRY_VERIFY_WITH_TIMEOUT(first.closed() && second.closed(), Generous);
    QCOMPARE(first.received, QByteArray("ABC"));   // the first client was not disturbed
    QCOMPARE(secondAtFirstClose, QByteArray());    // and the second got nothing meanwhile
    QCOMPARE(second.received, QByteArray("ABC"));
    QCOMPARE(server.shared.connectionIndex, 2);
}

void tst_ConsoleLoopback::clientLeaving_midScript_nextServed()
{
    Server server(0.1);
    server.script("A\r\nB\r\nC\r\nD\r\n");
    Client leaving;
    QObject::connect(&leaving.socket, &QTcpSocket::readyRead, [&] {
        leaving.socket.write("quit\r\n");
        leaving.socket.disconnectFromHost();
    });
    leaving.connectTo(server);
    // The playback notices at its next item and gives the window back.
    QTRY_VERIFY_WITH_TIMEOUT(leaving.closed() && server.form.CMD_Answers.enabled(), Generous);
    QCOMPARE(leaving.received, QByteArray("A"));
    QCOMPARE(server.form.TXT_OutPut.text(), std::string("A\r\n"));
    QCOMPARE(server.form.FRM_Winsock.backColour(), ui::Green);
    QVERIFY(server.form.CMD_ReceivedCommands.enabled());
    QCOMPARE(server.form.TXT_Input.text(), std::string("quit\r\n"));
    QVERIFY(server.form.TXT_OutPut.visible());
    QCOMPARE(server.files.alive(), 0);

    Client next;
    next.connectTo(server);
    QTRY_VERIFY_WITH_TIMEOUT(next.closed(), Generous);
    QCOMPARE(next.received, QByteArray("ABCD"));
}

// Twenty clients connect and leave (closing, resetting, or sending a line
// and closing) while one is served: the client after them gets its first
// item one pause after the first client's end, not twenty pauses later, and
// the window shows none of the twenty.
void tst_ConsoleLoopback::departedWhileWaiting_nextServedPromptly()
{
    constexpr double Delay = 0.5;
    constexpr int Departed = 20;
    Server server(Delay);
    server.script("A\r\nB\r\n");
    Client first, next;
    qint64 firstEnded = -1;
    QElapsedTimer clock;
    clock.start();
    QObject::connect(&first.socket, &QTcpSocket::readyRead, [&] {
        if (first.received != "A" || next.socket.state() != QAbstractSocket::UnconnectedState)
            return;
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(std::uint16_t(server.network.port()));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        for (int i = 0; i < Departed; ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
            QVERIFY(::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0);
            if (i % 3 == 1) {
                const linger abort{1, 0};
                ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
            } else if (i % 3 == 2) {
                QCOMPARE(::send(fd, "quit\r\n", 6, MSG_NOSIGNAL), ssize_t(6));
            }
            ::close(fd);
        }
        next.connectTo(server);
    });
    QObject::connect(&first.socket, &QTcpSocket::disconnected, [&] { firstEnded = clock.elapsed(); });
    qint64 nextFirstItem = -1;
    QObject::connect(&next.socket, &QTcpSocket::readyRead, [&] {
        if (nextFirstItem < 0)
            nextFirstItem = clock.elapsed();
    });
    first.connectTo(server);
    QTRY_VERIFY_WITH_TIMEOUT(first.closed() && next.closed(), Generous);
    QCOMPARE(first.received, QByteArray("AB"));
    QCOMPARE(next.received, QByteArray("AB"));
    // One pause and a little; serving the departed would take ten seconds.
    const qint64 wait = nextFirstItem - firstEnded;
    QVERIFY2(wait < 4000, qPrintable(QString("first item %1 ms after the first client's end").arg(wait)));
    QCOMPARE(server.shared.connectionIndex, 2);
    QCOMPARE(server.form.TXT_Input.text(), std::string());
    QCOMPARE(server.form.TXT_OutPut.text(), std::string("A\r\nB\r\nA\r\nB\r\n"));
}

void tst_ConsoleLoopback::hostileClient_nextServedExactly_data()
{
    QTest::addColumn<QString>("behaviour");
    QTest::addColumn<QByteArray>("received");   // what the hostile client gets, at most
    QTest::addColumn<QByteArray>("recorded");
    QTest::newRow("floods 20 MB") << "flood" << QByteArray("ABC") << QByteArray();
    QTest::newRow("sends NUL and high bytes")
        << "binary" << QByteArray("ABC") << QByteArray("a\0\x80\xff\r\n", 6);
    QTest::newRow("resets after the first item") << "reset" << QByteArray("A") << QByteArray();
    QTest::newRow("half-closes at once") << "halfclose" << QByteArray("A") << QByteArray();
    QTest::newRow("never sends") << "silent" << QByteArray("ABC") << QByteArray();
}

void tst_ConsoleLoopback::hostileClient_nextServedExactly()
{
    QFETCH(QString, behaviour);
    QFETCH(QByteArray, received);
    QFETCH(QByteArray, recorded);
    Server server(0.05);
    server.script("A\r\nB\r\nC\r\n");

    Client hostile;
    bool done = false;
    QObject::connect(&hostile.socket, &QTcpSocket::connected, [&] {
        if (behaviour == "flood") {
            QByteArray block(1 << 20, 'f');
            for (int i = 0; i < 20; ++i)
                hostile.socket.write(block);
        } else if (behaviour == "binary") {
            hostile.socket.write(recorded.chopped(2) + "\r");
        } else if (behaviour == "halfclose") {
            ::shutdown(int(hostile.socket.socketDescriptor()), SHUT_WR);
        }
    });
    QObject::connect(&hostile.socket, &QTcpSocket::readyRead, [&] {
        if (behaviour == "reset" && !done) {
            done = true;
            hostile.socket.abort();
        }
    });
    hostile.connectTo(server);
    QTRY_VERIFY_WITH_TIMEOUT(hostile.closed() && server.shared.connectionIndex == 1
                                 && !server.shared.busy() && server.form.CMD_Answers.enabled(),
                             Generous);
    QVERIFY2(received.startsWith(hostile.received), hostile.received.constData());
    if (behaviour != "halfclose")
        QCOMPARE(hostile.received, received);
    if (!recorded.isEmpty())
        QCOMPARE(QByteArray::fromStdString(server.form.TXT_Input.text()), recorded);
    QCOMPARE(server.files.alive(), 0);

    Client next;
    next.connectTo(server);
    QTRY_VERIFY_WITH_TIMEOUT(next.closed(), Generous);
    QCOMPARE(next.received, QByteArray("ABC"));
    QCOMPARE(server.shared.connectionIndex, 2);
}

// A client that reads nothing for a while costs a bounded queue, not the
// whole script: the session waits for it and then sends the rest in order.
void tst_ConsoleLoopback::slowReader_queueStaysBounded()
{
    constexpr int Items = 2000;
    constexpr int ItemSize = 8000;   // 16 MB in all, far more than the kernel buffers
    QByteArray script, expected;
    for (int i = 0; i < Items; ++i) {
        const QByteArray item = QByteArray::number(i) + QByteArray(ItemSize, char('a' + i % 26));
        script += item + "\r\n";
        expected += item;
    }
    Server server(0);
    server.script(script);

    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int small = 4096;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(std::uint16_t(server.network.port()));
    QCOMPARE(::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address), 0);

    QTRY_VERIFY_WITH_TIMEOUT(server.shared.busy(), Generous);
    QTest::qWait(1000);
    // At a pause of 0 every item would be queued at once; the session stops
    // at the high-water mark, once the kernel's buffers are full.
    const auto shown = std::count(server.form.TXT_OutPut.text().begin(), server.form.TXT_OutPut.text().end(), '\n');
    QVERIFY2(shown < Items / 2, qPrintable(QString::number(shown)));
    QVERIFY(server.shared.busy());   // still waiting for the client

    QByteArray received;
    char chunk[65536];
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < Generous) {
        const ssize_t got = ::recv(fd, chunk, sizeof chunk, MSG_DONTWAIT);
        if (got == 0)
            break;
        if (got > 0)
            received.append(chunk, got);
        else
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    ::close(fd);
    QCOMPARE(received.size(), expected.size());
    QVERIFY(received == expected);
}

QTEST_GUILESS_MAIN(tst_ConsoleLoopback)
#include "tst_console_loopback.moc"

// tst_event_loop.cpp: the Qt event-loop yield: sleeping to a deadline, waking for events, nesting.
#include "platform/qt/qt_event_loop.h"

#include <QTcpServer>
#include <QTcpSocket>
#include <QTest>
#include <QTimer>

#include <functional>
#include <memory>

using namespace zentrel;
using platform::QtEventLoop;

namespace {

// A wait this far off only ends early because an event woke it.
constexpr double FarOff = 30.0;
// More wake-ups than this for one pause means the loop is polling, not sleeping.
constexpr int FewWakeups = 10;

// Yields until the clock reaches the deadline; returns how many yields it took.
int pauseUntil(QtEventLoop &loop, double deadline)
{
    int yields = 0;
    while (loop.now() < deadline) {
        loop.yieldUntil(deadline);
        ++yields;
    }
    return yields;
}

} // namespace

class tst_EventLoop : public QObject
{
    Q_OBJECT
private slots:
    void yield_sleepsToDeadlineWithoutPolling();
    void yield_wakesForEvent_data();
    void yield_wakesForEvent();
    void post_runsLaterInOrder();
    void nestedYields_eachEndOnItsDeadline_data();
    void nestedYields_eachEndOnItsDeadline();
};

void tst_EventLoop::yield_sleepsToDeadlineWithoutPolling()
{
    QtEventLoop loop;
    const double start = loop.now();
    const int yields = pauseUntil(loop, start + 0.05);
    QVERIFY2(yields <= FewWakeups, qPrintable(QString::number(yields)));
    QVERIFY(loop.now() >= start + 0.05);
}

void tst_EventLoop::yield_wakesForEvent_data()
{
    QTest::addColumn<QString>("event");
    QTest::newRow("posted function") << "post";
    QTest::newRow("Qt timer") << "timer";
    QTest::newRow("socket data") << "socket";
}

void tst_EventLoop::yield_wakesForEvent()
{
    QFETCH(QString, event);
    QtEventLoop loop;
    bool fired = false;

    QTcpServer server;
    std::unique_ptr<QTcpSocket> client;
    if (event == "post") {
        loop.post([&] { fired = true; });
    } else if (event == "timer") {
        QTimer::singleShot(20, [&] { fired = true; });
    } else {
        QVERIFY(server.listen(QHostAddress::LocalHost, 0));
        client = std::make_unique<QTcpSocket>();
        client->connectToHost(QHostAddress::LocalHost, server.serverPort());
        QVERIFY(client->waitForConnected(20000));
        QVERIFY(server.waitForNewConnection(20000));
        QTcpSocket *accepted = server.nextPendingConnection();
        connect(accepted, &QTcpSocket::readyRead, [&] { fired = true; });
        client->write("x");
    }

    const double deadline = loop.now() + FarOff;
    int yields = 0;
    while (!fired) {
        loop.yieldUntil(deadline);
        QVERIFY(loop.now() < deadline);
        QVERIFY(++yields <= FewWakeups);
    }
}

void tst_EventLoop::post_runsLaterInOrder()
{
    QtEventLoop loop;
    QString order;
    loop.post([&] { order += 'a'; });
    loop.post([] { throw std::runtime_error("a failing handler"); });
    loop.post([&] { order += 'b'; });
    QVERIFY(order.isEmpty());

    // A deadline already passed dispatches what is pending and never sleeps.
    loop.yieldUntil(loop.now() - 1.0);
    QTRY_COMPARE(order, QString("ab"));
}

void tst_EventLoop::nestedYields_eachEndOnItsDeadline_data()
{
    QTest::addColumn<double>("outer");
    QTest::addColumn<double>("inner");
    QTest::newRow("inner pause inside a longer one") << 0.08 << 0.02;
    QTest::newRow("outer deadline passes during the inner pause") << 0.01 << 0.08;
}

void tst_EventLoop::nestedYields_eachEndOnItsDeadline()
{
    QFETCH(double, outer);
    QFETCH(double, inner);
    QtEventLoop loop;
    const double start = loop.now();
    int innerYields = -1;
    double innerEnded = 0;
    loop.post([&] {
        innerYields = pauseUntil(loop, start + inner);
        innerEnded = loop.now();
    });
    const int outerYields = pauseUntil(loop, start + outer);

    QVERIFY(innerYields >= 1);
    QVERIFY(innerEnded >= start + inner);
    QVERIFY(loop.now() >= start + outer);
    QVERIFY2(innerYields <= FewWakeups, qPrintable(QString::number(innerYields)));
    QVERIFY2(outerYields <= FewWakeups, qPrintable(QString::number(outerYields)));
}

QTEST_GUILESS_MAIN(tst_EventLoop)
#include "tst_event_loop.moc"

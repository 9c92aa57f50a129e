// tst_event_loop.cpp: the POSIX loop driven from Qt's: timers on time without polling, posted work in order.
#include "platform/posix/posix_loop.h"
#include "platform/qt/qt_loop_bridge.h"

#include <QAbstractEventDispatcher>
#include <QTest>

#include <stdexcept>
#include <vector>

using namespace zentrel;

namespace {
// More wake-ups than this for one pause means the loop is polling, not sleeping.
constexpr int FewWakeups = 10;
} // namespace

class tst_EventLoop : public QObject
{
    Q_OBJECT
private slots:
    void timer_runsOnDeadlineWithoutPolling();
    void post_runsLaterInOrder();
};

void tst_EventLoop::timer_runsOnDeadlineWithoutPolling()
{
    platform::PosixLoop loop;
    platform::QtLoopBridge bridge{loop};
    int wakeups = 0;
    const auto counting = connect(QAbstractEventDispatcher::instance(),
                                  &QAbstractEventDispatcher::awake, this, [&] { ++wakeups; });
    const double deadline = loop.now() + 0.05;
    double ranAt = 0;
    loop.at(deadline, [&] { ranAt = loop.now(); });
    QTRY_VERIFY(ranAt > 0);
    disconnect(counting);
    QVERIFY(ranAt >= deadline);
    QVERIFY2(ranAt < deadline + 0.02, qPrintable(QString::number(ranAt - deadline)));
    QVERIFY2(wakeups <= FewWakeups + 20, qPrintable(QString::number(wakeups)));   // QTRY's own polls included
}

void tst_EventLoop::post_runsLaterInOrder()
{
    platform::PosixLoop loop;
    platform::QtLoopBridge bridge{loop};
    QString order;
    loop.post([&] { order += 'a'; });
    loop.post([] { throw std::runtime_error("a failing handler"); });
    loop.post([&] { order += 'b'; });
    QVERIFY(order.isEmpty());
    QTRY_COMPARE(order, QString("ab"));
}

QTEST_GUILESS_MAIN(tst_EventLoop)
#include "tst_event_loop.moc"

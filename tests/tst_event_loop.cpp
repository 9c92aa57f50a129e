// tst_event_loop.cpp: timers and posted work on Qt's event loop: on time, in order, without polling.
#include "platform/qt/qt_event_loop.h"

#include <QAbstractEventDispatcher>
#include <QTest>

#include <stdexcept>
#include <vector>

using namespace zentrel;
using platform::QtEventLoop;

namespace {
// More wake-ups than this for one pause means the loop is polling, not sleeping.
constexpr int FewWakeups = 10;
} // namespace

class tst_EventLoop : public QObject
{
    Q_OBJECT
private slots:
    void timer_runsOnDeadlineWithoutPolling();
    void timers_runInDeadlineOrder_cancelledNever();
    void post_runsLaterInOrder();
};

void tst_EventLoop::timer_runsOnDeadlineWithoutPolling()
{
    QtEventLoop loop;
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

void tst_EventLoop::timers_runInDeadlineOrder_cancelledNever()
{
    QtEventLoop loop;
    const double start = loop.now();
    QString order;
    QString *log = &order;   // the nested timer must not capture the outer closure's reference
    loop.at(start + 0.03, [&] { order += 'c'; });
    const auto cancelled = loop.at(start + 0.01, [&] { order += 'x'; });
    loop.at(start + 0.02, [&] {
        order += 'b';
        // A timer set from a timer, already due: runs before the later deadlines.
        loop.at(loop.now() - 1.0, [log] { *log += '!'; });
    });
    loop.at(start + 0.02, [&] { order += 'B'; });   // same deadline: in the order set
    loop.at(start + 0.01, [] { throw std::runtime_error("a failing timer"); });
    loop.cancel(cancelled);
    loop.cancel(cancelled);   // twice is harmless
    QTRY_VERIFY_WITH_TIMEOUT(order.size() >= 4, 5000);
    QTest::qWait(20);   // nothing more runs: the cancelled timer stays cancelled
    QCOMPARE(order, QString("b!Bc"));
}

void tst_EventLoop::post_runsLaterInOrder()
{
    QtEventLoop loop;
    QString order;
    loop.post([&] { order += 'a'; });
    loop.post([] { throw std::runtime_error("a failing handler"); });
    loop.post([&] { order += 'b'; });
    QVERIFY(order.isEmpty());
    QTRY_COMPARE(order, QString("ab"));
}

QTEST_GUILESS_MAIN(tst_EventLoop)
#include "tst_event_loop.moc"

// tst_soak.cpp: tens of thousands of sequential connections to one real Zentrel, watching its descriptors and memory.
#include "tests/support/zentrel_process.h"

#include <QElapsedTimer>
#include <QTest>

#include <algorithm>

using namespace zentrel;

namespace {

// Three items at Delay 0: two prompts without line ends and a quoted one
// holding a comma.
const QByteArray Script = "Username: \r\n  Password: \r\n\"Demo-Router, ready>\"\r\n";
const QByteArray Wire = "Username: Password: Demo-Router, ready>";
// What each connection adds to TXT_OutPut, which only the operator empties:
// every item and CR LF.
constexpr long OutPutBytesPerConnection = 10 + 2 + 10 + 2 + 19 + 2;

// The run of `make test`, still past the 32,767 elements that a 16-bit
// index could name; `make soak` sets ZENTREL_SOAK_CONNECTIONS.
constexpr int DefaultConnections = 34000;
// Connections served before the first sample: start-up allocations, the
// first layouts of the panels and the allocator's arenas settle in them.
constexpr int WarmUp = 300;

// The resident set may grow by what TXT_OutPut holds, at most twice the
// bytes added (a string grows by doubling), plus a fixed allowance for the
// allocator's caches and Qt's. Measured: about once the bytes added.
constexpr long OutPutFactor = 2;
constexpr long FixedAllowanceKiB = 4 * 1024;

int connectionCount()
{
    bool ok = false;
    const int count = qEnvironmentVariableIntValue("ZENTREL_SOAK_CONNECTIONS", &ok);
    return ok && count > WarmUp ? count : DefaultConnections;
}

} // namespace

class tst_Soak : public QObject
{
    Q_OBJECT
private slots:
    void sequentialConnections_eachExactNoLeak();
};

void tst_Soak::sequentialConnections_eachExactNoLeak()
{
    const int total = connectionCount();
    tests::ZentrelProcess zentrel;
    const QString failure = zentrel.start(Script, "0");
    QVERIFY2(failure.isEmpty(), qPrintable(failure));

    // Bounded in count, and in time only as a guard against a hang: an
    // hour is far beyond any healthy run.
    QElapsedTimer clock;
    clock.start();
    int descriptorsBefore = -1;
    long residentBefore = -1;
    long residentPeak = 0;
    int served = 0;
    for (int i = 1; i <= total; ++i) {
        QByteArray received;
        const bool ended = tests::fetch(zentrel.port(), received, 30000);
        if (!ended || received != Wire)
            QFAIL(qPrintable(QString("connection %1 of %2: %3, got \"%4\"")
                                 .arg(i)
                                 .arg(total)
                                 .arg(ended ? "wrong bytes" : "not closed by Zentrel")
                                 .arg(QString::fromLatin1(received.left(200)))));
        served = i;
        if (i == WarmUp) {
            descriptorsBefore = zentrel.settledDescriptorCount();
            QVERIFY(descriptorsBefore > 0);
            residentBefore = zentrel.residentKiB();
        }
        if (i % 1000 == 0)
            residentPeak = std::max(residentPeak, zentrel.residentKiB());
        QVERIFY2(!clock.hasExpired(3600 * 1000), qPrintable(QString("stopped after %1").arg(i)));
    }
    QVERIFY(zentrel.running());

    // Every connection ended: the descriptors come back to the count before.
    const int descriptorsAfter = zentrel.settledDescriptorCount();
    const long residentAfter = zentrel.residentKiB();
    residentPeak = std::max(residentPeak, residentAfter);

    const long added = long(served - WarmUp) * OutPutBytesPerConnection;
    const long boundKiB = FixedAllowanceKiB + OutPutFactor * added / 1024;
    qInfo("%d connections in %.1f s; descriptors %d before, %d after; resident %ld KiB before, "
          "%ld KiB after (growth %ld KiB, peak %ld KiB, bound %ld KiB); TXT_OutPut grew by %ld KiB",
          served, double(clock.elapsed()) / 1000, descriptorsBefore, descriptorsAfter,
          residentBefore, residentAfter, residentAfter - residentBefore, residentPeak, boundKiB,
          added / 1024);
    QCOMPARE(descriptorsAfter, descriptorsBefore);
#ifdef ZENTREL_SANITIZED
    // The sanitizer's quarantine and shadow memory make the resident set
    // meaningless here; LeakSanitizer checks the process at its exit instead.
#else
    QVERIFY2(residentAfter - residentBefore <= boundKiB,
             qPrintable(QString("grew by %1 KiB").arg(residentAfter - residentBefore)));
#endif
    QVERIFY(zentrel.terminate(30000));
    QCOMPARE(zentrel.output(), QByteArray());
}

QTEST_GUILESS_MAIN(tst_Soak)
#include "tst_soak.moc"

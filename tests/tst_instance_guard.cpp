// tst_instance_guard.cpp: the lock file that refuses a second copy of Zentrel, across processes.
#include "platform/qt/qt_instance_guard.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <sys/wait.h>
#include <utime.h>
#include <unistd.h>

using namespace zentrel;
using platform::QtInstanceGuard;

namespace {

// Runs the check in a child process: its exit status is 1 when it found
// another copy, 0 when it took the guard itself. With `crash` the child dies
// holding the guard, as a crashed copy would.
int inChild(bool crash)
{
    const pid_t child = ::fork();
    if (child == 0) {
        int found = 0;
        {
            QtInstanceGuard guard;
            found = guard.anotherCopyRunning() ? 1 : 0;
            if (crash)
                ::_exit(found);   // no destructor: the lock file stays behind
        }
        ::_exit(found);
    }
    int status = -1;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Gives the test its own runtime directory, as the end-to-end tests give each copy.
struct Isolated {
    QTemporaryDir runtime;
    QTemporaryDir temp;
    QByteArray savedRuntime = qgetenv("XDG_RUNTIME_DIR");
    QByteArray savedTemp = qgetenv("TMPDIR");
    Isolated()
    {
        qputenv("XDG_RUNTIME_DIR", runtime.path().toLocal8Bit());
        qputenv("TMPDIR", temp.path().toLocal8Bit());
    }
    ~Isolated()
    {
        qputenv("XDG_RUNTIME_DIR", savedRuntime);
        qputenv("TMPDIR", savedTemp);
    }
};

} // namespace

class tst_InstanceGuard : public QObject
{
    Q_OBJECT
private slots:
    void secondCopy_findsTheFirst();
    void crashedCopy_lockTakenOver();
    void staleLock_takenOverUnlessItNamesALiveCopy_data();
    void staleLock_takenOverUnlessItNamesALiveCopy();
};

void tst_InstanceGuard::secondCopy_findsTheFirst()
{
    Isolated isolated;
    QCOMPARE(inChild(false), 0);   // nobody holds it: the child takes and frees it

    QtInstanceGuard first;
    QVERIFY(!first.anotherCopyRunning());
    QVERIFY(!first.anotherCopyRunning());   // its own guard is no other copy
    QCOMPARE(inChild(false), 1);
    QVERIFY(QFileInfo::exists(isolated.runtime.filePath("zentrel.lock")));
}

void tst_InstanceGuard::crashedCopy_lockTakenOver()
{
    Isolated isolated;
    QCOMPARE(inChild(true), 0);
    QVERIFY(QFileInfo::exists(isolated.runtime.filePath("zentrel.lock")));

    QtInstanceGuard next;
    QVERIFY(!next.anotherCopyRunning());
}

void tst_InstanceGuard::staleLock_takenOverUnlessItNamesALiveCopy_data()
{
    QTest::addColumn<QString>("content");   // OTHER: alive, no Zentrel; COPY, APP: alive, this program; HOST: this host
    QTest::addColumn<bool>("old");          // left a minute ago rather than just now
    QTest::addColumn<bool>("refused");
    QTest::newRow("empty, left over") << "" << true << false;
    QTest::newRow("garbage, left over") << "\x01\xffnot a lock" << true << false;
    QTest::newRow("garbage, being written") << "\x01\xffnot a lock" << false << true;
    QTest::newRow("dead process of another host") << "999999\nzentrel\nelsewhere\n" << true << false;
    QTest::newRow("another program, alive") << "OTHER\nzentrel\nHOST\n" << false << false;
    QTest::newRow("this program, alive") << "COPY\nAPP\nHOST\n" << false << true;
}

void tst_InstanceGuard::staleLock_takenOverUnlessItNamesALiveCopy()
{
    QFETCH(QString, content);
    QFETCH(bool, old);
    QFETCH(bool, refused);
    Isolated isolated;
    QProcess other;   // alive, and no Zentrel
    other.start("sleep", {"30"});
    QVERIFY(other.waitForStarted());
    // A copy of this very program that holds nothing: it only has to be alive.
    const pid_t copy = ::fork();
    if (copy == 0) {
        ::pause();
        ::_exit(0);
    }
    const QString path = isolated.runtime.filePath("zentrel.lock");
    {
        QFile lock(path);
        QVERIFY(lock.open(QIODevice::WriteOnly));
        content.replace("OTHER", QString::number(other.processId()))
            .replace("COPY", QString::number(copy))
            .replace("APP", QCoreApplication::applicationName())
            .replace("HOST", QSysInfo::machineHostName());
        lock.write(content.toLatin1());
    }
    if (old) {
        const utimbuf minuteAgo{::time(nullptr) - 60, ::time(nullptr) - 60};
        QCOMPARE(::utime(QFile::encodeName(path).constData(), &minuteAgo), 0);
    }

    QtInstanceGuard guard;
    const bool found = guard.anotherCopyRunning();
    ::kill(copy, SIGKILL);
    ::waitpid(copy, nullptr, 0);
    other.kill();
    other.waitForFinished();
    QCOMPARE(found, refused);
}

QTEST_GUILESS_MAIN(tst_InstanceGuard)
#include "tst_instance_guard.moc"

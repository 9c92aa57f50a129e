// tst_instance_guard.cpp: the lock file that refuses a second copy of Zentrel, across processes.
#include "platform/qt/qt_instance_guard.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>

#include <sys/wait.h>
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

QTEST_GUILESS_MAIN(tst_InstanceGuard)
#include "tst_instance_guard.moc"

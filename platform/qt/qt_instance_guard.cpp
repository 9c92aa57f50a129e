// qt_instance_guard.cpp: the per-user lock file that tells a second copy of Zentrel apart.
#include "platform/qt/qt_instance_guard.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>
#include <QSysInfo>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace zentrel::platform {

namespace {

// A lock file that cannot be read may be one that a copy starting at this
// very moment is still writing; older than this, it is left over.
constexpr qint64 UnreadableGraceMs = 5000;

QString lockFilePath()
{
    QString directory = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const QFileInfo runtime(directory);
    if (directory.isEmpty() || !runtime.isDir() || !runtime.isWritable())
        directory = QDir::tempPath();
    return QDir(directory).filePath(QStringLiteral("zentrel.lock"));
}

// The program a process runs, by file name; empty when it cannot be seen.
QString programOf(const QString &pid)
{
    char target[4096];
    const QByteArray link = QFile::encodeName(QStringLiteral("/proc/%1/exe").arg(pid));
    const ssize_t length = ::readlink(link.constData(), target, sizeof target);
    if (length <= 0 || std::size_t(length) >= sizeof target)
        return {};
    QString path = QFile::decodeName(QByteArray(target, qsizetype(length)));
    path.remove(QStringLiteral(" (deleted)"));   // a copy whose binary was replaced
    return QFileInfo(path).fileName();
}

// Whether the lock names a process of this host that runs this program.
bool namesLiveCopy(QLockFile &lock, const QString &path)
{
    qint64 pid = 0;
    QString host, application;
    if (!lock.getLockInfo(&pid, &host, &application))
        return QFileInfo(path).lastModified().msecsTo(QDateTime::currentDateTime()) < UnreadableGraceMs;
    if (host != QSysInfo::machineHostName())
        return false;   // the directory is this host's: no copy elsewhere uses it
    if (pid <= 0 || (::kill(pid_t(pid), 0) != 0 && errno == ESRCH))
        return false;
    const QString theirs = programOf(QString::number(pid));
    // A process we may not look at is given the benefit of the doubt.
    return theirs.isEmpty() || theirs == programOf(QStringLiteral("self"));
}

} // namespace

QtInstanceGuard::QtInstanceGuard() = default;

QtInstanceGuard::~QtInstanceGuard() = default;

bool QtInstanceGuard::anotherCopyRunning()
{
    if (m_lock && m_lock->isLocked())
        return false;
    const QString path = lockFilePath();
    m_lock = std::make_unique<QLockFile>(path);
    // Never stale by age: a copy may run for weeks. A lock whose process is
    // gone is still taken over.
    m_lock->setStaleLockTime(0);
    // Qt may remove a lock it finds stale and still report the attempt as
    // failed: a second attempt then finds the name free.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (m_lock->tryLock(0))
            return false;
        if (m_lock->error() != QLockFile::LockFailedError) {
            // A directory we cannot write is no sign of another copy: run unguarded.
            std::fprintf(stderr, "zentrel: the lock file %s cannot be made; running without it\n",
                         qPrintable(path));
            return false;
        }
        if (!QFileInfo::exists(path))
            continue;
        // Empty, garbage, another host's or a reused process number: Qt keeps
        // such a lock for ever, and with it every later start would be refused.
        if (namesLiveCopy(*m_lock, path))
            return true;
        std::fprintf(stderr, "zentrel: taking over the stale lock file %s\n", qPrintable(path));
        m_lock->removeStaleLockFile();
    }
    return true;
}

} // namespace zentrel::platform

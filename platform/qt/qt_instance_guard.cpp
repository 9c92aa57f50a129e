// qt_instance_guard.cpp: the per-user lock file that tells a second copy of Zentrel apart.
#include "platform/qt/qt_instance_guard.h"

#include <QDir>
#include <QFileInfo>
#include <QLockFile>


namespace zentrel::platform {

namespace {

QString lockFilePath()
{
    QString directory = qEnvironmentVariable("XDG_RUNTIME_DIR");
    const QFileInfo runtime(directory);
    if (directory.isEmpty() || !runtime.isDir() || !runtime.isWritable())
        directory = QDir::tempPath();
    return QDir(directory).filePath(QStringLiteral("zentrel.lock"));
}

} // namespace

QtInstanceGuard::QtInstanceGuard() = default;

QtInstanceGuard::~QtInstanceGuard() = default;

bool QtInstanceGuard::anotherCopyRunning()
{
    if (m_lock && m_lock->isLocked())
        return false;
    m_lock = std::make_unique<QLockFile>(lockFilePath());
    // Never stale by age: a copy may run for weeks. A lock whose process is
    // gone is still taken over.
    m_lock->setStaleLockTime(0);
    if (m_lock->tryLock(0))
        return false;
    // A directory we cannot write is no sign of another copy: run unguarded.
    return m_lock->error() == QLockFile::LockFailedError;
}

} // namespace zentrel::platform

// posix_save_file.cpp: a file's new content, put in the file's place only once it was written whole.
#include "platform/posix/posix_save_file.h"
#include "platform/posix/read_block.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace zentrel::platform {

namespace {

int closeChecked(int fd)
{
    // Linux closes the descriptor even when close() reports EINTR: no retry.
    return ::close(fd) == 0 || errno == EINTR ? 0 : errno;
}

bool writeAll(int fd, const char *bytes, std::size_t size, off_t at, int &error)
{
    while (size != 0) {
        const ssize_t written = at < 0 ? ::write(fd, bytes, size) : ::pwrite(fd, bytes, size, at);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            error = errno;
            return false;
        }
        bytes += written;
        size -= std::size_t(written);
        if (at >= 0)
            at += written;
    }
    return true;
}

} // namespace

PosixSaveFile::PosixSaveFile(std::string target) : m_target(std::move(target)) {}

PosixSaveFile::~PosixSaveFile()
{
    discard();
}

bool PosixSaveFile::fail(const std::string &what, int error)
{
    if (m_ok)
        m_failure = m_target + ": " + what + ": " + std::strerror(error);
    m_ok = false;
    return false;
}

bool PosixSaveFile::open()
{
    struct stat info {};
    if (::stat(m_target.c_str(), &info) == 0) {
        m_targetExists = true;
        m_mode = info.st_mode & 07777;
        m_owner = info.st_uid;
        m_group = info.st_gid;
        m_size = info.st_size;
        m_inPlace = info.st_nlink > 1;
    } else if (errno != ENOENT) {
        return fail("cannot look at the file", errno);
    }
    // The fresh file gets the umask's mode when the target is new; an
    // existing target's mode is copied onto it before it takes its place.
    std::random_device seed;
    std::mt19937 random(seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
        m_staging = m_target + ".new-" + std::to_string(::getpid()) + "-" + std::to_string(random() % 1000000);
        m_fd = ::open(m_staging.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (m_fd >= 0)
            break;
        if (errno != EEXIST && errno != EINTR) {
            const int error = errno;
            m_staging.clear();
            return fail("cannot create a file beside it", error);
        }
    }
    if (m_fd < 0) {
        m_staging.clear();
        return fail("cannot create a file beside it", EEXIST);
    }
    if (m_targetExists && !m_inPlace && (::fchmod(m_fd, m_mode) != 0 || !keepOwner()))
        m_inPlace = true;
    return true;
}

// A new file belongs to this process; only root (or an owner giving a group
// it is in) can hand it to the target's owner.
bool PosixSaveFile::keepOwner()
{
    struct stat mine {};
    if (::fstat(m_fd, &mine) != 0)
        return false;
    if (mine.st_uid == m_owner && mine.st_gid == m_group)
        return true;
    return ::fchown(m_fd, m_owner, m_group) == 0 && ::fchmod(m_fd, m_mode) == 0;
}

bool PosixSaveFile::write(const char *bytes, std::size_t size)
{
    if (!m_ok || m_fd < 0)
        return false;
    int error = 0;
    if (!writeAll(m_fd, bytes, size, -1, error))
        return fail("write failed", error);
    return true;
}

bool PosixSaveFile::commit()
{
    if (m_fd < 0 || !m_ok) {
        discard();
        return m_ok ? fail("not open", EBADF) : false;
    }
    // Written whole means on the disk: a full disk may show only here.
    if (::fsync(m_fd) != 0 && errno != EINVAL) {
        fail("flush failed", errno);
        discard();
        return false;
    }
    const int fd = m_fd;
    m_fd = -1;
    if (const int error = closeChecked(fd); error != 0) {
        fail("close failed", error);
        discard();
        return false;
    }
    bool done = false;
    if (m_inPlace) {
        done = replaceInPlace();
    } else if (::rename(m_staging.c_str(), m_target.c_str()) == 0) {
        m_staging.clear();   // it is the target now
        done = true;
    } else {
        fail("cannot put the new file in place", errno);
    }
    discard();
    return done;
}

// Copies the written content over the target's own bytes. Room for the whole
// content is reserved first, so a full disk fails before a byte is changed.
bool PosixSaveFile::replaceInPlace()
{
    const int from = ::open(m_staging.c_str(), O_RDONLY | O_CLOEXEC);
    if (from < 0)
        return fail("cannot read the new content back", errno);
    struct stat staged {};
    const int to = ::open(m_target.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (to < 0 || ::fstat(from, &staged) != 0) {
        const int error = errno;
        ::close(from);
        if (to >= 0)
            ::close(to);
        return fail("cannot open the file to rewrite it", error);
    }
    bool ok = true;
    if (staged.st_size > m_size) {
        const int error = ::posix_fallocate(to, 0, staged.st_size);
        if (error != 0 && error != EOPNOTSUPP && error != EINVAL)
            ok = fail("no room for the new content", error);
    }
    auto block = std::make_unique<char[]>(ReadBlockSize);
    for (off_t at = 0; ok && at < staged.st_size;) {
        const ssize_t got = ::pread(from, block.get(), ReadBlockSize, at);
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0) {
            ok = fail("cannot read the new content back", got < 0 ? errno : EIO);
            break;
        }
        int error = 0;
        if (!writeAll(to, block.get(), std::size_t(got), at, error))
            ok = fail("write failed", error);
        at += got;
    }
    if (ok && ::ftruncate(to, staged.st_size) != 0)
        ok = fail("cannot set the file's length", errno);
    if (ok && ::fsync(to) != 0 && errno != EINVAL)
        ok = fail("flush failed", errno);
    ::close(from);
    if (const int error = closeChecked(to); ok && error != 0)
        ok = fail("close failed", error);
    return ok;
}

void PosixSaveFile::discard()
{
    if (m_fd >= 0) {
        ::close(m_fd);
        m_fd = -1;
    }
    // Only the file this object created, by the name it created.
    if (!m_staging.empty()) {
        ::unlink(m_staging.c_str());
        m_staging.clear();
    }
}

} // namespace zentrel::platform

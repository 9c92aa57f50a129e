// output_files.cpp: opening the files our programs write their output to, never through a planted link.
#include "platform/posix/output_files.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zentrel::platform {

namespace {

constexpr mode_t FileMode = 0644;   // less the umask, as open(2) applies it

int openRetrying(const std::string &path, int flags)
{
    int fd;
    do
        fd = ::open(path.c_str(), flags, FileMode);
    while (fd < 0 && errno == EINTR);
    return fd;
}

int refuse(int fd, const std::string &path, const std::string &why, std::string &error)
{
    if (fd >= 0)
        ::close(fd);
    error = path + ": " + why;
    return -1;
}

std::string openFailure(int code)
{
    if (code == ELOOP)
        return "is a symbolic link; not written through it";
    if (code == ENXIO)
        return "not a regular file (a FIFO nobody reads, or a socket)";
    return std::string("cannot create: ") + std::strerror(code);
}

// The regular file just opened, emptied and made to block again.
int emptied(int fd, const std::string &path, std::string &error)
{
    if (::ftruncate(fd, 0) != 0)
        return refuse(fd, path, std::string("cannot empty it: ") + std::strerror(errno), error);
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return fd;
}

mode_t currentUmask()
{
    const mode_t mask = ::umask(022);
    ::umask(mask);
    return mask;
}

} // namespace

int createOutputFile(const std::string &path, std::string &error)
{
    // Not emptied by open(2): only once it is known to be a regular file.
    const int fd = openRetrying(path, O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return refuse(-1, path, openFailure(errno), error);
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return refuse(fd, path, std::strerror(errno), error);
    if (S_ISCHR(info.st_mode)) {   // /dev/null; only root makes device nodes
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        return fd;
    }
    if (!S_ISREG(info.st_mode))
        return refuse(fd, path, "not a regular file", error);
    return emptied(fd, path, error);
}

int createBeside(const std::string &target, std::string &staging, std::string &error)
{
    std::string name = target + ".XXXXXX";
    const int fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd < 0)
        return refuse(-1, target, std::string("cannot create a file beside it: ") + std::strerror(errno), error);
    ::fchmod(fd, FileMode & ~currentUmask());
    staging = name;
    return fd;
}

int openOutputStream(const std::string &path, std::string &error)
{
    int fd = openRetrying(path, O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
    const bool link = fd < 0 && errno == ELOOP;
    if (link)
        fd = openRetrying(path, O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return refuse(-1, path, std::strerror(errno), error);
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        return refuse(fd, path, std::strerror(errno), error);
    if (S_ISFIFO(info.st_mode) || S_ISCHR(info.st_mode))
        return fd;
    if (link)
        return refuse(fd, path, "is a symbolic link to a file; not written through it (name the file itself, "
                                "or - for standard output)", error);
    if (!S_ISREG(info.st_mode))
        return refuse(fd, path, "not a regular file, FIFO or terminal", error);
    return emptied(fd, path, error);
}

bool writeAll(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t wrote = ::write(fd, bytes.data(), bytes.size());
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote < 0)
            return false;
        bytes.remove_prefix(static_cast<std::size_t>(wrote));
    }
    return true;
}

} // namespace zentrel::platform

// script_cache.cpp: each router's RESPONSE.TXT, read afresh for every session but parsed only when it changed.
#include "serve/script_cache.h"

#include "platform/error.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace zentrel::serve {

namespace {

std::int64_t nanoseconds(const struct timespec &time)
{
    return static_cast<std::int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
}

[[noreturn]] void fail(int code, const std::string &path, const char *what, int error)
{
    throw platform::Error(code, path + ": " + what + ": " + std::strerror(error));
}

const console::ScriptPtr &emptyScript()
{
    static const console::ScriptPtr script = std::make_shared<console::Script>();
    return script;
}

// Closes the descriptor on every way out of load().
struct Descriptor {
    int fd;
    ~Descriptor() { ::close(fd); }
};

} // namespace

console::ScriptPtr ScriptCache::get(const std::string &path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        if (errno == ENOENT || errno == ENOTDIR) {
            m_entries.erase(path);
            return emptyScript();
        }
        fail(platform::PathFileAccess, path, "cannot look at the file", errno);
    }
    Entry &entry = m_entries[path];
    // The change time as well: a rewrite of the same size inside one mtime
    // tick, or a file put back with touch -r, still counts as changed.
    if (entry.script && entry.device == info.st_dev && entry.inode == info.st_ino
        && entry.size == info.st_size && entry.mtimeNs == nanoseconds(info.st_mtim)
        && entry.ctimeNs == nanoseconds(info.st_ctim))
        return entry.script;
    return load(path, entry);
}

console::ScriptPtr ScriptCache::load(const std::string &path, Entry &entry)
{
    // Non-blocking, so that a FIFO planted under the name cannot hang every router.
    int fd;
    do
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        if (errno == EMFILE || errno == ENFILE)
            fail(platform::TooManyFiles, path, "cannot open it now", errno);
        if (errno == ENOENT) {
            m_entries.erase(path);
            return emptyScript();
        }
        fail(platform::PathFileAccess, path, "cannot open", errno);
    }
    const Descriptor owned{fd};
    struct stat info {};
    if (::fstat(fd, &info) != 0)
        fail(platform::PathFileAccess, path, "cannot look at the file", errno);
    if (!S_ISREG(info.st_mode))
        throw platform::Error(platform::PathFileAccess, path + ": not a regular file");

    std::string bytes;
    bytes.resize(static_cast<std::size_t>(info.st_size));
    std::size_t filled = 0;
    for (;;) {
        if (filled == bytes.size())
            bytes.resize(bytes.size() + 64 * 1024);   // the file grew while being read
        const ssize_t got = ::read(fd, bytes.data() + filled, bytes.size() - filled);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            fail(platform::DeviceIoError, path, "cannot read", errno);
        if (got == 0)
            break;
        filled += static_cast<std::size_t>(got);
    }
    bytes.resize(filled);

    ++m_loads;
    entry.device = info.st_dev;
    entry.inode = info.st_ino;
    entry.size = info.st_size;
    entry.mtimeNs = nanoseconds(info.st_mtim);
    entry.ctimeNs = nanoseconds(info.st_ctim);
    entry.script = console::parseScript(bytes);
    return entry.script;
}

} // namespace zentrel::serve

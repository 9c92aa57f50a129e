// posix_text_files.cpp: sequential text files on POSIX file descriptors.
#include "platform/posix/posix_text_files.h"
#include "platform/posix/read_block.h"

#include "platform/error.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace zentrel::platform {

namespace {

constexpr std::size_t MinBlockSize = 4 * 1024;

std::string describe(const std::string &path, int error)
{
    return path + ": " + std::strerror(error);
}

// The code of a failed open that is not about the file itself.
bool outOfDescriptors(int error)
{
    return error == EMFILE || error == ENFILE;
}

[[noreturn]] void throwOpenFailure(const std::string &path, int error, int fileCode)
{
    throw Error(outOfDescriptors(error) ? TooManyFiles : fileCode, describe(path, error));
}

class PosixInputFile : public InputStream
{
public:
    PosixInputFile(int fd, std::string path, std::size_t blockSize)
        : m_fd(fd), m_path(std::move(path)), m_blockSize(blockSize),
          // Left uninitialised: every byte is read into it before it is looked at.
          m_block(std::make_unique_for_overwrite<char[]>(m_blockSize))
    {
    }
    ~PosixInputFile() override { ::close(m_fd); }
    PosixInputFile(const PosixInputFile &) = delete;
    PosixInputFile &operator=(const PosixInputFile &) = delete;

protected:
    bool refill() override
    {
        if (m_atEnd)
            return false;
        for (;;) {
            const ssize_t got = ::read(m_fd, m_block.get(), m_blockSize);
            if (got > 0) {
                m_pos = m_block.get();
                m_end = m_pos + got;
                return true;
            }
            if (got == 0) {
                m_atEnd = true;
                return false;
            }
            if (errno != EINTR)
                throw Error(DeviceIoError, describe(m_path, errno));
        }
    }

private:
    int m_fd;
    std::string m_path;
    std::size_t m_blockSize;
    std::unique_ptr<char[]> m_block;
    bool m_atEnd = false;
};

class PosixOutputFile : public OutputFile
{
public:
    PosixOutputFile(int fd, std::string path, bool created)
        : m_fd(fd), m_path(std::move(path)), m_created(created)
    {
        struct stat info {};
        if (m_created && ::fstat(m_fd, &info) == 0) {
            m_device = info.st_dev;
            m_inode = info.st_ino;
        } else {
            m_created = false;   // without its identity it cannot be told from a stranger
        }
    }
    ~PosixOutputFile() override
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    PosixOutputFile(const PosixOutputFile &) = delete;
    PosixOutputFile &operator=(const PosixOutputFile &) = delete;

    void writeLine(std::string_view text) override
    {
        if (m_fd < 0)
            throw Error(DeviceIoError, m_path + ": written after it was closed");
        std::string line;
        line.reserve(text.size() + 2);
        line.append(text);
        line.append("\r\n");
        std::string_view bytes = line;
        while (!bytes.empty()) {
            const ssize_t written = ::write(m_fd, bytes.data(), bytes.size());
            if (written < 0) {
                if (errno == EINTR)
                    continue;
                throw Error(DeviceIoError, describe(m_path, errno));
            }
            bytes.remove_prefix(static_cast<std::size_t>(written));
        }
    }

    void commit() override
    {
        if (m_fd < 0)
            throw Error(DeviceIoError, m_path + ": committed after it was closed");
        // A disk that filled up, or a network file system, may tell only now.
        const bool flushed = ::fsync(m_fd) == 0 || errno == EINVAL;
        const int flushError = errno;
        const bool closed = ::close(m_fd) == 0 || errno == EINTR;
        const int closeError = errno;
        m_fd = -1;
        if (!flushed)
            throw Error(DeviceIoError, describe(m_path, flushError));
        if (!closed)
            throw Error(DeviceIoError, describe(m_path, closeError));
    }

    void discard() override
    {
        if (m_fd >= 0) {
            ::close(m_fd);
            m_fd = -1;
        }
        if (!m_created)
            return;
        m_created = false;
        // The name may have been given to something else since: leave that alone.
        struct stat info {};
        if (::lstat(m_path.c_str(), &info) == 0 && info.st_dev == m_device && info.st_ino == m_inode)
            ::unlink(m_path.c_str());
    }

private:
    int m_fd;
    std::string m_path;
    bool m_created;
    dev_t m_device = 0;
    ino_t m_inode = 0;
};

std::unique_ptr<InputStream> openInputFile(const std::string &path)
{
    // O_NONBLOCK only for the open itself: a FIFO at the path must not hang
    // the program waiting for its other end.
    int fd;
    do
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        const int error = errno;
        // A dangling symbolic link is as missing as its target.
        throwOpenFailure(path, error, error == ENOENT || error == ENOTDIR ? FileNotFound : PathFileAccess);
    }
    // Only a regular file is a text file: a FIFO whose writer sends nothing
    // would block the read, and so the whole program, for ever; a device
    // such as /dev/zero never ends. A regular file ignores O_NONBLOCK.
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        const int error = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
        ::close(fd);
        throw Error(PathFileAccess, describe(path, error));
    }
    // A short script (the usual one) takes a block its size, plus room to
    // see its end; one that grows while it is read takes more reads.
    std::size_t blockSize = ReadBlockSize;
    if (info.st_size >= 0 && std::size_t(info.st_size) < ReadBlockSize)
        blockSize = std::max<std::size_t>(std::size_t(info.st_size) + 1, MinBlockSize);
    return std::make_unique<PosixInputFile>(fd, path, blockSize);
}

std::unique_ptr<OutputFile> createOutputFile(const std::string &path, TextFiles::Creation creation)
{
    const bool fresh = creation == TextFiles::Creation::New;
    // A fresh file is created by this very call or not at all: O_EXCL also
    // refuses a symbolic link, dangling or not, and O_NOFOLLOW says so twice.
    const int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NONBLOCK
        | (fresh ? O_EXCL | O_NOFOLLOW : O_TRUNC);
    int fd;
    do
        fd = ::open(path.c_str(), flags, 0666);
    while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        const int error = errno;
        throwOpenFailure(path, error, fresh && (error == EEXIST || error == ELOOP) ? FileAlreadyExists
                                                                                  : PathFileAccess);
    }
    // Anything but a regular file writes blocking.
    struct stat info {};
    if (::fstat(fd, &info) == 0 && !S_ISREG(info.st_mode))
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return std::make_unique<PosixOutputFile>(fd, path, fresh);
}

} // namespace

std::unique_ptr<InputStream> PosixTextFiles::openInput(const std::string &path)
{
    return openInputFile(path);
}

std::unique_ptr<OutputFile> PosixTextFiles::createOutput(const std::string &path, Creation creation)
{
    return createOutputFile(path, creation);
}

} // namespace zentrel::platform

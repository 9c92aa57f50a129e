// posix_text_files.cpp: numbered sequential text files on POSIX file descriptors.
#include "platform/posix/posix_text_files.h"

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

constexpr std::size_t BlockSize = 64 * 1024;
constexpr std::size_t MinBlockSize = 4 * 1024;

std::string describe(const std::string &path, int error)
{
    return path + ": " + std::strerror(error);
}

bool validNumber(int number)
{
    return number >= 1 && number <= PosixTextFiles::MaxNumber;
}

} // namespace

class PosixTextFiles::File : public InputStream
{
public:
    File(int fd, Mode mode, std::string path, std::size_t blockSize)
        : m_fd(fd), m_mode(mode), m_path(std::move(path)), m_blockSize(blockSize)
    {
        // Left uninitialised: every byte is read into it before it is looked at.
        if (mode == Mode::Input)
            m_block = std::make_unique_for_overwrite<char[]>(m_blockSize);
    }
    ~File() override { ::close(m_fd); }
    File(const File &) = delete;
    File &operator=(const File &) = delete;

    Mode mode() const { return m_mode; }

    void write(std::string_view bytes)
    {
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
    Mode m_mode;
    std::string m_path;
    std::size_t m_blockSize;
    std::unique_ptr<char[]> m_block;
    bool m_atEnd = false;
};

PosixTextFiles::PosixTextFiles() = default;

PosixTextFiles::~PosixTextFiles() = default;

void PosixTextFiles::open(int number, const std::string &path, Mode mode)
{
    if (!validNumber(number))
        throw Error(BadFileNumber, "Bad file number " + std::to_string(number));
    if (m_files[number])
        throw Error(FileAlreadyOpen, "File number " + std::to_string(number) + " is already open");

    // O_NONBLOCK only for the open itself: a FIFO at the path must not hang
    // the program waiting for its other end.
    int fd = -1;
    std::size_t blockSize = BlockSize;
    bool regular = false;
    if (mode == Mode::Input) {
        do
            fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        while (fd < 0 && errno == EINTR);
        if (fd < 0) {
            const int error = errno;
            // A dangling symbolic link is as missing as its target.
            throw Error(error == ENOENT || error == ENOTDIR ? FileNotFound : PathFileAccess,
                        describe(path, error));
        }
        // Only a regular file is a text file: a FIFO whose writer sends
        // nothing would block the read, and so the whole program, for
        // ever; a device such as /dev/zero never ends.
        struct stat info {};
        if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
            const int error = S_ISDIR(info.st_mode) ? EISDIR : EINVAL;
            ::close(fd);
            throw Error(PathFileAccess, describe(path, error));
        }
        // A short script (the usual one) takes a block its size, plus room to
        // see its end; one that grows while it is read takes more reads.
        regular = S_ISREG(info.st_mode);
        if (regular && info.st_size >= 0 && std::size_t(info.st_size) < BlockSize)
            blockSize = std::max<std::size_t>(std::size_t(info.st_size) + 1, MinBlockSize);
    } else {
        do
            fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NONBLOCK, 0666);
        while (fd < 0 && errno == EINTR);
        if (fd < 0)
            throw Error(PathFileAccess, describe(path, errno));
    }
    // A regular file ignores O_NONBLOCK; anything else reads and writes blocking.
    if (!regular)
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    m_files[number] = std::make_unique<File>(fd, mode, path, blockSize);
}

void PosixTextFiles::close(int number)
{
    if (validNumber(number))
        m_files[number].reset();
}

void PosixTextFiles::closeAll()
{
    for (auto &file : m_files)
        file.reset();
}

bool PosixTextFiles::isOpen(int number) const
{
    return validNumber(number) && m_files[number] != nullptr;
}

PosixTextFiles::File &PosixTextFiles::openFile(int number, Mode mode, const char *operation)
{
    if (!isOpen(number) || m_files[number]->mode() != mode)
        throw Error(BadFileNumber, std::string(operation) + ": file number " + std::to_string(number)
                                       + " is not open for "
                                       + (mode == Mode::Input ? "input" : "output"));
    return *m_files[number];
}

bool PosixTextFiles::eof(int number)
{
    return openFile(number, Mode::Input, "eof").atEnd();
}

InputStream &PosixTextFiles::input(int number)
{
    return openFile(number, Mode::Input, "input");
}

void PosixTextFiles::writeLine(int number, std::string_view text)
{
    File &file = openFile(number, Mode::Output, "writeLine");
    std::string line;
    line.reserve(text.size() + 2);
    line.append(text);
    line.append("\r\n");
    file.write(line);
}

} // namespace zentrel::platform

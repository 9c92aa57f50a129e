// posix_profile.cpp: the private-profile (INI) reader and writer of the settings file.
#include "platform/posix/posix_profile.h"
#include "platform/posix/read_block.h"

#include "platform/posix/posix_ini_scan.h"
#include "platform/posix/posix_save_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace zentrel::platform {

namespace {

using ini::Nowhere;
using ini::trimmed;

// Opens a regular file for reading; -1 otherwise (missing, a directory, a device).
int openRegular(const std::string &path)
{
    int fd;
    do
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return -1;
    struct stat info {};
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

struct FdCloser {
    int fd;
    ~FdCloser()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

// The file a path finally names, following symbolic links, so that writing
// replaces the target and keeps the link.
std::string followLinks(std::string path)
{
    for (int hop = 0; hop < 40; ++hop) {
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
            return path;
        std::string target(std::size_t(info.st_size > 0 ? info.st_size : 4095) + 1, '\0');
        const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
        if (length < 0 || std::size_t(length) >= target.size())
            return path;
        target.resize(std::size_t(length));
        if (target.front() != '/') {
            const auto slash = path.rfind('/');
            if (slash != std::string::npos)
                target = path.substr(0, slash + 1) + target;
        }
        path = std::move(target);
    }
    return path;
}

// Copies the bytes [from, to) of the file (to the end for Nowhere); false on a failure.
bool copyRange(int fd, std::uint64_t from, std::uint64_t to, PosixSaveFile &out, char &last)
{
    auto block = std::make_unique<char[]>(ReadBlockSize);
    while (from < to) {
        const std::size_t want = std::size_t(std::min<std::uint64_t>(ReadBlockSize, to - from));
        const ssize_t got = ::pread(fd, block.get(), want, off_t(from));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (got == 0)
            return to == Nowhere;
        if (!out.write(block.get(), std::size_t(got)))
            return false;
        last = block[std::size_t(got) - 1];
        from += std::uint64_t(got);
    }
    return true;
}

bool breaksLines(std::string_view text)
{
    return text.find_first_of("\r\n") != std::string_view::npos;
}

} // namespace

std::string PosixProfile::getString(std::string_view section, std::string_view key,
                                 std::string_view defaultValue, std::size_t size,
                                 const std::string &path)
{
    if (size == 0)
        return {};
    const std::size_t cap = size - 1;
    std::string fallback(defaultValue.substr(0, cap));

    const int fd = openRegular(path);
    if (fd < 0)
        return fallback;
    FdCloser closer{fd};
    ini::Found found;
    if (!ini::scan(fd, section, key, cap, found) || !found.key)
        return fallback;
    return found.value;
}

bool PosixProfile::writeString(std::string_view section, std::string_view key,
                            std::string_view value, const std::string &path)
{
    section = trimmed(section);
    key = trimmed(key);
    if (key.empty() || key.find('=') != std::string_view::npos || breaksLines(key)
        || section.find(']') != std::string_view::npos || breaksLines(section)
        || breaksLines(value))
        return false;

    const std::string target = followLinks(path);
    ini::Found found;
    int fd = -1;
    struct stat info {};
    if (::stat(target.c_str(), &info) == 0) {
        if (!S_ISREG(info.st_mode) || ::access(target.c_str(), W_OK) != 0)
            return false;
        fd = openRegular(target);
        if (fd < 0)
            return false;
    } else if (errno != ENOENT) {
        return false;
    }
    FdCloser closer{fd};
    if (fd >= 0 && !ini::scan(fd, section, key, 0, found))
        return false;

    PosixSaveFile out(target);
    if (!out.open())
        return false;

    const std::string &lineEnd = found.lineEnd;
    const std::string keyLine = std::string(key) + '=' + std::string(value) + lineEnd;
    char last = '\n';
    bool ok = true;
    auto put = [&](const std::string &bytes) {
        ok = ok && out.write(bytes.data(), bytes.size());
    };
    if (found.key) {
        ok = copyRange(fd, 0, found.valueStart, out, last);
        put(std::string(value));
        ok = ok && copyRange(fd, found.valueEnd, Nowhere, out, last);
    } else if (found.section) {
        ok = copyRange(fd, 0, found.sectionEnd, out, last);
        if (!found.sectionEndsWithLineEnd)
            put(lineEnd);
        put(keyLine);
        ok = ok && copyRange(fd, found.sectionEnd, Nowhere, out, last);
    } else {
        if (fd >= 0)
            ok = copyRange(fd, 0, Nowhere, out, last);
        if (last != '\n' && last != '\r')
            put(lineEnd);
        put('[' + std::string(section) + ']' + lineEnd + keyLine);
    }
    // An uncommitted save file removes itself: the settings keep their old text.
    return ok && out.commit();
}

} // namespace zentrel::platform

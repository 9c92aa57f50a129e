// config_files.cpp: --configs: each command-driven router's running config in a file of its own, replaced whole.
#include "serve/config_files.h"

#include "platform/posix/output_files.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace zentrel::serve {

std::string ConfigFiles::prepare() const
{
    std::error_code error;
    if (::mkdir(m_dir.c_str(), 0755) != 0 && errno != EEXIST)
        return "--configs " + m_dir + ": cannot make the directory: " + std::strerror(errno);
    if (!std::filesystem::is_directory(m_dir, error) || ::access(m_dir.c_str(), W_OK | X_OK) != 0)
        return "--configs " + m_dir + ": not a directory that can be written";
    return {};
}

std::string ConfigFiles::write(const std::string &router, std::string_view config) const
{
    const std::string target = (std::filesystem::path(m_dir) / (router + ".cfg")).string();
    std::string staging, error;
    const int fd = platform::createBeside(target, staging, error);
    if (fd < 0)
        return error;
    std::string failure;
    if (!platform::writeAll(fd, config))
        failure = staging + ": cannot write: " + std::strerror(errno);
    else if (::fsync(fd) != 0 && errno != EINVAL)
        failure = staging + ": cannot flush: " + std::strerror(errno);
    if (::close(fd) != 0 && failure.empty())
        failure = staging + ": cannot close: " + std::strerror(errno);
    if (failure.empty() && ::rename(staging.c_str(), target.c_str()) != 0)
        failure = target + ": cannot replace: " + std::strerror(errno);
    if (!failure.empty())
        ::unlink(staging.c_str());
    return failure;
}

} // namespace zentrel::serve

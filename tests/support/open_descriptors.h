// open_descriptors.h: the process's open file descriptors, as /proc lists them.
#pragma once
#include <QFileInfo>
#include <QString>

#include <dirent.h>
#include <string>
#include <unistd.h>

namespace zentrel::tests {

// Every descriptor open in this process, the one that lists them included.
inline int openDescriptors()
{
    int count = 0;
    if (DIR *fds = ::opendir("/proc/self/fd")) {
        while (const dirent *entry = ::readdir(fds))
            count += entry->d_name[0] != '.';
        ::closedir(fds);
    }
    return count;
}

// The descriptors that have the file open: zero once every reader and writer
// of it let go, whatever sockets come and go meanwhile.
inline int descriptorsOn(const QString &path)
{
    const std::string target = QFileInfo(path).canonicalFilePath().toStdString();
    if (target.empty())
        return 0;
    int count = 0;
    if (DIR *fds = ::opendir("/proc/self/fd")) {
        while (const dirent *entry = ::readdir(fds)) {
            const std::string link = std::string("/proc/self/fd/") + entry->d_name;
            char buffer[4096];
            const ssize_t size = ::readlink(link.c_str(), buffer, sizeof buffer);
            count += size > 0 && std::string(buffer, std::size_t(size)) == target;
        }
        ::closedir(fds);
    }
    return count;
}

} // namespace zentrel::tests

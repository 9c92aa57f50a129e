// router_files.cpp: bounded reads of a router's files, and the rules that keep a path in its directory.
#include "console/commands/router_files.h"

#include "platform/error.h"
#include "platform/text_files.h"

namespace zentrel::console::commands {

std::string readBoundedFile(platform::TextFiles &files, const std::string &path, std::size_t limit)
{
    std::unique_ptr<platform::InputStream> in = files.openInput(path);
    std::string bytes;
    for (int c = in->get(); c >= 0; c = in->get()) {
        if (bytes.size() == limit)
            throw platform::Error(platform::PathFileAccess,
                                  path + ": bigger than " + std::to_string(limit) + " bytes");
        bytes.push_back(char(c));
    }
    return bytes;
}

bool staysInDirectory(std::string_view path)
{
    if (path.empty() || path.front() == '/')
        return false;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string_view::npos)
            end = path.size();
        if (path.substr(start, end - start) == "..")
            return false;
        start = end + 1;
    }
    return path.find('\0') == std::string_view::npos;
}

bool safePathValue(std::string_view value)
{
    return !value.empty() && value.find('/') == std::string_view::npos
        && value.find("..") == std::string_view::npos && value.find('\0') == std::string_view::npos;
}

} // namespace zentrel::console::commands

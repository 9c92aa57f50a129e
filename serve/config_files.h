// config_files.h: --configs: each command-driven router's running config in a file of its own, replaced whole.
#pragma once
#include <string>
#include <string_view>

namespace zentrel::serve {

// DIR/NAME.cfg for router NAME. A file is written beside its target and
// renamed over it, so that a reader sees the old config or the new one,
// never a torn one; a symbolic link at the target is replaced, never
// written through.
class ConfigFiles
{
public:
    explicit ConfigFiles(std::string dir) : m_dir(std::move(dir)) {}

    // Before anything listens: makes DIR when only it is missing. "" or why
    // the run cannot start.
    std::string prepare() const;
    // "" or what went wrong, naming the file.
    std::string write(const std::string &router, std::string_view config) const;
    const std::string &dir() const { return m_dir; }

private:
    std::string m_dir;
};

} // namespace zentrel::serve

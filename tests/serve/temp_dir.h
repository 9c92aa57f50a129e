// temp_dir.h: a fresh directory per test, removed with everything in it afterwards.
#pragma once
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace zentrel::tests {

class TempDir
{
public:
    TempDir()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "zentrel-test-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            std::perror("mkdtemp");
        m_path = pattern;
    }
    ~TempDir()
    {
        std::error_code error;
        std::filesystem::remove_all(m_path, error);
    }
    std::string path(std::string_view name = {}) const { return (m_path / name).string(); }
    void write(std::string_view name, std::string_view bytes) const
    {
        std::filesystem::create_directories((m_path / name).parent_path());
        std::ofstream(m_path / name, std::ios::binary) << bytes;
    }

private:
    std::filesystem::path m_path;
};

inline std::string readAll(const std::string &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Runs a command line through the shell; its standard output and exit status.
struct Ran {
    std::string out;
    int status = -1;
};
inline Ran run(const std::string &command)
{
    Ran ran;
    FILE *pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return ran;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        ran.out.append(buffer, n);
    const int status = ::pclose(pipe);
    ran.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return ran;
}

} // namespace zentrel::tests

// counting_text_files.h: real files that keep count of the streams and output files still alive.
#pragma once
#include "platform/text_files.h"

#include <memory>
#include <string>

namespace zentrel::platform {
class PosixTextFiles;
}

namespace zentrel::tests {

// Hands out the files of another TextFiles unchanged, byte for byte and
// failure for failure, and counts the ones not yet destroyed: a handler that
// is done must have let go of every file it opened.
class CountingTextFiles : public platform::TextFiles
{
public:
    CountingTextFiles();   // over the real files on disk
    explicit CountingTextFiles(platform::TextFiles &files);
    ~CountingTextFiles() override;
    CountingTextFiles(const CountingTextFiles &) = delete;
    CountingTextFiles &operator=(const CountingTextFiles &) = delete;

    std::unique_ptr<platform::InputStream> openInput(const std::string &path) override;
    std::unique_ptr<platform::OutputFile> createOutput(const std::string &path,
                                                       Creation creation = Creation::Replace) override;

    // Streams and output files handed out and not destroyed yet.
    int alive() const { return *m_alive; }
    // Every file handed out so far, so that "none alive" is known to mean
    // "opened and let go" rather than "never opened".
    int opened() const { return m_opened; }

private:
    std::unique_ptr<platform::PosixTextFiles> m_own;
    platform::TextFiles &m_files;
    // Shared with the files handed out, which may outlive this object.
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
    int m_opened = 0;
};

} // namespace zentrel::tests

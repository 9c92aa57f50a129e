// posix_text_files.h: sequential text files on POSIX file descriptors.
#pragma once
#include "platform/text_files.h"

#include <array>
#include <memory>

namespace zentrel::platform {

// Files are read and written as raw bytes: no translation of line ends or
// code pages. Input is read in large blocks so the item reader can take it
// one byte at a time; output goes straight to the file, so a failing write
// is reported by the writeLine that failed. Any number of streams may read
// the same file at once.
class PosixTextFiles : public TextFiles
{
public:
    static constexpr int MaxNumber = 255;

    PosixTextFiles();
    ~PosixTextFiles() override;
    PosixTextFiles(const PosixTextFiles &) = delete;
    PosixTextFiles &operator=(const PosixTextFiles &) = delete;

    std::unique_ptr<InputStream> openInput(const std::string &path) override;
    std::unique_ptr<OutputFile> createOutput(const std::string &path,
                                             Creation creation = Creation::Replace) override;

    void open(int number, const std::string &path, Mode mode) override;
    void close(int number) override;
    void closeAll() override;
    bool isOpen(int number) const override;
    bool eof(int number) override;
    InputStream &input(int number) override;
    void writeLine(int number, std::string_view text) override;

private:
    void checkFree(int number) const;

    std::array<std::unique_ptr<InputStream>, MaxNumber + 1> m_inputs;
    std::array<std::unique_ptr<OutputFile>, MaxNumber + 1> m_outputs;
};

} // namespace zentrel::platform

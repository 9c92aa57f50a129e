// posix_text_files.h: sequential text files on POSIX file descriptors.
#pragma once
#include "platform/text_files.h"

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
    std::unique_ptr<InputStream> openInput(const std::string &path) override;
    std::unique_ptr<OutputFile> createOutput(const std::string &path,
                                             Creation creation = Creation::Replace) override;
};

} // namespace zentrel::platform

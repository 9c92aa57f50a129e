// posix_save_file.h: a file's new content, put in the file's place only once it was written whole.
#pragma once
#include <cstddef>
#include <string>
#include <sys/types.h>

namespace zentrel::platform {

// The new content goes to a fresh file beside the target; commit() puts it
// in place only when every write, the flush and the close succeeded, so a
// full disk or a failing device leaves the target as it was. The target keeps
// its owner and mode. A target with more than one hard link, or one whose
// owner this process cannot give to a new file, is rewritten in place instead
// (after the whole content was written beside it and room for it reserved),
// so that the links and the owner stay. Destroying an uncommitted save file
// removes what it wrote.
class PosixSaveFile
{
public:
    // target: the file finally named; symbolic links are the caller's business.
    explicit PosixSaveFile(std::string target);
    ~PosixSaveFile();
    PosixSaveFile(const PosixSaveFile &) = delete;
    PosixSaveFile &operator=(const PosixSaveFile &) = delete;

    // False when the file beside the target cannot be created.
    bool open();
    // False once any write has failed; later writes do nothing.
    bool write(const char *bytes, std::size_t size);
    // True only when the target now holds exactly what was written.
    bool commit();
    // Why the last operation failed, for the caller's report.
    const std::string &failure() const { return m_failure; }

private:
    bool fail(const std::string &what, int error);
    bool keepOwner();
    bool replaceInPlace();
    void discard();

    std::string m_target;
    std::string m_staging;
    std::string m_failure;
    int m_fd = -1;
    bool m_ok = true;
    bool m_targetExists = false;
    bool m_inPlace = false;
    mode_t m_mode = 0;
    uid_t m_owner = 0;
    gid_t m_group = 0;
    off_t m_size = 0;
};

} // namespace zentrel::platform

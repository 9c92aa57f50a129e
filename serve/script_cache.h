// script_cache.h: each router's RESPONSE.TXT, read afresh for every session but parsed only when it changed.
#pragma once
#include "console/script.h"

#include <cstdint>
#include <string>
#include <unordered_map>

namespace zentrel::serve {

// A session start costs one stat() while the file stays as it is; sessions
// and routers that play the same path share one parsed script, and no
// descriptor is held between sessions (a fleet of idle routers holds none).
class ScriptCache
{
public:
    // The script at `path` as the file is now:
    // - missing: an empty script (the client gets no byte, then the close);
    //   the caller warns about that once, at start;
    // - out of descriptors (EMFILE, ENFILE): platform::Error TooManyFiles,
    //   transient, so that the client waits instead of getting nothing;
    // - not a regular file, or unreadable: platform::Error PathFileAccess or
    //   DeviceIoError with the path and the reason.
    console::ScriptPtr get(const std::string &path);

    // How often a file was read and parsed, for tests and reports.
    std::uint64_t loads() const { return m_loads; }

private:
    struct Entry {
        std::uint64_t device = 0;
        std::uint64_t inode = 0;
        std::int64_t size = -1;
        std::int64_t mtimeNs = 0;
        std::int64_t ctimeNs = 0;
        console::ScriptPtr script;
    };

    console::ScriptPtr load(const std::string &path, Entry &entry);

    std::unordered_map<std::string, Entry> m_entries;
    std::uint64_t m_loads = 0;
};

} // namespace zentrel::serve

// script.h: a response script read once into items, shared by every session that plays it.
#pragma once
#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace zentrel::platform {
class InputStream;
class TextFiles;
}

namespace zentrel::console {

// The script's file name, looked up afresh for every connection.
inline constexpr const char *ResponseFile = "RESPONSE.TXT";

// The items back to back in one buffer, with where each one ends: a script
// of many items costs its bytes and one offset an item, and is given back to
// the system in one piece when its last session lets go of it.
class Script
{
public:
    Script() = default;
    explicit Script(const std::vector<std::string> &items);

    std::size_t size() const { return m_ends.size(); }
    std::string_view item(std::size_t index) const
    {
        const std::size_t begin = index == 0 ? 0 : m_ends[index - 1];
        return std::string_view(m_bytes).substr(begin, m_ends[index] - begin);
    }

    void add(std::string_view item);
    // The next item of the stream, read straight into the buffer.
    void read(platform::InputStream &in);
    // Room for this many bytes of items, when the file's size is known.
    void reserve(std::size_t bytes) { m_bytes.reserve(bytes); }

private:
    std::string m_bytes;
    std::vector<std::size_t> m_ends;
};
using ScriptPtr = std::shared_ptr<const Script>;

// Splits the bytes of a script file into items with readItem().
ScriptPtr parseScript(std::string_view bytes);
// The same for a stream, `size` bytes long if known; a read failure throws
// platform::Error.
ScriptPtr readScriptItems(platform::InputStream &in, std::size_t size = 0);
// Reads the script file whole and closes it before returning. Throws
// platform::Error: 53 when it does not exist, 75 when it cannot be read.
ScriptPtr readScriptFile(platform::TextFiles &files, const std::string &path);

} // namespace zentrel::console

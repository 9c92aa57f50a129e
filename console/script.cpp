// script.cpp: a response script read once into items.
#include "console/script.h"

#include "console/item_reader.h"
#include "platform/text_files.h"

#include <filesystem>

namespace zentrel::console {

namespace {

// The item reader's view of bytes already in memory.
class MemoryStream : public platform::InputStream
{
public:
    explicit MemoryStream(std::string_view bytes)
    {
        m_pos = bytes.data();
        m_end = bytes.data() + bytes.size();
    }

protected:
    bool refill() override { return false; }
};

} // namespace

Script::Script(const std::vector<std::string> &items)
{
    for (const std::string &item : items)
        add(item);
}

void Script::add(std::string_view item)
{
    m_bytes.append(item);
    m_ends.push_back(m_bytes.size());
}

void Script::read(platform::InputStream &in)
{
    appendItem(in, m_bytes);
    m_ends.push_back(m_bytes.size());
}

ScriptPtr parseScript(std::string_view bytes)
{
    MemoryStream stream(bytes);
    return readScriptItems(stream, bytes.size());
}

ScriptPtr readScriptItems(platform::InputStream &in, std::size_t size)
{
    auto script = std::make_shared<Script>();
    script->reserve(size);   // the items are never longer than the file
    while (!in.atEnd())
        script->read(in);
    return script;
}

ScriptPtr readScriptFile(platform::TextFiles &files, const std::string &path)
{
    const std::unique_ptr<platform::InputStream> in = files.openInput(path);
    std::error_code unknown;
    const std::uintmax_t size = std::filesystem::file_size(path, unknown);
    return readScriptItems(*in, unknown ? 0 : static_cast<std::size_t>(size));
}

} // namespace zentrel::console

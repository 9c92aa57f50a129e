// script.cpp: a response script read once into items.
#include "console/script.h"

#include "console/item_reader.h"
#include "platform/text_files.h"

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

void Script::trim()
{
    m_bytes.shrink_to_fit();
    m_ends.shrink_to_fit();
}

ScriptPtr parseScript(std::string_view bytes)
{
    MemoryStream stream(bytes);
    return readScriptItems(stream);
}

ScriptPtr readScriptItems(platform::InputStream &in)
{
    auto script = std::make_shared<Script>();
    std::string item;   // reused: one allocation for the whole file
    while (!in.atEnd()) {
        readItem(in, item);
        script->add(item);
    }
    script->trim();
    return script;
}

ScriptPtr readScriptFile(platform::TextFiles &files, const std::string &path)
{
    const std::unique_ptr<platform::InputStream> in = files.openInput(path);
    return readScriptItems(*in);
}

} // namespace zentrel::console

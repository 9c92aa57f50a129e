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

ScriptPtr parseScript(std::string_view bytes)
{
    MemoryStream stream(bytes);
    return readScriptItems(stream);
}

ScriptPtr readScriptItems(platform::InputStream &in)
{
    auto script = std::make_shared<Script>();
    while (!in.atEnd()) {
        script->items.emplace_back();
        readItem(in, script->items.back());
    }
    return script;
}

ScriptPtr readScriptFile(platform::TextFiles &files, const std::string &path)
{
    const std::unique_ptr<platform::InputStream> in = files.openInput(path);
    return readScriptItems(*in);
}

} // namespace zentrel::console

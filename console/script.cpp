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
    auto script = std::make_shared<Script>();
    MemoryStream stream(bytes);
    while (!stream.atEnd()) {
        script->items.emplace_back();
        readItem(stream, script->items.back());
    }
    return script;
}

} // namespace zentrel::console

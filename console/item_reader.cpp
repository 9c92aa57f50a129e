// item_reader.cpp: placeholder until the item reader lands.
#include "console/item_reader.h"

namespace zentrel::console {

void readItem(platform::InputStream &in, std::string &item)
{
    item.clear();
    for (int c = in.get(); c >= 0 && c != '\n'; c = in.get())
        if (c != '\r')
            item.push_back(static_cast<char>(c));
}

} // namespace zentrel::console

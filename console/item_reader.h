// item_reader.h: the one reader of items for every text file Zentrel plays or shows.
#pragma once
#include "platform/text_files.h"

#include <string>

namespace zentrel::console {

// Appends the next item to `bytes`. The caller tests for the end of the file
// before each call; at the end it appends nothing.
void appendItem(platform::InputStream &in, std::string &bytes);
// Reads the next item into `item`, replacing its content.
inline void readItem(platform::InputStream &in, std::string &item)
{
    item.clear();
    appendItem(in, item);
}

} // namespace zentrel::console

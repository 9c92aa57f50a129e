// item_reader.h: the one reader of items for every text file Zentrel plays or shows.
#pragma once
#include "platform/text_files.h"

#include <string>

namespace zentrel::console {

// Reads the next item into `item` (replacing its content). The caller tests
// for the end of the file before each call; at the end it yields "".
void readItem(platform::InputStream &in, std::string &item);

} // namespace zentrel::console

// item_writer.h: writes items so that the item reader gives back exactly their bytes.
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace zentrel::console {

// True when the item cannot stand bare on a line of its own: it holds a
// comma, a CR, an LF or a double quote, or it starts with a space or a tab.
bool needsQuotes(std::string_view item);

// The item as it goes on its line: bare when the reader takes it back as it
// stands, otherwise in double quotes with each double quote inside doubled.
std::string writeItem(std::string_view item);

// The items one a line, each followed by CR LF; the reader, testing for the
// end of the file before each item, yields exactly these items again.
std::string writeItems(const std::vector<std::string> &items);

} // namespace zentrel::console

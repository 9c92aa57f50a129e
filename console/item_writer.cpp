// item_writer.cpp: the reverse of the item reader, for files Zentrel writes itself.
//
// A bare item loses leading blanks and ends at a comma or a line end; a quoted
// one keeps every byte but a lone double quote. So only those bytes decide,
// and everything else (trailing blanks, NUL, bytes from 0x80) is written as it
// stands. The pytest plugin mirrors these rules; keep the two in step.
#include "console/item_writer.h"

namespace zentrel::console {

bool needsQuotes(std::string_view item)
{
    if (!item.empty() && (item.front() == ' ' || item.front() == '\t'))
        return true;
    return item.find_first_of(",\r\n\"") != std::string_view::npos;
}

std::string writeItem(std::string_view item)
{
    if (!needsQuotes(item))
        return std::string(item);
    std::string out;
    out.reserve(item.size() + 2);
    out.push_back('"');
    for (const char c : item) {
        if (c == '"')
            out.push_back('"');
        out.push_back(c);
    }
    out.push_back('"');
    return out;
}

std::string writeItems(const std::vector<std::string> &items)
{
    std::string out;
    for (const std::string &item : items) {
        out += writeItem(item);
        out += "\r\n";
    }
    return out;
}

} // namespace zentrel::console

// visible.h: bytes written so that a person sees every one of them, on a terminal or in a report.
#pragma once
#include <cstdio>
#include <string>
#include <string_view>

namespace zentrel::serve {

// Tab, CR and LF as \t \r \n, other control bytes, DEL and bytes from 0x80
// as \xNN; with `trailingBlanks`, spaces at the end as \x20 too. Printable
// ASCII stays as it is, the backslash included, so patterns stay readable.
inline std::string visibleText(std::string_view bytes, bool trailingBlanks = false)
{
    std::size_t keep = bytes.size();
    if (trailingBlanks)
        while (keep > 0 && bytes[keep - 1] == ' ')
            --keep;
    std::string out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (byte == '\t') {
            out += "\\t";
        } else if (byte == '\r') {
            out += "\\r";
        } else if (byte == '\n') {
            out += "\\n";
        } else if (byte < 0x20 || byte >= 0x7F || i >= keep) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02x", byte);
            out += escape;
        } else {
            out.push_back(static_cast<char>(byte));
        }
    }
    return out;
}

} // namespace zentrel::serve

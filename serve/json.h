// json.h: the small JSON writing the events, transcripts and reports share.
#pragma once
#include <cstdio>
#include <string>
#include <string_view>

namespace zentrel::serve {

// Appends the bytes as a JSON string, quotes included. Each byte is the code
// point of the same value (Latin-1), so the exact bytes can be read back:
// bytes below 0x20, the quote, the backslash and 0x7F..0xFF are \u-escaped.
inline void appendJsonString(std::string &out, std::string_view bytes)
{
    out.push_back('"');
    // Runs of bytes that need no escape go in at once.
    std::size_t plain = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const auto byte = static_cast<unsigned char>(bytes[i]);
        if (byte >= 0x20 && byte < 0x7F && byte != '"' && byte != '\\')
            continue;
        out.append(bytes.substr(plain, i - plain));
        plain = i + 1;
        switch (byte) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default: {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", byte);
            out += escape;
        }
        }
    }
    out.append(bytes.substr(plain));
    out.push_back('"');
}

inline std::string jsonString(std::string_view bytes)
{
    std::string out;
    appendJsonString(out, bytes);
    return out;
}

} // namespace zentrel::serve

// item_reader.cpp: splits a response script or configuration file into items.
//
// How a file becomes items:
//
// - An item ends at a comma or at a line end. CR LF, a lone LF and a lone CR
//   each end a line, so scripts saved on any system read the same.
// - The comma or the line end that closes an item is taken with it: a file
//   whose last line ends with a line end yields no extra empty item, and
//   "a,b\r\n" yields exactly "a" and "b". A comma at the end of a line closes
//   an item of its own, so "a,\r\n" yields "a" and "".
// - Spaces and tabs in front of an item are skipped; an indented script line
//   reaches the client without its indentation.
// - Spaces and tabs at the end of an unquoted item are kept, byte for byte: a
//   prompt such as "Router> " keeps its blank, as the client expects it.
// - An item whose first byte (after the skipped blanks) is a double quote runs
//   to the next double quote, commas and line ends included; neither quote is
//   part of the item. Inside it, two double quotes in a row stand for one
//   literal double quote, so `"say ""hi"""` yields `say "hi"`: that is how an
//   item holding a quote is written (console/item_writer.h). Text between the
//   closing quote and the next comma or line end is dropped, so `"a" ,b`
//   yields "a" and "b". A quoted item that is never closed runs to the end of
//   the file.
// - A double quote anywhere else is an ordinary byte: `say "hi"` is one item.
// - Every other byte, NUL and 0x80..0xFF included, is taken as it stands.
//
// The reader appends each run of plain bytes of the buffered stream to the
// caller's string at once, so it costs about a nanosecond a byte.
#include "console/item_reader.h"

namespace zentrel::console {

namespace {

// Takes the LF of a CR LF pair; a lone CR is a line end of its own.
inline void takeLfAfterCr(platform::InputStream &in)
{
    if (in.peek() == '\n')
        in.get();
}

void readQuoted(platform::InputStream &in, std::string &item)
{
    for (;;) {
        if (in.appendUntil(item, "\"") < 0)
            return;
        in.get();
        if (in.peek() != '"')
            break;
        item.push_back(static_cast<char>(in.get()));
    }
    // Whatever follows the closing quote, up to the separator, is dropped.
    for (int c = in.get(); c >= 0; c = in.get()) {
        if (c == ',' || c == '\n')
            return;
        if (c == '\r') {
            takeLfAfterCr(in);
            return;
        }
    }
}

} // namespace

void appendItem(platform::InputStream &in, std::string &item)
{
    int c = in.peek();
    while (c == ' ' || c == '\t') {
        in.get();
        c = in.peek();
    }
    if (c == '"') {
        in.get();
        readQuoted(in, item);
        return;
    }
    if (in.appendUntil(item, ",\r\n") == '\r') {
        in.get();
        takeLfAfterCr(in);
    } else {
        in.get();   // the comma or LF; nothing at the end of the file
    }
}

} // namespace zentrel::console

// json_test.cpp: the bytes of a string as the events and transcripts write them.
#include "serve/json.h"

#include <gtest/gtest.h>

using zentrel::serve::jsonString;
using namespace std::string_literals;

TEST(Json, stringsEscapeWhatJsonNeedsAndKeepEveryOtherByte)
{
    const struct {
        std::string bytes;
        std::string json;
    } cases[] = {
        {"", R"("")"},
        {"show version", R"("show version")"},
        {"a\"b\\c", R"("a\"b\\c")"},
        {"\"x\"", R"("\"x\"")"},                                 // escapes first and last
        {"\r\n\tend", R"("\r\n\tend")"},
        {"\x01x\x7f\xff"s, R"("\u0001x\u007f\u00ff")"},
        {"\0\0"s, R"("\u0000\u0000")"},
        {"run of plain text, \"then\" more", R"("run of plain text, \"then\" more")"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(jsonString(c.bytes), c.json) << c.json;
}

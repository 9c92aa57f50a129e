// typed_lines_test.cpp: how client bytes become typed lines, and how Telnet commands are spelled.
#include "serve/typed_lines.h"

#include <gtest/gtest.h>

using zentrel::serve::spellTelnetCommands;
using zentrel::serve::TypedLines;
using namespace std::string_literals;

namespace {

struct SplitCase {
    const char *name;
    std::vector<std::string> chunks;
    std::vector<std::string> lines;   // after finish()
};

class Split : public testing::TestWithParam<SplitCase> {};

TEST_P(Split, linesAsTheLineEditorReadsThem)
{
    TypedLines typed;
    for (const std::string &chunk : GetParam().chunks)
        typed.feed(chunk);
    typed.finish();
    EXPECT_EQ(typed.lines(), GetParam().lines);
    EXPECT_FALSE(typed.cut());
}

INSTANTIATE_TEST_SUITE_P(
    TypedLines, Split,
    testing::Values(
        SplitCase{"CrLf", {"show version\r\nexit\r\n"}, {"show version", "exit"}},
        SplitCase{"CrNul", {"a\r\0b\r\0"s}, {"a", "b"}},
        SplitCase{"LoneCrAndLoneLf", {"a\rb\nc\r\n"}, {"a", "b", "c"}},
        SplitCase{"CrCrIsTwoLines", {"a\r\r"}, {"a", ""}},
        SplitCase{"BareEntersKept", {"\r\n\r\nx\r\n"}, {"", "", "x"}},
        SplitCase{"CrLfSplitAcrossChunks", {"a\r", "\nb\r", "\0c"s}, {"a", "b", "c"}},
        SplitCase{"LastLineWithoutLineEnd", {"conf t\r\nend"}, {"conf t", "end"}},
        SplitCase{"NegotiationRemoved", {"\xff\xfd\x03\xff\xfb\x18show\r\n"}, {"show"}},
        SplitCase{"IacIacIsLiteral", {"a\xff\xff" "b\n"}, {"a\xff" "b"}},
        SplitCase{"IacSplitAcrossChunks", {"ab\xff", "\xfd", "\x01" "cd\n"}, {"abcd"}},
        SplitCase{"CommandBetweenCrAndLf", {"a\r\xff\xf1\nb\n"}, {"a", "b"}},
        SplitCase{"BackspaceAndDelErase", {"shox\bw ver\x7f\x7f\x7fversion\r\n"}, {"show version"}},
        SplitCase{"EraseStopsAtLineStart", {"a\n\b\bb\n"}, {"a", "b"}},
        SplitCase{"HighBytesKept", {"caf\xe9\n"}, {"caf\xe9"}}),
    [](const testing::TestParamInfo<SplitCase> &info) { return info.param.name; });

TEST(TypedLines, keepsTheFirstLinesAndSaysSo)
{
    TypedLines typed(3, 1000);
    typed.feed("1\n2\n3\n4\n5\n");
    typed.finish();
    EXPECT_EQ(typed.lines(), (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_TRUE(typed.cut());
}

TEST(TypedLines, keepsTheLineTheByteBudgetEndsIn)
{
    TypedLines typed(100, 5);
    typed.feed("abc\ndefg\nhij\n");
    typed.finish();
    EXPECT_EQ(typed.lines(), (std::vector<std::string>{"abc", "de"}));
    EXPECT_TRUE(typed.cut());
}

TEST(TypedLines, floodStaysWithinTheDefaultBounds)
{
    TypedLines typed;
    const std::string chunk(64 * 1024, 'x');
    for (int i = 0; i < 50 * 16; ++i)   // 50 MiB on one line, then many short lines
        typed.feed(chunk);
    for (int i = 0; i < 20000; ++i)
        typed.feed("y\r\n");
    typed.finish();
    std::size_t bytes = 0;
    for (const std::string &line : typed.lines())
        bytes += line.size();
    EXPECT_LE(bytes, TypedLines::DefaultMaxBytes);
    EXPECT_EQ(typed.lines().size(), 1u);
    EXPECT_TRUE(typed.cut());
}

TEST(TelnetCommands, spelledWithRegistryNames)
{
    EXPECT_EQ(spellTelnetCommands("\xff\xfd\x03\xff\xfb\x18"), "IAC DO SUPPRESS-GO-AHEAD, IAC WILL TERMINAL-TYPE");
    EXPECT_EQ(spellTelnetCommands("x\xff\xfc\x01y\xff\xfe\x1f"), "IAC WONT ECHO, IAC DONT NAWS");
    EXPECT_EQ(spellTelnetCommands("\xff\xfa\x1f\0\x50\0\x18\xff\xf0"s), "IAC SB NAWS 0 80 0 24 IAC SE");
    EXPECT_EQ(spellTelnetCommands("\xff\xfa\x18\0xterm\xff\xf0"s), "IAC SB TERMINAL-TYPE 0 \"xterm\" IAC SE");
    EXPECT_EQ(spellTelnetCommands("\xff\xfd\xc8\xff\xf4"), "IAC DO 200, IAC IP");
    EXPECT_EQ(spellTelnetCommands("\xff\x10"), "IAC 16");
}

TEST(TelnetCommands, dataAndCutSequences)
{
    EXPECT_EQ(spellTelnetCommands("show version\r\n"), "");
    EXPECT_EQ(spellTelnetCommands("a\xff\xff" "b"), "");
    EXPECT_EQ(spellTelnetCommands("ab\xff"), "IAC");
    EXPECT_EQ(spellTelnetCommands("\xff\xfd"), "IAC DO");
    EXPECT_EQ(spellTelnetCommands("\xff\xfa\x18\x01"), "IAC SB TERMINAL-TYPE 1");
}

} // namespace

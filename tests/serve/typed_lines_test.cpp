// typed_lines_test.cpp: what a report keeps of the typed lines, and how Telnet commands are spelled.
#include "serve/typed_lines.h"

#include <gtest/gtest.h>

using zentrel::serve::spellTelnetCommands;
using zentrel::serve::TypedLines;
using namespace std::string_literals;

namespace {

void addAll(TypedLines &typed, const std::vector<std::string> &lines)
{
    for (const std::string &line : lines)
        typed.add({line, false, false});
}

TEST(TypedLines, keepsTheFirstLinesAndSaysSo)
{
    TypedLines typed(3, 1000);
    addAll(typed, {"1", "2", "3", "4", "5"});
    EXPECT_EQ(typed.lines(), (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_TRUE(typed.cut());
}

TEST(TypedLines, keepsTheLineTheByteBudgetEndsInAndNothingAfter)
{
    TypedLines typed(100, 5);
    addAll(typed, {"abc", "defg", "", "hij"});
    EXPECT_EQ(typed.lines(), (std::vector<std::string>{"abc", "de"}));
    EXPECT_TRUE(typed.cut());
}

TEST(TypedLines, aLineTheEditorCutIsSaid)
{
    TypedLines typed;
    typed.add({"short", false, false});
    EXPECT_FALSE(typed.cut());
    typed.add({std::string(100, 'x'), false, true});
    EXPECT_TRUE(typed.cut());
    EXPECT_EQ(typed.lines().size(), 2u);
}

TEST(TypedLines, passwordsAreShownMaskedAndCheckedAsTyped)
{
    TypedLines typed;
    typed.add({"admin", false, false});
    typed.add({"", true, false});
    typed.add({"cisco", true, false});
    EXPECT_EQ(typed.lines(), (std::vector<std::string>{"admin", "", "cisco"}));
    EXPECT_EQ(typed.shown(), (std::vector<std::string>{"admin", "", "***"})) << "a bare Enter stays empty";
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

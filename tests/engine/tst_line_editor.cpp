// tst_line_editor.cpp: what a client typed, its echo and its Telnet commands, however the chunks fall.
#include "console/line_editor.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace zentrel::console;
using namespace std::string_literals;   // byte strings with NULs inside

namespace {

struct Reading {
    std::vector<std::string> lines;   // finish() included
    std::string echo;
    std::string telnet;
};

// Feeds the pieces one after the other, then finish().
Reading read(EditorSetup setup, const std::vector<std::string_view> &pieces)
{
    LineEditor editor(setup);
    Reading out;
    for (const std::string_view piece : pieces) {
        const Edited &edited = editor.feed(piece);
        EXPECT_EQ(edited.read, piece.size());
        EXPECT_EQ(edited.shown, piece) << "nothing is masked without a password prompt";
        for (const TypedLine &line : edited.lines)
            out.lines.push_back(line.text);
        out.echo += edited.echo;
        out.telnet += edited.telnet;
    }
    if (std::optional<TypedLine> last = editor.finish())
        out.lines.push_back(last->text);
    return out;
}

struct Row {
    const char *name;
    std::string bytes;
    std::vector<std::string> lines;
    std::string echo;
    std::string telnet = {};
};

// Each row is read whole, cut in two at every place, and a byte at a time:
// the lines, the echo and the commands are the same every way.
void checkEveryCut(EditorSetup setup, const Row &row)
{
    const std::string_view bytes = row.bytes;
    const auto same = [&](const Reading &got, const std::string &how) {
        EXPECT_EQ(got.lines, row.lines) << how;
        EXPECT_EQ(got.echo, row.echo) << how;
        EXPECT_EQ(got.telnet, row.telnet) << how;
    };
    same(read(setup, {bytes}), "whole");
    for (std::size_t cut = 1; cut < bytes.size(); ++cut)
        same(read(setup, {bytes.substr(0, cut), bytes.substr(cut)}), "cut at " + std::to_string(cut));
    std::vector<std::string_view> single;
    for (std::size_t i = 0; i < bytes.size(); ++i)
        single.push_back(bytes.substr(i, 1));
    same(read(setup, single), "a byte at a time");
}

class Telnet : public ::testing::TestWithParam<Row> {};
class Ssh : public ::testing::TestWithParam<Row> {};

TEST_P(Telnet, readsAsARoutersLineEditor)
{
    checkEveryCut({Carrier::Telnet, true}, GetParam());
}

TEST_P(Ssh, readsAsARoutersLineEditor)
{
    checkEveryCut({Carrier::Ssh, true}, GetParam());
}

std::string rowName(const ::testing::TestParamInfo<Row> &info) { return info.param.name; }

const std::string Greeting(TelnetGreeting);

INSTANTIATE_TEST_SUITE_P(LineEnds, Telnet, ::testing::Values(
    Row{"crLf", "show version\r\nexit\r\n", {"show version", "exit"}, "show version\r\nexit\r\n"},
    Row{"crNul", "a\r\0b\r\0"s, {"a", "b"}, "a\r\nb\r\n"},
    Row{"loneCrAndLoneLf", "a\rb\nc\r\n", {"a", "b", "c"}, "a\r\nb\r\nc\r\n"},
    Row{"crCrIsTwoLines", "a\r\r", {"a", ""}, "a\r\n\r\n"},
    Row{"lfCrIsTwoLines", "\n\r", {"", ""}, "\r\n\r\n"},
    Row{"bareEntersKept", "\r\n\r\nx\r\n", {"", "", "x"}, "\r\n\r\nx\r\n"},
    Row{"lastLineWithoutLineEnd", "conf t\r\nend", {"conf t", "end"}, "conf t\r\nend"},
    Row{"lineOfBlanksIsNotEmpty", " \t\r", {" \t"}, " \t\r\n"}), rowName);

INSTANTIATE_TEST_SUITE_P(Erase, Telnet, ::testing::Values(
    Row{"backspaceAndDel", "shox\bw ver\x7f\x7f\x7fversion\r\n", {"show version"},
        "shox\b \bw ver\b \b\b \b\b \bversion\r\n"},
    Row{"notPastLineStart", "a\n\b\bb\n", {"a", "b"}, "a\r\nb\r\n"},
    Row{"controlsKeptNotShown", "a\x03\x1b\tb\r", {"a\x03\x1b\tb"}, "a\tb\r\n"},
    Row{"erasingAControlShowsNothing", "a\x03\b\b\r", {""}, "a\b \b\r\n"},
    Row{"highBytesShown", "caf\xe9\n", {"caf\xe9"}, "caf\xe9\r\n"}), rowName);

INSTANTIATE_TEST_SUITE_P(Commands, Telnet, ::testing::Values(
    Row{"negotiation", "\xff\xfd\x03\xff\xfb\x18show\r\n", {"show"}, "show\r\n", "\xff\xfd\x03\xff\xfb\x18"},
    Row{"optionByteIs255", "\xff\xfd\xff" "a\r", {"a"}, "a\r\n", "\xff\xfd\xff"},
    Row{"subnegotiation", "\xff\xfa\x1f\0\x50\0\x18\xff\xf0x\r"s, {"x"}, "x\r\n", "\xff\xfa\x1f\0\x50\0\x18\xff\xf0"s},
    Row{"iacIacInsideSub", "\xff\xfa\x18\xff\xff\x01\xff\xf0y\r", {"y"}, "y\r\n", "\xff\xfa\x18\xff\xff\x01\xff\xf0"},
    Row{"otherIacInsideSubStaysInside", "\xff\xfa\x18\xff\x01z\xff\xf0y\r", {"y"}, "y\r\n",
        "\xff\xfa\x18\xff\x01z\xff\xf0"},
    Row{"twoByteCommands", "\xff\xf1z\xff\xf9\r", {"z"}, "z\r\n", "\xff\xf1\xff\xf9"},
    Row{"straySe", "\xff\xf0z\r", {"z"}, "z\r\n", "\xff\xf0"},
    Row{"escaped255", "a\xff\xff" "b\n", {"a\xff" "b"}, "a\xff\xff" "b\r\n"},
    Row{"escapedThenNegotiation", "\xff\xff\xff\xfb\x01\r", {"\xff"}, "\xff\xff\r\n", "\xff\xfb\x01"},
    Row{"commandBetweenCrAndLf", "a\r\xff\xf1\nb\n", {"a", "b"}, "a\r\nb\r\n", "\xff\xf1"},
    Row{"bareEnterAfterTheGreeting", Greeting + "\r\n", {""}, "\r\n", Greeting},
    Row{"unendedSubnegotiationSwallowsTheRest", "a\xff\xfa\x18\x01still inside\r", {"a"}, "a"}), rowName);

INSTANTIATE_TEST_SUITE_P(Bytes, Ssh, ::testing::Values(
    Row{"iacIsAByte", "\xff\xfb\r", {"\xff\xfb"}, "\xff\xfb\r\n"},
    Row{"eraseAByte", "\xff\x7fok\r", {"ok"}, "\xff\b \bok\r\n"},
    Row{"crLfSplit", "a\r\nb", {"a", "b"}, "a\r\nb"}), rowName);

TEST(LineEditor, withoutEchoNothingComesBack)
{
    const Reading got = read({Carrier::Telnet, false}, {"\xff\xfb\x18show\b\r\n"});
    EXPECT_EQ(got.lines, (std::vector<std::string>{"sho"}));
    EXPECT_EQ(got.echo, "");
}

TEST(LineEditor, passwordLineIsNeitherEchoedNorShown)
{
    LineEditor editor({Carrier::Telnet, true});
    editor.setSecret(true);
    const Edited &first = editor.feed("ci\xff\xff" "sc\bo\r\nshow\r\n");
    ASSERT_EQ(first.lines.size(), 2u);
    EXPECT_EQ(first.lines[0].text, "ci\xff" "so");
    EXPECT_TRUE(first.lines[0].secret);
    EXPECT_FALSE(first.lines[1].secret) << "the line after a password is not secret";
    EXPECT_EQ(first.echo, "\r\nshow\r\n") << "only the password's line end comes back";
    EXPECT_EQ(first.shown, "********\r\nshow\r\n") << "the length stays, the bytes do not";

    editor.setSecret(true);
    EXPECT_EQ(editor.feed("\xff\xfb\x01" "ab").shown, "\xff\xfb\x01**") << "Telnet commands stay as they were";
    EXPECT_EQ(editor.feed("\xff").shown, "\xff");
    EXPECT_EQ(editor.feed("\xff" "c\r").shown, "**\r") << "an escape split across chunks";
}

TEST(LineEditor, aPromptShownWhileALineIsBegunIsForTheNextLine)
{
    LineEditor editor({Carrier::Ssh, true});
    editor.feed("ad");
    editor.setSecret(true);
    const Edited &edited = editor.feed("min\rpw\r");
    ASSERT_EQ(edited.lines.size(), 2u);
    EXPECT_FALSE(edited.lines[0].secret);
    EXPECT_TRUE(edited.lines[1].secret);
    EXPECT_EQ(edited.echo, "min\r\n\r\n");

    editor.setSecret(true);
    editor.feed("x");
    editor.setSecret(false);   // the router moved on; the line begun at its prompt stays a password
    EXPECT_TRUE(editor.feed("y\r").lines.at(0).secret);
}

TEST(LineEditor, lineByLineTheCallerChangesTheModeBetweenLines)
{
    LineEditor editor({Carrier::Telnet, true});
    const std::string_view chunk = "enable\r\nsecret\r\nshow\r\n";
    const Edited &first = editor.feedLine(chunk);
    EXPECT_EQ(first.read, 7u);
    ASSERT_EQ(first.lines.size(), 1u);
    EXPECT_EQ(first.lines[0].text, "enable");
    editor.setSecret(true);
    const Edited &second = editor.feedLine(chunk.substr(7));
    EXPECT_EQ(second.read, 8u) << "the LF of the first CR LF, then the password and its CR";
    EXPECT_EQ(second.shown, "\n******\r");
    EXPECT_EQ(second.echo, "\r\n");
    ASSERT_EQ(second.lines.size(), 1u);
    EXPECT_TRUE(second.lines[0].secret);
}

TEST(LineEditor, ctrlZQuestionMarkAndTabAreKeysOnlyWhenTheCallerSaysSo)
{
    LineEditor editor({Carrier::Telnet, true});
    EXPECT_EQ(editor.feed("ab\x1a\r\n").lines.at(0).text, "ab\x1a") << "a control byte like any other";
    editor.setCtrlZ(true);
    const Edited &ended = editor.feedLine("ab\x1a\x1ano");
    EXPECT_EQ(ended.read, 3u);
    EXPECT_EQ(ended.lines.at(0).text, "ab\x1a");
    EXPECT_EQ(ended.echo, "ab^Z\r\n");
    editor.setHelp(true);
    const Edited &help = editor.feedLine("sh ?ow\r");
    EXPECT_EQ(help.read, 4u);
    EXPECT_EQ(help.help, "sh ");
    EXPECT_EQ(help.echo, "sh ?");
    EXPECT_FALSE(help.tab);
    const Edited &tab = editor.feedLine("o\tx");
    EXPECT_EQ(tab.help, "sh o");
    EXPECT_TRUE(tab.tab);
    EXPECT_EQ(tab.echo, "o") << "Tab echoes nothing";
    editor.typeIn("w ");
    EXPECT_EQ(editor.feedLine("ver\r").lines.at(0).text, "sh ow ver") << "? and Tab are not in the line";
    editor.setSecret(true);
    EXPECT_EQ(editor.feed("\x1a?pw\r").lines.at(0).text, "\x1a?pw") << "a password may hold any byte";
}

TEST(LineEditor, aLineIsCutAtTheCapAndNothingPastItIsEchoed)
{
    LineEditor editor({Carrier::Telnet, true});
    const std::string chunk(64 * 1024, 'x');
    std::size_t echoed = 0;
    for (int i = 0; i < 50; ++i)
        echoed += editor.feed(chunk).echo.size();
    EXPECT_EQ(editor.partial().size(), LineEditor::MaxLine);
    EXPECT_EQ(echoed, LineEditor::MaxLine);
    const Edited &end = editor.feed("\b\r");
    ASSERT_EQ(end.lines.size(), 1u);
    EXPECT_EQ(end.lines[0].text.size(), LineEditor::MaxLine - 1);
    EXPECT_TRUE(end.lines[0].cut);
    EXPECT_FALSE(editor.feed("short\r").lines.at(0).cut);

    std::string sub = "\xff\xfa\x18" + std::string(1000, 'a') + "\xff\xf0";
    EXPECT_EQ(editor.feed(sub).telnet.size(), LineEditor::MaxCommand);
}

TEST(LineEditor, finishStartsAfresh)
{
    LineEditor editor({Carrier::Telnet, false});
    editor.feed("\xff\xfa\x18 half a subnegotiation");
    EXPECT_FALSE(editor.finish());
    EXPECT_EQ(editor.feed("abc\r").lines.at(0).text, "abc");
    editor.feed("\r");
    EXPECT_FALSE(editor.finish());
    EXPECT_EQ(editor.feed("\n").lines.size(), 1u) << "a CR before finish() pairs with nothing after it";
}

TEST(LineEditor, passwordPrompts)
{
    EXPECT_TRUE(asksForPassword("Password:"));
    EXPECT_TRUE(asksForPassword("\r\nEnable password: \t"));
    EXPECT_FALSE(asksForPassword("Password: x"));
    EXPECT_FALSE(asksForPassword("Router>"));
}

} // namespace

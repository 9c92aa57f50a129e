// paging_test.cpp: long answers a page at a time: the keys a client presses and what each one shows.
#include "tests/engine/commands/commands_rig.h"

#include <gtest/gtest.h>

#include <optional>

using namespace zentrel::console::commands;
using zentrel::tests::CommandsRig;

namespace {

constexpr std::string_view Router = R"(
modes:
  exec:
    prompt: "R>"
    commands:
      show long: {file: long.txt}
      show short: "s1\ns2\ns3\ns4\n"
      bye long: {file: long.txt, close: true}
      terminal length {n}: {paging: "{n}"}
paging: {length: 5, more: "-M-"}
filters: [no-more, include]
)";

// Lines l1 to l10; a page of length 5 shows 4 of them and the more text.
std::string lines(int from, int to)
{
    std::string out;
    for (int i = from; i <= to; ++i)
        out += "l" + std::to_string(i) + "\r\n";
    return out;
}
const std::string Erase = "\b\b\b   \b\b\b";

struct PagingCase {
    const char *name;
    std::vector<std::string> lines;   // typed before the keys
    std::string keys;
    std::string bytes;                // what the line and the keys sent, in order
    bool pagingAfter = false;
};

class Paging : public ::testing::TestWithParam<PagingCase>
{
protected:
    void SetUp() override
    {
        std::string text;
        for (int i = 1; i <= 10; ++i)
            text += "l" + std::to_string(i) + "\n";
        rig.dir.write("long.txt", text);
        rig.load();
    }
    CommandsRig rig{Router};
};

TEST_P(Paging, keysMoveThroughTheAnswer)
{
    auto session = rig.session();
    session->start();
    std::string sent;
    for (const std::string &line : GetParam().lines)
        sent = session->line(line).bytes;
    for (char key : GetParam().keys) {
        ASSERT_TRUE(session->wantsKeys()) << "key " << int(key);
        sent += session->key(key).bytes;
    }
    EXPECT_EQ(sent, GetParam().bytes);
    EXPECT_EQ(session->wantsKeys(), GetParam().pagingAfter);
}

std::string caseName(const ::testing::TestParamInfo<PagingCase> &info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(Keys, Paging, ::testing::Values(
    PagingCase{"firstPage", {"show long"}, "", lines(1, 4) + "-M-", true},
    PagingCase{"spaceNextPage", {"show long"}, " ", lines(1, 4) + "-M-" + Erase + lines(5, 8) + "-M-", true},
    PagingCase{"enterNextLine", {"show long"}, "\r", lines(1, 4) + "-M-" + Erase + lines(5, 5) + "-M-", true},
    PagingCase{"crLfIsOneEnter", {"show long"}, "\r\n", lines(1, 4) + "-M-" + Erase + lines(5, 5) + "-M-", true},
    PagingCase{"crNulIsOneEnter", {"show long"}, std::string("\r\0", 2), lines(1, 4) + "-M-" + Erase + lines(5, 5) + "-M-", true},
    PagingCase{"lastPageThenPrompt", {"show long"}, "  ", lines(1, 4) + "-M-" + Erase + lines(5, 8) + "-M-" + Erase + lines(9, 10) + "R>"},
    PagingCase{"quit", {"show long"}, "q", lines(1, 4) + "-M-" + Erase + "R>"},
    PagingCase{"otherKeyQuits", {"show long"}, "x", lines(1, 4) + "-M-" + Erase + "R>"},
    PagingCase{"closeWaitsForTheLastPage", {"bye long"}, "q", lines(1, 4) + "-M-" + Erase}), caseName);

INSTANTIATE_TEST_SUITE_P(Length, Paging, ::testing::Values(
    PagingCase{"fitsOnAPage", {"show short"}, "", lines(0, -1) + "s1\r\ns2\r\ns3\r\ns4\r\nR>"},
    PagingCase{"noMoreForOneAnswer", {"show long | no-more"}, "", lines(1, 10) + "R>"},
    PagingCase{"pagedAfterFiltering", {"show long | include [2-6]"}, "", lines(2, 5) + "-M-", true},
    PagingCase{"lengthZeroIsOff", {"terminal length 0", "show long"}, "", lines(1, 10) + "R>"},
    PagingCase{"shorterPages", {"terminal length 3", "show long"}, " ", lines(1, 2) + "-M-" + Erase + lines(3, 4) + "-M-", true},
    PagingCase{"lengthNotANumber", {"terminal length x"}, "", std::string(18, ' ') + "^\r\n% Invalid input detected at '^' marker.\r\nR>"},
    PagingCase{"lengthTooLong", {"terminal length 513"}, "", std::string(18, ' ') + "^\r\n% Invalid input detected at '^' marker.\r\nR>"}), caseName);

TEST_F(Paging, aLineWhilePagingEndsThePaging)
{
    auto session = rig.session();
    session->start();
    session->line("show long");
    EXPECT_EQ(session->line("show short").bytes, Erase + "s1\r\ns2\r\ns3\r\ns4\r\nR>");
    EXPECT_FALSE(session->wantsKeys());
}

TEST_F(Paging, aLineWhileAClosingAnswerPagesCloses)
{
    auto session = rig.session();
    session->start();
    session->line("bye long");
    const Reply reply = session->line("show short");
    EXPECT_EQ(reply.bytes, Erase);
    EXPECT_EQ(reply.end, Ending::Closed);
}

TEST_F(Paging, closingAnswerClosesAfterItsLastPage)
{
    auto session = rig.session();
    session->start();
    EXPECT_EQ(session->line("bye long").end, Ending::None);
    session->key(' ');
    const Reply last = session->key(' ');
    EXPECT_EQ(last.end, Ending::Closed);
    EXPECT_EQ(last.delay, 0);
}

TEST(PagingOff, untilTheClientSetsALength)
{
    CommandsRig rig(R"(
modes: {exec: {prompt: ">", commands: {show: "1\n2\n3\n"}}}
paging: {length: 0}
)");
    rig.load();
    auto session = rig.session();
    session->start();
    EXPECT_EQ(session->line("show").bytes, "1\r\n2\r\n3\r\n>");
    session->setPageLength(2);
    EXPECT_EQ(session->line("show").bytes, "1\r\n --More-- ");
}

} // namespace

// The page length a session starts with from its SSH pty's rows; `terminal length` still wins.
struct RowsCase {
    const char *name;
    const char *length;               // paging: {length:} of commands.yaml
    std::optional<std::size_t> rows;  // the pty request's height; none: no pty
    bool exec = false;
    std::vector<std::string> before;  // typed before `show`
    std::string answer;               // what `show` sends
};

class PagingRows : public ::testing::TestWithParam<RowsCase>
{
};

TEST_P(PagingRows, pageLengthFollowsThePty)
{
    const RowsCase &c = GetParam();
    CommandsRig rig(R"(
modes:
  exec:
    prompt: ">"
    commands:
      show: "1\n2\n3\n4\n"
      terminal length {n}: {paging: "{n}"}
paging: {more: "-M-", length: )" + std::string(c.length) + "}\n");
    rig.load();
    Conversation session(rig.model, rig.router, rig.files,
                         ConversationOptions{.ssh = true, .exec = c.exec, .rows = c.rows});
    session.start();
    for (const std::string &line : c.before)
        session.line(line);
    EXPECT_EQ(session.line("show").bytes, c.answer) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Rows, PagingRows,
    ::testing::Values(
        RowsCase{"the model's length without a pty", "3", std::nullopt, false, {}, "1\r\n2\r\n-M-"},
        RowsCase{"the pty's rows: one line less on a page, for the more text", "3", 4, false, {}, "1\r\n2\r\n3\r\n-M-"},
        RowsCase{"a pty of 0 rows pages nothing", "3", 0, false, {}, "1\r\n2\r\n3\r\n4\r\n>"},
        RowsCase{"a router that does not page ignores the rows", "0", 2, false, {}, "1\r\n2\r\n3\r\n4\r\n>"},
        RowsCase{"terminal length wins over the rows", "3", 50, false, {"terminal length 2"}, "1\r\n-M-"},
        RowsCase{"an exec request never pages", "3", 2, true, {}, "1\r\n2\r\n3\r\n4\r\n"}),
    [](const auto &info) { return "case" + std::to_string(info.index); });

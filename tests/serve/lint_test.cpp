// lint_test.cpp: what --lint tells about a router's files, and its exit status.
#include "serve/lint.h"

#include "platform/posix/posix_profile.h"

#include "temp_dir.h"

#include <gtest/gtest.h>


using zentrel::serve::lintRouters;
using zentrel::serve::lintScript;
using zentrel::tests::TempDir;

namespace {

std::vector<std::string> warningsOf(std::string_view script)
{
    std::vector<std::string> out;
    for (const auto &warning : lintScript(script).warnings)
        out.push_back(std::to_string(warning.line) + ": " + warning.text);
    return out;
}

TEST(Lint, scriptItemsCarryTheirLines)
{
    const auto lint = lintScript("Router>\r\n\"a,\r\nb\",c\r\n  d\r\n");
    ASSERT_EQ(lint.items.size(), 4u);
    EXPECT_EQ(lint.items[1].bytes, "a,\r\nb");
    EXPECT_EQ(lint.items[2].line, 3u);
    EXPECT_EQ(lint.items[3].bytes, "d");
    EXPECT_EQ(lint.items[3].line, 4u);
}

TEST(Lint, scriptWarningsNameTheLine)
{
    EXPECT_EQ(warningsOf("Router>\r\nUser,Password:\r\n"),
              (std::vector<std::string>{"2: 1 unquoted comma(s) split this line into 2 items; quote an item to "
                                        "keep its comma"}));
    EXPECT_EQ(warningsOf("ok\r\n   indented\r\n"),
              (std::vector<std::string>{"2: item 2: 3 leading blank(s) dropped; quote the item to keep them"}));
    EXPECT_EQ(warningsOf("\"quoted\" tail\r\n"),
              (std::vector<std::string>{"1: item 1: text after the closing quote is dropped:  tail"}));
    EXPECT_EQ(warningsOf("a\r\n\"never closed\r\n"),
              (std::vector<std::string>{"2: item 2: the quote is never closed; the item runs to the end of the "
                                        "file"}));
    EXPECT_TRUE(warningsOf("\"two\r\nlines\"\r\n").empty()) << "an answer of several lines is no mistake";
    EXPECT_EQ(warningsOf("a\r\nb\nc\nd\re\r\n"),
              (std::vector<std::string>{"2: ends with a lone LF instead of CR LF (2 lines do); the reader takes "
                                        "it as a line end",
                                        "4: ends with a lone CR instead of CR LF; the reader takes it as a line "
                                        "end"}));
    EXPECT_TRUE(warningsOf("Router>\r\n\"a,b\"\r\nPassword: \r\n").empty());
    EXPECT_TRUE(warningsOf("\"say \"\"hi\"\"\"\r\n\"\"\"\"\r\n").empty()) << "doubled quotes are one quote";
    EXPECT_EQ(warningsOf("\"a\"\"b\" c\r\n"),
              (std::vector<std::string>{"1: item 1: text after the closing quote is dropped:  c"}));
}

TEST(Lint, cleanRouterListsItemsTimesAndLength)
{
    TempDir dir;
    dir.write("r1/zentrel.ini", "[Settings]\r\nTCP-Port=2001\r\nDelay=0.5\r\n");
    dir.write("r1/RESPONSE.TXT", "Router>\r\n\"Password: \"\r\nR\xe9\tx\r\n");
    dir.write("r1/EXPECT.TXT", "admin\r\n~.*\r\n");
    zentrel::platform::PosixProfile profile;
    const auto result = lintRouters({dir.path("r1")}, profile);
    EXPECT_EQ(result.status, 0) << result.text;
    EXPECT_EQ(result.text, "router r1 (" + dir.path("r1") + ")\n"
                           "  zentrel.ini: TCP-Port 2001, Delay 0.5 s\n"
                           "  RESPONSE.TXT: 3 item(s)\n"
                           "    1  at 0.5 s  line 1  \"Router>\"\n"
                           "    2  at 1 s  line 2  \"Password:\\x20\"\n"
                           "    3  at 1.5 s  line 3  \"R\\xe9\\tx\"\n"
                           "  planned length: 1.5 s, then the close\n"
                           "  EXPECT.TXT: 2 line(s) each session must type\n");
}

TEST(Lint, settingsThatReadDifferentlyWarnAndBadPatternsAreErrors)
{
    TempDir dir;
    dir.write("r1/zentrel.ini", "[Settings]\r\nTCP-Port=0.3\r\nDelay=1,5\r\n");
    dir.write("r1/RESPONSE.TXT", "a\r\n");
    dir.write("r1/EXPECT.TXT", "a\r\n~(b\r\n");
    dir.write("r2/zentrel.ini", "[Settings]\r\nTCP-Port=1,101\r\nDelay=-2\r\n");
    zentrel::platform::PosixProfile profile;
    const auto result = lintRouters({dir.path("r1"), dir.path("r2")}, profile);
    EXPECT_EQ(result.status, 2) << "a pattern RE2 refuses stops zentrel-serve";
    const std::string r1 = dir.path("r1/"), r2 = dir.path("r2/");
    for (const std::string &line :
         {r1 + "zentrel.ini:2: warning: TCP-Port=0.3 is read as 0.3; no listener can take it, the router does not "
               "start\n",
          r1 + "zentrel.ini:3: warning: Delay=1,5 is read as 1 s\n",
          r1 + "EXPECT.TXT:2: error: the pattern (b does not compile: ",
          r2 + "zentrel.ini:2: warning: TCP-Port=1,101 is read as 1, port 1\n",
          r2 + "zentrel.ini:3: warning: Delay=-2 is negative, so 0 is taken\n",
          r2 + "RESPONSE.TXT: warning: missing; the router sends no bytes, then closes each connection\n"})
        EXPECT_NE(result.text.find(line), std::string::npos) << line << "\nin:\n" << result.text;
}

TEST(Lint, unreadableFilesExitTwo)
{
    TempDir dir;
    std::filesystem::create_directories(dir.path("r1/RESPONSE.TXT"));
    zentrel::platform::PosixProfile profile;
    const auto directory = lintRouters({dir.path("r1")}, profile);
    EXPECT_EQ(directory.status, 2);
    EXPECT_NE(directory.text.find("RESPONSE.TXT: error: cannot read: not a regular file"), std::string::npos);
    EXPECT_EQ(lintRouters({dir.path("missing")}, profile).status, 2);
}

// A command-driven router is linted by its commands.yaml, each finding with
// its file and line; a RESPONSE.TXT beside it is not played, and lint says so.
TEST(Lint, commandsFileFindingsReplaceTheScriptsItems)
{
    TempDir dir;
    dir.write("c1/commands.yaml", "modes:\n  exec:\n    prompt: \">\"\n    commands:\n      show x: {answer: a}\n");
    dir.write("c1/RESPONSE.TXT", "R>\r\n");
    dir.write("c2/commands.yaml", "modes:\n  exec:\n    prompt: \">\"\n    parent: nowhere\n");
    zentrel::platform::PosixProfile profile;
    const auto both = lintRouters({dir.path("c1")}, profile);
    EXPECT_EQ(both.status, 1) << both.text;
    EXPECT_NE(both.text.find("  commands.yaml: command-driven\n"), std::string::npos) << both.text;
    EXPECT_NE(both.text.find(dir.path("c1/RESPONSE.TXT") + ": warning: not played: commands.yaml makes the router "
                             "command-driven\n"), std::string::npos) << both.text;
    EXPECT_EQ(both.text.find("item(s)"), std::string::npos) << "the script is not listed";
    const auto broken = lintRouters({dir.path("c2")}, profile);
    EXPECT_EQ(broken.status, 2);
    EXPECT_NE(broken.text.find(dir.path("c2/commands.yaml") + ":4:13: error: unknown mode 'nowhere'\n"),
              std::string::npos) << broken.text;
}

} // namespace

// The router directories the README recommends for netmiko and Ansible: an
// answer quoted over several lines is how they are written, so --lint can
// gate a CI job on them.
TEST(Lint, theReadmesRecommendedRoutersAreClean)
{
    zentrel::platform::PosixProfile profile;
    for (const char *router : {"netmiko-ssh", "netmiko-telnet", "ansible"}) {
        const auto result = lintRouters({ZENTREL_SERVE_TESTS "/../ssh/routers/" + std::string(router)}, profile);
        EXPECT_EQ(result.status, 0) << result.text;
    }
}

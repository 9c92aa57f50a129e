// expect_file_test.cpp: EXPECT.TXT lines, patterns and escapes, and the verdict a session gets.
#include "serve/expect_file.h"

#include "temp_dir.h"

#include <gtest/gtest.h>

using zentrel::serve::ExpectError;
using zentrel::serve::ExpectFile;
using Lines = std::vector<std::string>;

namespace {

ExpectFile expectOf(std::string_view bytes)
{
    return ExpectFile::parse(bytes, "r1/EXPECT.TXT");
}

TEST(Expect, passesOnExactLinesPatternsAndEscapes)
{
    const ExpectFile expect = expectOf("admin\r\n~secret[0-9]+\r\n\r\n\\~home\r\nshow version\n~\\~.*");
    EXPECT_EQ(expect.size(), 5u);
    // Bare Enters between the commands are not commands.
    EXPECT_TRUE(expect.check({"", "admin", "secret42", "", "~home", "show version", "~x"}).pass);
}

TEST(Expect, patternMustMatchTheWholeLine)
{
    const ExpectFile expect = expectOf("~show ver\n");
    EXPECT_FALSE(expect.check({"show version"}).pass);
    EXPECT_TRUE(expect.check({"show ver"}).pass);
}

TEST(Expect, escapedTildeIsLiteralNotAPattern)
{
    const ExpectFile expect = expectOf("\\~.*\n");
    EXPECT_TRUE(expect.check({"~.*"}).pass);
    EXPECT_FALSE(expect.check({"~home"}).pass);
}

TEST(Expect, firstDifferenceNamesBothLines)
{
    const ExpectFile expect = expectOf("admin\n\nsecret\nshow version\nexit\n");
    const auto verdict = expect.check({"admin", "secret", "show ver", "exit"});
    EXPECT_FALSE(verdict.pass);
    EXPECT_EQ(verdict.position, 3u);
    EXPECT_EQ(verdict.expectLine, 4u);
    EXPECT_EQ(verdict.expected, "show version");
    EXPECT_EQ(verdict.typed, "show ver");
    EXPECT_EQ(verdict.diff, "--- r1/EXPECT.TXT\n+++ typed\n@@ -1,4 +1,4 @@\n admin\n secret\n"
                            "-show version\n+show ver\n exit\n");
}

TEST(Expect, missingAndExtraLinesFail)
{
    const ExpectFile expect = expectOf("a\nb\n");
    const auto missing = expect.check({"a"});
    EXPECT_FALSE(missing.pass);
    EXPECT_EQ(missing.position, 2u);
    EXPECT_EQ(missing.expected, "b");
    EXPECT_EQ(missing.typed, std::nullopt);
    EXPECT_EQ(missing.diff, "--- r1/EXPECT.TXT\n+++ typed\n@@ -1,2 +1 @@\n a\n-b\n");

    const auto extra = expect.check({"a", "b", "reload"});
    EXPECT_FALSE(extra.pass);
    EXPECT_EQ(extra.expected, std::nullopt);
    EXPECT_EQ(extra.typed, "reload");
    EXPECT_NE(extra.diff.find("\n+reload\n"), std::string::npos);
}

TEST(Expect, diffShowsControlBytesAndStaysShort)
{
    Lines typed;
    for (int i = 0; i < 500; ++i)
        typed.push_back("junk " + std::to_string(i));
    typed.push_back("\x1b[A");
    const auto verdict = expectOf("show version\n").check(typed);
    EXPECT_FALSE(verdict.pass);
    EXPECT_LT(std::count(verdict.diff.begin(), verdict.diff.end(), '\n'), 45);
    EXPECT_NE(verdict.diff.find("more lines of diff"), std::string::npos);
    EXPECT_EQ(expectOf("x\n").check({"\x1b[A"}).diff.find('\x1b'), std::string::npos);
}

TEST(Expect, longLineAgainstPatternFailsWithoutCrashing)
{
    // The regular expression engine recurses per byte; a flood line must not
    // take the stack with it.
    const std::string flood(200'000, 'a');
    EXPECT_FALSE(expectOf("~.*\n").check({flood}).pass);
    EXPECT_TRUE(expectOf("~.*\n").check({std::string(ExpectFile::MaxPatternSubject, 'a')}).pass);
}

TEST(Expect, invalidPatternNamesFileLineAndReason)
{
    try {
        expectOf("admin\n\n~show (version\n");
        FAIL() << "no error";
    } catch (const ExpectError &error) {
        const std::string what = error.what();
        EXPECT_EQ(what.rfind("r1/EXPECT.TXT:3: the pattern show (version does not compile: ", 0), 0u) << what;
    }
}

TEST(Expect, unreadableFileIsAnError)
{
    zentrel::tests::TempDir dir;
    EXPECT_THROW(ExpectFile::load(dir.path("EXPECT.TXT")), ExpectError);
    EXPECT_THROW(ExpectFile::load(dir.path()), ExpectError);   // a directory
    dir.write("EXPECT.TXT", "~a+\n");
    EXPECT_TRUE(ExpectFile::load(dir.path("EXPECT.TXT")).check({"aaa"}).pass);
}

} // namespace

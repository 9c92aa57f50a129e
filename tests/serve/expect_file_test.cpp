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

TEST(Expect, patternsMatchInLinearTimeWhateverTheLine)
{
    // A backtracking engine never ends on the first, and recurses per byte
    // (out of stack) on the second.
    EXPECT_FALSE(expectOf("~(a+)+$\n").check({std::string(41, 'a') + "!"}).pass);
    EXPECT_TRUE(expectOf("~.*\n").check({std::string(2'000'000, 'a')}).pass);
    // Bytes are characters of their own, 0x80 and up included.
    EXPECT_TRUE(expectOf("~R\xe9.\n").check({"R\xe9\xff"}).pass);
}

TEST(Expect, refusesWhatRe2Refuses)
{
    for (const char *pattern : {"~(a\n", "~(a)\\1\n", "~(?=a)\n", "~a{1001}\n"})
        EXPECT_THROW(expectOf(pattern), ExpectError) << pattern;
}

TEST(Expect, diffOfManyPatternsAgainstAFloodIsBounded)
{
    // Every cell of an alignment table would scan a long typed line: past
    // the bound the diff shows the lines without aligning them.
    std::string file;
    for (int i = 0; i < 1000; ++i)
        file += "~.*#\n";
    const Lines typed(1000, std::string(1000, 'x'));
    const auto verdict = expectOf(file).check(typed);
    EXPECT_FALSE(verdict.pass);
    EXPECT_EQ(verdict.position, 1u);
    EXPECT_EQ(verdict.diff.rfind("(too many lines to align", 0), 0u) << verdict.diff.substr(0, 200);
    EXPECT_NE(expectOf("~a\n~b\n").check({"a", "c"}).diff.find("-~b\n+c\n"), std::string::npos);
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
    EXPECT_EQ(zentrel::serve::loadRouterExpect(dir.path()), nullptr);   // no file: no check
    EXPECT_THROW(ExpectFile::load(dir.path("EXPECT.TXT")), ExpectError);
    EXPECT_THROW(ExpectFile::load(dir.path()), ExpectError);   // a directory
    dir.write("EXPECT.TXT", "~a+\n");
    EXPECT_TRUE(zentrel::serve::loadRouterExpect(dir.path())->check({"aaa"}).pass);
}

} // namespace

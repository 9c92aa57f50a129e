// tst_telnet.cpp: which bytes of a Telnet stream are data, however the chunks fall.
#include "console/telnet.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using zentrel::console::TelnetGreeting;
using zentrel::console::TelnetScanner;

namespace {

// The stream as a reader keeps it: data bytes as they are (IAC IAC as one
// 255), '^' for each negotiation, '!' for each two-byte command.
std::string scanned(TelnetScanner &scanner, std::string_view chunk)
{
    std::string out;
    for (const char c : chunk) {
        switch (scanner.next(c)) {
        case TelnetScanner::Byte::Data:
        case TelnetScanner::Byte::Escaped255:
            out.push_back(c);
            break;
        case TelnetScanner::Byte::Negotiation:
            out.push_back('^');
            break;
        case TelnetScanner::Byte::Command:
            out.push_back('!');
            break;
        case TelnetScanner::Byte::Inside:
            break;
        }
    }
    return out;
}

struct ScanCase {
    const char *name;
    std::string bytes;
    std::string kept;
};

class Scan : public ::testing::TestWithParam<ScanCase> {};

TEST_P(Scan, sameReadingWhereverTheChunksAreCut)
{
    const ScanCase &c = GetParam();
    TelnetScanner whole;
    EXPECT_EQ(scanned(whole, c.bytes), c.kept);
    for (std::size_t cut = 1; cut < c.bytes.size(); ++cut) {
        TelnetScanner split;
        std::string kept = scanned(split, c.bytes.substr(0, cut));
        kept += scanned(split, c.bytes.substr(cut));
        EXPECT_EQ(kept, c.kept) << "cut at " << cut;
    }
    TelnetScanner byByte;
    std::string kept;
    for (const char b : c.bytes)
        kept += scanned(byByte, std::string_view(&b, 1));
    EXPECT_EQ(kept, c.kept) << "a byte at a time";
}

INSTANTIATE_TEST_SUITE_P(TelnetScanner, Scan, ::testing::Values(
    ScanCase{"plainData", "show ver\r\n", "show ver\r\n"},
    ScanCase{"negotiation", "\xff\xfb\x18" "a\xff\xfd\x01", "^a^"},
    ScanCase{"optionByteIs255", "\xff\xfd\xff" "a", "^a"},
    ScanCase{"subnegotiation", "\xff\xfa\x1f\x01\x50\xff\xf0" "x", "^x"},
    ScanCase{"iacIacInsideSub", "\xff\xfa\x18\xff\xff\x01\xff\xf0" "y", "^y"},
    ScanCase{"otherIacInsideSubStaysInside", "\xff\xfa\x18\xff\x01z\xff\xf0" "y", "^y"},
    ScanCase{"twoByteCommand", "\xff\xf1" "z\xff\xf9", "!z!"},
    ScanCase{"straySe", "\xff\xf0" "z", "!z"},
    ScanCase{"escaped255", "a\xff\xff" "b", "a\xff" "b"},
    ScanCase{"escapedThenNegotiation", "\xff\xff\xff\xfb\x01", "\xff^"},
    ScanCase{"clientGreeting", std::string(TelnetGreeting), "^^^^^^^^"}),
    [](const ::testing::TestParamInfo<ScanCase> &info) { return info.param.name; });

TEST(TelnetScanner, aSequenceCutOffByTheEndOfTheStreamKeepsItsPlace)
{
    TelnetScanner scanner;
    EXPECT_EQ(scanned(scanner, "a\xff\xfa\x18\x01"), "a^");
    EXPECT_EQ(scanned(scanner, "still inside"), "");
    EXPECT_EQ(scanned(scanner, "\xff\xf0" "b"), "b");
}

TEST(TelnetScanner, resetForgetsTheSequenceInProgress)
{
    TelnetScanner scanner;
    EXPECT_EQ(scanned(scanner, "\xff\xfa\x18"), "^");
    scanner.reset();
    EXPECT_EQ(scanned(scanner, "abc"), "abc");
    EXPECT_EQ(scanned(scanner, "\xff"), "");
    scanner.reset();
    EXPECT_EQ(scanned(scanner, "\xff"), "") << "a lone IAC opens a command again";
    EXPECT_EQ(scanned(scanner, "\xff"), "\xff");
}

} // namespace

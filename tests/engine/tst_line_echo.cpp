// tst_line_echo.cpp: the echo a client sees as it types, over Telnet and SSH.
#include "console/line_echo.h"
#include "tests/engine/fake_connection.h"

#include <gtest/gtest.h>

#include <vector>

using zentrel::console::LineEcho;
using zentrel::testing::FakeConnection;

namespace {

struct EchoCase {
    const char *name;
    std::vector<std::string> chunks;
    std::string echo;
};

// The echo of the chunks typed one after the other into one connection.
std::string echoOf(LineEcho::Carrier carrier, const std::vector<std::string> &chunks)
{
    auto fake = std::make_unique<FakeConnection>();
    FakeConnection *client = fake.get();
    LineEcho echo(std::move(fake), carrier);
    std::string heard;
    echo.setEvents({.data = [&](std::string_view chunk) { heard.append(chunk); }, .gone = {}, .drained = {}, .ended = {}});
    std::string expectedHeard;
    for (const std::string &chunk : chunks) {
        client->type(chunk);
        expectedHeard += chunk;
    }
    EXPECT_EQ(heard, expectedHeard) << "the session hears every byte as typed";
    return client->take();
}

class TelnetEcho : public ::testing::TestWithParam<EchoCase> {};
class SshEcho : public ::testing::TestWithParam<EchoCase> {};

TEST_P(TelnetEcho, echoesAsALineEditor)
{
    EXPECT_EQ(echoOf(LineEcho::Carrier::Telnet, GetParam().chunks), GetParam().echo);
}

TEST_P(SshEcho, echoesAsALineEditor)
{
    EXPECT_EQ(echoOf(LineEcho::Carrier::Ssh, GetParam().chunks), GetParam().echo);
}

std::string caseName(const ::testing::TestParamInfo<EchoCase> &info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(Lines, TelnetEcho, ::testing::Values(
    EchoCase{"crLf", {"show ver\r\n"}, "show ver\r\n"},
    EchoCase{"crAlone", {"a\rb\r"}, "a\r\nb\r\n"},
    EchoCase{"lfAlone", {"a\nb\n"}, "a\r\nb\r\n"},
    EchoCase{"crNul", {std::string("a\r\0b", 4)}, "a\r\nb"},
    EchoCase{"crLfSplit", {"a\r", "\nb"}, "a\r\nb"},
    EchoCase{"twoEnters", {"\r\n\r\n"}, "\r\n\r\n"},
    EchoCase{"lfCr", {"\n\r"}, "\r\n\r\n"}), caseName);

INSTANTIATE_TEST_SUITE_P(Erase, TelnetEcho, ::testing::Values(
    EchoCase{"backspace", {"ab\b"}, "ab\b \b"},
    EchoCase{"del", {"ab\x7f\x7f"}, "ab\b \b\b \b"},
    EchoCase{"nothingLeft", {"a\x7f\x7f"}, "a\b \b"},
    EchoCase{"notPastLineStart", {"a\r\n\b"}, "a\r\n"},
    EchoCase{"otherControls", {"a\x03\x1b\tb"}, "a\tb"}), caseName);

// How commands are told from data is tst_telnet's; here, that none is echoed
// and that the place in a command is kept from one chunk to the next.
INSTANTIATE_TEST_SUITE_P(TelnetCommands, TelnetEcho, ::testing::Values(
    EchoCase{"negotiation", {"\xff\xfb\x18" "a\xff\xfd\x01"}, "a"},
    EchoCase{"splitNegotiation", {"a\xff", "\xfc", "\x1f" "b"}, "ab"},
    EchoCase{"escapedByte", {"\xff\xff"}, "\xff\xff"}), caseName);

INSTANTIATE_TEST_SUITE_P(Bytes, SshEcho, ::testing::Values(
    EchoCase{"iacIsAByte", {"\xff\xfb\r"}, "\xff\xfb\r\n"},
    EchoCase{"eraseAByte", {"\xff\x7f"}, "\xff\b \b"}), caseName);

TEST(LineEcho, echoGoesOutBeforeTheSessionHearsTheChunk)
{
    auto fake = std::make_unique<FakeConnection>();
    FakeConnection *client = fake.get();
    LineEcho echo(std::move(fake), LineEcho::Carrier::Ssh);
    std::string sentWhenHeard;
    echo.setEvents({.data = [&](std::string_view) { sentWhenHeard = client->take(); }, .gone = {}, .drained = {}, .ended = {}});
    client->type("terminal width 511\n");
    EXPECT_EQ(sentWhenHeard, "terminal width 511\r\n");
}

TEST(LineEcho, nothingIsEchoedToAClientThatHasGone)
{
    auto fake = std::make_unique<FakeConnection>();
    FakeConnection *client = fake.get();
    LineEcho echo(std::move(fake), LineEcho::Carrier::Telnet);
    bool gone = false;
    echo.setEvents({.data = [](std::string_view) {}, .gone = [&] { gone = true; }, .drained = {}, .ended = {}});
    client->leave();
    client->type("late\r");
    EXPECT_TRUE(gone);
    EXPECT_TRUE(echo.isGone());
    EXPECT_EQ(client->take(), "");
}

} // namespace

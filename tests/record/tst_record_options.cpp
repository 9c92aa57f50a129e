// tst_record_options.cpp: zentrel-record's command line and the output directory it accepts.
#include "record/options.h"
#include "record/router_dir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace zentrel::record;

namespace {

std::optional<Options> parse(std::vector<std::string> words, std::string &error)
{
    words.insert(words.begin(), "zentrel-record");
    std::vector<char *> argv;
    for (std::string &word : words)
        argv.push_back(word.data());
    return parseOptions(int(argv.size()), argv.data(), error);
}

} // namespace

TEST(RecordOptions, addressesAndValues)
{
    std::string error;
    auto o = parse({"--listen", "2323", "--to", "router.lab:23"}, error);
    ASSERT_TRUE(o) << error;
    EXPECT_EQ(o->listenAddress, "127.0.0.1");
    EXPECT_EQ(o->listenPort, 2323);
    EXPECT_EQ(o->routerHost, "router.lab");
    EXPECT_EQ(o->routerPort, "23");
    EXPECT_EQ(o->out, ".");
    EXPECT_EQ(o->sessions, 1);

    o = parse({"--listen", "[::1]:0", "--to", "[::1]:1101", "--out", "d", "--sessions", "3",
               "--timeout", "2.5", "--force", "--keep-secrets"}, error);
    ASSERT_TRUE(o) << error;
    EXPECT_EQ(o->listenAddress, "::1");
    EXPECT_EQ(o->listenPort, 0);
    EXPECT_EQ(o->routerHost, "::1");
    EXPECT_EQ(o->sessions, 3);
    EXPECT_DOUBLE_EQ(o->timeout, 2.5);
    EXPECT_TRUE(o->force && o->keepSecrets);
    EXPECT_FALSE(o->ssh || o->commands);

    ::setenv("ZENTREL_RECORD_PASSWORD", "from-env", 1);
    o = parse({"--listen", "0", "--to", "r:22", "--ssh", "--host-key", "k", "--user", "ops", "--commands"}, error);
    ASSERT_TRUE(o) << error;
    EXPECT_TRUE(o->ssh && o->commands);
    EXPECT_EQ(o->hostKey, "k");
    EXPECT_EQ(o->user, "ops");
    EXPECT_EQ(o->password, "from-env");
    o = parse({"--listen", "0", "--to", "r:22", "--ssh", "--password", "given"}, error);
    ASSERT_TRUE(o) << error;
    EXPECT_EQ(o->password, "given");
    ::unsetenv("ZENTREL_RECORD_PASSWORD");
}

TEST(RecordOptions, mistakesAreOneLineNamingThem)
{
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--to", "h:1"}, "--listen [ADDR:]PORT is required"},
        {{"--listen", "1"}, "--to HOST:PORT is required"},
        {{"--listen", "70000", "--to", "h:1"}, "--listen 70000: not a port from 0 to 65535"},
        {{"--listen", ":5", "--to", "h:1"}, "--listen :5: no address before the port"},
        {{"--listen", "1", "--to", "h"}, "--to h: expected HOST:PORT with a port from 1 to 65535"},
        {{"--listen", "1", "--to", "h:0"}, "--to h:0: expected HOST:PORT with a port from 1 to 65535"},
        {{"--listen", "1", "--to", "h:1", "--sessions", "0"},
         "--sessions 0: expected a whole number from 1 to 65535"},
        {{"--listen", "1", "--to", "h:1", "--timeout", "-1"},
         "--timeout -1: expected a number of seconds above 0"},
        {{"--listen", "1", "--to", "h:1", "--out"}, "--out needs a value"},
        {{"--listen", "1", "--to", "h:1", "--bogus"}, "unknown option --bogus (see --help)"},
        {{"--listen", "1", "--to", "h:1", "--user", "ops"}, "--host-key, --user and --password go with --ssh"},
        {{"--listen", "1", "--to", "h:1", "--ssh", "--user", ""}, "--user needs a value"},
    };
    for (const auto &[words, message] : cases) {
        std::string error;
        EXPECT_FALSE(parse(words, error));
        EXPECT_EQ(error, message);
    }
}

TEST(RecordOptions, outputDirectoryThatIsNotEmptyNeedsForce)
{
    namespace fs = std::filesystem;
    const fs::path base = fs::temp_directory_path() / ("zentrel-record-options-" + std::to_string(::getpid()));
    fs::remove_all(base);
    std::string error;
    EXPECT_TRUE(outputDirUsable((base / "new").string(), false, error)) << "made when needed";
    fs::create_directories(base / "empty");
    EXPECT_TRUE(outputDirUsable((base / "empty").string(), false, error));
    std::ofstream(base / "empty" / "RESPONSE.TXT") << "x";
    EXPECT_FALSE(outputDirUsable((base / "empty").string(), false, error));
    EXPECT_NE(error.find("is not empty; --force"), std::string::npos) << error;
    EXPECT_TRUE(outputDirUsable((base / "empty").string(), true, error));
    EXPECT_FALSE(outputDirUsable((base / "empty" / "RESPONSE.TXT").string(), true, error));
    EXPECT_NE(error.find("is not a directory"), std::string::npos) << error;
    fs::remove_all(base);
}

// tst_serve_starters.cpp: zentrel-serve --router NAME and --routers, as a real process.
#include "serve_rig.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>

using namespace zentrel::tests;

namespace {

const std::string Ini = "[Settings]\r\nTCP-Port=1101\r\nDelay=0\r\n";

// ZENTREL_STARTERS for the processes started while it lives.
class StartersFolder
{
public:
    explicit StartersFolder(const std::string &folder) { ::setenv("ZENTREL_STARTERS", folder.c_str(), 1); }
    ~StartersFolder() { ::unsetenv("ZENTREL_STARTERS"); }
};

std::string joinedLines(const std::vector<std::string> &lines)
{
    std::string text;
    for (const std::string &line : lines)
        text += line + "\n";
    return text;
}

} // namespace

TEST(ServeStarters, servesAStarterByNameBesideADirectoryWithCopies)
{
    ScratchDir scratch;
    scratch.router("starters/lab1", nullptr, Ini);
    scratch.write("starters/lab1/commands.yaml", "# lab1: a router of this test\n"
                                                 "start: exec\n"
                                                 "modes:\n"
                                                 "  exec:\n"
                                                 "    prompt: \"lab one>\"\n"
                                                 "    commands:\n"
                                                 "      exit: {close: true}\n");
    const std::string dir = scratch.router("edge", "edge\r\n", Ini);
    StartersFolder folder(scratch.path() + "/starters");

    ServeProcess serve({"--port", "0", "--copies", "2", dir, "--router", "lab1"});
    const auto ports = serve.ports();
    ASSERT_EQ(ports.size(), 4u) << serve.stderrText();
    Client lab(ports.at("lab1-2"));
    lab.send("exit\r\n");
    EXPECT_NE(lab.readAll().find("lab one>exit\r\n"), std::string::npos);
    EXPECT_EQ(Client(ports.at("edge-1")).readAll(), "edge");
    serve.signal(SIGTERM);
    EXPECT_EQ(serve.wait(), 0);
}

TEST(ServeStarters, theShippedStartersAreFoundWithoutAFolderGiven)
{
    ServeProcess list({"--routers"}, false);
    EXPECT_EQ(list.wait(), 0) << list.stderrText();
    const std::string text = "\n" + joinedLines(list.events());
    for (const char *name : {"arista_eos", "cisco_ios", "cisco_nxos", "juniper_junos"})
        EXPECT_NE(text.find(std::string("\n") + name + " "), std::string::npos) << name << "\n" << text;
    EXPECT_NE(text.find("cisco_ios      a small lab router"), std::string::npos) << text;

    ServeProcess serve({"--port", "0", "--router", "juniper_junos", "--router", "cisco_ios"});
    const auto ports = serve.ports();
    EXPECT_TRUE(ports.count("juniper_junos") && ports.count("cisco_ios")) << serve.stderrText();
    serve.signal(SIGTERM);
    EXPECT_EQ(serve.wait(), 0);
}

TEST(ServeStarters, listsTheFolderGivenAndRefusesAnUnknownNameNamingEveryStarter)
{
    ScratchDir scratch;
    for (const char *name : {"alpha", "beta", "notes"})
        scratch.router(std::string("starters/") + name, nullptr, Ini);
    scratch.write("starters/beta/commands.yaml", "# beta: the second one\nhostname: b\n");
    scratch.write("starters/alpha/commands.yaml", "hostname: a\n");
    scratch.write("starters/notes/README", "not a router\n");
    StartersFolder folder(scratch.path() + "/starters");

    ServeProcess list({"--routers"}, false);
    EXPECT_EQ(list.wait(), 0) << list.stderrText();
    EXPECT_EQ(joinedLines(list.events()), "alpha  \nbeta   the second one\n");

    for (const char *name : {"gamma", "notes", "../starters/beta"}) {
        ServeProcess serve({"--port", "0", "--router", name}, false);
        EXPECT_EQ(serve.wait(), 2) << name;
        const std::string text = serve.stderrText();
        EXPECT_EQ(text, std::string("zentrel-serve: --router ") + name
                            + ": no starter of that name; the starters are alpha, beta\n");
        EXPECT_TRUE(serve.events().empty());
    }

    StartersFolder empty(scratch.path() + "/nowhere");
    ServeProcess none({"--routers"}, false);
    EXPECT_EQ(none.wait(), 2);
    EXPECT_NE(none.stderrText().find("no starter routers in " + scratch.path() + "/nowhere"),
              std::string::npos) << none.stderrText();
}

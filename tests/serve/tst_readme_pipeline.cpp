// tst_readme_pipeline.cpp: the README's CI step, run as it stands against the built zentrel-serve.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>

namespace {

std::string readmeStep()
{
    std::ifstream in(std::string(ZENTREL_SOURCE_DIR) + "/README.md");
    std::stringstream text;
    text << in.rdbuf();
    const std::string readme = text.str();
    const std::size_t intro = readme.find("A CI step that starts two routers");
    const std::size_t start = readme.find("```sh\n", intro);
    const std::size_t end = readme.find("```\n", start + 6);
    if (intro == std::string::npos || start == std::string::npos || end == std::string::npos)
        return {};
    return readme.substr(start + 6, end - start - 6);
}

} // namespace

TEST(ReadmePipeline, startsRoutersRunsTheLoginScriptAndStopsThem)
{
    if (std::system("command -v expect >/dev/null && command -v telnet >/dev/null") != 0)
        GTEST_SKIP() << "expect or telnet is not installed (scripts/install-deps)";
    std::string step = readmeStep();
    ASSERT_FALSE(step.empty()) << "no CI step in README.md";
    const std::string program = "build/zentrel-serve";
    const std::size_t at = step.find(program);
    ASSERT_NE(at, std::string::npos);
    step.replace(at, program.size(), ZENTREL_SERVE_BINARY);

    const std::string script = ::testing::TempDir() + "readme-step.sh";
    std::ofstream(script) << step;
    const std::string command = "cd '" ZENTREL_SOURCE_DIR "' && timeout 60 sh '" + script + "' 2>&1";
    FILE *pipe = ::popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string output;
    char buffer[4096];
    while (const std::size_t got = std::fread(buffer, 1, sizeof buffer, pipe))
        output.append(buffer, got);
    const int status = ::pclose(pipe);
    EXPECT_EQ(WEXITSTATUS(status), 0) << output;
    EXPECT_NE(output.find("login.exp: session complete"), std::string::npos) << output;
    EXPECT_NE(output.find("\"router\":\"core\",\"session\":1,"), std::string::npos) << output;
    EXPECT_NE(output.find("\"reason\":\"script-exhausted\",\"items_sent\":12,\"items\":12"),
              std::string::npos) << output;
}

// match_benchmark.cpp: what one typed line costs in a mode of 10 commands and in one of 5,000, run by hand.
#include "console/commands/conversation.h"
#include "console/commands/model.h"
#include "console/commands/router_state.h"
#include "platform/posix/posix_text_files.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

using namespace zentrel::console::commands;

namespace {

// A router whose exec mode holds `count` commands: the few every test
// types, then "show item<i> ..." words, variables and patterns, as a big
// generated router would.
ModelPtr routerOf(int count, bool patterns)
{
    static zentrel::platform::PosixTextFiles files;
    const std::filesystem::path dir = std::filesystem::temp_directory_path()
        / ("zentrel-match-" + std::to_string(count) + (patterns ? "p" : "w"));
    std::filesystem::create_directories(dir);
    std::string yaml = "modes:\n  exec:\n    prompt: \"R>\"\n    commands:\n"
                       "      show version: \"Version 1\\n\"\n"
                       "      show interfaces {name} counters: \"counters of {name}\\n\"\n"
                       "      ping {host}: \"ping {host}\\n\"\n"
                       "      \"~trace (?P<host>\\\\S+)\": \"trace {host}\\n\"\n";
    for (int i = 4; i < count; ++i) {
        const std::string n = std::to_string(i);
        if (patterns && i % 2 == 0)
            yaml += "      \"~item" + n + " (?P<x>[0-9]+)( more)?\": \"pattern " + n + "\\n\"\n";
        else if (i % 3 == 0)
            yaml += "      show item" + n + " {x} detail: \"item " + n + "\\n\"\n";
        else
            yaml += "      show item" + n + " brief: \"item " + n + "\\n\"\n";
    }
    std::ofstream(dir / CommandsFile) << yaml;
    ModelPtr model = loadModel(dir.string(), files);
    std::filesystem::remove_all(dir);   // no answer comes from a file
    return model;
}

const std::vector<std::string> Lines{
    "show version", "sh ver", "show interfaces Eth7 counters", "ping 10.0.0.1", "trace 10.0.0.9", "show bogus",
};

void matchLines(benchmark::State &state, bool patterns)
{
    const ModelPtr model = routerOf(int(state.range(0)), patterns);
    const CommandIndex &index = model->modes[0].index;
    for (auto _ : state)
        for (const std::string &line : Lines)
            benchmark::DoNotOptimize(index.match(line));
    state.SetItemsProcessed(std::int64_t(state.iterations() * Lines.size()));
}

void BM_MatchWords(benchmark::State &state) { matchLines(state, false); }
void BM_MatchWordsAndPatterns(benchmark::State &state) { matchLines(state, true); }

// A whole answer: match, render, CR LF and the prompt.
void BM_ConversationLine(benchmark::State &state)
{
    static zentrel::platform::PosixTextFiles files;
    const ModelPtr model = routerOf(int(state.range(0)), false);
    auto router = std::make_shared<RouterState>(*model);
    Conversation session(model, router, files, {.ssh = true});
    session.start();
    for (auto _ : state)
        benchmark::DoNotOptimize(session.line("sh int Eth7 counters"));
    state.SetItemsProcessed(std::int64_t(state.iterations()));
}

BENCHMARK(BM_MatchWords)->Arg(10)->Arg(5000);
BENCHMARK(BM_MatchWordsAndPatterns)->Arg(10)->Arg(5000);
BENCHMARK(BM_ConversationLine)->Arg(10)->Arg(5000);

} // namespace

BENCHMARK_MAIN();

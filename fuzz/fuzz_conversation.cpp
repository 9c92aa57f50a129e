// fuzz_conversation.cpp: libFuzzer target for a session with each starter router: lines and keys a client types.
//
// The input picks a starter and gives what a client types: lines (fed to
// line(), a line ending in ? or Tab to help() or complete(), or byte by byte to key() while an answer is
// paged; a line ending in Ctrl-Z leaves a config mode). Beyond "no
// crash" (filters, patterns, candidates, questions, Junos statements):
// - the router's running config never passes its bound;
// - a reply holds at most a page of a long answer while paging is on, so
//   no reply is bigger than the biggest thing the router can show.
#include "console/commands/conversation.h"
#include "platform/posix/posix_text_files.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

using namespace zentrel::console::commands;

constexpr const char *Starters[] = {"cisco_ios", "cisco_nxos", "arista_eos", "juniper_junos"};
constexpr std::size_t MostReply = 8u << 20;

zentrel::platform::PosixTextFiles files;

const ModelPtr &starter(std::size_t which)
{
    static ModelPtr models[std::size(Starters)];
    if (!models[which])
        models[which] = loadModel(std::string(ZENTREL_ROUTERS) + "/" + Starters[which], files);
    return models[which];
}

void check(bool holds)
{
    if (!holds)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *bytes, std::size_t size)
{
    FuzzedDataProvider data(bytes, size);
    const ModelPtr &model = starter(data.ConsumeIntegralInRange<std::size_t>(0, std::size(Starters) - 1));
    auto router = std::make_shared<RouterState>(*model);
    Conversation session(model, router, files, {.ssh = data.ConsumeBool(), .user = "fuzz"});
    session.start();
    for (int i = 0; i < 64 && data.remaining_bytes() > 0 && !session.ended(); ++i) {
        const std::string typed = data.ConsumeRandomLengthString(1024);
        Reply reply;
        if (session.wantsKeys()) {
            for (char c : typed)
                reply.bytes += session.key(c).bytes;
        } else if (session.helpKey() && !typed.empty() && (typed.back() == '?' || typed.back() == '\t')) {
            const std::string_view partial = std::string_view(typed).substr(0, typed.size() - 1);
            reply = typed.back() == '?' ? session.help(partial) : session.complete(partial);
        } else {
            reply = session.line(typed);
        }
        check(reply.bytes.size() <= MostReply);
        check(router->running().bytes() <= ConfigTree::MaxBytes);
    }
    return 0;
}

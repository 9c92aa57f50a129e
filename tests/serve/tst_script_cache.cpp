// tst_script_cache.cpp: the script cache against real files: shared while unchanged, re-read when changed.
#include "serve/script_cache.h"
#include "platform/error.h"
#include "serve_rig.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

using zentrel::serve::ScriptCache;
using zentrel::tests::ScratchDir;

namespace {

std::vector<std::string> itemsOf(const zentrel::console::ScriptPtr &script)
{
    std::vector<std::string> items;
    for (std::size_t i = 0; i < script->size(); ++i)
        items.emplace_back(script->item(i));
    return items;
}

} // namespace

TEST(ScriptCache, sharesOneScriptUntilTheFileChanges)
{
    ScratchDir scratch;
    scratch.write("RESPONSE.TXT", "a,b\r\n");
    const std::string path = scratch.path() + "/RESPONSE.TXT";
    ScriptCache cache;
    const auto first = cache.get(path);
    EXPECT_EQ(first, cache.get(path));
    EXPECT_EQ(itemsOf(first), (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(cache.loads(), 1u);

    // Same size, rewritten at once: still seen as changed.
    scratch.write("RESPONSE.TXT", "c,d\r\n");
    EXPECT_EQ(itemsOf(cache.get(path)), (std::vector<std::string>{"c", "d"}));
    // Replaced by another file under the name.
    scratch.write("other", "e\r\n");
    ASSERT_EQ(::rename((scratch.path() + "/other").c_str(), path.c_str()), 0);
    EXPECT_EQ(itemsOf(cache.get(path)), (std::vector<std::string>{"e"}));
    EXPECT_EQ(cache.loads(), 3u);

    ::unlink(path.c_str());
    EXPECT_EQ(cache.get(path)->size(), 0u);
}

TEST(ScriptCache, aDirectoryIsNoScriptAndOutOfDescriptorsIsTransient)
{
    ScratchDir scratch;
    scratch.write("RESPONSE.TXT", "a\r\n");
    const std::string path = scratch.path() + "/RESPONSE.TXT";
    ScriptCache cache;
    ::mkdir((scratch.path() + "/dir").c_str(), 0755);
    EXPECT_THROW(cache.get(scratch.path() + "/dir"), zentrel::platform::Error);

#ifdef ZENTREL_SANITIZED
    // The sanitizers check each new object through a pipe of their own, which
    // cannot be made while every descriptor is taken.
    GTEST_SKIP() << "out of descriptors, the sanitizers report themselves";
#endif
    rlimit saved {};
    ::getrlimit(RLIMIT_NOFILE, &saved);
    rlimit low = saved;
    low.rlim_cur = 64;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    std::vector<int> hogs;
    for (int fd; (fd = ::open("/dev/null", O_RDONLY)) >= 0;)
        hogs.push_back(fd);
    int code = 0;
    try {
        cache.get(path);
    } catch (const zentrel::platform::Error &error) {
        code = error.code();
    }
    for (int fd : hogs)
        ::close(fd);
    ::setrlimit(RLIMIT_NOFILE, &saved);
    EXPECT_EQ(code, zentrel::platform::TooManyFiles);
    EXPECT_EQ(itemsOf(cache.get(path)), std::vector<std::string>{"a"});
}

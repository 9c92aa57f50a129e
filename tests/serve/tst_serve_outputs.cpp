// tst_serve_outputs.cpp: zentrel-serve's outputs against a stalled reader, planted links and a host key that is no file.
#include "serve_rig.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace zentrel::tests;
namespace fs = std::filesystem;

namespace {

const std::string Ini = "[Settings]\r\nDelay=0\r\n";

// The FIFO's read end, opened before zentrel-serve opens the write end.
struct FifoReader {
    int fd = -1;
    std::string buffer;
    explicit FifoReader(const std::string &path)
    {
        ::mkfifo(path.c_str(), 0600);
        fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        ::fcntl(fd, F_SETPIPE_SZ, 4096);   // full after a few sessions' events
    }
    ~FifoReader() { ::close(fd); }
    // Reads until a line holding `text` came (true), or the timeout.
    bool until(const std::string &text, double seconds = 10)
    {
        for (int waited = 0; waited < seconds * 100; ++waited, ::usleep(10000)) {
            char block[65536];
            for (ssize_t n; (n = ::read(fd, block, sizeof block)) > 0;)
                buffer.append(block, std::size_t(n));
            if (buffer.find(text) != std::string::npos)
                return true;
        }
        return false;
    }
};

std::string victim(const ScratchDir &scratch)
{
    scratch.write("victim", "precious");
    return scratch.path() + "/victim";
}

} // namespace

// Nobody reads the events: every client is still served, SIGTERM still ends
// the run, and what the reader never took is said on stderr.
TEST(ServeOutputs, aStalledEventsReaderStopsNoRouter)
{
    ScratchDir scratch;
    const std::string dir = scratch.router("edge", "\"R>\"\r\n", Ini);
    const std::string fifo = scratch.path() + "/events";
    FifoReader reader(fifo);
    ServeProcess serve({"--port", "0", "--events", fifo, dir}, false);
    ASSERT_TRUE(reader.until("\"event\":\"ready\"")) << serve.stderrText();
    const int port = std::stoi(field(reader.buffer, "port"));   // the first event: listening

    // Far more events than the pipe holds, none of them read.
    for (int n = 0; n < 60; ++n) {
        Client client(port);
        ASSERT_EQ(client.readAll(5), "R>") << "client " << n << " was not served\n" << serve.stderrText();
    }
    serve.signal(SIGTERM);
    EXPECT_EQ(serve.wait(5), 0) << serve.stderrText();
    EXPECT_NE(serve.stderrText().find("events: the reader did not take the last"), std::string::npos)
        << serve.stderrText();
    reader.until("\"event\":\"exit\"", 0.5);   // what the pipe still holds: whole lines
    EXPECT_EQ(reader.buffer.back(), '\n');
}

// Nobody reads stderr (a pipe its parent never drains): every client is
// still served, the reader gets every line once it reads, and SIGTERM still
// ends the run.
TEST(ServeOutputs, aStderrNobodyReadsStopsNoRouter)
{
    ScratchDir scratch;
    const std::string dir = scratch.router("edge", "\"R>\"\r\n", Ini);
    int err[2];
    ASSERT_EQ(::pipe2(err, O_CLOEXEC), 0);
    ::fcntl(err[1], F_SETPIPE_SZ, 4096);   // full after a few dozen sessions' lines
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(err[1], STDERR_FILENO);
        ::dup2(::open("/dev/null", O_WRONLY), STDOUT_FILENO);
        ::execl(ZENTREL_SERVE_BINARY, ZENTREL_SERVE_BINARY, "--port", "0", dir.c_str(), nullptr);
        ::_exit(127);
    }
    ::close(err[1]);
    std::string text;
    const auto readFor = [&](double seconds, const std::string &until) {
        ::fcntl(err[0], F_SETFL, O_NONBLOCK);
        for (int waited = 0; waited < seconds * 100 && text.find(until) == std::string::npos; ++waited) {
            char block[65536];
            for (ssize_t n; (n = ::read(err[0], block, sizeof block)) > 0;)
                text.append(block, std::size_t(n));
            ::usleep(10000);
        }
        return text.find(until) != std::string::npos;
    };
    ASSERT_TRUE(readFor(10, "\n")) << text;   // "edge listening on ADDRESS:PORT"
    const std::size_t colon = text.rfind(':', text.find('\n'));
    const int port = std::atoi(text.c_str() + colon + 1);
    ASSERT_GT(port, 0) << text;

    for (int n = 0; n < 100; ++n) {
        Client client(port);
        ASSERT_EQ(client.readAll(5), "R>") << "client " << n << " was not served";
    }
    // Queued meanwhile (beyond 256 KiB they would be dropped and counted),
    // and once read, every line whole.
    EXPECT_TRUE(readFor(10, "edge session 100 from")) << text;
    EXPECT_EQ(text.find("dropped"), std::string::npos) << text;
    ::kill(pid, SIGTERM);
    int status = -1;
    for (int waited = 0; waited < 1000 && ::waitpid(pid, &status, WNOHANG) == 0; ++waited)
        ::usleep(10000);
    ::close(err[0]);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// A link in a place others can write is not followed to a file; a link the
// user made to a stream is (standard output as /dev/stdout).
TEST(ServeOutputs, nothingIsWrittenThroughAPlantedLink)
{
    ScratchDir scratch;
    const std::string dir = scratch.router("edge", "\"R>\"\r\n", Ini);
    const std::string target = victim(scratch);
    fs::create_symlink(target, scratch.path() + "/events.jsonl");
    fs::create_symlink(target, scratch.path() + "/report.xml");
    fs::create_directory(scratch.path() + "/casts");
    fs::create_symlink(target, scratch.path() + "/casts/edge-1.cast");

    ServeProcess events({"--port", "0", "--events", scratch.path() + "/events.jsonl", dir}, false);
    EXPECT_EQ(events.wait(), 2);
    EXPECT_NE(events.stderrText().find("events.jsonl: is a symbolic link to a file"), std::string::npos)
        << events.stderrText();
    ServeProcess junit({"--port", "0", "--junit", scratch.path() + "/report.xml", dir});
    EXPECT_EQ(junit.wait(), 2);
    EXPECT_NE(junit.stderrText().find("report.xml: is a symbolic link"), std::string::npos) << junit.stderrText();

    ServeProcess casts({"--port", "0", "--connections", "1", "--transcripts", scratch.path() + "/casts", dir});
    EXPECT_EQ(Client(casts.ports().at("edge")).readAll(), "R>");
    EXPECT_EQ(casts.wait(), 1) << "a transcript that could not be written";
    EXPECT_NE(casts.stderrText().find("edge-1.cast: is a symbolic link; not written through it"), std::string::npos)
        << casts.stderrText();
    EXPECT_EQ(scratch.read("victim"), "precious");

    ServeProcess stdoutLink({"--port", "0", "--connections", "1", "--events", "/dev/stdout", dir}, false);
    EXPECT_EQ(Client(stdoutLink.ports().at("edge")).readAll(), "R>");
    EXPECT_EQ(stdoutLink.wait(), 0) << stdoutLink.stderrText();
    EXPECT_EQ(named(stdoutLink.events(), "session-end").size(), 1u);
}

// A host key that is a FIFO would hold open(2) for ever, before anything
// could stop the program; one that others can read is taken with a warning.
TEST(ServeOutputs, hostKeyMustBeAPrivateRegularFile)
{
    ScratchDir scratch;
    const std::string dir = scratch.router("edge", "\"R>\"\r\n", Ini);
    const std::string fifo = scratch.path() + "/fifo_key";
    ::mkfifo(fifo.c_str(), 0600);
    ServeProcess fifoKey({"--port", "0", "--ssh-port", "0", "--host-key", fifo, dir});
    EXPECT_EQ(fifoKey.wait(5), 2);
    EXPECT_NE(fifoKey.stderrText().find("fifo_key: cannot be read: not a regular file"), std::string::npos)
        << fifoKey.stderrText();

    const std::string key = scratch.path() + "/key";
    ASSERT_EQ(std::system(("ssh-keygen -q -t ed25519 -N '' -f " + key + " >/dev/null").c_str()), 0);
    ::chmod(key.c_str(), 0644);
    ServeProcess readable({"--port", "0", "--ssh-port", "0", "--host-key", key, dir});
    ASSERT_TRUE(readable.until("ready")) << readable.stderrText();
    const auto warnings = named(readable.events(), "warning");
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(field(warnings[0], "text").find("can be read by others than its owner (mode 0644)"), std::string::npos);
    readable.signal(SIGTERM);
    EXPECT_EQ(readable.wait(), 0);
}

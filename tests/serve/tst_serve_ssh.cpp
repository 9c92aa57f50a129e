// tst_serve_ssh.cpp: zentrel-serve's SSH ports, echo and turn-taking, as a real process.
#include "serve_rig.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <fstream>
#include <thread>

using namespace zentrel::tests;

namespace {

struct StartCase {
    const char *name;
    std::string ini;
    std::vector<std::string> options;
    std::vector<std::string> saysAll;   // every piece is in the one-line error
};

class SshStartUp : public ::testing::TestWithParam<StartCase> {};

TEST_P(SshStartUp, refusesBadSettingsBeforeListening)
{
    ScratchDir scratch;
    std::vector<std::string> arguments = GetParam().options;
    arguments.push_back(scratch.router("edge", "\"R>\"\r\n", GetParam().ini));
    ServeProcess serve(arguments);
    EXPECT_EQ(serve.wait(), 2);
    const std::string text = serve.stderrText();
    for (const std::string &piece : GetParam().saysAll)
        EXPECT_NE(text.find(piece), std::string::npos) << "missing '" << piece << "' in: " << text;
    EXPECT_TRUE(named(serve.events(), "listening").empty());
}

INSTANTIATE_TEST_SUITE_P(Values, SshStartUp, ::testing::Values(
    StartCase{"pace", "[Settings]\r\nPace=Sometimes\r\n", {"--port", "0"}, {"edge", "Pace", "Sometimes"}},
    StartCase{"echo", "[Settings]\r\nEcho=Maybe\r\n", {"--port", "0"}, {"edge", "Echo", "Maybe"}},
    StartCase{"sshPort", "[Settings]\r\nSSH-Port=70000\r\n", {"--port", "0"}, {"edge", "SSH-Port", "70000"}},
    StartCase{"hostKey", "[Settings]\r\n", {"--port", "0", "--ssh-port", "0", "--host-key", "/nonexistent/key"},
              {"edge", "/nonexistent/key"}}),
    [](const auto &info) { return std::string(info.param.name); });

// The resident set of a process, in KiB.
long residentKiB(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stol(line.substr(6));
    return -1;
}

std::map<std::string, int> portsByProtocol(ServeProcess &serve)
{
    std::map<std::string, int> ports;
    serve.until("ready");
    for (const std::string &event : named(serve.events(), "listening"))
        ports[field(event, "protocol")] = std::stoi(field(event, "port"));
    return ports;
}

} // namespace

TEST(ServeSsh, telnetEchoAndTurnTaking)
{
    ScratchDir scratch;
    const std::string dir = scratch.router("edge", "\"R1>\",\"one\r\nR1>\"\r\n",
                                           "[Settings]\r\nDelay=0.05\r\nEcho=Yes\r\nPace=Enter\r\n");
    ServeProcess serve({"--port", "0", "--connections", "1", dir});
    Client client(portsByProtocol(serve)["telnet"]);
    EXPECT_EQ(joined(client.read(3)), "R1>");
    client.send("\r\n");
    EXPECT_EQ(joined(client.read(5)), "\r\nR1>") << "a bare Enter: its echo and the prompt";
    client.send("x\x7fy\r\n");
    const std::string rest = client.readAll();
    EXPECT_EQ(rest, "x\b \by\r\none\r\nR1>");
    EXPECT_EQ(serve.wait(), 0);
}

// A client that sends a flood of bare Enters and reads nothing, with a long
// prompt and the echo on: what it asks for stops at the high-water mark, the
// rest of its bytes wait in the kernel, and the process stays small.
TEST(ServeSsh, aClientThatFloodsAndNeverReadsCostsABoundedAmount)
{
    ScratchDir scratch;
    const std::string script = "\"" + std::string(1024, '-') + "R1>\",\"never\"\r\n";
    const std::string dir = scratch.router("edge", script.c_str(),
                                           "[Settings]\r\nDelay=0\r\nEcho=Yes\r\nPace=Enter\r\n");
    ServeProcess serve({"--port", "0", dir});
    const int port = portsByProtocol(serve)["telnet"];
    const long before = residentKiB(serve.pid());

    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_TRUE(::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0 || errno == EINPROGRESS);
    const std::string enters(64 * 1024, '\r');
    std::size_t sent = 0;
    for (int idle = 0; sent < (1u << 20) && idle < 50;) {
        pollfd writable{fd, POLLOUT, 0};
        if (::poll(&writable, 1, 10) <= 0) {
            ++idle;
            continue;
        }
        const ssize_t n = ::send(fd, enters.data(), std::min(enters.size(), (1u << 20) - sent), MSG_NOSIGNAL);
        if (n > 0)
            sent += std::size_t(n);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    const long after = residentKiB(serve.pid());
    ::close(fd);
    EXPECT_GT(sent, 0u);
    // A prompt answered for every one of those Enters would be a gigabyte.
    EXPECT_LT(after - before, 32 * 1024) << sent << " bytes sent; " << before << " KiB before, " << after << " after";
    serve.signal(SIGTERM);
    EXPECT_EQ(serve.wait(), 0);
}

// A password typed at its prompt is not echoed, and no report holds it unless asked to.
TEST(ServeSsh, aPasswordIsNeitherEchoedNorReported)
{
    for (const bool keep : {false, true}) {
        ScratchDir scratch;
        const std::string dir = scratch.router("edge", "\"Username: \",\"Password: \",\"\r\nR1>\"\r\n",
                                               "[Settings]\r\nDelay=0.01\r\nEcho=Yes\r\nPace=Enter\r\n");
        std::vector<std::string> arguments = {"--port", "0", "--connections", "1", "--transcripts", scratch.path(),
                                              "--junit", scratch.path() + "/report.xml", dir};
        if (keep)
            arguments.insert(arguments.begin(), "--keep-secrets");
        ServeProcess serve(arguments);
        Client client(portsByProtocol(serve)["telnet"]);
        EXPECT_EQ(joined(client.read(10)), "Username: ");
        client.send("admin\r\n");
        EXPECT_EQ(joined(client.read(17)), "admin\r\nPassword: ");
        client.send("s3cr3t!\r\n");
        EXPECT_EQ(client.readAll(), "\r\n\r\nR1>") << "only the password's line end comes back";
        client.close();
        EXPECT_EQ(serve.wait(), 0);

        const auto ends = named(serve.events(), "session-end");
        ASSERT_EQ(ends.size(), 1u);
        const std::string typed = keep ? "s3cr3t!" : "***";
        EXPECT_NE(ends[0].find("\"typed\":[\"admin\",\"" + typed + "\"]"), std::string::npos) << ends[0];
        EXPECT_NE(scratch.read("report.xml").find(typed), std::string::npos);
        EXPECT_NE(scratch.read("edge-1.cast").find(keep ? "s3cr3t!\\r\\n" : "*******\\r\\n"), std::string::npos)
            << scratch.read("edge-1.cast");
        if (!keep) {
            for (const std::string &report : {ends[0], scratch.read("report.xml"), scratch.read("edge-1.cast")})
                EXPECT_EQ(report.find("s3cr3t"), std::string::npos) << report;
        }
    }
}

TEST(ServeSsh, hostileClientsEndOnlyTheirOwnConnection)
{
    if (std::system("/usr/bin/python3 -c 'import paramiko' 2>/dev/null") != 0)
        GTEST_SKIP() << "python3-paramiko is not installed";
    ScratchDir scratch;
    const std::string dir = scratch.router(
        "edge", "\"R1#\",\"Version 15.2\r\nR1#\"\r\n",
        "[Settings]\r\nDelay=0.01\r\nSSH-User=admin\r\nSSH-Password=secret\r\nPace=Enter\r\n");
    ServeProcess serve({"--port", "0", "--ssh-port", "0", dir});
    const auto ports = portsByProtocol(serve);
    ASSERT_EQ(ports.count("ssh"), 1u);
    for (const std::string &event : named(serve.events(), "listening")) {
        if (field(event, "protocol") == "ssh") {
            EXPECT_EQ(field(event, "fingerprint").rfind("SHA256:", 0), 0u) << event;
        }
    }

    const std::string command = "/usr/bin/python3 " ZENTREL_SOURCE_DIR "/tests/ssh/clients/ssh_sessions.py "
                                + std::to_string(ports.at("ssh"));
    EXPECT_EQ(std::system(command.c_str()), 0);

    const auto failed = serve.until("session-end");
    ASSERT_TRUE(failed) << serve.stderrText();
    EXPECT_EQ(field(*failed, "reason"), "auth-failed");
    EXPECT_EQ(field(*failed, "items_sent"), "0");
    const auto served = serve.until("session-end");
    ASSERT_TRUE(served);
    EXPECT_EQ(field(*served, "reason"), "script-exhausted");
    EXPECT_EQ(field(*served, "items_sent"), "2");

    // The silent client is still in its key exchange: a stop does not wait for it.
    serve.signal(SIGTERM);
    EXPECT_EQ(serve.wait(5), 0);
}

// A client whose channel window stays shut and that never closes: after the
// drain the program ends anyway and cuts it off, freeing what it still held
// for it (under the sanitizers a leak there fails the exit status).
TEST(ServeSsh, aClientThatNeverReadsIsCutOffAtTheExit)
{
    if (std::system("/usr/bin/python3 -c 'import paramiko' 2>/dev/null") != 0)
        GTEST_SKIP() << "python3-paramiko is not installed";
    ScratchDir scratch;
    const std::string script = "\"" + std::string(200000, 'x') + "\"\r\n";
    const std::string dir = scratch.router("edge", script.c_str(), "[Settings]\r\n");
    ServeProcess serve({"--port", "0", "--ssh-port", "0", "--connections", "1", dir});
    const auto ports = portsByProtocol(serve);
    ASSERT_EQ(ports.count("ssh"), 1u);

    // Exits 0 once the server has dropped the connection, 1 if it still holds it after 30 s.
    const std::string client = R"(/usr/bin/python3 -c '
import sys, time, paramiko
t = paramiko.Transport(("127.0.0.1", int(sys.argv[1])))
t.start_client(timeout=10)
t.auth_password("any", "any")
channel = t.open_session(window_size=1024)
channel.invoke_shell()
deadline = time.time() + 30
while t.is_active() and time.time() < deadline:
    time.sleep(0.05)
sys.exit(1 if t.is_active() else 0)
' )" + std::to_string(ports.at("ssh"));
    EXPECT_EQ(std::system(client.c_str()), 0);
    const auto ended = serve.until("session-end");
    ASSERT_TRUE(ended) << serve.stderrText();
    EXPECT_EQ(field(*ended, "reason"), "script-exhausted");
    EXPECT_EQ(serve.wait(10), 0) << serve.stderrText();
}

// An IPv4-mapped address is bound by the same rule for both protocols: the
// IPv4 clients of that address reach Telnet and SSH alike.
TEST(ServeSsh, anIpv4MappedAddressServesTelnetAndSsh)
{
    ScratchDir scratch;
    const std::string dir = scratch.router("edge", "\"R1>\"\r\n", "[Settings]\r\nDelay=0\r\n");
    ServeProcess serve({"--port", "0", "--ssh-port", "0", "--listen", "::ffff:127.0.0.1", dir});
    const auto ports = portsByProtocol(serve);
    ASSERT_EQ(ports.size(), 2u) << serve.stderrText();
    EXPECT_EQ(Client(ports.at("telnet")).readAll(), "R1>");
    Client ssh(ports.at("ssh"));
    EXPECT_EQ(joined(ssh.read(16)).substr(0, 16), "SSH-2.0-Zentrel_");
    serve.signal(SIGTERM);
    EXPECT_EQ(serve.wait(), 0);
}

// libssh hands the login's strings over cut at their first NUL; zentrel-serve
// must still compare them whole.
TEST(ServeSsh, credentialsAreComparedWhole)
{
    if (std::system("/usr/bin/python3 -c 'import paramiko' 2>/dev/null") != 0)
        GTEST_SKIP() << "python3-paramiko is not installed";
    ScratchDir scratch;
    const std::string dir = scratch.router("edge", "\"R1#\"\r\n",
                                           "[Settings]\r\nDelay=0\r\nSSH-User=admin\r\nSSH-Password=secret\r\n");
    ServeProcess serve({"--port", "0", "--ssh-port", "0", "--sessions", "10", dir});
    const auto ports = portsByProtocol(serve);
    ASSERT_EQ(ports.count("ssh"), 1u) << serve.stderrText();
    const std::string command = "/usr/bin/python3 " ZENTREL_SOURCE_DIR "/tests/ssh/clients/nul_logins.py "
                                + std::to_string(ports.at("ssh"));
    EXPECT_EQ(std::system(command.c_str()), 0);
    serve.signal(SIGTERM);
    EXPECT_EQ(serve.wait(), 0);
}

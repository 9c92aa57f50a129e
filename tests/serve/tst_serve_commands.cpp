// tst_serve_commands.cpp: zentrel-serve with a command-driven router: its events, configs, transcripts and refusals.
#include "serve_rig.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <map>

using namespace zentrel::tests;

namespace {

const std::string Yaml = R"(hostname: T1
login:
  username: "Username: "
  password: "Password: "
  users: {admin: lab}
  failed: "% Login invalid\n"
modes:
  exec:
    prompt: "{hostname}>"
    commands:
      enable: {mode: enable, password: lab}
      show version: {answer: "Version 1\n"}
      exit: {close: true}
  enable:
    prompt: "{hostname}#"
    parent: exec
    commands:
      configure terminal: {mode: config}
  config:
    prompt: "{hostname}(config)#"
    config: true
    commands:
      end: {mode: enable}
delay: 0
)";

std::string commandRouter(ScratchDir &scratch, const std::string &name, const std::string &yaml = Yaml)
{
    const std::string dir = scratch.router(name, nullptr, "[Settings]\r\nDelay=0\r\n");
    scratch.write(name + "/commands.yaml", yaml);
    return dir;
}

// mode, line, matched, error, config of each command event, as one line each.
std::vector<std::string> commandRows(const std::vector<std::string> &events)
{
    std::vector<std::string> rows;
    for (const std::string &event : named(events, "command"))
        rows.push_back(field(event, "mode") + " | " + field(event, "line") + " | " + field(event, "matched") + " | "
                       + field(event, "error") + field(event, "config"));
    return rows;
}

} // namespace

TEST(ServeCommands, answersEachLineAndReportsItAsTheRouterTookIt)
{
    ScratchDir scratch;
    const std::string dir = commandRouter(scratch, "t1");
    const std::string configs = scratch.path() + "/configs";
    ServeProcess serve({"--port", "0", "--configs", configs, "--transcripts", scratch.path() + "/casts", dir});
    const int port = serve.ports().at("t1");
    ASSERT_GT(port, 0) << serve.stderrText();
    Client client(port);
    client.send("admin\r\nlab\r\nsh ver\r\nbogus\r\nen\r\nlab\r\nconf t\r\nhostname T2\r\nend\r\nexit\r\n");
    const std::string seen = client.readAll();
    EXPECT_NE(seen.find("sh ver\r\nVersion 1\r\nT1>"), std::string::npos) << seen;
    EXPECT_NE(seen.find("T2(config)#end\r\nT2#exit\r\n"), std::string::npos) << seen;
    EXPECT_EQ(seen.find("lab"), std::string::npos) << "passwords are never echoed";
    ASSERT_TRUE(serve.until("session-end"));
    EXPECT_EQ(commandRows(serve.events()), (std::vector<std::string>{
        "exec | sh ver | show version | ",
        "exec | bogus | null | invalid",
        "exec | en | enable | ",
        "exec | *** | null | ",
        "enable | conf t | configure terminal | ",
        "config | hostname T2 | null | true",
        "config | end | end | ",
        "enable | exit | exit | ",
    }));
    const std::string end = named(serve.events(), "session-end")[0];
    EXPECT_EQ(field(end, "reason"), "closed");
    EXPECT_EQ(field(end, "commands"), "7") << "the password line is no command";
    EXPECT_EQ(field(end, "errors"), "1");
    EXPECT_EQ(field(end, "mode"), "enable");
    EXPECT_NE(end.find("\"typed\":[\"admin\",\"***\",\"sh ver\""), std::string::npos) << end;
    // Written as the session that changed it ended, before the exit.
    EXPECT_NE(scratch.read("configs/t1.cfg").find("hostname T2\n"), std::string::npos);
    const std::string cast = scratch.read("casts/t1-1.cast");
    EXPECT_NE(cast.find("command in exec: \\\"sh ver\\\" is show version"), std::string::npos) << cast;
    EXPECT_NE(cast.find("command in config: \\\"hostname T2\\\" is a config line"), std::string::npos);
    EXPECT_NE(cast.find("Telnet sent: IAC WILL ECHO, IAC WILL SUPPRESS-GO-AHEAD"), std::string::npos);
    serve.signal(SIGTERM);
    EXPECT_EQ(serve.wait(), 0);
    EXPECT_EQ(serve.stderrText(), "");
    const auto leftovers = std::distance(std::filesystem::directory_iterator(configs), {});
    EXPECT_EQ(leftovers, 1) << "no temporary left beside t1.cfg";
}

TEST(ServeCommands, keepsSecretsWhenToldAndEndsAFailedLoginAsAuthFailed)
{
    ScratchDir scratch;
    const std::string dir = commandRouter(scratch, "t1");
    ServeProcess serve({"--port", "0", "--keep-secrets", dir});
    const int port = serve.ports().at("t1");
    {
        Client client(port);
        client.send("admin\r\nlab\r\nenable\r\nlab\r\nexit\r\n");
        client.readAll();
    }
    ASSERT_TRUE(serve.until("session-end"));
    EXPECT_EQ(commandRows(serve.events())[1], "exec | lab | null | ");
    EXPECT_NE(serve.events().back().find("\"typed\":[\"admin\",\"lab\""), std::string::npos);

    Client client(port);
    client.send("admin\r\nx\r\nadmin\r\ny\r\nadmin\r\nz\r\n");
    EXPECT_NE(client.readAll().find("% Login invalid\r\n"), std::string::npos);
    ASSERT_TRUE(serve.until("session-end"));
    EXPECT_EQ(field(serve.events().back(), "reason"), "auth-failed");
    serve.signal(SIGTERM);
    EXPECT_EQ(serve.wait(), 0);
}

TEST(ServeCommands, aBrokenCommandsFileStopsTheRunBeforeAnythingListens)
{
    ScratchDir scratch;
    const std::string good = commandRouter(scratch, "good");
    const std::string bad = commandRouter(scratch, "bad", "modes:\n  exec:\n    prompt: \">\"\n    parent: nowhere\n");
    ServeProcess serve({"--port", "0", good, bad});
    EXPECT_EQ(serve.wait(), 2);
    EXPECT_EQ(serve.stderrText(), "zentrel-serve: " + bad + "/commands.yaml:4:13: error: unknown mode 'nowhere'\n");
    EXPECT_TRUE(named(serve.events(), "listening").empty());
}

// Over SSH the login's users are the accounts let in, unless zentrel.ini names its own.
TEST(ServeCommands, sshLetsInTheUsersOfTheLoginUnlessSshUserIsSet)
{
    if (std::system("/usr/bin/python3 -c 'import paramiko' 2>/dev/null") != 0)
        GTEST_SKIP() << "python3-paramiko is not installed";
    ScratchDir scratch;
    const std::string own = commandRouter(scratch, "own");
    const std::string set = commandRouter(scratch, "set");
    scratch.write("set/zentrel.ini", "[Settings]\r\nDelay=0\r\nSSH-User=ops\r\nSSH-Password=pw\r\n");
    // Prints, per line "PORT USER PASSWORD", whether the login was taken.
    scratch.write("logins.py", R"(import sys, paramiko
for line in sys.stdin:
    port, user, password = line.split()
    client = paramiko.SSHClient()
    client.set_missing_host_key_policy(paramiko.AutoAddPolicy())
    try:
        client.connect("127.0.0.1", port=int(port), username=user, password=password,
                       look_for_keys=False, allow_agent=False, timeout=10)
        print("in")
    except paramiko.AuthenticationException:
        print("out")
    client.close()
)");
    ServeProcess serve({"--port", "0", "--ssh-port", "0", own, set});
    ASSERT_TRUE(serve.until("ready")) << serve.stderrText();
    std::map<std::string, std::string> ssh;
    for (const std::string &event : named(serve.events(), "listening"))
        if (field(event, "protocol") == "ssh")
            ssh[field(event, "router")] = field(event, "port");
    std::string rows;
    for (const char *row : {"own admin lab", "own admin wrong", "own root lab", "set ops pw", "set admin lab"}) {
        const std::string text = row;
        rows += ssh[text.substr(0, 3)] + text.substr(3) + "\n";
    }
    scratch.write("rows", rows);
    const std::string out = scratch.path() + "/out";
    ASSERT_EQ(std::system(("/usr/bin/python3 " + scratch.path() + "/logins.py <" + scratch.path() + "/rows >" + out)
                              .c_str()),
              0);
    EXPECT_EQ(scratch.read("out"), "in\nout\nout\nin\nout\n");
    serve.signal(SIGTERM);
    EXPECT_EQ(serve.wait(), 0);
}

// An exec request gets its command's answer alone and exit status 0, as a
// router's SSH server gives it; a shell's pty sets the page length.
TEST(ServeCommands, sshExecAnswersTheCommandAloneAndThePtyRowsPage)
{
    if (std::system("/usr/bin/python3 -c 'import paramiko' 2>/dev/null") != 0)
        GTEST_SKIP() << "python3-paramiko is not installed";
    ScratchDir scratch;
    const std::string dir = commandRouter(scratch, "pty", R"(hostname: P1
motd: "welcome\n"
modes:
  exec:
    prompt: "{hostname}>"
    commands:
      show long: {answer: "1\n2\n3\n4\n5\n"}
paging: {length: 24, more: "-M-"}
delay: 0
)");
    // One channel a connection, as the router serves it.
    scratch.write("client.py", R"(import sys, time, paramiko
def connect():
    client = paramiko.SSHClient()
    client.set_missing_host_key_policy(paramiko.AutoAddPolicy())
    client.connect("127.0.0.1", port=int(sys.argv[1]), username="u", password="p",
                   look_for_keys=False, allow_agent=False, timeout=10)
    return client
for command in ("sh long", "bogus"):
    client = connect()
    stdin, stdout, stderr = client.exec_command(command, timeout=10)
    print(repr(stdout.read()), stdout.channel.recv_exit_status())
    client.close()
client = connect()
shell = client.invoke_shell(height=3)
seen, deadline = b"", time.monotonic() + 10
shell.send("show long\n")
while not seen.endswith(b"-M-") and time.monotonic() < deadline:
    seen += shell.recv(4096)
print(repr(seen[seen.index(b"P1>"):]))
client.close()
)");
    ServeProcess serve({"--port", "0", "--ssh-port", "0", dir});
    ASSERT_TRUE(serve.until("ready")) << serve.stderrText();
    std::string port;
    for (const std::string &event : named(serve.events(), "listening"))
        if (field(event, "protocol") == "ssh")
            port = field(event, "port");
    const std::string out = scratch.path() + "/out";
    ASSERT_EQ(std::system(("/usr/bin/python3 " + scratch.path() + "/client.py " + port + " >" + out).c_str()), 0);
    EXPECT_EQ(scratch.read("out"), "b'1\\r\\n2\\r\\n3\\r\\n4\\r\\n5\\r\\n' 0\n"
                                   "b\"^\\r\\n% Invalid input detected at '^' marker.\\r\\n\" 0\n"
                                   "b'P1>show long\\r\\n1\\r\\n2\\r\\n-M-'\n");
    serve.signal(SIGTERM);
    EXPECT_EQ(serve.wait(), 0);
    std::vector<std::string> reasons;
    for (const std::string &event : named(serve.events(), "session-end"))
        reasons.push_back(field(event, "reason"));
    reasons.resize(2);   // the shell's end races the SIGTERM
    EXPECT_EQ(reasons, (std::vector<std::string>{"closed", "closed"}));
}

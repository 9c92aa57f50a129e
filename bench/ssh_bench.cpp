// ssh_bench.cpp: zentrel_ssh_bench: one zentrel-serve, its SSH and Telnet ports measured side by side.
//
// Sessions per second (connect, log in, one item, close) and the lateness of
// paced items at Delay 0.1 s, each over SSH and over Telnet in the same run.
// The SSH client is libssh's, blocking, one session at a time.
#include <libssh/libssh.h>

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int PacedItems = 20;
constexpr double PacedDelay = 0.1;

double since(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

void writeFile(const fs::path &path, const std::string &bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string readFile(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// The port of the router's listening event of that protocol, or 0.
int portOf(const std::string &events, const std::string &router, const std::string &protocol)
{
    std::istringstream lines(events);
    for (std::string line; std::getline(lines, line);) {
        if (line.find("\"listening\"") == std::string::npos
            || line.find("\"router\":\"" + router + "\"") == std::string::npos
            || line.find("\"protocol\":\"" + protocol + "\"") == std::string::npos)
            continue;
        const std::size_t at = line.find("\"port\":");
        return at == std::string::npos ? 0 : std::atoi(line.c_str() + at + 7);
    }
    return 0;
}

struct Received {
    std::string bytes;
    std::vector<double> itemAt;   // seconds from the session's start, one per item line
};

// Records when each line end arrives: every item of the paced script is one line.
void note(Received &received, const char *data, std::size_t length, Clock::time_point start)
{
    for (std::size_t i = 0; i < length; ++i)
        if (data[i] == '\n')
            received.itemAt.push_back(since(start));
    received.bytes.append(data, length);
}

bool telnetSession(int port, Received &received)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const auto start = Clock::now();
    if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        ::close(fd);
        return false;
    }
    char buffer[65536];
    for (ssize_t n; (n = ::read(fd, buffer, sizeof buffer)) > 0;)
        note(received, buffer, static_cast<std::size_t>(n), start);
    ::close(fd);
    return true;
}

bool sshSession(int port, Received &received)
{
    ssh_session session = ssh_new();
    if (!session)
        return false;
    const int strict = 0;
    const unsigned int portNumber = static_cast<unsigned int>(port);
    ssh_options_set(session, SSH_OPTIONS_HOST, "127.0.0.1");
    ssh_options_set(session, SSH_OPTIONS_PORT, &portNumber);
    ssh_options_set(session, SSH_OPTIONS_USER, "bench");
    ssh_options_set(session, SSH_OPTIONS_STRICTHOSTKEYCHECK, &strict);
    ssh_options_set(session, SSH_OPTIONS_KNOWNHOSTS, "/dev/null");
    ssh_options_set(session, SSH_OPTIONS_GLOBAL_KNOWNHOSTS, "/dev/null");
    const int noDelay = 1;   // as OpenSSH and paramiko do
    ssh_options_set(session, SSH_OPTIONS_NODELAY, &noDelay);
    const bool parseConfig = false;
    ssh_options_set(session, SSH_OPTIONS_PROCESS_CONFIG, &parseConfig);
    bool ok = false;
    ssh_channel channel = nullptr;
    if (ssh_connect(session) == SSH_OK
        && ssh_userauth_password(session, nullptr, "bench") == SSH_AUTH_SUCCESS
        && (channel = ssh_channel_new(session)) && ssh_channel_open_session(channel) == SSH_OK
        && ssh_channel_request_shell(channel) == SSH_OK) {
        // The session starts when the shell opens: the pauses count from here.
        const auto start = Clock::now();
        char buffer[65536];
        for (int n; (n = ssh_channel_read(channel, buffer, sizeof buffer, 0)) > 0;)
            note(received, buffer, static_cast<std::size_t>(n), start);
        ok = ssh_channel_is_eof(channel);
        ssh_channel_close(channel);
    }
    if (channel)
        ssh_channel_free(channel);
    ssh_disconnect(session);
    ssh_free(session);
    return ok;
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto at = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[at];
}

struct Row {
    std::string name;
    double value;
    std::string unit;
};

} // namespace

int main(int argc, char **argv)
{
    const std::string serve = argc > 1 ? argv[1] : ZENTREL_SERVE_BINARY;
    const fs::path work = fs::temp_directory_path() / ("zentrel-ssh-bench-" + std::to_string(::getpid()));
    fs::create_directories(work / "one");
    fs::create_directories(work / "paced");
    const std::string account = "SSH-User=bench\r\nSSH-Password=bench\r\nSSH-Port=1\r\n";
    writeFile(work / "one/zentrel.ini", "[Settings]\r\nDelay=0\r\n" + account);
    writeFile(work / "one/RESPONSE.TXT", "\"Router>\"\r\n");
    std::string paced;
    for (int k = 1; k <= PacedItems; ++k)
        paced += "\"item " + std::to_string(k) + "\r\n\"\r\n";
    writeFile(work / "paced/zentrel.ini", "[Settings]\r\nDelay=0.1\r\n" + account);
    writeFile(work / "paced/RESPONSE.TXT", paced);

    const std::string events = (work / "events.jsonl").string();
    const pid_t pid = ::fork();
    if (pid == 0) {
        const std::string one = (work / "one").string(), pacedDir = (work / "paced").string();
        ::execl(serve.c_str(), serve.c_str(), "--port", "0", "--ssh-port", "0", "--events", events.c_str(),
                one.c_str(), pacedDir.c_str(), static_cast<char *>(nullptr));
        std::perror("zentrel_ssh_bench: cannot start zentrel-serve");
        std::_Exit(127);
    }
    std::string text;
    for (int i = 0; i < 500 && text.find("\"ready\"") == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        text = readFile(events);
    }
    const int ports[2][2] = {{portOf(text, "one", "telnet"), portOf(text, "one", "ssh")},
                             {portOf(text, "paced", "telnet"), portOf(text, "paced", "ssh")}};
    int faults = 0;
    std::vector<Row> rows;
    if (ports[0][0] == 0 || ports[0][1] == 0 || ports[1][0] == 0 || ports[1][1] == 0) {
        std::fprintf(stderr, "zentrel_ssh_bench: zentrel-serve did not get ready:\n%s\n", text.c_str());
        faults = 1;
    } else {
        const char *names[2] = {"telnet", "ssh"};
        for (int ssh = 0; ssh < 2; ++ssh) {
            // Sessions per second, for two seconds or 2,000 sessions.
            const auto start = Clock::now();
            int sessions = 0;
            while (since(start) < 2.0 && sessions < 2000) {
                Received received;
                const bool ok = ssh ? sshSession(ports[0][1], received) : telnetSession(ports[0][0], received);
                if (!ok || received.bytes != "Router>")
                    ++faults;
                ++sessions;
            }
            rows.push_back({std::string(names[ssh]) + " sessions per second (connect, log in, 1 item, close)",
                            sessions / since(start), "1/s"});
        }
        for (int ssh = 0; ssh < 2; ++ssh) {
            std::vector<double> lateness;
            for (int round = 0; round < 3; ++round) {
                Received received;
                const bool ok = ssh ? sshSession(ports[1][1], received) : telnetSession(ports[1][0], received);
                if (!ok || received.bytes.size() < paced.size() / 2 || received.itemAt.size() != PacedItems) {
                    ++faults;
                    continue;
                }
                for (int k = 0; k < PacedItems; ++k)
                    lateness.push_back((received.itemAt[k] - (k + 1) * PacedDelay) * 1000);
            }
            rows.push_back({std::string(names[ssh]) + " pacing lateness at Delay 0.1 s, median",
                            percentile(lateness, 0.5), "ms"});
            rows.push_back({std::string(names[ssh]) + " pacing lateness at Delay 0.1 s, 99th percentile",
                            percentile(lateness, 0.99), "ms"});
        }
    }
    ::kill(pid, SIGTERM);
    int status = 0;
    ::waitpid(pid, &status, 0);
    for (const Row &row : rows)
        std::printf("%-72s %10.2f %s\n", row.name.c_str(), row.value, row.unit.c_str());
    if (faults)
        std::printf("%d session(s) not served byte-exact\n", faults);
    std::error_code ignored;
    fs::remove_all(work, ignored);
    return faults ? 1 : 0;
}

// recorder.cpp: the recorder's sessions from accept to their written router directories.
#include "record/recorder.h"
#include "app/version.h"
#include "platform/error.h"
#include "record/router_dir.h"
#include "record/ssh_relay.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <unistd.h>

namespace zentrel::record {

namespace {

std::string addressText(const sockaddr_storage &address)
{
    char host[INET6_ADDRSTRLEN] = "?";
    int port = 0;
    if (address.ss_family == AF_INET6) {
        const auto &in6 = reinterpret_cast<const sockaddr_in6 &>(address);
        ::inet_ntop(AF_INET6, &in6.sin6_addr, host, sizeof host);
        port = ntohs(in6.sin6_port);
        return "[" + std::string(host) + "]:" + std::to_string(port);
    }
    const auto &in = reinterpret_cast<const sockaddr_in &>(address);
    ::inet_ntop(AF_INET, &in.sin_addr, host, sizeof host);
    port = ntohs(in.sin_port);
    return std::string(host) + ":" + std::to_string(port);
}

double unixNow()
{
    using namespace std::chrono;
    return duration<double>(system_clock::now().time_since_epoch()).count();
}

} // namespace

Recorder::Recorder(platform::PosixLoop &loop, Options options)
    : m_loop(loop), m_options(std::move(options))
{
}

Recorder::~Recorder()
{
    stopListening();
}

bool Recorder::start(std::string &error)
{
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo *found = nullptr;
    int code = ::getaddrinfo(m_options.routerHost.c_str(), m_options.routerPort.c_str(), &hints, &found);
    if (code != 0 || !found) {
        error = "--to " + m_options.routerHost + ":" + m_options.routerPort + ": " + ::gai_strerror(code);
        return false;
    }
    std::memcpy(&m_router, found->ai_addr, found->ai_addrlen);
    m_routerLength = found->ai_addrlen;
    m_routerName = addressText(m_router);
    ::freeaddrinfo(found);
    if (m_options.ssh)
        return listenSsh(error);

    hints = addrinfo{};
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICHOST;
    const std::string port = std::to_string(m_options.listenPort);
    code = ::getaddrinfo(m_options.listenAddress.c_str(), port.c_str(), &hints, &found);
    if (code != 0 || !found) {
        error = "--listen " + m_options.listenAddress + ": not an address (" + ::gai_strerror(code) + ")";
        return false;
    }
    m_listener = ::socket(found->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int one = 1;
    if (m_listener >= 0)
        ::setsockopt(m_listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (m_listener < 0 || ::bind(m_listener, found->ai_addr, found->ai_addrlen) != 0
        || ::listen(m_listener, 64) != 0) {
        error = "cannot listen on " + m_options.listenAddress + " port " + port + ": " + std::strerror(errno);
        ::freeaddrinfo(found);
        stopListening();
        return false;
    }
    ::freeaddrinfo(found);
    sockaddr_storage bound{};
    socklen_t length = sizeof bound;
    ::getsockname(m_listener, reinterpret_cast<sockaddr *>(&bound), &length);
    m_port = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6 &>(bound).sin6_port
                                               : reinterpret_cast<sockaddr_in &>(bound).sin_port);
    m_loop.watch(m_listener, EPOLLIN, [this](std::uint32_t) { accept(); });
    std::fprintf(stderr, "zentrel-record: listening on %s, relaying to %s\n",
                 addressText(bound).c_str(), m_routerName.c_str());
    return true;
}

bool Recorder::listenSsh(std::string &error)
{
    try {
        m_hostKey = std::make_unique<ssh::HostKey>(m_options.hostKey.empty() ? ssh::HostKey::generate()
                                                                            : ssh::HostKey::fromFile(m_options.hostKey));
        if (!m_hostKey->warning().empty())
            std::fprintf(stderr, "zentrel-record: warning: %s\n", m_hostKey->warning().c_str());
        ssh::SshSetup setup;
        setup.address = m_options.listenAddress;
        setup.port = m_options.listenPort;
        setup.hostKey = m_hostKey.get();
        setup.version = app::Version;
        ssh::SshListener::Events events;
        events.connected = [this](std::unique_ptr<ssh::SshConnection> connection, std::string peer) {
            beginSsh(std::move(connection), peer);
        };
        events.failed = [](const std::string &peer, bool, const std::string &why) {
            std::fprintf(stderr, "zentrel-record: SSH client %s: %s\n", peer.c_str(), why.c_str());
        };
        m_ssh = std::make_unique<ssh::SshListener>(m_loop, setup, std::move(events));
        m_ssh->listen();
        m_listening = true;
    } catch (const platform::Error &failure) {
        error = failure.what();
        m_ssh.reset();
        return false;
    }
    m_port = m_ssh->port();
    std::fprintf(stderr, "zentrel-record: listening for SSH on %s port %d (host key %s), relaying to %s\n",
                 m_options.listenAddress.c_str(), m_port, m_hostKey->fingerprint().c_str(),
                 m_routerName.c_str());
    return true;
}

int Recorder::run()
{
    m_loop.onSignal(SIGINT, [this] { stopAll("stopped by SIGINT"); });
    m_loop.onSignal(SIGTERM, [this] { stopAll("stopped by SIGTERM"); });
    m_loop.onSignal(SIGHUP, [this] { stopAll("stopped by SIGHUP"); });
    if (m_options.timeout > 0)
        m_loop.at(m_loop.now() + m_options.timeout, [this] {
            m_timedOut = true;
            stopAll("stopped by --timeout");
        });
    m_loop.run();
    // SSH clients that have not closed their side within the drain are let go.
    m_loop.letGoLingering();
    if (m_refused)
        return 2;
    if (m_timedOut)
        return 124;
    return m_failed ? 1 : 0;
}

void Recorder::accept()
{
    sockaddr_storage peer{};
    socklen_t length = sizeof peer;
    const int fd = ::accept4(m_listener, reinterpret_cast<sockaddr *>(&peer), &length,
                             SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR || errno == ECONNABORTED)
            return;
        std::fprintf(stderr, "zentrel-record: cannot accept a client: %s\n", std::strerror(errno));
        if (errno == EMFILE || errno == ENFILE) {
            // The listener stays readable; wait for a descriptor instead of spinning.
            m_loop.modify(m_listener, 0);
            m_loop.at(m_loop.now() + 0.1, [this] {
                if (m_listener >= 0)
                    m_loop.modify(m_listener, EPOLLIN);
            });
        }
        return;
    }
    begin(fd, addressText(peer));
}

Recorder::Session &Recorder::open(const std::string &peer)
{
    auto owned = std::make_unique<Session>();
    Session &session = *owned;
    session.number = ++m_accepted;
    session.peer = peer;
    session.dir = m_options.sessions > 1 ? m_options.out + "/session-" + std::to_string(session.number)
                                         : m_options.out;
    session.accepted = m_loop.now();
    session.mask = ClientMask(m_options.ssh ? console::Carrier::Ssh : console::Carrier::Telnet);
    m_sessions.emplace(session.number, std::move(owned));
    if (m_accepted >= m_options.sessions)
        stopListening();
    return session;
}

SessionRelay::Events Recorder::eventsFor(Session &session)
{
    SessionRelay::Events events;
    events.connected = [this, &session] { connected(session); };
    events.fromClient = [this, &session, keep = m_options.keepSecrets](double time, std::string_view bytes) {
        sniff(session, true, bytes);
        if (m_refused)
            return;
        session.log->fromClient(time, bytes);
        const std::string_view shown = session.mask.fromClient(bytes);
        if (session.cast)
            session.cast->input(time - session.accepted, keep ? bytes : shown);
    };
    events.fromRouter = [this, &session](double time, std::string_view bytes) {
        sniff(session, false, bytes);
        if (m_refused)
            return;
        session.log->fromRouter(time, bytes);
        session.mask.fromRouter(bytes);
        if (session.cast)
            session.cast->output(time - session.accepted, bytes);
    };
    events.ended = [this, &session](const std::string &why, bool failure) {
        ended(session, why, failure);
    };
    events.notice = [this, &session](const std::string &text) { complain(session, text); };
    return events;
}

void Recorder::begin(int fd, const std::string &peer)
{
    Session &session = open(peer);
    auto relay = std::make_unique<Relay>(m_loop, fd, eventsFor(session));
    Relay &started = *relay;
    session.relay = std::move(relay);
    started.start(m_router, m_routerLength);
}

void Recorder::beginSsh(std::unique_ptr<ssh::SshConnection> connection, const std::string &peer)
{
    if (m_accepted >= m_options.sessions)
        return;   // a shell opened by a client let in before the listener stopped
    Session &session = open(peer);
    SshRouter::Login login;
    login.host = m_options.routerHost;
    login.port = std::atoi(m_options.routerPort.c_str());
    login.user = m_options.user;
    login.password = m_options.password;
    auto relay = std::make_unique<SshRelay>(m_loop, std::move(connection), login, eventsFor(session));
    SshRelay &started = *relay;
    session.relay = std::move(relay);
    started.start();
}

// A Telnet recording of an SSH or TLS session would be a router of ciphertext:
// the first bytes of either side tell, and the whole recording stops.
void Recorder::sniff(Session &session, bool fromClient, std::string_view bytes)
{
    if (m_options.ssh || m_refused)
        return;
    std::string &head = session.head[fromClient ? 0 : 1];
    if (head.size() >= StartBytes)
        return;
    head.append(bytes.substr(0, StartBytes - head.size()));
    const Start start = classifyStart(head);
    if (start == Start::Undecided || start == Start::Plain) {
        if (start == Start::Plain)
            head.resize(StartBytes, '\0');   // decided: no more looking
        return;
    }
    const char *side = fromClient ? "the client" : "the router";
    std::fprintf(stderr, "zentrel-record: %s speaks %s, not Telnet: %s; nothing was written\n", side,
                 start == Start::Ssh ? "SSH" : "TLS",
                 start == Start::Ssh ? "record it with --ssh" : "zentrel-record records Telnet and SSH only");
    m_refused = true;
    stopAll("stopped: not Telnet");
}

// What a refused recording had begun is taken back: its transcript, and its
// directory when the session made it.
void Recorder::discard(Session &session)
{
    session.cast.reset();
    std::error_code ignored;
    std::filesystem::remove(session.dir + "/session.cast", ignored);
    if (session.madeDir)
        std::filesystem::remove(session.dir, ignored);
}

void Recorder::connected(Session &session)
{
    session.connected = true;
    session.log = std::make_unique<SessionLog>(m_loop.now(),
                                               m_options.ssh ? console::Carrier::Ssh : console::Carrier::Telnet);
    std::string error;
    std::error_code ignored;
    session.madeDir = !std::filesystem::exists(session.dir, ignored);
    if (!makeDirs(session.dir, error)) {
        complain(session, error);
        m_failed = true;
        return;
    }
    serve::CastHeader header;
    header.timestamp = std::llround(unixNow() - (m_loop.now() - session.accepted));
    header.title = "zentrel-record session " + std::to_string(session.number) + " from " + session.peer
                   + " to " + m_routerName;
    session.cast = std::make_unique<serve::CastWriter>(
        session.dir + "/session.cast", header, [this, &session](const std::string &failure) {
            complain(session, failure);
            m_failed = true;
        });
}

void Recorder::ended(Session &session, const std::string &why, bool failure)
{
    const double seconds = m_loop.now() - session.accepted;
    if (m_refused) {
        discard(session);
    } else if (!session.connected) {
        complain(session, why + "; the client was disconnected and nothing was written");
        m_failed = true;
    } else {
        if (session.cast)
            session.cast->marker(seconds, why);
        session.cast.reset();   // closed before the router directory; a failure is told by the writer
        std::string summary, error;
        std::vector<std::string> warnings;
        if (!writeSession(session.dir, *session.log, {{m_port, m_options.ssh}, m_options.commands, m_options.keepSecrets},
                          summary, warnings, error)) {
            complain(session, error);
            m_failed = true;
        } else {
            std::printf("session %d from %s: %s in %s (%s)\n", session.number, session.peer.c_str(),
                        summary.c_str(), session.dir.c_str(), why.c_str());
            std::fflush(stdout);
        }
        for (const std::string &warning : warnings)
            complain(session, warning);
    }
    (void)failure;
    const int number = session.number;
    m_loop.post([this, number] {
        m_sessions.erase(number);
        quitWhenDone();
    });
}

void Recorder::complain(const Session &session, const std::string &text)
{
    std::fprintf(stderr, "zentrel-record: session %d from %s: %s\n", session.number,
                 session.peer.c_str(), text.c_str());
}

void Recorder::stopListening()
{
    if (m_ssh) {
        m_ssh->stop();
        m_listening = false;
    }
    if (m_listener < 0)
        return;
    if (m_loop.watching(m_listener))
        m_loop.unwatch(m_listener);
    ::close(m_listener);
    m_listener = -1;
}

void Recorder::stopAll(const char *why)
{
    stopListening();
    for (auto &[number, session] : m_sessions)
        if (!session->relay->done())
            session->relay->stop(why);
    quitWhenDone();
}

void Recorder::quitWhenDone()
{
    if (m_listener < 0 && !m_listening && m_sessions.empty() && !m_draining) {
        m_draining = true;
        drain(m_loop.now() + DrainFor);
    }
}

// What was queued for SSH clients (the last answer, why the router refused
// them) still goes out, as long as they take it within a moment.
void Recorder::drain(double until)
{
    if (m_loop.lingering() == 0 || m_loop.now() >= until) {
        m_loop.quit();
        return;
    }
    m_loop.at(m_loop.now() + DrainPoll, [this, until] { drain(until); });
}

} // namespace zentrel::record

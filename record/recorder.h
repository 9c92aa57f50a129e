// recorder.h: listens for clients, relays each to the router and writes its router directory.
#pragma once
#include "platform/posix/posix_loop.h"
#include "record/options.h"
#include "record/recording.h"
#include "record/relay.h"
#include "serve/asciicast.h"
#include "ssh/host_key.h"
#include "ssh/ssh_listener.h"

#include <map>
#include <memory>
#include <string>
#include <sys/socket.h>

namespace zentrel::record {

class Recorder
{
public:
    static constexpr double DrainFor = 2.0;
    static constexpr double DrainPoll = 0.01;

    Recorder(platform::PosixLoop &loop, Options options);
    ~Recorder();

    // Resolves the router and opens the listener; false with a one-line `error`.
    bool start(std::string &error);
    int port() const { return m_port; }
    // Until N sessions have ended, a signal or the timeout; the exit status:
    // 2 when a Telnet recording found SSH or TLS on the wire.
    int run();

private:
    struct Session {
        int number = 0;
        std::string peer;
        std::string dir;
        double accepted = 0;    // monotonic
        bool connected = false;
        bool madeDir = false;   // the directory was not there before this session
        std::unique_ptr<SessionLog> log;
        std::unique_ptr<SessionRelay> relay;
        std::unique_ptr<serve::CastWriter> cast;   // from the router's accept on
        ClientMask mask;                            // the passwords out of the cast
        std::string head[2];                        // the first bytes from the client, the router
    };

    bool listenSsh(std::string &error);
    void accept();
    Session &open(const std::string &peer);
    SessionRelay::Events eventsFor(Session &session);
    void begin(int fd, const std::string &peer);
    void beginSsh(std::unique_ptr<ssh::SshConnection> connection, const std::string &peer);
    void sniff(Session &session, bool fromClient, std::string_view bytes);
    void discard(Session &session);
    void connected(Session &session);
    void ended(Session &session, const std::string &why, bool failure);
    void stopListening();
    void stopAll(const char *why);
    void quitWhenDone();
    void drain(double until);
    void complain(const Session &session, const std::string &text);

    platform::PosixLoop &m_loop;
    Options m_options;
    sockaddr_storage m_router{};
    socklen_t m_routerLength = 0;
    std::string m_routerName;
    int m_listener = -1;
    int m_port = 0;
    int m_accepted = 0;
    bool m_failed = false;
    bool m_timedOut = false;
    bool m_refused = false;
    bool m_listening = false; // the SSH listener takes clients
    bool m_draining = false;   // SSH or TLS on a Telnet recording: nothing is written
    std::unique_ptr<ssh::HostKey> m_hostKey;
    std::unique_ptr<ssh::SshListener> m_ssh;
    std::map<int, std::unique_ptr<Session>> m_sessions;
};

} // namespace zentrel::record

// recorder.h: listens for clients, relays each to the router and writes its router directory.
#pragma once
#include "platform/posix/posix_loop.h"
#include "record/options.h"
#include "record/recording.h"
#include "record/relay.h"
#include "serve/asciicast.h"

#include <map>
#include <memory>
#include <string>
#include <sys/socket.h>

namespace zentrel::record {

class Recorder
{
public:
    Recorder(platform::PosixLoop &loop, Options options);
    ~Recorder();

    // Resolves the router and opens the listener; false with a one-line `error`.
    bool start(std::string &error);
    int port() const { return m_port; }
    // Until N sessions have ended, a signal or the timeout; the exit status.
    int run();

private:
    struct Session {
        int number = 0;
        std::string peer;
        std::string dir;
        double accepted = 0;    // monotonic
        bool connected = false;
        std::unique_ptr<SessionLog> log;
        std::unique_ptr<Relay> relay;
        std::unique_ptr<serve::CastWriter> cast;   // from the router's accept on
        ClientMask mask;                            // the passwords out of the cast
    };

    void accept();
    void begin(int fd, const std::string &peer);
    void connected(Session &session);
    void ended(Session &session, const std::string &why, bool failure);
    void stopListening();
    void stopAll(const char *why);
    void quitWhenDone();
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
    std::map<int, std::unique_ptr<Session>> m_sessions;
};

} // namespace zentrel::record

// raw_sender.h: the yardstick: a minimal server that sends fixed bytes to each client and closes.
#pragma once
#include <string>
#include <thread>

namespace zentrel::bench {

// Listens on 127.0.0.1 and, on a thread of its own, serves one client at a
// time: accept, send every byte, close. What Zentrel does at Delay 0 with no
// script reader, window or event loop in the way.
class RawSender
{
public:
    explicit RawSender(std::string bytes);
    ~RawSender();
    RawSender(const RawSender &) = delete;
    RawSender &operator=(const RawSender &) = delete;

    int port() const { return m_port; }
    bool ok() const { return m_listenFd >= 0; }

private:
    void serve();

    std::string m_bytes;
    int m_listenFd = -1;
    int m_stopPipe[2] = {-1, -1};
    int m_port = -1;
    std::thread m_thread;
};

} // namespace zentrel::bench

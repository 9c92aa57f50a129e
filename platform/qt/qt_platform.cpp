// qt_platform.cpp: placeholder until the Qt services land.
#include "platform/qt/qt_platform.h"

namespace zentrel::platform {
namespace {
struct NullSockets : SocketArray {
    void setEvents(Events) override {}
    void create(int) override {}
    void setLocalPort(int, std::int32_t) override {}
    void listen(int) override {}
    void accept(int, std::int32_t) override {}
    void sendData(int, std::string_view) override {}
    std::string getData(int) override { return {}; }
    void close(int) override {}
    int state(int) const override { return 0; }
    void closeAll() override {}
};
struct NullProfile : Profile {
    std::string getString(std::string_view, std::string_view, std::string_view d, std::size_t,
                          const std::string &) override { return std::string(d); }
    bool writeString(std::string_view, std::string_view, std::string_view,
                     const std::string &) override { return false; }
};
struct NullFiles : TextFiles {
    void open(int, const std::string &, Mode) override {}
    void close(int) override {}
    void closeAll() override {}
    bool isOpen(int) const override { return false; }
    bool eof(int) override { return true; }
    InputStream &input(int) override { throw 0; }
    void writeLine(int, std::string_view) override {}
};
struct NullLoop : EventLoop {
    double now() const override { return 0; }
    void yieldUntil(double) override {}
    void post(std::function<void()>) override {}
};
struct NullDialogs : Dialogs {
    Answer messageBox(const std::string &, const std::string &, Icon, Buttons) override { return Answer::Ok; }
};
struct NullGuard : InstanceGuard {
    bool anotherCopyRunning() override { return false; }
};
} // namespace

struct QtPlatform::Services {
    NullSockets sockets;
    NullProfile profile;
    NullFiles files;
    NullLoop loop;
    NullDialogs dialogs;
    NullGuard guard;
};

QtPlatform::QtPlatform()
    : m_services(std::make_unique<Services>()),
      m_platform{m_services->sockets, m_services->profile, m_services->files,
                 m_services->loop,    m_services->dialogs, m_services->guard}
{
}

QtPlatform::~QtPlatform() = default;

} // namespace zentrel::platform

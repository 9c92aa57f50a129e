// main.cpp: builds the window, the platform and the handlers, then runs Qt's event loop (which drives ours).
#include "app/application.h"
#include "platform/posix/posix_loop.h"
#include "platform/qt/qt_platform.h"
#include "ui/qt/qt_view.h"
#include "ui/window_model.h"

#include <QApplication>
#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <malloc.h>
#include <cstdio>
#include <cstring>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr double LastClientDrain = 2.0;   // seconds

int signalPipe[2] = {-1, -1};

void onTerminationSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}

// SIGTERM, SIGINT (Ctrl+C in the terminal of `make run`), SIGHUP (that
// terminal closing) and SIGQUIT unload the window as the Exit button does, so
// the position is saved and a playback stops cleanly. SIGPIPE is ignored: a
// send to a client that has gone reports its failure instead of ending the
// program; SIGUSR1 and SIGUSR2 mean nothing to Zentrel.
void ignoreStraySignals()
{
    struct sigaction ignore = {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    for (const int signal : {SIGPIPE, SIGUSR1, SIGUSR2})
        sigaction(signal, &ignore, nullptr);
}

void closeWindowOnTermination(zentrel::ui::ZentrelFRM &form, QObject *context)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, signalPipe) != 0) {
        std::fprintf(stderr, "zentrel: %s: termination signals will end Zentrel without its shutdown\n",
                     std::strerror(errno));
        return;
    }
    auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, context);
    QObject::connect(notifier, &QSocketNotifier::activated, context, [&form] {
        char byte;
        [[maybe_unused]] const auto taken = ::read(signalPipe[0], &byte, 1);
        form.close();
    });
    struct sigaction action = {};
    action.sa_handler = onTerminationSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signal : {SIGTERM, SIGINT, SIGHUP, SIGQUIT})
        sigaction(signal, &action, nullptr);
}

} // namespace

int main(int argc, char *argv[])
{
    // A script played to a client is freed when its session ends: with a
    // threshold that stays put, its buffer (and each panel's old one) goes
    // back to the system then, instead of raising the threshold and staying
    // resident in the heap.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);
    ignoreStraySignals();
    QApplication qtApplication(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);   // the window's unload ends the program

    zentrel::platform::QtPlatform qtPlatform;
    zentrel::ui::ZentrelFRM form;
    zentrel::ui::QtView view(form);
    zentrel::app::Application application(form, qtPlatform.platform());

    application.load();
    if (form.unloaded())
        return 0;
    closeWindowOnTermination(form, &qtApplication);
    view.show();
    const int status = qtApplication.exec();
    // What was queued for the last client still goes out, if it reads it
    // within a moment; then it is let go.
    zentrel::platform::PosixLoop &loop = qtPlatform.loop();
    const double drainUntil = loop.now() + LastClientDrain;
    loop.runOnce(0);   // the sessions the unload stopped end and close their connections
    while (loop.lingering() > 0 && loop.now() < drainUntil)
        loop.runOnce(drainUntil - loop.now());
    loop.letGoLingering();
    return status;
}

#include "termination.h"

#include <QPointer>
#include <QSocketNotifier>
#include <QWidget>

#include <csignal>
#include <sys/socket.h>
#include <unistd.h>

namespace mizong {

namespace {

int g_signalPipe[2] = {-1, -1};

void onSignal(int)
{
    // Only async-signal-safe work here: the event loop reads the pipe.
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(g_signalPipe[1], &byte, 1);
}

} // namespace

bool closeOnTermination(QWidget* window)
{
    if (g_signalPipe[0] < 0 &&
        ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0)
        return false;
    auto* notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, window);
    QObject::connect(notifier, &QSocketNotifier::activated, window,
                     [target = QPointer<QWidget>(window)] {
                         char byte = 0;
                         [[maybe_unused]] const ssize_t got = ::read(g_signalPipe[0], &byte, 1);
                         if (target)
                             target->close();
                     });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        if (::sigaction(signal, &action, nullptr) != 0)
            return false;
    }
    return true;
}

} // namespace mizong

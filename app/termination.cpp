#include "app/termination.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace wendral {
namespace {
// Globals on purpose: a signal handler can reach nothing else. The pipe
// carries the signal from the handler to the event loop; the handler runs there.
int g_pipe[2] = {-1, -1};
std::function<void()> g_handler;

extern "C" void onTerminationSignal(int)
{
    const char byte = 1;
    // Only async-signal-safe work here.
    [[maybe_unused]] const ssize_t n = ::write(g_pipe[1], &byte, 1);
}
} // namespace

void setTerminationHandler(std::function<void()> handler)
{
    g_handler = std::move(handler);
}

void installTerminationHandlers()
{
    if (g_pipe[0] >= 0)
        return;
    if (::pipe2(g_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_pipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] {
        char buf[64];
        while (::read(g_pipe[0], buf, sizeof buf) > 0) {
        }
        if (g_handler)
            g_handler();
        else
            QCoreApplication::quit();
    });
    struct sigaction sa = {};
    sa.sa_handler = onTerminationSignal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(sig, &sa, nullptr);
}

} // namespace wendral

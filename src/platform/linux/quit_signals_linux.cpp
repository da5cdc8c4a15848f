#include "quit_signals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace vozmo {

namespace {
int signalPipe[2] = {-1, -1};

void onSignal(int) {
    char byte = 1;
    // Only async-signal-safe work here: the main thread reads the pipe.
    [[maybe_unused]] auto n = ::write(signalPipe[1], &byte, 1);
}
} // namespace

void installQuitSignals(std::function<void()> onQuit) {
    if (signalPipe[0] >= 0 || ::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        return;
    }
    // Owned by the application object, which outlives the event loop.
    auto* notifier =
        new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier,
                     [onQuit = std::move(onQuit)] {
                         char buffer[16];
                         while (::read(signalPipe[0], buffer, sizeof buffer) > 0) {
                         }
                         onQuit();
                     });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int sig : {SIGTERM, SIGINT, SIGHUP}) {
        ::sigaction(sig, &action, nullptr);
    }
}

} // namespace vozmo

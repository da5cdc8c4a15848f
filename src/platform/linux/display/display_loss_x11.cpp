#include "display_loss.h"

#include "log.h"

#include <QGuiApplication>
#include <QString>

#include <X11/Xlib.h>

#include <atomic>
#include <unistd.h>

namespace vozmo {

namespace {

// Xlib's and Qt's handlers take no context, and they may still be called during static
// teardown: hence plain atomics, which have nothing to destroy.
std::atomic<void (*)()> cleanUpAction{nullptr};
std::atomic<QtMessageHandler> previousMessageHandler{nullptr};
std::atomic_flag ending;

[[noreturn]] void displayLost() {
    if (ending.test_and_set()) {
        // Another thread noticed first and is ending the process.
        for (;;) {
            ::pause();
        }
    }
    log("Se perdió la conexión con la pantalla");
    static constexpr char kWhy[] = "Vozmo: se perdió la conexión con la pantalla\n";
    [[maybe_unused]] auto written = ::write(STDERR_FILENO, kWhy, sizeof kWhy - 1);
    if (auto cleanUp = cleanUpAction.load()) {
        cleanUp();
    }
    ::_exit(kDisplayLostStatus);
}

void onIoErrorExit(Display*, void*) {
    displayLost();
}

// Qt's xcb plugin has no hook of its own for a lost connection: it prints this warning (its
// Xlib error handler prints one that starts the same way) and calls exit(1) right after.
void onQtMessage(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtWarningMsg && message.startsWith(QLatin1String("The X11 connection broke"))) {
        displayLost();
    }
    if (auto previous = previousMessageHandler.load()) {
        previous(type, context, message);
    }
}

} // namespace

void onDisplayLost(void (*cleanUp)()) {
    cleanUpAction = cleanUp;
    static const bool installed = [] {
        previousMessageHandler = qInstallMessageHandler(onQtMessage);
        return true;
    }();
    (void)installed;
    if (auto* x11 =
            qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr) {
        guardDisplay(x11->display());
    }
}

void guardDisplay(Display* display) {
    if (display != nullptr) {
        XSetIOErrorExitHandler(display, onIoErrorExit, nullptr);
    }
}

} // namespace vozmo

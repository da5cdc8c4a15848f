#include "target_window_x11.h"

#include <QCoreApplication>
#include <QFileInfo>

// Xlib after Qt: its macros (None, Status) would break Qt's headers.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <unistd.h>

namespace vozmo {

namespace {

// The first 32-bit item of a window property, or absent.
std::optional<unsigned long> firstItem(Display* display, Window window, Atom property, Atom type) {
    Atom actualType = None;
    int format = 0;
    unsigned long count = 0;
    unsigned long remaining = 0;
    unsigned char* data = nullptr;
    int status = XGetWindowProperty(display, window, property, 0, 1, False, type, &actualType,
                                    &format, &count, &remaining, &data);
    std::optional<unsigned long> value;
    if (status == Success && data != nullptr && actualType == type && format == 32 && count >= 1) {
        // Xlib hands 32-bit items back as longs.
        value = reinterpret_cast<unsigned long*>(data)[0];
    }
    if (data != nullptr) {
        XFree(data);
    }
    return value;
}

} // namespace

std::optional<TargetApp> X11TargetWindow::focused() {
    if (!display_) {
        return std::nullopt;
    }
    Display* display = display_.get();
    X11ErrorTrap trap(display);
    auto active =
        firstItem(display, display_.root(), display_.atom("_NET_ACTIVE_WINDOW"), XA_WINDOW);
    if (!active || *active == None) {
        return std::nullopt;
    }
    TargetApp app;
    app.window = *active;
    if (auto pid = firstItem(display, app.window, display_.atom("_NET_WM_PID"), XA_CARDINAL)) {
        app.pid = static_cast<pid_t>(*pid);
    }
    XClassHint hint{};
    if (XGetClassHint(display, app.window, &hint) != 0) {
        if (hint.res_class != nullptr) {
            app.appId = hint.res_class;
            XFree(hint.res_class);
        }
        if (hint.res_name != nullptr) {
            XFree(hint.res_name);
        }
    }
    if (trap.failed()) {
        // The window went away while we asked about it.
        return std::nullopt;
    }
    return app;
}

std::optional<TargetApp> focusedApp() {
    X11TargetWindow windows;
    return windows.focused();
}

TargetApp ownIdentity() {
    TargetApp own;
    own.pid = getpid();
    // Qt names the class of our windows after the application name.
    if (QCoreApplication::instance() != nullptr) {
        own.appId = QCoreApplication::applicationName().toStdString();
    } else {
        own.appId = QFileInfo(QStringLiteral("/proc/self/exe"))
                        .symLinkTarget()
                        .section('/', -1)
                        .toStdString();
    }
    return own;
}

bool sameApp(const TargetApp& target, const TargetApp& now) {
    if (target.pid != 0 && now.pid != 0) {
        return target.pid == now.pid;
    }
    return target.window != 0 && target.window == now.window;
}

} // namespace vozmo

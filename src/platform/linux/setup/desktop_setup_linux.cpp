#include "desktop_setup.h"
#include "display_loss.h"

#include <QProcess>
#include <QStandardPaths>
#include <QStringList>

#include <X11/Xlib.h>
#include <X11/extensions/XInput2.h>

#include <memory>

namespace vozmo {

namespace {

struct DisplayCloser {
    void operator()(Display* display) const { XCloseDisplay(display); }
};

} // namespace

std::vector<std::string> missingKeyAccess() {
    // A connection of its own: asked once a second by the setup, and cheap on a local socket.
    std::unique_ptr<Display, DisplayCloser> display(XOpenDisplay(nullptr));
    guardDisplay(display.get());
    if (!display) {
        return {"X11"};
    }
    std::vector<std::string> missing;
    int opcode = 0;
    int event = 0;
    int error = 0;
    if (!XQueryExtension(display.get(), "XTEST", &opcode, &event, &error)) {
        missing.emplace_back("XTEST");
    }
    int major = 2;
    int minor = 0;
    if (!XQueryExtension(display.get(), "XInputExtension", &opcode, &event, &error) ||
        XIQueryVersion(display.get(), &major, &minor) != Success || major < 2) {
        missing.emplace_back("XInput2");
    }
    return missing;
}

bool keyAccessAvailable() {
    return missingKeyAccess().empty();
}

bool openSoundSettings() {
    const QList<QStringList> candidates = {
        {"pavucontrol"},
        {"gnome-control-center", "sound"},
        {"systemsettings", "kcm_pulseaudio"},
        {"kcmshell6", "kcm_pulseaudio"},
        {"kcmshell5", "kcm_pulseaudio"},
    };
    for (const auto& command : candidates) {
        QString program = QStandardPaths::findExecutable(command.front());
        if (program.isEmpty()) {
            continue;
        }
        if (QProcess::startDetached(program, command.mid(1))) {
            return true;
        }
    }
    return false;
}

} // namespace vozmo

#include "key_command.h"

#include "app.h"
#include "command_line.h"
#include "single_instance.h"

#include <QCoreApplication>

#include <cstdio>

namespace vozmo {

int runKeyCommand(const std::string& action) {
    // A core application only, for Qt's sockets: a shortcut must return at once, and needs no
    // display.
    int argc = 1;
    char name[] = "vozmo";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    if (!SingleInstance::sendKey(action)) {
        std::fputs(kNoInstanceText, stderr);
        return 1;
    }
    return 0;
}

void applyKeyAction(App& app, const std::string& action) {
    if (action == "press") {
        app.keyDown();
    } else if (action == "release") {
        app.keyUp();
    } else if (action == "toggle") {
        // A tap: from idle it starts a dictation that the short hold leaves hands-free; during a
        // hands-free dictation the press ends it.
        app.keyDown();
        app.keyUp();
    } else if (action == "cancel") {
        app.cancel(false);
    }
}

} // namespace vozmo
